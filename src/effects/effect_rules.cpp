// Drawing rules of the effect kinds: the dispatcher and the pieces the rules
// share. Each rule draws on bak unless noted and frees its slot at the end of
// its life; a kind without a rule draws nothing and keeps its slot live.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "effects/effect_draw.h"
#include "effects/effects.h"
#include "platform/text.h"
#include "state/game.h"

bool DrawEffectKind(Game& g, int slot, int bounce) {
  if (slot < 0 || slot >= kEffectSlots) return false;
  int kind = g.fx.ring[size_t(slot)].kind;
  switch (kind) {
    case kFxAnnouncement: fx::DrawAnnouncement(g, slot); return true;
    case kFxMusicTicker: fx::DrawMusicTicker(g, slot); return true;
    case kFxBonusNumber:
    case kFxHopText: fx::DrawHoppingText(g, slot, bounce); return true;
    case kFxLinkLine: fx::DrawLinkLine(g, slot); return true;
    case kFxDiagonalSparks:
    case kFxSparkBurst:
    case kFxBlobBurst:
    case kFxInwardStreaks:
    case kFxGreenStreaks:
    case kFxItemRing:
    case kFxPickupStreaks: fx::DrawParticles(g, slot); return true;
    case kFxLaserDot: fx::DrawLaserDot(g, slot); return true;
    case kFxEnemyLockOn:
    case kFxPlayerLockOn: fx::DrawLockOn(g, slot); return true;
    case kFxDoubleRing: fx::DrawDoubleRing(g, slot); return true;
    case kFxGreenRing: fx::DrawGreenRing(g, slot); return true;
    case kFxTickCross: fx::DrawTickCross(g, slot); return true;
    case kFxSideBrackets: fx::DrawSideBrackets(g, slot); return true;
    case kFxStageCard: fx::DrawStageCardDirector(g, slot); return true;
    case kFxCardArcs:
    case kFxWarningArcs: fx::DrawClosingArcs(g, slot); return true;
    case kFxStageLine: fx::DrawTypedStageLine(g, slot); return true;
    case kFxCardRing:
    case kFxShipRing:
    case kFxBombRing: fx::DrawRing(g, slot); return true;
    case kFxBossWarning: fx::DrawWarningDirector(g, slot); return true;
    case kFxWarningBand:
    case kFxDanger: fx::DrawWarningText(g, slot); return true;
    default:
      if (kind >= kFxChainText && kind <= kFxChainTextTop) {
        fx::DrawChainText(g, slot);
        return true;
      }
      return false;
  }
}

namespace fx {

uint32_t FadeColor(uint32_t base, int age, int t) {
  uint32_t c = base;
  if (age <= 10) c = ShiftColor(base, age * 10 - 100);
  if (age > t) c = ShiftColor(base, 10 * (t + 1) - age * 10);
  return c;
}

namespace {
void SlowDown(EffectSlot& e) { e.v = std::max(e.v - e.v / 2 - 1, 1); }
}  // namespace

int ClosingRadius(EffectSlot& e) {
  int r = e.u;
  e.u -= e.v;
  SlowDown(e);
  return r;
}

int OpeningRadius(EffectSlot& e) {
  int r = e.u;
  e.u += e.v;
  SlowDown(e);
  return r;
}

void Chord(Canvas& c, int cx, int cy, int r, int a, int b) {
  c.MoveTo(PolarX(cx, a, r), PolarY(cy, a, r));
  c.LineTo(PolarX(cx, b, r), PolarY(cy, b, r));
}

SegmentRange ArcSegments(int age, int h) {
  SegmentRange s;
  if (age >= 2 && age <= 69) {
    s.lo = 0;
    s.hi = std::min(age - 2, h);
  } else if (age >= 70) {
    s.lo = std::min(age - 70, 7);
    s.hi = h;
  }
  return s;
}

void Circle(Canvas& c, int cx, int cy, int r) {
  c.SetBrushSolid(false);
  c.Ellipse(cx - r, cy - r, cx + r, cy + r);
}

void Disc(Canvas& c, int cx, int cy, int r) {
  c.SetBrush(c.PenColor());
  c.Ellipse(cx - r, cy - r, cx + r, cy + r);
}

void SetFont(Canvas& c, int size, bool bold, bool italic, uint32_t color) {
  c.SetFontSize(size);
  c.SetFontBold(bold);
  c.SetFontItalic(italic);
  c.SetFontColor(color);
}

namespace {
// Byte offset of the character with 0-based index n (s.size() when past the end).
size_t OffsetOfChar(const std::string& s, int n) {
  size_t i = 0;
  for (int k = 0; k < n && i < s.size(); ++k) i += text::Utf8SequenceLength(s, i);
  return i;
}
}  // namespace

int CharCount(const std::string& s) {
  int n = 0;
  for (size_t i = 0; i < s.size(); i += text::Utf8SequenceLength(s, i)) ++n;
  return n;
}

std::string CharPrefix(const std::string& s, int n) {
  if (n < 1) return std::string();
  return s.substr(0, OffsetOfChar(s, n));
}

std::string CharsFrom(const std::string& s, int pos) {
  return s.substr(OffsetOfChar(s, std::max(pos, 1) - 1));
}

void TypedText(Canvas& c, int cx, int cy, const std::string& text, int n) {
  std::string shown = CharPrefix(text, std::min(n, CharCount(text)));
  TextSize t = c.MeasureText(shown);
  c.TextOut(cx - t.width / 2, cy - t.height / 2, shown);
}

int ParseDecimal(const std::string& s, int fallback) {
  if (s.empty()) return fallback;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != 0 || errno != 0 || v < INT_MIN || v > INT_MAX) return fallback;
  return int(v);
}

}  // namespace fx
