// Items: dropped by destroyed enemies, they home in on the ship and pay on pickup.
#pragma once

struct Game;

void SpawnItem(Game& g, int type, int angle, int distance);
void UpdateItems(Game& g);
void AddScore(Game& g, int value, int x, int y);
