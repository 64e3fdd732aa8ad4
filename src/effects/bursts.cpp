// Particle bursts: ten particles per slot, kept in the slot's scratch block,
// created with random values on the slot's first frame and then moved, aged
// and drawn every frame. Kinds 180 and 280 draw on the field canvas, the rest
// glow on bak.
#include <algorithm>

#include "effects/effect_draw.h"
#include "effects/effects.h"
#include "shell/game.h"

namespace fx {

namespace {

// Sparks cool from pale yellow through orange to a dark ember.
uint32_t SparkColour(int page) {
  static constexpr uint32_t kRamp[11] = {0xFFFF55, 0xFFFF00, 0xFFDD00, 0xFFBB00, 0xEE99E0, 0xCC7700,
                                         0xAA5500, 0x883300, 0x661100, 0x440000, 0x220000};
  if (page <= 4) return 0xFFFF99;
  return kRamp[std::min(page - 5, 10)];
}

constexpr uint32_t kGreenRamp[10] = {0x00FF00, 0x00DD00, 0x00BB00, 0x009900, 0x007700,
                                     0x005500, 0x004400, 0x003300, 0x002200, 0x001100};

uint32_t BlobColour(int page) {
  int h = page / 2;
  if (h <= 4) return 0x0000FF;
  if (h <= 8) return 0x0022DD;
  if (h <= 12) return 0x0033BB;
  if (h <= 16) return 0x002299;
  if (h <= 21) return 0x001166;
  return 0x000033;
}

uint32_t StreakColour(int page) {
  if (page <= 5) return 0xFFFFFF;
  if (page <= 8) return 0x99FFFF;
  if (page <= 11) return 0x55DDFF;
  if (page <= 14) return 0x22AAEE;
  if (page <= 17) return 0x006699;
  return 0x003355;
}

uint32_t GreenStreakColour(int page) {
  if (page <= 6) return kGreenRamp[0];
  if (page <= 14) return kGreenRamp[page - 6];
  return 0x001100;
}

uint32_t PickupColour(int page) {
  static constexpr uint32_t kRamp[8] = {0xAADD00, 0x99BB00, 0x779900, 0x557700,
                                        0x335500, 0x224400, 0x113300, 0x112200};
  if (page <= 6) return 0xCCFF00;
  if (page <= 14) return kRamp[page - 7];
  return 0x001100;
}

// Colours of the item ring by its age 0..12; false from 13 on (pen kept).
bool ItemRingColour(int age, uint32_t& colour) {
  static constexpr uint32_t kRamp[13] = {0xCCEEDD, 0xBBDDCC, 0xAACCBB, 0x99BBAA, 0x88AA99,
                                         0x779988, 0x668877, 0x557766, 0x446655, 0x335544,
                                         0x224433, 0x113322, 0x002211};
  if (age < 0 || age > 12) return false;
  colour = kRamp[age];
  return true;
}

uint32_t ItemStreakColour(int page) {
  if (page <= 2) return 0xEEFFFF;
  if (page == 3) return 0xDDFFEE;
  uint32_t c = 0x001100;
  if (page <= 16) ItemRingColour(page - 4, c);
  return c;
}

void Slow(int32_t& v, int by) { v = std::max(v - by, 1); }

void Create(Game& g, EffectSlot& e) {
  for (int k = 0; k < kParticles; ++k) {
    auto p = [&](int i) -> int32_t& { return Particle(e, k, i); };
    p(kCx) = e.x;
    p(kCy) = e.y;
    switch (e.kind) {
      case 158:
        p(kCx) = e.x + Random(g, 7) - 8;
        p(kCy) = e.y + Random(g, 7) - 8;
        p(kSize) = 10 + Random(g, 5);
        p(kPage) = 1 + Random(g, 9);
        p(kSpeed) = 6 + Random(g, 3);
        p(kDist) = 3 + Random(g, 3);  // pen width
        break;
      case 160:
        p(kAngle) = Random(g, 360);
        p(kSize) = 1 + Random(g, 3);
        p(kPage) = 1 + Random(g, 9);
        p(kSpeed) = 10 + Random(g, 10);
        p(kDist) = 5;
        break;
      case 161:
        p(kAngle) = Random(g, 360);
        p(kSize) = 12 + Random(g, 10);
        p(kPage) = 1 + Random(g, 9);
        p(kSpeed) = 43 + Random(g, 20);
        p(kDist) = 20 + Random(g, 15);
        break;
      case 168:
        p(kAngle) = Random(g, 360);
        p(kSize) = 5 + Random(g, 4);
        p(kPage) = 1 + Random(g, 9);
        p(kSpeed) = 10 + Random(g, 15);
        p(kDist) = 250 + Random(g, 50);
        break;
      case 180:
        p(kAngle) = Random(g, 360);
        p(kSize) = 5 + Random(g, 10);
        p(kPage) = 1 + Random(g, 6);
        p(kSpeed) = 7 + Random(g, 5);
        p(kDist) = 3 + Random(g, 3);
        break;
      case 280:
        p(kAngle) = Random(g, 360);
        p(kSize) = 5 + Random(g, 10);
        p(kPage) = 1 + Random(g, 6);
        p(kSpeed) = 5 + Random(g, 5);
        p(kDist) = 2 + Random(g, 2);
        break;
      case 189:
        p(kAngle) = Random(g, 360);
        p(kSize) = 10 + Random(g, 20);
        p(kPage) = 1 + Random(g, 9);
        p(kSpeed) = 15 + Random(g, 15);
        p(kDist) = 10 + Random(g, 10);
        break;
      default: break;
    }
  }
  e.scratch[0] = 1;
}

// Line along the particle's direction from distance d0 to d1.
void Ray(Canvas& c, int cx, int cy, int angle, int d0, int d1) {
  c.MoveTo(PolarX(cx, angle, d0), PolarY(cy, angle, d0));
  c.LineTo(PolarX(cx, angle, d1), PolarY(cy, angle, d1));
}

void StepAndDraw(Game& g, EffectSlot& e, Canvas& c, int k) {
  int32_t& angle = Particle(e, k, kAngle);
  int32_t& cx = Particle(e, k, kCx);
  int32_t& cy = Particle(e, k, kCy);
  int32_t& dist = Particle(e, k, kDist);
  int32_t& speed = Particle(e, k, kSpeed);
  int32_t& size = Particle(e, k, kSize);
  int32_t& page = Particle(e, k, kPage);
  const bool every8 = g.frame_no % 8 == 0;
  page += 1;
  switch (e.kind) {
    case 158: {
      // Diagonal sparks: odd ones fly down-right, even ones up-left.
      int32_t& width = dist;
      int32_t& length = size;
      int s = k % 2 == 1 ? speed : -speed;
      cx += s;
      cy += s;
      Slow(speed, speed / 4 + 1);
      if (g.frame_no % 2 == 0) Slow(width, 1);
      length = std::max(length - 1, 5);
      c.SetPen(SparkColour(page), width);
      if (k % 2 == 1) {
        c.MoveTo(cx, cy);
        c.LineTo(cx + length, cy + length);
      } else {
        c.MoveTo(cx + length, cy + length);
        c.LineTo(cx, cy);
      }
      break;
    }
    case 160:
      Slow(speed, 3);
      dist += speed;
      if (every8) Slow(size, 1);
      c.SetPen(SparkColour(page), 1);
      Disc(c, PolarX(cx, angle, dist), PolarY(cy, angle, dist), size);
      break;
    case 161:
      Slow(speed, speed / 3 + 1);
      dist += speed;
      if (every8) Slow(size, 1);
      cy -= g.frame_no % 2;
      c.SetPen(BlobColour(page), 1);
      Disc(c, PolarX(cx, angle, dist), PolarY(cy, angle, dist), size);
      Disc(c, PolarX(cx, angle + 180, dist), PolarY(cy, angle + 180, dist), size);
      break;
    case 168:
      // Streaks fly inward.
      Slow(speed, speed / 10 + 1);
      dist -= speed;
      if (every8) Slow(size, 1);
      c.SetPen(StreakColour(page), std::max(15 - page, 1));
      Ray(c, cx, cy, angle, dist, dist + std::max(50 - page, 2));
      break;
    case 180:
    case 280: {
      if (e.kind == 180) Slow(speed, 3);
      else Slow(speed, speed / 2 + 1);
      dist += speed;
      Slow(size, Random(g, 2) + 1);
      if (e.kind == 180) c.SetPen(GreenStreakColour(page), 2 - page / 10);
      else c.SetPen(PickupColour(page), 1);
      Ray(c, cx, cy, angle, dist, dist + size);
      dist += size;
      break;
    }
    case 189:
      Slow(speed, speed / 3 + 1);
      dist += speed;
      if (every8) Slow(size, 1);
      c.SetPen(ItemStreakColour(page), std::max(8 - page, 1));
      Ray(c, cx, cy, angle, dist - size / 2, dist + size);
      break;
    default: break;
  }
}

// The ring kind 189 draws under its streaks.
void ItemRing(Canvas& c, EffectSlot& e) {
  if (e.age == 2) {
    e.u = 20;
    e.v = 30;
  }
  int r = e.v;
  e.v += e.u;
  Slow(e.u, e.u / 3 + 1);
  uint32_t colour;
  if (ItemRingColour(e.age, colour)) c.SetPenColor(colour);
  c.SetPenWidth(std::max(10 - e.age / 2, 1));
  Circle(c, e.x, e.y, r);
}

int LastAge(int kind) {
  switch (kind) {
    case 158: return 26;
    case 161: return 62;
    case 168: return 22;
    default: return 17;
  }
}

}  // namespace

void DrawParticles(Game& g, int slot) {
  EffectSlot& e = g.effects[size_t(slot)];
  Canvas& c = e.kind == 180 || e.kind == 280 ? *g.cg : *g.bak;
  if (e.kind == 189) ItemRing(c, e);
  if (e.scratch[0] == 0) Create(g, e);
  for (int k = 0; k < kParticles; ++k) StepAndDraw(g, e, c, k);
  c.SetPenWidth(1);
  if (e.age > LastAge(e.kind)) e.age = 0;
}

}  // namespace fx
