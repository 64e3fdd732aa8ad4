#include "stages/enemies.h"

#include <algorithm>

#include "shell/game.h"

void SpawnOrbiter(Game& g, int kind, int size, int link, int speed, int radius, int angle) {
  (void)g; (void)kind; (void)size; (void)link; (void)speed; (void)radius; (void)angle;
}
void SpawnFlyer(Game& g, int kind, int x, int link, int speed, int angle, int size, int y) {
  (void)g; (void)kind; (void)x; (void)link; (void)speed; (void)angle; (void)size; (void)y;
}
void SpawnBullet(Game& g, int kind, int x, int link, int speed, int angle, int size, int y) {
  (void)g; (void)kind; (void)x; (void)link; (void)speed; (void)angle; (void)size; (void)y;
}
void SetEnemyHitPoints(Game& g, int slot) { (void)g; (void)slot; }
void UpdateEnemies(Game& g) { (void)g; }

uint32_t OffsetColor(uint32_t color, int d_blue, int d_red, int d_green) {
  int r = std::clamp(RedOf(color) + d_red, 0, 255);
  int gr = std::clamp(GreenOf(color) + d_green, 0, 255);
  int b = std::clamp(BlueOf(color) + d_blue, 0, 255);
  return RGB(r, gr, b);
}
