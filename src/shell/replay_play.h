// Playing a replay back: a game of its own, built from the run's start state
// and driven by the recorded events, frame by frame. It never touches the
// player's game, save file, hi scores or play counts.
#pragma once

#include <memory>
#include <string>

#include "platform/audio.h"
#include "platform/dialogs.h"
#include "replay/replay_file.h"

struct Game;
struct Platform;

struct ReplayPlayback {
  Replay replay;
  std::unique_ptr<Game> game;
  ScriptedDialogs dialogs;     // the answers the run gave
  RecordingAudio silent;       // sound output when none is given
  size_t next = 0;             // next record
  int32_t frames = 0;          // frames played
  int checks_ok = 0;
  int first_bad_frame = -1;    // first frame whose checksum differs
  int32_t ended_at = -1;       // frame at which the replayed game ended
  int32_t end_score = 0;       // its score then
  bool over = false;           // nothing more to play
  // The music goes off and on as the player set it during the run (a video of
  // the run); watching in the window keeps the watcher's own setting.
  bool follow_music_setting = false;
};

// Builds the playback from a file's bytes; null with a reason when the file
// is refused. Sound goes to `audio`, or nowhere when it is null. A blind
// playback (the headless check) draws into 1 x 1 canvases: play never reads
// a pixel back, so only the cost of drawing goes.
std::unique_ptr<ReplayPlayback> StartPlayback(const Platform& pf, const std::string& bytes,
                                              Audio* audio, std::string* error,
                                              bool blind = false);
// Handles the records due now and plays one frame; false once the replay is
// over (its last frame played, or a checksum differed when stop_on_difference).
bool StepPlayback(ReplayPlayback& p, bool stop_on_difference = false);

struct ReplayVerdict {
  bool verified = false;
  int32_t score = 0;  // the score the replayed game reached
  std::string line;   // replay: mode=M score=N frames=F checksums=K/K verified | ...
};
// Plays the whole replay headless and checks every checksum, where the game
// ended and with what score.
ReplayVerdict VerifyReplay(ReplayPlayback& p);
// The same a frame at a time, for a caller that does more with each frame:
// false once the playback is over or can no longer be the recorded run; then
// JudgePlayback gives the verdict.
bool StepVerifying(ReplayPlayback& p);
ReplayVerdict JudgePlayback(const ReplayPlayback& p);

// The whole check of a replay file's bytes, as kv-sim --replay and kv-verify
// run it: refused before play (malformed, or recorded by another version of
// the game or of the format), or played blind and verified or not.
enum class ReplayCheckOutcome { kVerified, kMismatch, kMalformed, kOtherVersion };

struct ReplayCheck {
  ReplayCheckOutcome outcome = ReplayCheckOutcome::kMalformed;
  int32_t mode = -1;        // from the header, -1 when there is none
  int32_t claimed = 0;      // the score the header claims
  int32_t score = 0;        // the score the replayed game reached
  int32_t frames = 0;       // frames played
  std::string name;         // the player's name in the start state (UTF-8)
  int32_t player_id = 0;    // and id
  std::string line;         // kv-sim's line: replay: mode=M score=N ... verified
  std::string why;          // why it is not verified, empty when it is
};
// `game_dir` holds cg/ and dat/ (the pictures a run shows, the font).
ReplayCheck CheckReplayBytes(const std::string& game_dir, const std::string& bytes);
