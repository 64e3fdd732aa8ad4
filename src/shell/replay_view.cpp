#include "shell/replay_view.h"

#include <optional>

#include "effects/log.h"
#include "platform/audio.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/window.h"
#include "ranking/edit_box.h"
#include "shell/form.h"
#include "state/game.h"

namespace {

constexpr double kMsPerDay = 24.0 * 3600.0 * 1000.0;
constexpr uint32_t kBandText = 0x00FFFF;  // yellow (0x00BBGGRR)
constexpr int kLineFontSize = 9, kLineMinFontSize = 7;

}  // namespace

void ServeReplayRequest(Game& g) {
  if (g.flow.replay_path.empty() && g.flow.replay_bytes.empty()) return;
  const bool fetched = !g.flow.replay_bytes.empty();
  std::string path = std::move(g.flow.replay_path);
  std::string title = std::move(g.flow.replay_title);
  std::optional<std::string> bytes;
  if (fetched) bytes = std::move(g.flow.replay_bytes);
  else bytes = ReadWholeFile(path);
  g.flow.replay_path.clear();
  g.flow.replay_bytes.clear();
  std::string err;
  std::unique_ptr<ReplayPlayback> p;
  if (!bytes) err = "cannot read " + path;
  else p = StartPlayback(g.pf, *bytes, g.pf.audio, &err);
  if (!p) {
    // Over the ranking list the log is hidden: the reason goes under the list too.
    AddSilverLogLine(g, "REPLAY: " + err);
    if (fetched) g.panels.rank_note = "REPLAY: " + err;
    return;
  }
  auto v = std::make_shared<ReplayView>();
  v->playback = std::move(p);
  v->title = title;
  v->next_frame = 0;
  g.replay_view = v;
}

bool ReplayViewActive(const Game& g) { return g.replay_view != nullptr; }

bool ReplayViewInput(Game& g, const InputEvent& e) {
  if (!g.replay_view) return false;
  ReplayView& v = *g.replay_view;
  switch (e.type) {
    case InputEvent::kClose:
      CloseReplayView(g);
      return false;  // the window closes as always
    case InputEvent::kKeyDown:
      if (e.key == 27 || e.key == 8) CloseReplayView(g);
      else if (e.key == 32) v.paused = !v.paused;
      else if (e.key == '1') v.speed = 1;
      else if (e.key == '2') v.speed = 2;
      else if (e.key == '4') v.speed = 4;
      return true;
    case InputEvent::kMouseDown:
      // Right click goes back; a left click goes back once the run is over.
      if (e.button == kButtonRight || v.over) CloseReplayView(g);
      return true;
    default:
      return true;  // the replay's own events drive it; the window's are not passed on
  }
}

bool ReplayViewTick(Game& g) {
  if (!g.replay_view) return false;
  ReplayView& v = *g.replay_view;
  Clock& clock = *g.pf.clock;
  clock.SleepMs(1);
  double now = clock.NowDays();
  if (now <= v.next_frame) return false;
  v.next_frame = now + 40.0 / kMsPerDay;
  if (v.paused || v.over) return false;
  for (int i = 0; i < v.speed && !v.over; ++i)
    if (!StepPlayback(*v.playback)) v.over = true;
  return true;
}

void ComposeReplayView(Game& g, Canvas& screen) {
  if (!g.replay_view) return;
  ReplayView& v = *g.replay_view;
  ComposeWindow(*v.playback->game, screen);
  std::string line = "REPLAY " + v.title + "  x" + std::to_string(v.speed) +
                     (v.over ? "  END: click or Esc to go back"
                      : v.paused ? "  PAUSED  [Space] play  [Esc] back"
                                 : "  [Space] pause  [1][2][4] speed  [Esc] back");
  // The view's line sits at the top, between the HUD's score on the left and
  // its stage distance on the right, on a band that only dims the field: the
  // HUD's texts (lives and level at the bottom included) all stay in sight.
  using B = ReplayViewLine;
  uint8_t* px = screen.MutableData();
  for (int y = B::kTop; y < B::kTop + B::kHeight; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(px + y * screen.Stride());
    for (int x = B::kLeft; x < B::kRight; ++x) row[x] = (row[x] >> 1) & 0x7F7F7F;
  }
  const int room = B::kRight - B::kLeft - 8;
  screen.SetFontBold(false);
  int size = kLineFontSize;
  screen.SetFontSize(size);
  while (size > kLineMinFontSize && screen.TextWidth(line) > room) screen.SetFontSize(--size);
  line = FitTextWidth(screen, line, room);
  screen.SetFontColor(kBandText);
  screen.SetBrushSolid(false);
  const TextSize t = screen.MeasureText(line);
  screen.TextOut(B::kLeft + (B::kRight - B::kLeft - t.width) / 2, B::kTop + (B::kHeight - t.height) / 2, line);
  screen.SetBrushSolid(true);
}

void CloseReplayView(Game& g) {
  if (!g.replay_view) return;
  g.replay_view.reset();
  // The run's music stops with it; the start screen plays none.
  if (g.pf.audio) g.pf.audio->StopMusic();
}
