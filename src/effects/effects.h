// The effect ring: short-lived visuals queued anywhere, aged and drawn once per
// composed frame.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

struct Game;

// Effect kinds: the number a slot carries decides how it is drawn and how long
// it lives.
enum EffectKind : int {
  kFxAnnouncement = 0,      // typed centre announcement (story messages)
  kFxMusicTicker = 1,       // music title ticker, right-aligned
  kFxBonusNumber = 18,      // hopping bonus number, rises
  kFxHopText = 19,          // hopping small white text, sinks ("Cool", level changes)
  kFxLinkLine = 137,        // jagged link line between two points (AddLinkEffect)
  kFxDiagonalSparks = 158,  // diagonal blue-white sparks
  kFxSparkBurst = 160,      // burst of flying dots
  kFxBlobBurst = 161,       // red burst of blobs (ship hit)
  kFxInwardStreaks = 168,   // streaks flying inward (time stop)
  kFxLaserDot = 170,        // laser start dot, three layers
  kFxEnemyLockOn = 176,     // lock-on square on an enemy; text = its pool index
  kFxDoubleRing = 177,      // expanding double ring
  kFxGreenRing = 179,       // green double ring (enemy destroyed)
  kFxGreenStreaks = 180,    // green streaks (enemy destroyed)
  kFxItemRing = 189,        // ring with streaks (item taken)
  kFxTickCross = 249,       // tick cross on a hit
  kFxPlayerLockOn = 276,    // lock-on square on the ship
  kFxPickupStreaks = 280,   // yellow-green streaks (item taken)
  kFxChainText = 319,       // typed chain text, first level; one kind per level
  kFxChainTextTop = 329,    // the largest chain text with a drawing rule
  kFxSideBrackets = 391,    // stage card: "..standby" / "ready.." brackets
  kFxStageCard = 392,       // stage title card director
  kFxCardArcs = 393,        // stage card: closing arcs
  kFxStageLine = 394,       // stage card: typed "STAGE n" and title lines
  kFxCardRing = 395,        // ring of the card and the warning
  kFxShipRing = 396,        // ring at the ship (barrier, time stop)
  kFxBombRing = 397,        // ring of a bomb or an enemy
  kFxBossWarning = 491,     // boss warning director
  kFxWarningBand = 492,     // boss warning: "EMERGENCY" band
  kFxWarningArcs = 493,     // boss warning: closing arcs
  kFxDanger = 494,          // boss warning: "D A N G E R"
};

// The chain text kind of chain level 1, 2, ...; levels past the top one give
// kinds without a drawing rule.
constexpr int ChainTextKind(int level) { return kFxChainText - 1 + level; }

void AddEffect(Game& g, int x, int y, int kind, const std::string& text = std::string());
void AddLinkEffect(Game& g, int x0, int y0, int x, int y, int kind);
void ClearEffects(Game& g);
// Draws the message log, then steps and draws every live effect.
void DrawEffects(Game& g);

// The vertical hop of bouncing texts for a (stepped) age.
int BounceOffset(int age);

// Draws one effect slot by its kind; returns false when the kind has no rule
// (the slot then stays live and is drawn as nothing).
bool DrawEffectKind(Game& g, int slot, int bounce);

// Brightens (delta > 0) or darkens a 0x00BBGGRR colour; a channel that
// saturates passes half of its excess on to the others.
uint32_t ShiftColor(uint32_t color, int delta);
// Direction from the ship to (x, y) in whole degrees 0..359, 0 = right, 90 = down.
int AngleFromPlayer(Game& g, int x, int y);

// Point at angle a (whole degrees) and distance d from (cx, cy). Inline, so a
// caller that asks for both coordinates of one angle pays for one sincos.
// Kept: the game's half turn is 3.1415, not pi; every position in play, and so
// every replay, depends on it.
constexpr double kPolarRad = 3.1415 / 180.0;
inline int PolarX(int cx, double a_deg, double d) { return cx + int(std::cos(a_deg * kPolarRad) * d); }
inline int PolarY(int cy, double a_deg, double d) { return cy + int(std::sin(a_deg * kPolarRad) * d); }

// PolarX and PolarY for whole angles, each angle's cos and sin worked out once
// while the memo lives: an enemy frame draws hundreds of outlines at a few
// hundred angles. The points are the same as PolarX and PolarY give.
class TurnMemo {
 public:
  TurnMemo() {
    for (int k = 0; k < kSize; ++k) angle_[size_t(k)] = k + 1;  // k + 1 never belongs in entry k
  }
  int X(int cx, int a, double d) { return cx + int(Entry(a).cos * d); }
  int Y(int cy, int a, double d) { return cy + int(Entry(a).sin * d); }

 private:
  static constexpr int kSize = 1024;
  struct Turn {
    double cos, sin;
  };
  const Turn& Entry(int a) {
    const size_t k = uint32_t(a) % kSize;
    if (angle_[k] != a) {
      angle_[k] = a;
      turn_[k] = {std::cos(a * kPolarRad), std::sin(a * kPolarRad)};
    }
    return turn_[k];
  }
  std::array<int32_t, kSize> angle_;
  std::array<Turn, kSize> turn_;
};
