#include "shell/frame.h"

#include <algorithm>

#include "assets/sound.h"
#include "combat/items.h"
#include "combat/player.h"
#include "combat/shots.h"
#include "effects/effects.h"
#include "effects/speed_lines.h"
#include "menus/menu.h"
#include "platform/clock.h"
#include "ranking/ranking_screen.h"
#include "state/game.h"
#include "replay/recorder.h"
#include "shell/form.h"
#include "shell/hud.h"
#include "stages/enemies.h"
#include "stages/timeline.h"

namespace {
constexpr double kMsPerDay = 24.0 * 3600.0 * 1000.0;
}

bool DXTimer1Timer(Game& g) {
  g.pf.clock->SleepMs(1);
  return TimerTick(g);
}

double TimerDeadline(const Game& g) {
  return std::min({g.timing.next_frame, g.timing.next_second, g.timing.next_sound});
}

void TimerWake(Game& g) {
  if (!g.panels.help_visible) StepSoundGuard(g);
}

bool TimerTick(Game& g) {
  Clock& clock = *g.pf.clock;
  if (g.panels.help_visible) return false;  // the game waits while the help shows
  StepSoundGuard(g);
  bool ran = false;
  double now = clock.NowDays();
  if (now > g.timing.next_frame) {
    // Kept: the first second runs at 50 ms a frame, then 40 (the once-a-second
    // step below sets it); only the pace of the game's first frames depends on it.
    int interval = g.timing.frame_interval_ms < 1 ? 50 : g.timing.frame_interval_ms;
    // A frame found less than a quarter of a frame after its deadline keeps
    // the cadence: the 1 ms ticks would otherwise stretch every frame to 41 ms,
    // and a busy desktop wakes the game a few milliseconds late (2 to 8 ms with
    // ten busy programs on two cores), so play would never reach 25 frames a
    // second. A later one (a stall, the window inactive) restarts it from now:
    // late frames are never caught up and frames never come in bursts.
    double late_ms = (now - g.timing.next_frame) * kMsPerDay;
    const bool on_time = g.timing.next_frame > 0 && late_ms < interval / 4.0;
    g.timing.next_frame = (on_time ? g.timing.next_frame : now) + interval / kMsPerDay;
    RunFrame(g);
    RecordFrame(g);
    ReleaseHeldPress(g);  // the frame has seen the press
    ran = true;
  }
  now = clock.NowDays();
  if (now > g.timing.next_second) {
    g.timing.next_second = now + 1000.0 / kMsPerDay;
    g.timing.frame_interval_ms = 40;
  }
  if (now > g.timing.next_sound) {
    g.timing.next_sound = now + 400.0 / kMsPerDay;
    DrainSoundQueue(g);
  }
  return ran;
}

void RunFrame(Game& g) {
  // Kept: the frame counter wraps after 999, so the patterns that act every k
  // frames stutter there for a k that does not divide 1000; replays depend on it.
  g.run.frame_no += 1;
  if (g.run.frame_no > 999) g.run.frame_no = 0;
  Canvas& cg = *g.cg;
  if (g.run.title_phase < 0) {
    // Both canvases black, bitmap 0 over cg and bak OR-ed onto it. OR-ing the
    // black bak changes nothing, and cg needs no clearing where the bitmap
    // covers it, so neither is done: this runs 25 times a second on the title.
    g.bak->Clear(0);
    const Canvas* title = g.bitmaps[0].get();
    if (!title || title->Width() < 640 || title->Height() < 480) cg.Clear(0);
    if (title) cg.CopyFrom(*title, 0, 0, 640, 480, 0, 0);
    return;
  }
  if (g.run.paused == 1) {
    // Drawn over the last frame in whatever colour the HUD left on the canvas.
    cg.SetFontSize(20);
    cg.SetBrushSolid(false);
    TextSize t = cg.MeasureText("PAUSE");
    cg.TextOut(320 - t.width / 2, 240 - t.height / 2, "PAUSE");
    cg.SetBrushSolid(true);
    return;
  }
  ComposeFrame(g);
  DrawHud(g);
  // Kept: stage and stage clock are clamped at 0 only after the frame has run
  // and been drawn, so the frame that made one negative plays and shows it as
  // it is; a replay through such a frame depends on it.
  if (g.my.stage() < 0) g.my.stage() = 0;
  if (g.my.distance() < 0) g.my.distance() = 0;
}

void ComposeFrame(Game& g) {
  Canvas& cg = *g.cg;
  Canvas& bak = *g.bak;
  cg.Clear(0);
  bak.Clear(0);
  cg.SetPen(0, 1);
  cg.SetBrush(0);
  bak.SetPen(0, 1);
  bak.SetBrush(0);
  if (g.run.backdrop_on == 1 && g.bitmaps[0]) cg.CopyFrom(*g.bitmaps[0], 0, 0, 640, 480, 0, 0);
  RunStageTimeline(g);
  ServeFlowRequests(g);
  DrawSpeedLines(g);
  UpdateItems(g);
  UpdateEnemies(g);
  UpdateShots(g);
  UpdatePlayer(g);
  DrawEffects(g);
  DrawMenu(g);
  ServeFlowRequests(g);
  // bak is left black for the next frame: its Clear then costs nothing.
  cg.OrFromAndClear(bak);
  ApplyShake(g);
}

void ServeFlowRequests(Game& g) {
  if (g.flow.open_screen != kNoMenu) {
    int screen = g.flow.open_screen;
    g.flow.open_screen = kNoMenu;
    OpenMenuScreen(g, screen);
  }
  if (g.flow.ranking_list != 0) {
    int code = g.flow.ranking_list;
    g.flow.ranking_list = 0;
    // The frames go on while the read runs: the waiting text shows at once.
    FetchAndShowRanking(g, code);
  }
}

void ApplyShake(Game& g) {
  if (g.run.shake < 1) return;
  g.run.shake -= 1;
  int s = g.run.shake;
  int dx = Random(g, 2 * s + 1) - s;
  // For a leftward jump the vertical range would be empty: no vertical offset then.
  int dy = dx >= 0 ? Random(g, 2 * dx + 1) - dx : 0;
  g.cg->CopyFrom(*g.cg, dx, dy, dx + 640, dy + 480, 0, 0);
}
