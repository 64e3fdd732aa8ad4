// The whole-screen pictures: what each shows and how it is drawn.
#pragma once

#include <cstdint>

#include "art.h"

struct Scene {
  const char* file;
  const char* title;
  const char* subtitle;
  art::Rgb sky_top, sky_bottom;
  art::Rgb accent;
  uint32_t title_colour, halo;
  bool menu_band;  // the menus are shown over it: their column and the log stay clear
  int seed;
};

inline constexpr int kSceneCount = 7;
extern const Scene kScenes[kSceneCount];

void DrawScene(Canvas& c, const Scene& s);
