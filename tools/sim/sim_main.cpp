// kv-sim: runs K.V. headless, driven by a script, and dumps what happened.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <getopt.h>

#include "platform/files.h"
#include "replay/recorder.h"
#include "state/game.h"
#include "shell/replay_play.h"
#include "autoplay.h"
#include "simlib.h"
#include "video.h"

namespace {

const char kHelp[] =
    "usage: kv-sim [options]\n"
    "Runs K.V. on the headless platform: no window, no sound device, a virtual\n"
    "clock that advances 40 ms per frame, as fast as the machine allows.\n"
    "\n"
    "  --game-dir DIR   folder holding cg/ and dat/ (default: the folder of\n"
    "                   kv-sim, or ../share/kv beside it when installed)\n"
    "  --data-dir DIR   folder of the save file and the local ranking (default: the\n"
    "                   game folder's dat/, as the game; with --play, or when\n"
    "                   installed, a fresh temporary folder removed at the end, so\n"
    "                   kv-sim never touches your save)\n"
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
    "                   every chapter, shopping between them: once the shop's\n"
    "                   buttons have settled it buys, one at a time, the first of\n"
    "                   these that is offered and that it can afford, until none:\n"
    "                   3 WAY, 2 WAY, LAZER WAY+1, LV +5 (paid with a life: only\n"
    "                   below level 5 and while a life is left afterwards),\n"
    "                   SHOT POWER+1, LIFE +1 (below 6 lives), SHOT SIZE+1,\n"
    "                   SHOT SPEED+1, BARRIER SIZE+10, BARRIER Time+10,\n"
    "                   STOP Time+20. Prints one line:\n"
    "                   play: mode=M stage=S score=N frames=F lives_lost=L end=E\n"
    "                   bought=B [shop 1, N Pt., L lives: ITEM, ...] ... (what it\n"
    "                   bought in each shop, after the score and lives it came\n"
    "                   in with)\n"    "                   (--frames then caps the run, default 60000)\n"
    "  --record FILE    record the run from its mode start to the end of the game\n"
    "                   as a replay (with --play or --script)\n"
    "  --replay FILE    play a replay back headless and check it; prints one line:\n"
    "                   replay: mode=M score=N frames=F checksums=K/K verified\n"
    "                   or where it differs; exit 0 only when all of it matches;\n"
    "                   with --frames N and --png FILE, the picture after N frames\n"
    "  --video FILE     with --replay: render the run as it was drawn, 25 frames a\n"
    "                   second, with its sound effects and music, to FILE: WebM\n"
    "                   (VP9 + Opus), or MP4 (H.264 + AAC) when FILE ends in .mp4;\n"
    "                   a replay that does not verify gives no video\n"
    "  --scale N        the video's size: 1 (640 x 480, default) or 2 (1280 x 960)\n"
    "  --web            a video to serve on the web: its picture at a bounded\n"
    "                   bitrate, its sound at 64 kbit/s (WebM: tens of MB for a\n"
    "                   six-stage run instead of hundreds)\n"
    "  --help           this text\n";

bool ParseNumber(const char* s, long long& out) {
  char* end = nullptr;
  out = std::strtoll(s, &end, 10);
  return end && *end == 0 && end != s;
}

int CheckReplay(const std::string& game_dir, const std::string& path) {
  auto bytes = ReadWholeFile(path);
  if (!bytes) {
    std::fprintf(stderr, "kv-sim: cannot read %s\n", path.c_str());
    return 2;
  }
  const ReplayCheck c = CheckReplayBytes(game_dir, *bytes);
  if (c.outcome == ReplayCheckOutcome::kMalformed || c.outcome == ReplayCheckOutcome::kOtherVersion) {
    std::fprintf(stderr, "kv-sim: %s: %s\n", path.c_str(), c.why.c_str());
    return 1;
  }
  std::printf("%s\n", c.line.c_str());
  return c.outcome == ReplayCheckOutcome::kVerified ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const GameFolder found = FindGameFolder(ExecutableDir());
  std::string game_dir = found.dir;
  long long seed = 1, frames = 100;
  std::string script_path, dump_path, png_path, play_mode, data_dir, record_path, replay_path;
  std::string video_path;
  long long scale = 1;
  bool frames_given = false;
  bool web = false;
  static const option kOptions[] = {
      {"game-dir", required_argument, nullptr, 'g'}, {"data-dir", required_argument, nullptr, 'D'},
      {"seed", required_argument, nullptr, 's'},     {"frames", required_argument, nullptr, 'f'},
      {"script", required_argument, nullptr, 'S'},   {"dump", required_argument, nullptr, 'd'},
      {"png", required_argument, nullptr, 'p'},      {"play", required_argument, nullptr, 'P'},
      {"record", required_argument, nullptr, 'r'},   {"replay", required_argument, nullptr, 'R'},
      {"video", required_argument, nullptr, 'V'},    {"scale", required_argument, nullptr, 'x'},
      {"web", no_argument, nullptr, 'W'},            {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1) {
    switch (c) {
      case 'h': std::fputs(kHelp, stdout); return 0;
      case 'g': game_dir = optarg; break;
      case 'D': data_dir = optarg; break;
      case 'S': script_path = optarg; break;
      case 'd': dump_path = optarg; break;
      case 'p': png_path = optarg; break;
      case 'r': record_path = optarg; break;
      case 'R': replay_path = optarg; break;
      case 'V': video_path = optarg; break;
      case 'W': web = true; break;
      case 'x':
        if (!ParseNumber(optarg, scale) || (scale != 1 && scale != 2)) {
          std::fprintf(stderr, "kv-sim: --scale is 1 or 2\n");
          return 2;
        }
        break;
      case 's':
        if (!ParseNumber(optarg, seed)) {
          std::fprintf(stderr, "kv-sim: --seed takes a number\n");
          return 2;
        }
        break;
      case 'f':
        frames_given = true;
        if (!ParseNumber(optarg, frames) || frames < 0) {
          std::fprintf(stderr, "kv-sim: --frames takes a number >= 0\n");
          return 2;
        }
        break;
      case 'P':
        play_mode = optarg;
        if (ModeFromName(play_mode) < 0) {
          std::fprintf(stderr, "kv-sim: unknown mode %s (EASY, HARD, EXTREAM, NOVA, SQ, LIGHT, HELL)\n",
                       play_mode.c_str());
          return 2;
        }
        break;
      case ':':
        std::fprintf(stderr, "kv-sim: %s needs a value\n", argv[optind - 1]);
        return 2;
      default:
        std::fprintf(stderr, "kv-sim: unknown option %s (see --help)\n", argv[optind - 1]);
        return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "kv-sim: unexpected argument %s (see --help)\n", argv[optind]);
    return 2;
  }
  if (!video_path.empty() && replay_path.empty()) {
    std::fprintf(stderr, "kv-sim: --video needs --replay FILE\n");
    return 2;
  }
  if (!replay_path.empty()) {
    if (!video_path.empty()) {
      VideoRequest v;
      v.game_dir = game_dir;
      v.replay_path = replay_path;
      v.out_path = video_path;
      v.scale = int(scale);
      v.web = web;
      return RenderReplayVideo(v);
    }
    if (!png_path.empty()) {
      if (!frames_given) {
        std::fprintf(stderr, "kv-sim: --replay with --png needs --frames N\n");
        return 2;
      }
      return SaveReplayPicture(game_dir, replay_path, int(frames), png_path);
    }
    return CheckReplay(game_dir, replay_path);
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

  // The bot, and an installed kv-sim (whose game folder is the system's),
  // run on a save folder of their own, removed at the end.
  std::unique_ptr<TempFolder> play_folder;
  if ((!play_mode.empty() || found.installed) && data_dir.empty()) {
    play_folder = std::make_unique<TempFolder>("kv-play");
    if (play_folder->path().empty()) {
      std::fprintf(stderr, "kv-sim: cannot create a temporary folder\n");
      return 1;
    }
    data_dir = play_folder->path();
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
  if (!record_path.empty()) EnableRecording(sim.game(), record_path);
  std::string err;
  if (!play_mode.empty()) {
    AutoplayResult r = Autoplay(sim, ModeFromName(play_mode), frames_given ? int(frames) : 60000);
    std::printf("%s\n", AutoplaySummary(r).c_str());
  } else if (!sim.Run(int(frames), script, &err)) {
    std::fprintf(stderr, "kv-sim: %s\n", err.c_str());
    return 2;
  }
  if (!record_path.empty()) {
    StopRecording(sim.game());  // a run still going when the tool stops is kept as it is
    if (!sim.game().recorder->error.empty()) {
      std::fprintf(stderr, "kv-sim: cannot write %s: %s\n", record_path.c_str(),
                   sim.game().recorder->error.c_str());
      return 1;
    }
    if (sim.game().recorder->runs_written == 0) {
      std::fprintf(stderr, "kv-sim: no run started, nothing recorded in %s\n", record_path.c_str());
      return 1;
    }
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
