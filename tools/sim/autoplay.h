// The autoplay bot: registers a name, starts a mode and plays every chapter,
// buying in the shop between chapters (the rule is in autoplay.cpp and in
// kv-sim --help).
#pragma once

#include <string>
#include <vector>

#include "simlib.h"

// One visit to the shop: after which chapter, the score and lives on entering, and
// what was bought, in order (the start of each caption, "2 WAY").
struct ShopVisit {
  int stage = 0;
  long long score = 0;
  int lives = 0;
  std::vector<std::string> bought;
};

struct AutoplayResult {
  int mode = 0;
  int stage = 0;          // the highest chapter reached
  long long score = 0;    // the best score the run held
  int frames = 0;
  int lives_lost = 0;
  std::string end;        // gameover, clear or timeup (or "stuck" when the bot gave up)
  std::vector<ShopVisit> shops;
  std::vector<double> frame_ms;      // wall time each play frame took (filled when asked)
  std::vector<double> frame_cpu_ms;  // and the thread's CPU time for it
};

// Mode number from its name (EASY .. HELL), -1 when unknown.
int ModeFromName(const std::string& name);

// The bot itself, for drivers that mix its moves with their own.
class AutoplayBot {
 public:
  AutoplayBot(Simulator& sim, int mode, bool time_frames = false);
  ~AutoplayBot();
  // Opens the mode by giving the save the play counts that unlock it.
  void Unlock();
  // Chooses and sends this frame's input (does not run the frame).
  void Decide();
  // Runs one frame and keeps the run's figures.
  void Frame();
  const AutoplayResult& result() const;
  bool done() const;

  class Impl;

 private:
  Impl* impl_;
};

// Plays one whole run of `mode` on the simulator; stops after max_frames.
AutoplayResult Autoplay(Simulator& sim, int mode, int max_frames = 60000, bool time_frames = false);

// The summary line: play: mode=EASY stage=3 score=123456 frames=9000 lives_lost=4 end=gameover
// bought=2 [shop 1, 25000 Pt.: SHOT POWER+1] [shop 2, 9000 Pt.: SHOT SIZE+1]
std::string AutoplaySummary(const AutoplayResult& r);
