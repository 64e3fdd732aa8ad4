// Graphic marks: the jagged link line between two hit points, the laser start
// dot, the lock-on squares, the double rings and the tick cross.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "effects/effect_draw.h"
#include "effects/effects.h"
#include "state/game.h"

namespace fx {

namespace {

void EndAfter(EffectSlot& e, int last_age) {
  if (e.age > last_age) e.age = 0;
}

// One random step of the link walk toward the target coordinate.
int WalkStep(Game& g, int from, int target, int span) {
  int step = std::max(std::abs(span) / 20, 2);
  int d = Random(g, 2 * step) + 1;
  return target < from ? from - d : from + d;
}

// Kept: the lock-on squares turn degrees with 3.14, not 3.1415; their corners,
// and so the look, depend on it.
int LockX(int cx, int a, int r) { return cx + int(std::cos(a * 3.14 / 180.0) * r); }
int LockY(int cy, int a, int r) { return cy + int(std::sin(a * 3.14 / 180.0) * r); }

}  // namespace

void DrawLinkLine(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& front = *g.cg;
  Canvas& back = *g.bak;
  static constexpr uint32_t kFront[3] = {0xEE00FF, 0xAA00BB, 0x770033};
  static constexpr uint32_t kBack[3] = {0xCC0000, 0x990033, 0x220055};
  uint32_t fc = kFront[std::max(e.age, 0) % 3];
  uint32_t bc = kBack[std::max(e.age, 0) % 3];
  front.SetPenWidth(1 + Random(g, 2));
  back.SetPenWidth(3 + Random(g, 3));
  // The walk starts again from the origin every frame, darkening as it goes.
  e.x0 = e.u;
  e.y0 = e.v;
  for (int s = 0; s < 20; ++s) {
    fc = ShiftColor(fc, -2 * s);
    bc = ShiftColor(bc, -2 * s);
    front.SetPenColor(fc);
    back.SetPenColor(bc);
    front.MoveTo(e.x0, e.y0);
    back.MoveTo(e.x0, e.y0);
    e.x0 = WalkStep(g, e.x0, e.x, e.u - e.x);
    e.y0 = WalkStep(g, e.y0, e.y, e.v - e.y);
    front.LineTo(e.x0, e.y0);
    back.LineTo(e.x0, e.y0);
  }
  fc = ShiftColor(fc, -40);
  bc = ShiftColor(bc, -40);
  front.SetPenColor(fc);
  back.SetPenColor(bc);
  front.MoveTo(e.x0, e.y0);
  back.MoveTo(e.x0, e.y0);
  front.LineTo(e.x, e.y);
  back.LineTo(e.x, e.y);
  front.SetPenWidth(1);
  back.SetPenWidth(1);
  EndAfter(e, 4);
}

void DrawLaserDot(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  static constexpr uint32_t kLayers[7][3] = {
      {0xFF0000, 0xFFDDDD, 0xFFFFFF}, {0xDD0000, 0xFFDDBB, 0xFFFFDD}, {0xBB0000, 0xFFCC99, 0xFFEEBB},
      {0x990000, 0xFFAA77, 0xFFDD99}, {0x770000, 0x855555, 0x857C77}, {0x440000, 0x553333, 0x6B5A55},
      {0x220000, 0x443311, 0x665533}};
  const int h = std::clamp(e.age / 2, 0, 6);
  const int widths[3] = {62 - e.age, 23 - e.age, 20 - e.age};
  for (int layer = 0; layer < 3; ++layer) {
    // A negative width leaves the pen as it was.
    if (widths[layer] >= 0) c.SetPenWidth(widths[layer]);
    c.SetPenColor(kLayers[h][layer]);
    c.MoveTo(e.x0, e.y0);
    c.LineTo(e.x, e.y);
  }
  c.SetPenWidth(1);
  EndAfter(e, 20);
}

void DrawLockOn(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const bool on_enemy = e.kind == kFxEnemyLockOn;
  if (e.age == 2) {
    e.u = 200;
    e.v = 100;
    if (on_enemy) e.x0 = ParseDecimal(e.text, -1);
  }
  static constexpr uint32_t kColours[4] = {0x440055, 0x770099, 0xAA00CC, 0xFF00AA};
  c.SetPenWidth(1);
  if (e.age >= 2 && e.age <= 5) c.SetPenColor(kColours[e.age - 2]);
  bool live = false;
  int cx = 0, cy = 0;
  if (on_enemy) {
    if (e.x0 >= 0 && e.x0 < kEnemySlots && g.pools.enemies[size_t(e.x0)].timer >= 1) {
      live = true;
      cx = g.pools.enemies[size_t(e.x0)].x;
      cy = g.pools.enemies[size_t(e.x0)].y;
    }
  } else if (g.my.lives > 0) {
    live = true;
    cx = g.my.player_x();
    cy = g.my.player_y();
  }
  if (live) {
    // A square that turns 10 degrees a frame and shrinks onto its target.
    e.u -= e.v;
    e.v = std::max(e.v - (e.v / 2 + 1), 1);
    int r = std::max(e.u, 0);
    for (int q = 0; q < 4; ++q) {
      int a = (e.age + g.run.frame_no + slot) * 10 + 90 * q;
      c.MoveTo(LockX(cx, a, r), LockY(cy, a, r));
      c.LineTo(LockX(cx, a + 90, r), LockY(cy, a + 90, r));
    }
  }
  EndAfter(e, 5);
}

void DrawDoubleRing(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  // White, through magenta and red to olive, and back.
  static constexpr uint32_t kColours[12] = {0xFFFFFF, 0xFFA4FF, 0xFF71FF, 0xFF3EFF,
                                            0xFF09FF, 0xEB14C0, 0xE7187A, 0xDB242E,
                                            0xCD7032, 0xB18436, 0x9F9948, 0x7B8662};
  int h = e.age / 2;
  if (h >= 2 && h <= 13) c.SetPenColor(kColours[h - 2]);
  else if (h >= 14 && h <= 24) c.SetPenColor(kColours[24 - h]);
  c.SetPenWidth(std::max(30 - e.age, 1));
  Circle(c, e.x, e.y, 150 + 3 * e.age);
  c.SetPenWidth(std::max(10 - e.age, 1));
  Circle(c, e.x, e.y, 10 + 30 * e.age);
  EndAfter(e, 50);
}

void DrawGreenRing(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  static constexpr uint32_t kGreen[10] = {0x00FF00, 0x00DD00, 0x00BB00, 0x009900, 0x007700,
                                          0x005500, 0x004400, 0x003300, 0x002200, 0x001100};
  static constexpr uint32_t kOuter[14] = {0x002200, 0x003300, 0x004400, 0x005500, 0x00FF00,
                                          0x00DD00, 0x00BB00, 0x009900, 0x007700, 0x005500,
                                          0x004400, 0x003300, 0x002200, 0x001100};
  const int age = e.age;
  c.SetPen(kGreen[std::clamp(age, 0, 9)], std::max(15 - age, 1));
  Circle(c, e.x, e.y, age + 10);
  c.SetPen(age >= 0 && age <= 13 ? kOuter[age] : 0x000000, std::max(5 - age, 1));
  Circle(c, e.x, e.y, age + 50);
  EndAfter(e, 16);
}

void DrawTickCross(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const int age = e.age;
  c.SetPenWidth(4 - age / 4);
  for (int k = 1; k <= 6; ++k) {
    int r = age + 3 * k;
    if (r >= -3 && r <= 8) c.SetPenColor(0xAAFF77);
    else if (r >= 9 && r <= 16) {
      static constexpr uint32_t kRamp[8] = {0x77FF33, 0x00FF00, 0x00DD00, 0x00BB00,
                                            0x009900, 0x007700, 0x005500, 0x003300};
      c.SetPenColor(kRamp[r - 9]);
    } else if (r >= 17 && r <= 26) {
      c.SetPenColor(0x001100);
    }
    for (int f = 1; f <= 4; ++f) {
      int a = age + 90 * f + 45;
      c.MoveTo(PolarX(e.x, a, r), PolarY(e.y, a, r) - age / 5 + 3);
      c.LineTo(PolarX(e.x, a, r + 5), PolarY(e.y, a, r + 5));
    }
  }
  c.SetPenWidth(1);
  EndAfter(e, 16);
}

}  // namespace fx
