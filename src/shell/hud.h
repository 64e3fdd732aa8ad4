// The head-up display, drawn on cg after the shake so it never shakes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Game;

// One text the HUD put on the field: top-left corner, font size and colour.
struct HudText {
  std::string text;
  int x = 0, y = 0;
  int size = 0;
  uint32_t color = 0;
};

void DrawHud(Game& g);
// The same, also listing every text drawn, in drawing order.
void DrawHud(Game& g, std::vector<HudText>* placed);
