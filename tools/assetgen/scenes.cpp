#include "scenes.h"

#include <random>

using art::Rgb;

const Scene kScenes[kSceneCount] = {
    {"title.bmp", "K.V.", "moonlit shooting  -  click to start", {4, 2, 20}, {30, 6, 48},
     {200, 40, 255}, 0xFFEEFF, 0xCC33AA, false, 1},
    {"0.jpg", "K.V.", "左Click: SHOT   右Click: BARRIER", {2, 6, 24}, {10, 30, 60},
     {40, 160, 255}, 0xFFF0E0, 0xFF9933, true, 2},
    {"1.jpg", "CHAPTER", "次の夜へ", {10, 2, 18}, {50, 10, 40},
     {255, 60, 160}, 0xEEDDFF, 0x9922DD, true, 3},
    {"net.jpg", "RANKING", "NETWORK SCORE BOARD", {0, 10, 16}, {0, 40, 40},
     {40, 255, 200}, 0xEEFFF0, 0x66CC22, true, 4},
    {"gameover.jpg", "GAME OVER", "the moon goes dark", {16, 0, 0}, {50, 0, 10},
     {255, 40, 40}, 0xDDDDFF, 0x2222CC, false, 5},
    {"clear.jpg", "STAGE CLEAR", "target destroyed", {0, 8, 24}, {20, 30, 70},
     {255, 220, 80}, 0xEEFFFF, 0x00CCFF, false, 6},
    {"timeup.jpg", "TIME UP", "the night is over", {12, 8, 0}, {40, 24, 4},
     {255, 150, 40}, 0xDDF0FF, 0x0077EE, false, 7},
};

void DrawScene(Canvas& c, const Scene& s) {
  std::mt19937 rng(uint32_t(s.seed));
  art::VerticalGradient(c, s.sky_top, s.sky_bottom);
  art::Stars(c, rng, 420, 300);
  art::Moon(c, 500, 110, 46, {235, 230, 255});
  art::AddGlow(c, 320, 300, 160, s.accent, 0.35);
  art::NeonGrid(c, 300, 320, s.accent);
  art::Rings(c, 320, 300, 40, 26, 6, RGB(int(s.accent.r), int(s.accent.g), int(s.accent.b)));
  if (s.menu_band) art::ShadeBand(c, 0, 230, 0.45);
  // Over a menu picture the message log runs from y 250 down the left and
  // the buttons take the left 200 pixels: the title and its hint sit right
  // of the buttons and above the log, so no line covers them.
  int cx = s.menu_band ? 430 : 320;
  art::GlowText(c, s.title, s.menu_band ? 40 : 54, cx, s.menu_band ? 148 : 150, s.title_colour,
                s.halo, true);
  if (s.subtitle[0]) art::GlowText(c, s.subtitle, 14, cx, s.menu_band ? 212 : 240, 0xF0E0E0, s.halo);
  art::Scanlines(c, 0.88);
}
