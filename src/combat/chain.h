// Chains: kills of one linked group in a row pay a bonus every fourth kill.
#pragma once


struct Game;

void ChainHit(Game& g, int link, int x, int y);
