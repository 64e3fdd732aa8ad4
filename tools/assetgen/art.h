// Drawing helpers for the generated pictures: gradients, glows, stars, a
// neon floor grid and glowing titles, all on the game's own Canvas.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "platform/canvas.h"

namespace art {

struct Rgb {
  double r, g, b;
};

void VerticalGradient(Canvas& c, Rgb top, Rgb bottom);
// Adds light around (cx, cy): strength x exp(-(d / radius)^2) of colour.
void AddGlow(Canvas& c, int cx, int cy, double radius, Rgb colour, double strength);
void Stars(Canvas& c, std::mt19937& rng, int count, int max_y);
void Moon(Canvas& c, int cx, int cy, int r, Rgb colour);
// A perspective grid on the lower part of the picture, vanishing at (vx, horizon).
void NeonGrid(Canvas& c, int horizon, int vx, Rgb colour);
// Concentric thin rings, as radar sweeps.
void Rings(Canvas& c, int cx, int cy, int r0, int step, int count, uint32_t colour);
// Text centred on cx with its top at y, with a coloured halo.
void GlowText(Canvas& c, const std::string& text, int points, int cx, int y, uint32_t colour,
              uint32_t halo, bool italic = false);
// Darkens a vertical band (for menus drawn over the picture).
void ShadeBand(Canvas& c, int x0, int x1, double factor);
// Light scanlines over the whole picture.
void Scanlines(Canvas& c, double factor);

}  // namespace art
