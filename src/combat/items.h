// Items: dropped by destroyed enemies, they home in on the ship and pay on pickup.
#pragma once

struct Game;

// Item types (an item's `kind`).
enum ItemType : int {
  kItemScore = 1,       // dropped by every destroyed slot: pays its value
  kItemLevelUp = 2,     // a linked group wiped out: one level up
  kItemStageClear = 3,  // the last big slot: stage x 10000 points
  kItemLaserBonus = 4,  // a laser kill: pays five times its value
};

// Where an item starts: a direction and a distance from the ship.
struct ItemPlace {
  int angle;
  int distance;
};

void SpawnItem(Game& g, int type, ItemPlace at);
void UpdateItems(Game& g);

// How a gain is paid: multiplied by the level + 1 and, while a boss lives, cut
// to a tenth plus one; or flat, as it is.
enum class Gain { kLevelled, kFlat };
// Every change of the score goes through here. Returns the points added (0
// for a value of 0).
int AddScore(Game& g, int value, Gain gain = Gain::kLevelled);
