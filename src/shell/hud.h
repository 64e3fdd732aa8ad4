// The head-up display, drawn on cg after the shake so it never shakes.
#pragma once

struct Game;

void DrawHud(Game& g);
