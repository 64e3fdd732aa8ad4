// kv-sim: runs K.V. headless, driven by a script, and dumps what happened.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "autoplay.h"
#include "simlib.h"

namespace {

const char kHelp[] =
    "usage: kv-sim [options]\n"
    "Runs K.V. on the headless platform: no window, no sound device, a virtual\n"
    "clock that advances 40 ms per frame, as fast as the machine allows.\n"
    "\n"
    "  --game-dir DIR   folder holding cg/ and dat/ (default: the folder of kv-sim)\n"
    "  --data-dir DIR   folder of the save file and the local ranking (default: the\n"
    "                   game folder's dat/, as the game; with --play a fresh\n"
    "                   temporary folder, so the bot never touches your save)\n"
    "  --seed N         seed of the game's random generator (default 1)\n"
    "  --frames N       frames to run (default 100)\n"
    "  --script FILE    events, one per line: FRAME EVENT ARGS, applied before\n"
    "                   that frame runs (frames count from 0; '#' starts a comment):\n"
    "                     move X Y\n"
    "                     down left|right|middle X Y\n"
    "                     up left|right|middle X Y\n"
    "                     key CODE      Windows virtual-key code; to the focused edit\n"
    "                                   box when one has focus (13 = OK, 8 = delete),\n"
    "                                   else to the window's key handler\n"
    "                     text UTF-8... typed into the focused edit box\n"
    "                     answer yes|no the answer to the next dialog (default yes)\n"
    "                     close         close the window: save written, run ends\n"
    "  --dump FILE      write the state after the last frame as JSON\n"
    "  --png FILE       write what the window shows after the last frame\n"
    "  --play MODE      autoplay: register a name, start MODE (EASY, HARD, EXTREAM,\n"
    "                   NOVA, SQ, LIGHT, HELL; locked modes are unlocked) and play\n"
    "                   every chapter, shopping between them; prints one line:\n"
    "                   play: mode=M stage=S score=N frames=F lives_lost=L end=E\n"
    "                   (--frames then caps the run, default 60000)\n"
    "  --help           this text\n";

bool ParseNumber(const char* s, long long& out) {
  char* end = nullptr;
  out = std::strtoll(s, &end, 10);
  return end && *end == 0 && end != s;
}

}  // namespace

int main(int argc, char** argv) {
  std::string game_dir = ExecutableDir();
  long long seed = 1, frames = 100;
  std::string script_path, dump_path, png_path, play_mode, data_dir;
  bool frames_given = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "kv-sim: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--game-dir") {
      game_dir = value("--game-dir");
    } else if (a == "--data-dir") {
      data_dir = value("--data-dir");
    } else if (a == "--seed") {
      if (!ParseNumber(value("--seed"), seed)) {
        std::fprintf(stderr, "kv-sim: --seed takes a number\n");
        return 2;
      }
    } else if (a == "--frames") {
      frames_given = true;
      if (!ParseNumber(value("--frames"), frames) || frames < 0) {
        std::fprintf(stderr, "kv-sim: --frames takes a number >= 0\n");
        return 2;
      }
    } else if (a == "--script") {
      script_path = value("--script");
    } else if (a == "--dump") {
      dump_path = value("--dump");
    } else if (a == "--play") {
      play_mode = value("--play");
      if (ModeFromName(play_mode) < 0) {
        std::fprintf(stderr, "kv-sim: unknown mode %s (EASY, HARD, EXTREAM, NOVA, SQ, LIGHT, HELL)\n",
                     play_mode.c_str());
        return 2;
      }
    } else if (a == "--png") {
      png_path = value("--png");
    } else {
      std::fprintf(stderr, "kv-sim: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }

  std::vector<ScriptEvent> script;
  if (!script_path.empty()) {
    auto text = ReadWholeFile(script_path);
    if (!text) {
      std::fprintf(stderr, "kv-sim: cannot read script %s\n", script_path.c_str());
      return 2;
    }
    std::string err;
    if (!ParseScript(*text, script, &err)) {
      std::fprintf(stderr, "kv-sim: %s\n", err.c_str());
      return 2;
    }
  }

  if (!play_mode.empty() && data_dir.empty()) {
    char templ[] = "/tmp/kv-play.XXXXXX";
    if (!mkdtemp(templ)) {
      std::fprintf(stderr, "kv-sim: cannot create a temporary folder\n");
      return 1;
    }
    data_dir = templ;
  }
  if (!data_dir.empty() && !MakeDirectories(data_dir)) {
    std::fprintf(stderr, "kv-sim: cannot create %s\n", data_dir.c_str());
    return 1;
  }
  Simulator sim(game_dir, uint64_t(seed), data_dir);
  if (!sim.Ok()) {
    std::fprintf(stderr, "kv-sim: %s\n", sim.Error().c_str());
    return 1;
  }
  std::string err;
  if (!play_mode.empty()) {
    AutoplayResult r = Autoplay(sim, ModeFromName(play_mode), frames_given ? int(frames) : 60000);
    std::printf("%s\n", AutoplaySummary(r).c_str());
  } else if (!sim.Run(int(frames), script, &err)) {
    std::fprintf(stderr, "kv-sim: %s\n", err.c_str());
    return 2;
  }
  if (!dump_path.empty()) {
    std::ofstream out(dump_path, std::ios::binary);
    out << sim.DumpJson();
    if (!out) {
      std::fprintf(stderr, "kv-sim: cannot write %s\n", dump_path.c_str());
      return 1;
    }
  }
  if (!png_path.empty() && !sim.SavePng(png_path)) {
    std::fprintf(stderr, "kv-sim: cannot write %s\n", png_path.c_str());
    return 1;
  }
  return 0;
}
