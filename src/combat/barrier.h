// The right-button weapons: the barrier (EASY, HARD, EXTREAM, NOVA, LIGHT) and
// the time stop (SQ, HELL), with their rings and the laser star that ends a
// time stop. Both cost levels and need level 2.
#pragma once

struct Game;

// Levels a barrier or a time stop costs at the current level in the current
// mode (0 for a mode that does not have that weapon).
int BarrierCost(int mode, int level);
int TimeStopCost(int mode, int level);

// The four steps of the player's frame, in this order.
void RaiseBarrier(Game& g);
void StartTimeStop(Game& g);
void RunBarrier(Game& g);
void RunTimeStop(Game& g);

// One growth step of the shared barrier / time-stop ring; `left` is the
// weapon's remaining frames (the ring snaps inward in the last ones).
void GrowRing(Game& g, int left);
