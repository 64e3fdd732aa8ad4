// The enemy pool: orbiters, flyers and enemy bullets, their moves, fire and drawing.
#pragma once

#include <cstdint>

struct Game;

void SpawnOrbiter(Game& g, int kind, int size, int link, int speed, int radius, int angle);
void SpawnFlyer(Game& g, int kind, int x, int link, int speed, int angle, int size, int y);
void SpawnBullet(Game& g, int kind, int x, int link, int speed, int angle, int size, int y);
void SetEnemyHitPoints(Game& g, int slot);
void UpdateEnemies(Game& g);
uint32_t OffsetColor(uint32_t color, int d_blue, int d_red, int d_green);
