// Watching a kept run in the window: the replay plays in a game of its own at
// 1x, 2x or 4x and can be paused; Esc, Backspace or a right click goes back to
// the start screen as it was. The player's game does not run meanwhile.
#pragma once

#include <memory>
#include <string>

#include "shell/replay_play.h"

struct Game;
struct InputEvent;
class Canvas;

struct ReplayView {
  std::unique_ptr<ReplayPlayback> playback;
  std::string title;
  int speed = 1;          // frames played per 40 ms
  bool paused = false;
  bool over = false;      // the run has played to its end
  double next_frame = 0;  // days, on the game's clock
};

// Where the view's own line goes: the top of the field between the HUD's
// score and stage texts, clear of every HUD text.
struct ReplayViewLine {
  static constexpr int kLeft = 112, kRight = 528, kTop = 0, kHeight = 13;
};

// Serves the menu's request to watch a kept run; a file that cannot be
// watched leaves a line in the message log instead.
void ServeReplayRequest(Game& g);
bool ReplayViewActive(const Game& g);
// Keys and clicks while watching; true when the event was the view's.
bool ReplayViewInput(Game& g, const InputEvent& e);
// One tick of the view's clock; true when a new picture is ready.
bool ReplayViewTick(Game& g);
// The picture: the replayed game's field and panels with the view's line over it.
void ComposeReplayView(Game& g, Canvas& screen);
// Leaves the view: the start screen comes back as it was.
void CloseReplayView(Game& g);
