// Recording runs: every window event the game handles and a checksum every
// 250 frames, from a mode start to the end of the game (game over or the
// clear button). The shell calls the three hooks; the mode start and the
// hi-score rule only leave marks in the state (run_started, run_ended).
#pragma once

#include <memory>
#include <string>

#include "replay/replay_file.h"

struct Game;
struct InputEvent;
class Dialogs;

struct ReplayRecorder {
  // When set, each run goes to this one file (tools); otherwise finished runs
  // are kept in the data folder's replays/ (last.kvr, and MODE.kvr for the run
  // of the mode's hi score).
  std::string out_path;
  bool recording = false;
  Replay replay;
  size_t event_at = 0;        // where the event being handled was put
  Dialogs* inner_dialogs = nullptr;
  std::unique_ptr<Dialogs> answer_tap;  // stands in for the game's dialogs while recording
  std::string last_written;   // path of the last replay written
  std::string error;          // the last write failure, empty when fine
  int runs_written = 0;
};

// Turns recording on for a game (the window program, kv-sim --record).
void EnableRecording(Game& g, const std::string& out_path = "");
// Before the game handles a window event.
void RecordInput(Game& g, const InputEvent& e);
// The window events a replay keeps map to record types and back through one
// table. RecordOfEvent fills type and fields (the text cut to kReplayMaxText)
// and is false for events that never reach the game (focus, exposure).
bool RecordOfEvent(const InputEvent& e, ReplayRecord& r);
// The event a record replays as; kNone for records that are no window event.
InputEvent EventOfRecord(const ReplayRecord& r);
// After the game handled it, and after each frame: starts and ends runs.
void AfterRecordedInput(Game& g);
void RecordFrame(Game& g);
// The music was switched off or on (it is no game input, but a video of the
// run plays it as the player heard it).
void RecordMusicSetting(Game& g);
// The recording stops before the game ended (window closed, tool done): the
// run so far is kept as the last run.
void StopRecording(Game& g);

std::string ReplayDir(const Game& g);
std::string LastReplayPath(const Game& g);
std::string HiScoreReplayPath(const Game& g, int mode);
