#include "shell/window_loop.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"
#include "platform/window.h"
#include "ranking/exchange.h"
#include "ranking/panels.h"
#include "shell/form.h"
#include "shell/frame.h"
#include "shell/replay_view.h"
#include "state/game.h"

namespace {
constexpr double kNever = 1e300;
constexpr double kMsPerDay = 86400e3;
constexpr int kRankPollMs = 15;
constexpr double kHeldSeconds = 0.2;
}  // namespace

void FrameStats::Count(FrameRun& run, double now) {
  const double since = (now - last_frame) * 86400.0;
  if (&run == last_run && since < 1.0) {
    run.steps += 1;
    run.seconds += since;
  }
  run.frames += 1;
  frames += 1;
  last_run = &run;
  last_frame = now;
}

void FrameStats::Hold() {
  last_run = nullptr;
  holds += 1;
}

void FrameStats::Print() const {
  std::printf("kv-stats: frames=%ld play_frames=%ld play_seconds=%.2f play_fps=%.2f title_fps=%.2f "
              "menu_fps=%.2f shown=%ld holds=%ld\n",
              frames, play.frames, play.seconds, play.Fps(), title.Fps(), menus.Fps(), shown, holds);
  std::fflush(stdout);
}

WindowLoop::WindowLoop(Game& g, Window& win, std::shared_ptr<FontSet> fonts)
    : g_(g), win_(win), screen_(640, 480, std::move(fonts)), focused_(win.Focused()) {}

void WindowLoop::Run() {
  while (!g_.run.quit) Turn();
}

void WindowLoop::Turn() {
  InputEvent e;
  bool got = WaitForEvent(e);
  if (got && Driver() == kTimer) TimerWake(g_);
  const double before = g_.pf.clock->NowDays();
  for (; got && !g_.run.quit; got = win_.Poll(e)) HandleEvent(e);
  // An event whose handler held the loop (a message box waiting for its
  // answer) ends the run of frames the rates are taken over: the time the
  // box was up says nothing of how fast the frames come.
  if ((g_.pf.clock->NowDays() - before) * 86400.0 > kHeldSeconds) stats_.Hold();
  if (g_.run.quit) return;
  RunDriver();
  FollowGame();
  if (changed_ && g_.pf.clock->NowDays() >= next_compose_) Show();
}

WindowLoop::DriverKind WindowLoop::Driver() const {
  if (!focused_) return kNothing;
  if (ReplayViewActive(g_)) return kReplay;
  return g_.panels.help_visible ? kNothing : kTimer;
}

void WindowLoop::HandleEvent(const InputEvent& e) {
  if (e.type == InputEvent::kFocusGained) focused_ = true;
  if (e.type == InputEvent::kFocusLost) focused_ = false;
  if (!ReplayViewInput(g_, e)) WindowInput(g_, e);
  AfterInput(g_);
  ServeReplayRequest(g_);
  // While frames run the next one shows what an event changed; otherwise
  // the picture is composed again now.
  const DriverKind d = Driver();
  if (e.type == InputEvent::kExposed || (d != kTimer && d != kReplay)) changed_ = true;
}

void WindowLoop::RunDriver() {
  // A ranking exchange runs on its worker thread beside the frames; its
  // outcome (or its time-out) is served here, on the frame thread.
  if (g_.ranking.busy && PollRankExchange(g_)) {
    AfterInput(g_);
    ServeReplayRequest(g_);  // a fetched replay to watch
    changed_ = true;
  }
  switch (Driver()) {
    case kReplay:
      if (ReplayViewTick(g_)) changed_ = true;  // the player's game waits meanwhile
      break;
    case kTimer: {
      FrameRun& run = g_.run.title_phase < 0                         ? stats_.title
                      : g_.run.in_play != 0 && g_.run.paused == 0 ? stats_.play
                                                                   : stats_.menus;
      if (TimerTick(g_)) {
        AfterInput(g_);
        changed_ = true;
        stats_.Count(run, g_.pf.clock->NowDays());
      }
      break;
    }
    case kNothing:
      break;
  }
}

double WindowLoop::Due() const {
  double due = kNever;
  if (Driver() == kReplay) due = g_.replay_view->next_frame;
  if (Driver() == kTimer) due = TimerDeadline(g_);
  if (changed_) due = std::min(due, next_compose_);
  // A settings notice goes when its time is up.
  if (!g_.settings.notice.empty()) due = std::min(due, g_.settings.notice_until);
  return due;
}

// Waits for an event until the next deadline has passed (the timer's checks
// want the clock strictly past it).
bool WindowLoop::WaitForEvent(InputEvent& e) {
  const double due = Due();
  int ms = due == kNever ? -1 : MsPast(*g_.pf.clock, due);
  // While a ranking exchange runs, its outcome is looked for at least this often.
  if (g_.ranking.busy && (ms < 0 || ms > kRankPollMs)) ms = kRankPollMs;
  return win_.Wait(e, ms);
}

void WindowLoop::FollowGame() {
  win_.SetPointer(WantsCrosshair(g_) ? Window::Pointer::kCrosshair : Window::Pointer::kArrow);
  bool want_text = PanelsWantText(g_);
  if (want_text == text_on_) return;
  // The IME's candidate window goes next to the panel being typed in.
  if (want_text && g_.panels.hi_score_box_visible) win_.StartTextInput(0, g_.panels.hi_score_box_y, 641, 119);
  else if (want_text) win_.StartTextInput(0, g_.panels.name_box_y, 641, 119);
  else win_.StopTextInput();
  text_on_ = want_text;
}

void WindowLoop::Show() {
  const Canvas* picture = &screen_;
  if (ReplayViewActive(g_)) ComposeReplayView(g_, screen_);
  else picture = &WindowPicture(g_, screen_);
  if (win_.Present(*picture)) ++stats_.shown;
  changed_ = false;
  // With no frames to wait for, events (a pointer moving over the key help)
  // compose the picture at most 50 times a second.
  const DriverKind d = Driver();
  next_compose_ = d == kTimer || d == kReplay ? 0 : g_.pf.clock->NowDays() + 20.0 / kMsPerDay;
}
