// The player's shots: the shot pool, volleys, markers, bolts and lasers, and their hits.
#pragma once

struct Game;

void SpawnShot(Game& g, int kind, int x, int speed, int angle, int size, int y);
void UpdateShots(Game& g);
