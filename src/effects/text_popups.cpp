// Text pop-ups: the typed story announcement, the music title ticker, the
// hopping reward texts and the typed chain texts. All glow on bak with a clear
// brush and a bold font.
#include <algorithm>
#include <iterator>
#include <string>

#include "assets/sound.h"
#include "effects/effect_draw.h"
#include "effects/effects.h"
#include "state/game.h"

namespace fx {

namespace {

// Colours of a fading text by age, for ages 30..39 in pairs, then from 40 on.
struct FadeRamp {
  uint32_t c[6];
};
constexpr FadeRamp kBonusFade = {{0xAACC00, 0x99BB00, 0x77AA00, 0x557700, 0x335500, 0x113300}};
constexpr FadeRamp kWhiteFade = {{0xDDDDDD, 0xBBBBBB, 0x999999, 0x555555, 0x333333, 0x111111}};
constexpr FadeRamp kChainFade = {{0xAAAAAA, 0x888888, 0x666666, 0x444444, 0x222222, 0x111111}};

// Draws the text once more, in its fade colour when it has one at this age.
void FadePass(Canvas& c, const FadeRamp& ramp, int age, int x, int y, const std::string& text) {
  if (age >= 30 && age <= 39) c.SetFontColor(ramp.c[(age - 30) / 2]);
  else if (age >= 40 && age <= 99) c.SetFontColor(ramp.c[5]);
  c.TextOut(x, y, text);
}

// Black copy one pixel right and down, then the text in its colour.
void ShadowedText(Canvas& c, int x, int y, const std::string& text, uint32_t colour) {
  c.SetFontColor(0);
  c.TextOut(x + 1, y + 1, text);
  c.SetFontColor(colour);
  c.TextOut(x, y, text);
}

// Hopping and chain texts free the slot with -1; their extra step makes it 0.
void EndDoubleStep(EffectSlot& e) {
  if (e.age > 42) e.age = -1;
  e.age += 1;
}

uint32_t AnnouncementColour(int h) {
  static constexpr uint32_t kRise[4] = {0x111144, 0x335599, 0x4499CC, 0x55CCCC};
  static constexpr uint32_t kFall[9] = {0xAAAAAA, 0x888888, 0x777777, 0x666666, 0x555555,
                                        0x444444, 0x333333, 0x222222, 0x111111};
  if (h < 4) return kRise[std::max(h, 0)];
  if (h <= 15) return 0xCCCCCC;
  if (h <= 24) return kFall[h - 16];
  return 0x000000;
}

// Chain texts by level: font size and the colours cycled by age.
struct ChainLook {
  int size;
  int period;
  uint32_t colours[6];
};
constexpr ChainLook kChainLooks[] = {
    {8, 2, {0xCCBBAA, 0xCCCCCC}},
    {10, 3, {0xCCCCCC, 0xCCBBAA, 0xCC66AA}},
    {12, 4, {0xCCCCCC, 0xCCBBAA, 0xCC66AA, 0xFF99CC}},
    {15, 5, {0xCCCCCC, 0xFF0077, 0xCCBBAA, 0xCC66AA, 0xFF99CC}},
    {18, 6, {0xCCCCCC, 0xFF0077, 0xCCBBAA, 0xCC66AA, 0xFF99CC, 0xCC3333}},
};

const ChainLook& ChainLookOf(int kind) {
  return kChainLooks[std::clamp(kind - kFxChainText, 0, int(std::size(kChainLooks)) - 1)];
}

uint32_t ChainColour(int kind, int age) {
  const ChainLook& look = ChainLookOf(kind);
  return look.colours[std::max(age, 0) % look.period];
}

}  // namespace

void DrawAnnouncement(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const int age = e.age;
  c.SetBrushSolid(false);
  SetFont(c, 10, true, false, AnnouncementColour(age / 2));
  // Always centred on the field, wherever it was spawned.
  int x = 320 - c.TextWidth(e.text) / 2;
  if (g.run.frame_no % 2 == 0) e.y -= 1;
  int length = CharCount(e.text);
  int n = std::min(age - age % 2, length);
  if (n < length) PlayEffect(g, "moji.wav");
  std::string shown = CharPrefix(e.text, n);
  int y = e.y - age / 2;
  c.TextOut(x, y, shown);
  if (g.run.frame_no % 2 == 0) c.TextOut(x + c.TextWidth(shown), y, "■");
  if (e.age > 50) e.age = 0;
}

void DrawMusicTicker(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const int age = e.age;
  c.SetBrushSolid(false);
  SetFont(c, 8, true, false, ShiftColor(0xDD33FF, 4 - 2 * age));
  int x = 640 - c.TextWidth(e.text);
  std::string shown = CharPrefix(e.text, std::min(age, CharCount(e.text)));
  c.TextOut(x, e.y, shown);
  if (g.run.frame_no % 2 == 0) c.TextOut(x + c.TextWidth(shown), e.y, ">");
  if (e.age > 130) e.age = 0;
}

void DrawHoppingText(Game& g, int slot, int bounce) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const bool bonus = e.kind == kFxBonusNumber;
  e.y += bounce;
  if (bonus) e.y -= 2;
  int length = CharCount(e.text);
  // Centred by the width the front canvas gives it with the font it has now.
  int x = e.x - g.cg->TextWidth(e.text) / 2;
  c.SetBrushSolid(false);
  SetFont(c, bonus && length > 2 ? length + 5 : 8, true, false, 0);
  ShadowedText(c, x, e.y, e.text, bonus ? 0xCCFF00 : 0xFFFFFF);
  FadePass(c, bonus ? kBonusFade : kWhiteFade, e.age, x, e.y, e.text);
  EndDoubleStep(e);
}

void DrawChainText(Game& g, int slot) {
  EffectSlot& e = g.fx.ring[size_t(slot)];
  Canvas& c = *g.bak;
  const int age = e.age;
  c.SetBrushSolid(false);
  SetFont(c, ChainLookOf(e.kind).size, true, false, 0);
  if (g.run.frame_no % 2 == 0) e.y -= 1;
  int x = e.x - g.cg->TextWidth(e.text) / 2;
  std::string shown = CharPrefix(e.text, std::min(age, CharCount(e.text)));
  ShadowedText(c, x, e.y, shown, ChainColour(e.kind, age));
  FadePass(c, kChainFade, age, x, e.y, shown);
  EndDoubleStep(e);
}

}  // namespace fx
