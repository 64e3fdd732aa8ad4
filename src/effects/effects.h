// The effect ring: short-lived visuals queued anywhere, aged and drawn once per
// composed frame.
#pragma once

#include <cstdint>
#include <string>

#include "state/turns.h"

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

// Point at angle a (whole degrees) and distance d from (cx, cy), the same on
// every machine (state/turns.h). Kept: the game's half turn is 3.1415, not
// pi; every position in play, and so every replay, depends on it.
inline int PolarX(int cx, int32_t a_deg, double d) { return cx + int(TurnCos(a_deg) * d); }
inline int PolarY(int cy, int32_t a_deg, double d) { return cy + int(TurnSin(a_deg) * d); }

// The enemy update's outline points: PolarX and PolarY of whole angles.
class TurnMemo {
 public:
  int X(int cx, int a, double d) { return PolarX(cx, a, d); }
  int Y(int cy, int a, double d) { return PolarY(cy, a, d); }
};
