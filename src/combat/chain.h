// Chains: kills of one linked group in a row pay a bonus every fourth kill.
#pragma once

#include <string>

struct Game;

void ChainHit(Game& g, int link, int x, int y);
// The sound queued for the n-th bonus of a chain ("" for none).
std::string ChainSound(int n);
