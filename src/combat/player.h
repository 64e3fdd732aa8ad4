// The player's ship: movement, drawing, weapons, contact with enemies, game over.
#pragma once

struct Game;

// One play frame of the ship: movement (moving-ship modes), drawing, lock
// rings, weapons, then the contact pass over the enemy pool.
void UpdatePlayer(Game& g);
// Game over: the hi-score rule, the game-over picture and a new-game reset.
void EndGame(Game& g);
// The moving-ship step toward the pointer: a fifth of the gap, at most 7 px
// per axis, kept inside 0..640 x 0..480.
void MoveShip(Game& g);
