// The phase tables of the stage bosses of stages 2, 4, 5 and 6.
#pragma once

#include <cstdint>

struct Game;

// One frame of the boss in enemy slot i (kinds 6, 14, 16 and 25): moves it,
// lets it attack by its own timer, and returns its pen colour.
uint32_t RunBossPattern(Game& g, int i);
