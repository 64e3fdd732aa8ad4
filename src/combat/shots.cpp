#include "combat/shots.h"

#include "shell/game.h"

void SpawnShot(Game& g, int kind, int x, int speed, int angle, int size, int y) {
  (void)g; (void)kind; (void)x; (void)speed; (void)angle; (void)size; (void)y;
}

void UpdateShots(Game& g) { (void)g; }
