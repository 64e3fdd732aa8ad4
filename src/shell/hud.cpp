#include "shell/hud.h"

#include <string>

#include "menus/menu.h"
#include "state/game.h"

namespace {
constexpr uint32_t kSilver = 12632256;
constexpr uint32_t kYellow = 65535;
constexpr uint32_t kRed = 255;
constexpr uint32_t kLightGrey = 13421772;
constexpr uint32_t kBossBar[8] = {3364351, 1127423, 255, 221, 187, 153, 119, 85};

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct HiLine {
  const char* text;
  int top;
  int mode;
};
constexpr HiLine kHiLines[7] = {
    {"LIGHT HI SCORE:", 360, LIGHT}, {"EASY HI SCORE:", 375, EASY}, {"HARD HI SCORE:", 390, HARD},
    {"EXTREAM HI SCORE:", 405, EXTREAM}, {"NOVA HI SCORE:", 420, NOVA}, {"SQ HI SCORE:", 435, SQ},
    {"HELL HI SCORE:", 450, HELL},
};
}  // namespace

void DrawHud(Game& g) { DrawHud(g, nullptr); }

void DrawHud(Game& g, std::vector<HudText>* placed) {
  Canvas& c = *g.cg;
  Tmy& my = g.my;
  auto text_out = [&](int x, int y, const std::string& s) {
    c.TextOut(x, y, s);
    if (placed) placed->push_back({s, x, y, c.FontSize(), c.FontColor()});
  };
  c.SetBrushSolid(false);
  c.SetFontBold(true);
  c.SetFontSize(10);
  c.SetFontColor(kSilver);
  if (g.run.game_over_banner > 0 && g.run.record_mode > 0) {
    c.SetFontSize(20);
    c.SetFontColor(kYellow);
    TextSize t = c.MeasureText("HI SCORE NEW RECORD!!");
    text_out(320 - t.width / 2, 270 + t.height / 2, "HI SCORE NEW RECORD!!");
  }
  if (g.run.title_phase != 0) {
    c.SetBrushSolid(true);
    return;
  }
  c.SetFontColor(kSilver);
  c.SetFontSize(9);
  if (my.distance() > 0) {
    std::string s = "Stage" + std::to_string(my.stage()) + " " + std::to_string(my.distance()) + "km";
    text_out(640 - c.TextWidth(s), 1, s);
  }
  c.SetFontSize(9);
  if (my.score() > 0) text_out(1, 1, "Score " + std::to_string(my.score()));
  if (my.chain_link() > 0 && my.chain_count() > 0 && g.pools.boss_slot == 0 && g.menu.screen == kNoMenu) {
    c.SetFontSize(8);
    text_out(1, 457, Repeat("＊", my.chain_count()));
  }
  if (g.run.in_play == 0) {
    c.SetFontSize(10);
    for (int i = 0; i < 7; ++i) {
      const HiLine& l = kHiLines[i];
      if (i > 0) c.SetFontColor(kSilver);
      if (l.mode != EASY && my.hi_score(l.mode) <= 0) continue;
      std::string text = std::string(l.text) + std::to_string(my.hi_score(l.mode));
      text_out(2, l.top, text);
      if (g.run.record_mode == l.mode + 1) {
        int w = c.TextWidth(text);
        c.SetFontColor(kYellow);
        text_out(w + 7, l.top, "NEW RECORD");
      }
    }
  }
  if (g.run.in_play > 0 || g.menu.screen == kShopScreen) {
    c.SetFontSize(10);
    std::string lives = Repeat("◆", my.lives);
    TextSize t = c.MeasureText(lives);
    text_out(640 - t.width, 480 - t.height, lives);
    c.SetFontSize(8);
    std::string lv = "Lv " + std::to_string(my.level);
    text_out(2, 480 - c.TextHeight(lv), lv);
  }
  if (g.pools.boss_slot > 0 && g.pools.boss_slot < kEnemySlots) {
    c.SetPen(kRed, 1);
    c.SetBrush(kBossBar[g.run.frame_no % 8]);
    c.Rectangle(10, 15, 10 + g.pools.enemies[size_t(g.pools.boss_slot)].hp, 20);
  }
  if (g.run.stage_end_countdown > 0) {
    c.SetFontSize(20);
    c.SetFontColor(kLightGrey);
  }
  c.SetBrushSolid(true);
}
