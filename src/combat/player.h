// The player's ship: movement, drawing, weapons, contact with enemies, game over.
#pragma once

struct Game;

void UpdatePlayer(Game& g);
void EndGame(Game& g);
