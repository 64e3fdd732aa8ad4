#include "combat/barrier.h"

#include <string>

#include "assets/sound.h"
#include "combat/shots.h"
#include "effects/effects.h"
#include "state/game.h"

namespace {

constexpr uint32_t kBarrierColors[5] = {0xCCFF00, 0xFFFF00, 0xCCCC00, 0x99CC00, 0xEEFF99};
constexpr uint32_t kTimeStopColors[5] = {0xEEFFEE, 0xCCDDCC, 0x99AA99, 0x778877, 0x556655};

// Each ring is drawn in three passes, a colour of its set drawn at random for
// each: two dimmed passes at their own distance from the ring, then the ring.
struct RingPass {
  int shade;   // ShiftColor delta (0: the colour as drawn)
  int offset;  // added to the ring's radius
  int width;
};
constexpr RingPass kBarrierPasses[3] = {{-100, 2, 1}, {-100, -2, 1}, {0, 0, 2}};
constexpr RingPass kTimeStopPasses[3] = {{-200, 200, 3}, {-100, 150, 5}, {0, 0, 2}};

// Sets the pen of one pass; the colour is drawn from the ring's set.
void SetPassPen(Game& g, const uint32_t (&colors)[5], const RingPass& pass) {
  uint32_t color = colors[Random(g, 5)];
  if (pass.shade != 0) color = ShiftColor(color, pass.shade);
  g.cg->SetPen(color, pass.width);
}

bool HasBarrier(int mode) {
  return mode == EASY || mode == HARD || mode == EXTREAM || mode == NOVA || mode == LIGHT;
}
bool HasTimeStop(int mode) { return mode == SQ || mode == HELL; }

// Spends `cost` levels and shows "<name>Lv old→new" under the ship.
void PayLevels(Game& g, int cost, const char* name) {
  Tmy& my = g.my;
  my.level -= cost;
  if (my.level <= 0) my.level = 0;
  AddEffect(g, my.player_x(), my.player_y() + 30, kFxHopText,
            std::string(name) + "Lv" + std::to_string(my.level + cost) + "→" +
                std::to_string(my.level));
}

}  // namespace

int BarrierCost(int mode, int level) {
  switch (mode) {
    case EASY: return level / 10 + 2;
    case HARD: return level / 20 + 1;
    case EXTREAM: return level / 15 + 1;
    case NOVA: return level / 25 + 1;
    case LIGHT: return 1;
    default: return 0;
  }
}

int TimeStopCost(int mode, int level) {
  switch (mode) {
    case SQ: return level / 10 + 1;
    case HELL: return level / 20 + 1;
    default: return 0;
  }
}

void RaiseBarrier(Game& g) {
  Tmy& my = g.my;
  if (g.input.click != kClickRight || my.level < 2 || my.barrier_timer != 0 || !HasBarrier(my.mode)) return;
  g.run.shake = 10;
  my.barrier_timer = my.barrier_time + 25;
  my.ring_step = my.barrier_size / 2;
  my.ring_radius = 0;
  PayLevels(g, BarrierCost(my.mode, my.level), "Barrier ");
  AddEffect(g, my.player_x(), my.player_y(), kFxShipRing);
  PlayEffect(g, "baria.wav");
  if (my.mode == NOVA) {
    // NOVA's barrier stays where it was raised while the ship moves on.
    my.barrier_x = my.player_x();
    my.barrier_y = my.player_y();
  }
  g.input.click = kClickNone;  // one press, one barrier
}

void StartTimeStop(Game& g) {
  Tmy& my = g.my;
  if (g.input.click != kClickRight || my.level < 2 || my.time_stop != 0 || !HasTimeStop(my.mode)) return;
  g.run.shake = 10;
  my.time_stop = my.stop_time + 30;
  my.ring_step = 15;
  my.ring_radius = 0;
  PayLevels(g, TimeStopCost(my.mode, my.level), "Timestop ");
  AddEffect(g, my.player_x(), my.player_y(), kFxInwardStreaks);
  PlayEffect(g, "combo5.wav");
  g.input.click = kClickNone;
}

void GrowRing(Game& g, int left) {
  Tmy& my = g.my;
  my.ring_radius += my.ring_step;
  my.ring_step -= my.ring_step / 2 + 1;
  if (my.ring_step <= 1) my.ring_step = 1;
  if (my.ring_radius > my.barrier_size) my.ring_radius = my.barrier_size;
  // In its last frames the ring snaps inward.
  if (left == 2) my.ring_radius = my.barrier_size - 5;
  if (left == 1) my.ring_radius = my.barrier_size - 23;
  if (left == 0) my.ring_radius = my.barrier_size - 25;
}

void RunBarrier(Game& g) {
  Tmy& my = g.my;
  if (my.barrier_timer < 1) return;
  my.barrier_timer -= 1;
  Canvas& cg = *g.cg;
  for (const RingPass& pass : kBarrierPasses) {
    SetPassPen(g, kBarrierColors, pass);
    GrowRing(g, my.barrier_timer);
    if (my.barrier_timer == 0) PlayEffect(g, "baria.wav");
    int cx = my.mode == NOVA ? my.barrier_x : my.player_x();
    int cy = my.mode == NOVA ? my.barrier_y : my.player_y();
    int s = g.run.frame_no % 360;
    int r = my.ring_radius + pass.offset;
    int x0 = PolarX(cx, s, r), y0 = PolarY(cy, s, r);
    cg.MoveTo(x0, y0);
    // The ring turns a degree per frame and shimmers inward by up to 4 pixels.
    for (int i = 1; i <= 71; ++i) {
      int ri = r - Random(g, 5);
      cg.LineTo(PolarX(cx, s + 5 * i, ri), PolarY(cy, s + 5 * i, ri));
    }
    cg.LineTo(x0, y0);
  }
  cg.SetPenWidth(1);
}

void RunTimeStop(Game& g) {
  Tmy& my = g.my;
  if (my.time_stop < 1) return;
  my.time_stop -= 1;
  if (g.input.click == kClickRight) {
    // A second right press ends the time stop at once.
    g.input.click = kClickNone;
    my.time_stop = 0;
  }
  int px = my.player_x(), py = my.player_y();
  if (my.time_stop == 0) {
    // Time runs again with a star of piercing lasers.
    int n = my.laser_way() + 4;
    for (int k = 1; k <= n; ++k) {
      int a = (360 / n) * k + 45;
      SpawnShot(g, {.kind = kShotLaser, .x = px, .y = py, .angle = a, .speed = 20, .size = 30});
      const int dot_x = PolarX(px, a, 30), dot_y = PolarY(py, a, 30);  // where the laser leaves
      AddEffect(g, dot_x, dot_y, kFxLaserDot);
    }
    AddEffect(g, px, py, kFxShipRing);
    PlayEffect(g, "combo6.wav");
  }
  Canvas& cg = *g.cg;
  int period = my.stop_time + 30;
  if (period < 1) period = 1;
  for (const RingPass& pass : kTimeStopPasses) {
    SetPassPen(g, kTimeStopColors, pass);
    GrowRing(g, my.time_stop);
    int r = my.ring_radius + pass.offset;
    cg.MoveTo(PolarX(px, 0, r), PolarY(py, 0, r));
    // An arc that sweeps back like a clock hand as the time stop runs out.
    for (int i = 1; i <= my.time_stop; ++i) {
      int a = int(360.0 / period * i);
      cg.LineTo(PolarX(px, a, r), PolarY(py, a, r));
    }
  }
  cg.SetPenWidth(1);
}
