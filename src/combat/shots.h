// The player's shots: the shot pool, volleys, markers, bolts and lasers, and their hits.
#pragma once

struct Game;

// Shot kinds.
constexpr int kShotPlain = 1;
constexpr int kShotMarker = 2;
constexpr int kShotBolt = 3;
constexpr int kShotLaser = 4;

// What SpawnShot puts into the shot pool.
struct ShotSpawn {
  int kind = 0;
  int x = 0, y = 0;  // where it is fired from
  int angle = 0;     // heading
  int speed = 0;     // pixels per frame; a bolt's speed is its size - 2 instead
  int size = 0;
  int target = 0;  // a bolt's target: its index in the enemy pool
};

// The oldest shot gives way when the pool is full.
void SpawnShot(Game& g, const ShotSpawn& s);
// Moves and draws every shot, then resolves its hits on the enemy pool.
void UpdateShots(Game& g);

// Weapon steps of the player's frame: the held left button's volley, and the
// lock-on burst (on a left release in HARD, NOVA and HELL, or a right press in HELL).
void FireVolley(Game& g);
void LockOnBurst(Game& g);
