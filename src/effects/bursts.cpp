// Particle bursts: ten particles per slot, kept in the slot's scratch block,
// created with random values on the slot's first frame and then moved, aged
// and drawn every frame, all by one path that the rule table steers. The green
// and the pickup streaks draw on the field canvas, the rest glow on bak.
#include <algorithm>

#include "effects/effect_draw.h"
#include "effects/effects.h"
#include "state/game.h"

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

// A ramp by steps: the colour of the first step whose limit v does not pass,
// else `after`.
struct ColourStep {
  int upto;
  uint32_t colour;
};
template <size_t N>
uint32_t StepColour(int v, const ColourStep (&steps)[N], uint32_t after) {
  for (const ColourStep& s : steps)
    if (v <= s.upto) return s.colour;
  return after;
}

uint32_t BlobColour(int page) {
  static constexpr ColourStep kSteps[] = {
      {4, 0x0000FF}, {8, 0x0022DD}, {12, 0x0033BB}, {16, 0x002299}, {21, 0x001166}};
  return StepColour(page / 2, kSteps, 0x000033);
}

uint32_t StreakColour(int page) {
  static constexpr ColourStep kSteps[] = {
      {5, 0xFFFFFF}, {8, 0x99FFFF}, {11, 0x55DDFF}, {14, 0x22AAEE}, {17, 0x006699}};
  return StepColour(page, kSteps, 0x003355);
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

// A creation value: base + Random(spread), or just base when spread is 0.
struct Spread {
  int base;
  int spread;
};

int Roll(Game& g, Spread s) { return s.spread > 0 ? s.base + Random(g, s.spread) : s.base; }

enum class Motion {
  kDiagonal,  // the particle itself moves diagonally (x and y by speed)
  kOutward,   // dist grows by speed along the angle
  kInward,    // dist shrinks by speed
};
enum class Shrink {
  kSparkle,    // width thins on even frames, length shortens to 5
  kEvery8th,   // size - 1 every eighth frame
  kRandomly,   // size - (1 or 2) every frame
};
enum class Shape {
  kDiagonalLine,  // line of the particle's length, direction by parity
  kDisc,          // filled circle of radius size
  kTwinDisc,      // two filled circles, at angle and opposite
  kRay,           // line along the angle
};

// How one particle kind is created, moved, aged and drawn. Field names follow
// the particle record: for diagonal sparks kDist holds the pen width and kSize
// the length.
struct ParticleRule {
  int kind;
  bool front;  // drawn on the field canvas instead of bak
  int last_age;
  Spread jitter;  // diagonal sparks: offset of x and y from the anchor
  Spread size, page, speed, dist;
  int slow_div;  // speed -= speed / slow_div + slow_by (at least 1); 0: just slow_by
  int slow_by;
  Motion motion;
  Shrink shrink;
  bool rises;  // centre y - 1 on odd frames
  uint32_t (*colour)(int page);
  int pen, pen_div, pen_min;  // pen width max(pen - page / pen_div, pen_min); pen_div 0: pen
  Shape shape;
  bool centred;  // ray starts half its size behind dist
  int tail;      // ray length max(tail - page, 2) instead of size
  bool trail;    // dist keeps the ray's length after drawing
};

constexpr ParticleRule kParticleRules[] = {
    {kFxDiagonalSparks, false, 26, {-8, 7}, {10, 5}, {1, 9}, {6, 3}, {3, 3}, 4, 1, Motion::kDiagonal,
     Shrink::kSparkle, false, SparkColour, 0, 0, 1, Shape::kDiagonalLine, false, 0, false},
    {kFxSparkBurst, false, 17, {0, 0}, {1, 3}, {1, 9}, {10, 10}, {5, 0}, 0, 3, Motion::kOutward,
     Shrink::kEvery8th, false, SparkColour, 1, 0, 1, Shape::kDisc, false, 0, false},
    {kFxBlobBurst, false, 62, {0, 0}, {12, 10}, {1, 9}, {43, 20}, {20, 15}, 3, 1, Motion::kOutward,
     Shrink::kEvery8th, true, BlobColour, 1, 0, 1, Shape::kTwinDisc, false, 0, false},
    {kFxInwardStreaks, false, 22, {0, 0}, {5, 4}, {1, 9}, {10, 15}, {250, 50}, 10, 1, Motion::kInward,
     Shrink::kEvery8th, false, StreakColour, 15, 1, 1, Shape::kRay, false, 50, false},
    {kFxGreenStreaks, true, 17, {0, 0}, {5, 10}, {1, 6}, {7, 5}, {3, 3}, 0, 3, Motion::kOutward,
     Shrink::kRandomly, false, GreenStreakColour, 2, 10, 0, Shape::kRay, false, 0, true},
    {kFxPickupStreaks, true, 17, {0, 0}, {5, 10}, {1, 6}, {5, 5}, {2, 2}, 2, 1, Motion::kOutward,
     Shrink::kRandomly, false, PickupColour, 1, 0, 1, Shape::kRay, false, 0, true},
    {kFxItemRing, false, 17, {0, 0}, {10, 20}, {1, 9}, {15, 15}, {10, 10}, 3, 1, Motion::kOutward,
     Shrink::kEvery8th, false, ItemStreakColour, 8, 1, 1, Shape::kRay, true, 0, false},
};

const ParticleRule* RuleOf(int kind) {
  for (const ParticleRule& r : kParticleRules)
    if (r.kind == kind) return &r;
  return nullptr;
}

void Create(Game& g, EffectSlot& e, const ParticleRule& r) {
  for (int k = 0; k < kParticles; ++k) {
    auto p = [&](int i) -> int32_t& { return Particle(e, k, i); };
    p(kCx) = e.x;
    p(kCy) = e.y;
    if (r.motion == Motion::kDiagonal) {
      p(kCx) = e.x + Roll(g, r.jitter);
      p(kCy) = e.y + Roll(g, r.jitter);
    } else {
      p(kAngle) = Random(g, 360);
    }
    p(kSize) = Roll(g, r.size);
    p(kPage) = Roll(g, r.page);
    p(kSpeed) = Roll(g, r.speed);
    p(kDist) = Roll(g, r.dist);
  }
  e.scratch[0] = 1;
}

// Line along the particle's direction from distance d0 to d1.
void Ray(Canvas& c, int cx, int cy, int angle, int d0, int d1) {
  c.MoveTo(PolarX(cx, angle, d0), PolarY(cy, angle, d0));
  c.LineTo(PolarX(cx, angle, d1), PolarY(cy, angle, d1));
}

void StepAndDraw(Game& g, EffectSlot& e, const ParticleRule& r, Canvas& c, int k) {
  int32_t& angle = Particle(e, k, kAngle);
  int32_t& cx = Particle(e, k, kCx);
  int32_t& cy = Particle(e, k, kCy);
  int32_t& dist = Particle(e, k, kDist);
  int32_t& speed = Particle(e, k, kSpeed);
  int32_t& size = Particle(e, k, kSize);
  int32_t& page = Particle(e, k, kPage);
  page += 1;
  // Diagonal sparks: odd ones fly down-right, even ones up-left, then slow down.
  if (r.motion == Motion::kDiagonal) {
    int s = k % 2 == 1 ? speed : -speed;
    cx += s;
    cy += s;
  }
  Slow(speed, (r.slow_div > 0 ? speed / r.slow_div : 0) + r.slow_by);
  if (r.motion == Motion::kOutward) dist += speed;
  if (r.motion == Motion::kInward) dist -= speed;
  switch (r.shrink) {
    case Shrink::kSparkle:
      if (g.run.frame_no % 2 == 0) Slow(dist, 1);
      size = std::max(size - 1, 5);
      break;
    case Shrink::kEvery8th:
      if (g.run.frame_no % 8 == 0) Slow(size, 1);
      break;
    case Shrink::kRandomly: Slow(size, Random(g, 2) + 1); break;
  }
  if (r.rises) cy -= g.run.frame_no % 2;
  int width = r.shape == Shape::kDiagonalLine ? int(dist)
              : r.pen_div > 0                 ? std::max(r.pen - page / r.pen_div, r.pen_min)
                                              : r.pen;
  c.SetPen(r.colour(page), width);
  switch (r.shape) {
    case Shape::kDiagonalLine:
      if (k % 2 == 1) {
        c.MoveTo(cx, cy);
        c.LineTo(cx + size, cy + size);
      } else {
        c.MoveTo(cx + size, cy + size);
        c.LineTo(cx, cy);
      }
      break;
    case Shape::kDisc: Disc(c, PolarX(cx, angle, dist), PolarY(cy, angle, dist), size); break;
    case Shape::kTwinDisc:
      Disc(c, PolarX(cx, angle, dist), PolarY(cy, angle, dist), size);
      Disc(c, PolarX(cx, angle + 180, dist), PolarY(cy, angle + 180, dist), size);
      break;
    case Shape::kRay: {
      int length = r.tail > 0 ? std::max(r.tail - page, 2) : size;
      Ray(c, cx, cy, angle, r.centred ? dist - size / 2 : dist, dist + length);
      if (r.trail) dist += size;
      break;
    }
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

}  // namespace

void DrawParticles(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  const ParticleRule* rule = RuleOf(e.kind);
  if (rule == nullptr) return;
  Canvas& c = rule->front ? *g.cg : *g.bak;
  if (e.kind == kFxItemRing) ItemRing(c, e);
  if (e.scratch[0] == 0) Create(g, e, *rule);
  for (int k = 0; k < kParticles; ++k) StepAndDraw(g, e, *rule, c, k);
  c.SetPenWidth(1);
  if (e.age > rule->last_age) e.age = 0;
}

}  // namespace fx
