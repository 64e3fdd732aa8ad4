// The stage title card (director 392), the boss warning (director 491), their
// parts and the expanding rings 395..397. Everything here draws outlines only;
// kind 391 draws straight onto the field canvas, the rest glow on bak.
#include <algorithm>
#include <string>

#include "assets/sound.h"
#include "effects/effect_draw.h"
#include "effects/effects.h"
#include "state/game.h"

namespace fx {

void DrawStageCardDirector(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  // The parts queued below may land anywhere in the ring: work from copies.
  const int age = e.age, x = e.x, y = e.y;
  const std::string title = e.text;
  switch (age) {
    case 2:
      PlayEffect(g, "stage.wav");
      AddEffect(g, x, y, kFxCardRing);
      AddEffect(g, x, y, kFxSideBrackets);
      AddEffect(g, x, y, kFxCardArcs, "420");
      break;
    case 4: AddEffect(g, x, y, kFxCardArcs, "380"); break;
    case 5: AddEffect(g, x, y, kFxCardArcs, "390"); break;
    case 11: AddEffect(g, x, y, kFxCardArcs, "450"); break;
    case 15:
      AddEffect(g, x, y, kFxCardArcs, "320");
      AddEffect(g, x, y - 40, kFxStageLine, "STAGE " + std::to_string(g.my.stage()));
      break;
    case 16: AddEffect(g, x, y + 40, kFxStageLine, title); break;
    case 85: AddEffect(g, x, y, kFxCardRing); break;
    default: break;
  }
  if (e.age > 99) e.age = 0;
}

void DrawWarningDirector(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  const int age = e.age, x = e.x, y = e.y;
  if (age == 2) {
    PlayEffect(g, "警告音.wav");
    AddEffect(g, x, y, kFxCardRing);
  }
  // Arcs close in from 310 .. 390, then from 420 .. 580.
  if (age >= 4 && age <= 12) AddEffect(g, x, y, kFxWarningArcs, std::to_string(300 + 10 * (age - 3)));
  if (age == 10) {
    std::string band;
    for (int i = 0; i < 8; ++i) band += "EMERGENCY ";
    AddEffect(g, x, y, kFxWarningBand, band);
  }
  if (age >= 12 && age <= 20) AddEffect(g, x, y, kFxWarningArcs, std::to_string(400 + 20 * (age - 11)));
  if (age == 15) {
    AddEffect(g, x, y - 70, kFxDanger, "D A N G E R");
    AddEffect(g, x, y + 70, kFxDanger, "D A N G E R");
  }
  if (age == 85) AddEffect(g, x, y, kFxCardRing);
  if (e.age > 99) e.age = 0;
}

void DrawSideBrackets(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.cg;
  const int age = e.age;
  if (age == 2) {
    e.u = 400;
    e.v = 100;
  }
  uint32_t colour = FadeColor(0xAA00FF, age, 69);
  c.SetPen(colour, 1);
  c.SetBrushSolid(false);
  int r = ClosingRadius(e);
  SegmentRange s = ArcSegments(age, 6);
  for (int j = s.lo; j <= s.hi; ++j) {
    int a = -10 * j, b = 10 * j;
    Chord(c, e.x, e.y, r, a, a - 10);
    Chord(c, e.x, e.y, r, b, b + 10);
    Chord(c, e.x, e.y, r, a + 180, a + 170);
    Chord(c, e.x, e.y, r, b + 180, b + 190);
  }
  SetFont(c, 8, true, false, colour);
  TypedText(c, e.x, e.y - r, "..standby", std::min(age - 2, 9));
  // "ready.." is typed from its end: the last n + 1 characters.
  int n = std::min(age - 2, 7);
  std::string ready = CharsFrom("ready..", std::max(7 - n, 1));
  TextSize t = c.MeasureText(ready);
  c.TextOut(e.x - t.width / 2, e.y + r - t.height / 2, ready);
  if (e.age > 99) e.age = 0;
}

void DrawClosingArcs(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const int age = e.age;
  const bool warning = e.kind == kFxWarningArcs;
  if (age == 2) {
    e.u = ParseDecimal(e.text, 0);
    e.v = 100;
  }
  c.SetPen(FadeColor(warning ? 0x0033FF : 0x7700CC, age, 74),
           warning ? std::max(e.u / 40 + 1, 1) : 1);
  c.SetBrushSolid(false);
  int r = ClosingRadius(e);
  SegmentRange s = ArcSegments(age, 7);
  for (int j = s.lo; j <= s.hi; ++j) {
    int a = -10 * j, b = 10 * j;
    Chord(c, e.x, e.y, r, a + 90, a + 80);
    Chord(c, e.x, e.y, r, b + 90, b + 100);
    Chord(c, e.x, e.y, r, a + 270, a + 260);
    Chord(c, e.x, e.y, r, b + 270, b + 280);
  }
  c.SetPenWidth(1);
  if (e.age > 99) e.age = 0;
}

void DrawTypedStageLine(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const int age = e.age;
  uint32_t colour = FadeColor(0xCC00FF, age, 54);
  c.SetPenColor(colour);
  c.SetBrushSolid(false);
  // The lower line (the stage title) is the larger one.
  SetFont(c, e.y > 240 ? 12 : 8, true, true, colour);
  if (age - 2 <= CharCount(e.text)) PlayEffect(g, "moji.wav");
  TypedText(c, e.x, e.y, e.text, age - 2);
  if (e.age > 79) e.age = 0;
}

void DrawWarningText(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const bool danger = e.kind == kFxDanger;
  uint32_t colour = FadeColor(danger ? 0x0099FF : 0x0033CC, e.age, 54);
  c.SetPenColor(colour);
  c.SetBrushSolid(false);
  SetFont(c, danger ? 50 : 20, true, true, colour);
  if (g.run.frame_no % 2 == 0) c.SetFontColor(ShiftColor(colour, danger ? -150 : -20));
  TypedText(c, e.x, e.y, e.text, e.age - 2);
  if (e.age > 79) e.age = 0;
}

namespace {

// The expanding rings: start speed of the radius, base colour and pen width
// max(width - age / width_div, 1).
struct RingRule {
  int kind;
  int speed;
  uint32_t base;
  int width;
  int width_div;
};
constexpr RingRule kRings[] = {
    {kFxCardRing, 150, 0x6600BB, 10, 2},
    {kFxShipRing, 150, 0x779900, 10, 2},
    {kFxBombRing, 100, 0x990077, 7, 1},
};

const RingRule& RingOf(int kind) {
  for (const RingRule& r : kRings)
    if (r.kind == kind) return r;
  return kRings[0];
}

}  // namespace

void DrawRing(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const int age = e.age;
  const RingRule& rule = RingOf(e.kind);
  if (age == 2) {
    e.u = 40;
    e.v = rule.speed;
  }
  c.SetPen(ShiftColor(rule.base, 20 - age * 10), std::max(rule.width - age / rule.width_div, 1));
  int r = OpeningRadius(e);
  Circle(c, e.x, e.y, r);
  if (e.age > 15) e.age = 0;
}

}  // namespace fx
