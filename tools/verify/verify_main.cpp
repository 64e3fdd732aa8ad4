// kv-verify: checks one replay by playing it headless, for the ranking
// server (which runs it as a process of its own, under resource limits) and
// for anyone who wants to know what a file replays to. Prints one line:
//
//   verify: mode=LIGHT score=N frames=F verdict=verified claimed=N id=N name=%XX...
//
// and, unless verified, " why=" and the reason last. The name is the one the
// player's records carry on the wire (CP932), every byte percent-encoded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <getopt.h>

#include "platform/files.h"
#include "rank_service/rank_codec.h"
#include "replay/replay_file.h"
#include "shell/replay_play.h"
#include "state/game.h"

namespace {

// Exit codes, one per verdict.
enum Exit {
  kExitVerified = 0,
  kExitMismatch = 1,      // it plays, but not to what it claims
  kExitMalformed = 2,     // not a replay, damaged, cut short or not a run of this game
  kExitOtherVersion = 3,  // another game version or replay format
  kExitCannotCheck = 4,   // bad usage, unreadable input, game folder incomplete
};

const char kHelp[] =
    "usage: kv-verify [--game-dir DIR] FILE|-\n"
    "Plays a replay headless and tells whether it is the run it claims to be.\n"
    "Prints one line:\n"
    "  verify: mode=M score=N frames=F verdict=V claimed=N id=N name=%XX.. [why=...]\n"
    "V and the exit status: verified 0, mismatch 1, malformed 2, other-version 3;\n"
    "4 when it cannot check (bad usage, unreadable file, incomplete game folder).\n"
    "  --game-dir DIR   folder holding cg/ and dat/ (default: the folder of\n"
    "                   kv-verify, or ../share/kv beside it when installed)\n"
    "  -                read the replay from standard input\n";

bool ReadInput(const std::string& path, std::string& out) {
  if (path != "-") {
    auto bytes = ReadWholeFile(path);
    if (!bytes) return false;
    out = std::move(*bytes);
    return true;
  }
  // Never more than a replay may be, plus one byte to tell it was more.
  const size_t cap = kReplayMaxPacked + 4096 + 1;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    out.append(buffer, n);
    if (out.size() >= cap) break;
  }
  return !std::ferror(stdin);
}

const char* VerdictName(ReplayCheckOutcome o) {
  switch (o) {
    case ReplayCheckOutcome::kVerified: return "verified";
    case ReplayCheckOutcome::kMismatch: return "mismatch";
    case ReplayCheckOutcome::kMalformed: return "malformed";
    case ReplayCheckOutcome::kOtherVersion: return "other-version";
  }
  return "malformed";
}

int ExitFor(ReplayCheckOutcome o) {
  switch (o) {
    case ReplayCheckOutcome::kVerified: return kExitVerified;
    case ReplayCheckOutcome::kMismatch: return kExitMismatch;
    case ReplayCheckOutcome::kMalformed: return kExitMalformed;
    case ReplayCheckOutcome::kOtherVersion: return kExitOtherVersion;
  }
  return kExitMalformed;
}

// A reason on one line: line breaks and other control bytes become spaces.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  std::string game_dir = FindGameFolder(ExecutableDir()).dir;
  static const option kOptions[] = {{"game-dir", required_argument, nullptr, 'g'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":h", kOptions, nullptr)) != -1) {
    switch (c) {
      case 'h': std::fputs(kHelp, stdout); return 0;
      case 'g': game_dir = optarg; break;
      default:
        std::fprintf(stderr, "kv-verify: bad option %s (see --help)\n", argv[optind - 1]);
        return kExitCannotCheck;
    }
  }
  if (optind + 1 != argc) {
    std::fputs(kHelp, stderr);
    return kExitCannotCheck;
  }
  const std::string path = argv[optind];
  if (!FileExists(game_dir + "/cg/title.bmp")) {
    std::fprintf(stderr, "kv-verify: %s is no complete game folder (cg/title.bmp is missing)\n", game_dir.c_str());
    return kExitCannotCheck;
  }
  std::string bytes;
  if (!ReadInput(path, bytes)) {
    std::fprintf(stderr, "kv-verify: cannot read %s\n", path.c_str());
    return kExitCannotCheck;
  }

  const ReplayCheck check = CheckReplayBytes(game_dir, bytes);
  const bool has_mode = check.mode >= 0 && check.mode < kModeCount;
  std::string line = std::string("verify: mode=") + (has_mode ? kModeNames[check.mode] : "-") +
                     " score=" + std::to_string(check.score) + " frames=" + std::to_string(check.frames) +
                     " verdict=" + VerdictName(check.outcome) + " claimed=" + std::to_string(check.claimed) +
                     " id=" + std::to_string(check.player_id);
  auto name = WireName(check.name);
  line += " name=" + (name ? PercentEncodeAll(*name) : std::string("-"));
  if (check.outcome != ReplayCheckOutcome::kVerified) line += " why=" + OneLine(check.why);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return ExitFor(check.outcome);
}
