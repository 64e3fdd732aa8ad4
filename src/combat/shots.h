// The player's shots: the shot pool, volleys, markers, bolts and lasers, and their hits.
#pragma once

struct Game;

// Shot kinds.
constexpr int kShotPlain = 1;
constexpr int kShotMarker = 2;
constexpr int kShotBolt = 3;
constexpr int kShotLaser = 4;

// For a homing bolt (kind 3) `speed` is the index of its target in the enemy pool.
void SpawnShot(Game& g, int kind, int x, int speed, int angle, int size, int y);
// Moves and draws every shot, then resolves its hits on the enemy pool.
void UpdateShots(Game& g);

// Weapon steps of the player's frame: the held left button's volley, and the
// lock-on burst (on a left release in HARD, NOVA and HELL, or a right press in HELL).
void FireVolley(Game& g);
void LockOnBurst(Game& g);
