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

void SpawnItem(Game& g, int type, int angle, int distance);
void UpdateItems(Game& g);
void AddScore(Game& g, int value, int x, int y);
