// The headless simulator: the real game on the headless platform with a
// virtual clock, driven by a script of window events.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "state/game.h"

struct ScriptEvent {
  int frame = 0;      // applied before this frame runs (frames count from 0)
  std::string verb;   // move, down, up, key, text, answer, close
  std::vector<std::string> args;
  int line = 0;
};

// Parses a script; on a bad line returns false with a message naming the line.
bool ParseScript(const std::string& text, std::vector<ScriptEvent>& out, std::string* error);

class Simulator {
 public:
  // Builds the game in game_dir; Ok() tells whether the game folder was complete.
  Simulator(const std::string& game_dir, uint64_t seed, const std::string& data_dir = "");
  bool Ok() const { return ok_; }
  const std::string& Error() const { return error_; }

  // Applies one script event now. Returns false for an unknown or malformed event.
  bool Apply(const ScriptEvent& e, std::string* error);
  // Runs timer ticks until one frame has run, then moves the clock on so the
  // next frame is due 40 ms later.
  void Frame();
  // Runs frames 0..frames-1 (or until the window closes), applying the script.
  bool Run(int frames, const std::vector<ScriptEvent>& script, std::string* error);

  Game& game() { return *game_; }
  RecordingAudio& audio() { return audio_; }
  ScriptedDialogs& dialogs() { return dialogs_; }
  VirtualClock& clock() { return clock_; }
  int frames_run() const { return frames_run_; }

  // The state as JSON, and the picture the window shows.
  std::string DumpJson();
  bool SavePng(const std::string& path);

 private:
  RecordingAudio audio_;
  ScriptedDialogs dialogs_;
  VirtualClock clock_;
  std::unique_ptr<Game> game_;
  std::unique_ptr<Canvas> screen_;
  bool ok_ = false;
  std::string error_;
  int frames_run_ = 0;
};
