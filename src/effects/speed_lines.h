// The speed-line background: 20 streaks rushing toward the centre in play.
#pragma once

struct Game;

void DrawSpeedLines(Game& g);
