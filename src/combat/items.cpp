#include "combat/items.h"

#include "shell/game.h"

void SpawnItem(Game& g, int type, int angle, int distance) {
  (void)g; (void)type; (void)angle; (void)distance;
}

void UpdateItems(Game& g) { (void)g; }

void AddScore(Game& g, int value, int x, int y) {
  (void)g; (void)value; (void)x; (void)y;
}
