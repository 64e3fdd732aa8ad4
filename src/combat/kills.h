// Kills: every way an enemy-pool slot goes down, as one path that takes the
// cause, and the clears that take every small slot on the field at once.
#pragma once

struct Game;

// Why a slot goes down. The cause decides what follows: a kill by the
// player's guns pays (items, chain, a linked group's wipe-out, big kills and
// the stage clear); the other causes leave sparks and at most one item.
enum class KillCause {
  kShot,         // worn down by a shot or a homing bolt
  kLaser,        // worn down by a laser: a shot kill with the laser's bonus item
  kBarrier,      // touched a raised barrier: no item, no chain
  kLinkBolt,     // a bullet of a group just wiped out, struck by the link bolt: an item where it was
  kScreenClear,  // cleared when the ship is hit: an item at its own place
  kStageClear,   // cleared when the last big slot dies: an item at its own place
};

void KillEnemy(Game& g, int j, KillCause cause);

// Kills every live small slot inside the field (not on its border): at a
// screen clear those with at most 20 hit points, at a stage clear all.
void ClearField(Game& g, KillCause cause);
