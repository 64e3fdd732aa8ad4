// The window program's loop on a virtual clock: it sleeps until the next
// deadline instead of ticking every millisecond, yet frames, the sound queue
// and events keep the timing the frame timer gives them.
#include <gtest/gtest.h>

#include <deque>
#include <utility>

#include "platform/canvas.h"
#include "platform/window.h"
#include "shell/help.h"
#include "shell/window_loop.h"
#include "test_util.h"

namespace {

// A window whose events come at set times of the virtual clock; waiting
// moves the clock on. It counts what the loop asks of it.
class FakeWindow : public Window {
 public:
  explicit FakeWindow(VirtualClock& clock) : clock_(clock) {}
  void At(int64_t us, InputEvent e) { events_.emplace_back(us, std::move(e)); }
  bool Poll(InputEvent& e) override {
    if (events_.empty() || events_.front().first > clock_.NowUs()) return false;
    e = events_.front().second;
    events_.pop_front();
    return true;
  }
  bool Wait(InputEvent& e, int timeout_ms) override {
    waits += 1;
    const int64_t until = timeout_ms < 0 ? INT64_MAX : clock_.NowUs() + int64_t(timeout_ms) * 1000;
    if (!events_.empty() && events_.front().first <= until) {
      clock_.AdvanceUs(std::max<int64_t>(0, events_.front().first - clock_.NowUs()));
      return Poll(e);
    }
    EXPECT_GE(timeout_ms, 0) << "waiting for ever with no event to come";
    clock_.AdvanceUs(until - clock_.NowUs());
    return false;
  }
  bool Present(const Canvas&) override { return ++presents, true; }
  bool Focused() override { return true; }
  void StartTextInput(int, int, int, int) override {}
  void StopTextInput() override {}
  bool SetIcon(const std::string&) override { return true; }
  void SetPointer(Pointer) override {}
  void ToggleFullscreen() override {}
  int waits = 0, presents = 0;

 private:
  VirtualClock& clock_;
  std::deque<std::pair<int64_t, InputEvent>> events_;
};

// Counts the clock's sleeps.
struct CountingClock : VirtualClock {
  void SleepMs(int ms) override {
    sleeps += 1;
    VirtualClock::SleepMs(ms);
  }
  int sleeps = 0;
};

struct LoopRig {
  std::unique_ptr<TestGame> t = MakeTestGame();
  CountingClock clock;
  FakeWindow win{clock};
  std::unique_ptr<WindowLoop> loop;
  LoopRig() {
    t->g().pf.clock = &clock;
    t->g().run.title_phase = 0;
    loop = std::make_unique<WindowLoop>(t->g(), win, nullptr);
  }
  Game& g() { return t->g(); }
};

InputEvent Key(int key) {
  InputEvent e;
  e.type = InputEvent::kKeyDown;
  e.key = key;
  return e;
}

TEST(WindowLoop, FramesKeepTheTimersCadenceWithAFewWakeUpsAFrame) {
  LoopRig r;
  std::vector<int64_t> at;
  while (at.size() < 27) {
    long before = r.loop->stats().frames;
    r.loop->Turn();
    if (r.loop->stats().frames > before) at.push_back(r.clock.NowUs());
  }
  // As with the 1 ms ticks: the first frame at once, 50 ms to the second,
  // then 40 ms each, none caught up or pushed late.
  EXPECT_NEAR(double(at[1] - at[0]), 50500, 500);
  EXPECT_NEAR(double(at[26] - at[1]), 25 * 40000.0, 1000.0);
  for (size_t i = 2; i < at.size(); ++i) {
    EXPECT_GE(at[i] - at[i - 1], 39000) << "frame " << i;
    EXPECT_LE(at[i] - at[i - 1], 41000) << "frame " << i;
  }
  // A second of frames costs a few wake-ups a frame, not a thousand.
  const int wakes = r.win.waits + r.clock.sleeps;
  EXPECT_LT(wakes, 300);
  EXPECT_EQ(r.win.presents, 27);  // every frame's picture, and nothing more
}

TEST(WindowLoop, QueuedSoundsStillStartEvery400Ms) {
  LoopRig r;
  r.g().sound.queue = {"item.wav", "point.wav", "lvup.wav"};
  std::vector<int64_t> starts;
  size_t left = 3;
  for (int i = 0; i < 400 && starts.size() < 3; ++i) {
    r.loop->Turn();
    if (r.g().sound.queue.size() < left) {
      starts.push_back(r.clock.NowUs());
      left = r.g().sound.queue.size();
    }
  }
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_NEAR(double(starts[1] - starts[0]), 401000.0, 1000.0);
  EXPECT_NEAR(double(starts[2] - starts[1]), 401000.0, 1000.0);
}

TEST(WindowLoop, AKeyBetweenFramesIsHandledWhenItComesAndTheHelpStopsTheFrames) {
  LoopRig r;
  for (int i = 0; i < 10; ++i) r.loop->Turn();
  long frames = r.loop->stats().frames;
  while (r.loop->stats().frames == frames) r.loop->Turn();
  frames = r.loop->stats().frames;
  const int64_t key_at = r.clock.NowUs() + 17000;  // between two frames
  r.win.At(key_at, Key(kKeyF1));
  const int presents = r.win.presents;
  while (!r.g().panels.help_visible) r.loop->Turn();
  // Handled when it came (or at most the few milliseconds before a deadline
  // late), and the help shown at once, not with the next frame.
  EXPECT_LE(r.clock.NowUs() - key_at, 6000);
  EXPECT_EQ(r.loop->stats().frames, frames);
  EXPECT_EQ(r.win.presents, presents + 1);
  // While the help shows the loop sleeps until the next event: no frame runs
  // in those 5 seconds, and the one that was due runs once the help closes.
  r.win.At(key_at + 5000000, Key(27));
  r.loop->Turn();
  EXPECT_EQ(r.clock.NowUs(), key_at + 5000000);
  EXPECT_FALSE(r.g().panels.help_visible);
  EXPECT_EQ(r.loop->stats().frames, frames + 1);
}

}  // namespace
