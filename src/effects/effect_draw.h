// Shared pieces of the effect drawing rules: colour fades, closing and opening
// radii, chords and arcs, typed texts and the particle block of a slot.
#pragma once

#include <cstdint>
#include <string>

#include "state/game.h"

namespace fx {

// The rules of each family; each returns nothing and frees its own slot.
void DrawStageCardDirector(Game& g, int slot);    // 392
void DrawWarningDirector(Game& g, int slot);      // 491
void DrawSideBrackets(Game& g, int slot);         // 391 (front canvas)
void DrawClosingArcs(Game& g, int slot);          // 393, 493
void DrawTypedStageLine(Game& g, int slot);       // 394
void DrawWarningText(Game& g, int slot);          // 492, 494
void DrawRing(Game& g, int slot);                 // 395, 396, 397

void DrawAnnouncement(Game& g, int slot);         // 0
void DrawMusicTicker(Game& g, int slot);          // 1
void DrawHoppingText(Game& g, int slot, int bounce);  // 18, 19
void DrawChainText(Game& g, int slot);            // 319..329

void DrawParticles(Game& g, int slot);            // 158, 160, 161, 168, 180, 189, 280

void DrawLinkLine(Game& g, int slot);             // 137 (both canvases)
void DrawLaserDot(Game& g, int slot);             // 170
void DrawLockOn(Game& g, int slot);               // 176, 276
void DrawDoubleRing(Game& g, int slot);           // 177
void DrawGreenRing(Game& g, int slot);            // 179
void DrawTickCross(Game& g, int slot);            // 249

// Fade in over the first ten ages, fade out once age is above t.
uint32_t FadeColor(uint32_t base, int age, int t);

// Radius drawn this frame; then the radius closes (u -= v) or opens (u += v)
// and the speed v halves (v - v / 2 - 1, at least 1).
int ClosingRadius(EffectSlot& e);
int OpeningRadius(EffectSlot& e);

// Straight line between the points at angles a and b (whole degrees) on the
// circle of radius r around (cx, cy).
void Chord(Canvas& c, int cx, int cy, int r, int a, int b);

// Segments of a growing then shrinking arc bracket for this age.
struct SegmentRange {
  int lo = 0;
  int hi = -1;
};
SegmentRange ArcSegments(int age, int h);

// Circle outline (clear brush) or filled disc (brush in the pen colour) of
// radius r around (cx, cy).
void Circle(Canvas& c, int cx, int cy, int r);
void Disc(Canvas& c, int cx, int cy, int r);

// Sets the font to the given size and style (bold replaces any italic).
void SetFont(Canvas& c, int size, bool bold, bool italic, uint32_t color);

// Texts count whole characters (UTF-8 code points), never bytes of one.
int CharCount(const std::string& s);
// The first n characters (all when n is larger; none when n < 1).
std::string CharPrefix(const std::string& s, int n);
// The characters from 1-based position pos to the end.
std::string CharsFrom(const std::string& s, int pos);

// Draws the first n characters of text centred on (cx, cy), measured on the
// canvas drawn on.
void TypedText(Canvas& c, int cx, int cy, const std::string& text, int n);

// A decimal number in a text; fallback when the text is not a number.
int ParseDecimal(const std::string& s, int fallback);

// Particle k (0..9) of a slot's scratch block: field i (1..11) of the record.
inline int32_t& Particle(EffectSlot& e, int k, int i) { return e.scratch[3 + 11 * k + i - 1]; }
enum ParticleField : int { kAngle = 1, kCx = 2, kCy = 3, kDist = 4, kSpeed = 5, kSize = 6, kPage = 8 };
constexpr int kParticles = 10;

}  // namespace fx
