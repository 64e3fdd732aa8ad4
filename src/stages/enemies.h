// The enemy pool: orbiters, flyers and enemy bullets, their moves, fire and drawing.
#pragma once

#include <cstdint>

struct Game;
struct EnemySlot;

// What an enemy-pool slot holds (its `cls`).
enum EnemyClass : int {
  kOrbiter = 0,      // circles the field centre, closing in
  kFlyer = 1,        // flies a heading from where it appeared
  kEnemyBullet = 2,  // enemy fire; flies like a flyer
};

// Behaviour and colour of a slot (its `kind`). Orbiters, flyers and bullets
// share the numbers; a kind means the same look in every class but moves by
// the rules of its class.
enum EnemyKind : int {
  kEnemyPlain = 1,        // orbiter: one aimed shot; the plain bullet
  kEnemyWeaver = 2,       // swings out and back in three phases
  kEnemyTurner = 3,       // turns clockwise
  kEnemyTurnerBack = 4,   // turns the other way
  kEnemySpiral = 5,       // spirals away late in life
  kBossStage2 = 6,
  kEnemySpinner = 7,      // spins fast, slowing down
  kEnemySpinnerBack = 8,  // spins the other way
  kEnemyDiver = 9,        // orbiter: dives in, stops, backs away; fires a ring
  kEnemyDart = 10,        // one hit point, fires early; the small aimed bullet
  kBossStage1 = 11,
  kBossStage3 = 12,
  kEnemyCarrier = 13,     // releases plain orbiters, fires fans
  kBossStage4 = 14,
  kEnemySprayer = 15,     // sprays aimed shots in every mode
  kBossStage5 = 16,
  kEnemyRetreater = 20,   // turns back near the centre; fires a fan in every mode
  kEnemyTwinGun = 21,     // flyer: fires pairs of darts at the ship
  kEnemyRingShot = 22,    // a bullet of the ring volleys
  kEnemyFanShot = 23,     // a bullet of the fans; as a flyer it fires darts
  kEnemyNeedle = 24,      // the slow aimed bullet
  kBossStage6 = 25,       // the last boss
};

// What a spawn puts into an enemy-pool slot; a field a spawn does not use
// stays 0.
struct EnemySpawn {
  int kind = 0;
  int x = 0, y = 0;  // flyer and bullet: where it appears
  int radius = 0;    // orbiter: distance from the field centre
  int angle = 0;     // orbiter: direction from the centre; flyer and bullet: heading
  int speed = 0;     // orbiter: radius lost per frame; flyer and bullet: distance gained
  int size = 0;
  int link = 0;  // its group (0: none)
};

void SpawnOrbiter(Game& g, EnemySpawn s);
void SpawnFlyer(Game& g, EnemySpawn s);
void SpawnBullet(Game& g, EnemySpawn s);
// An orbiter spawned at another slot's own radius and angle (escorts, releases).
void SpawnOrbiterAt(Game& g, const EnemySlot& at, EnemySpawn s);
void SetEnemyHitPoints(Game& g, int slot);
void UpdateEnemies(Game& g);
uint32_t OffsetColor(uint32_t color, int d_blue, int d_red, int d_green);
