// The window program's loop. It sleeps until a window event comes or the next
// thing that moves on its own is due (a frame, the once-a-second step, a
// queued sound, a replay's frame), hands each event to one handler, runs what
// is due, and composes the picture again only when something may have changed
// it; the window leaves out a picture it already shows.
#pragma once

#include <memory>

#include "platform/canvas.h"

struct Game;
struct InputEvent;
class Window;

// Frames counted in one state of the game (the title picture, the menus,
// play), and the time from each to the next in the same state: the rate
// leaves out the time spent elsewhere (a pause, the key help, the menus
// between two stages).
struct FrameRun {
  long frames = 0, steps = 0;
  double seconds = 0;
  double Fps() const { return seconds > 0 ? steps / seconds : 0.0; }
};

// What kv --stats prints on exit.
struct FrameStats {
  long frames = 0, shown = 0;  // frames run, pictures that went to the screen
  long holds = 0;              // times an event's handler held the loop (a message box)
  FrameRun title, menus, play;
  FrameRun* last_run = nullptr;
  double last_frame = 0;  // days
  void Count(FrameRun& run, double now);
  // The loop was held: the next frame starts a new run.
  void Hold();
  void Print() const;
};

class WindowLoop {
 public:
  WindowLoop(Game& g, Window& win, std::shared_ptr<FontSet> fonts);
  // Turns until the window closes.
  void Run();
  // One turn: sleeps until an event or the next deadline, handles the events
  // that came, runs what is due and shows the picture if it may have changed.
  void Turn();
  const FrameStats& stats() const { return stats_; }

 private:
  // What moves the picture without an event, if anything.
  enum DriverKind {
    kNothing,  // events only: not the active window, or the key help shows
    kReplay,   // a kept run is being watched
    kTimer,    // the game's frame timer
  };
  DriverKind Driver() const;
  void HandleEvent(const InputEvent& e);
  void RunDriver();
  double Due() const;
  bool WaitForEvent(InputEvent& e);
  void FollowGame();
  void Show();

  Game& g_;
  Window& win_;
  Canvas screen_;
  bool focused_;
  bool text_on_ = false;
  bool changed_ = true;      // the picture may differ from the one shown
  double next_compose_ = 0;  // days
  FrameStats stats_;
};
