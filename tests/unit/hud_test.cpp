#include <gtest/gtest.h>

#include "shell/hud.h"
#include "test_util.h"

namespace {

constexpr uint32_t kSilver = 12632256;
constexpr uint32_t kYellow = 65535;

std::vector<HudText> Hud(Game& g) {
  std::vector<HudText> placed;
  g.cg->Clear(0);
  DrawHud(g, &placed);
  return placed;
}

const HudText* Find(const std::vector<HudText>& v, const std::string& text) {
  for (const HudText& h : v)
    if (h.text == text) return &h;
  return nullptr;
}

// Pixels that are not black in the box.
int Lit(Game& g, int x1, int y1, int x2, int y2) {
  int n = 0;
  for (int y = y1; y < y2; ++y)
    for (int x = x1; x < x2; ++x)
      if (g.cg->GetPixel(x, y) != 0) ++n;
  return n;
}

std::unique_ptr<TestGame> BetweenGames() {
  auto t = MakeTestGame();
  t->g().run.title_phase = 0;
  return t;
}

}  // namespace

TEST(Hud, OnlyTheBannerOnTitlePictures) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.score() = 100;
  g.my.distance() = 5;
  EXPECT_TRUE(Hud(g).empty());
  g.run.game_over_banner = 1;
  g.run.record_mode = 2;
  auto v = Hud(g);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].text, "HI SCORE NEW RECORD!!");
  EXPECT_EQ(v[0].size, 20);
  EXPECT_EQ(v[0].color, kYellow);
  g.cg->SetFontSize(20);
  TextSize s = g.cg->MeasureText("HI SCORE NEW RECORD!!");
  EXPECT_EQ(v[0].x, 320 - s.width / 2);
  EXPECT_EQ(v[0].y, 270 + s.height / 2);
  EXPECT_GT(Lit(g, v[0].x, v[0].y, v[0].x + s.width, v[0].y + s.height), 100);
}

TEST(Hud, HiScoreTableBetweenGames) {
  auto t = BetweenGames();
  Game& g = t->g();
  auto v = Hud(g);
  // Only EASY, even at 0; nothing at the top with no score and no distance.
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].text, "EASY HI SCORE:0");
  EXPECT_EQ(v[0].x, 2);
  EXPECT_EQ(v[0].y, 375);
  EXPECT_EQ(v[0].size, 10);
  EXPECT_EQ(v[0].color, kSilver);
  EXPECT_GT(Lit(g, 2, 375, 120, 392), 50);
  EXPECT_EQ(Lit(g, 0, 0, 640, 40), 0);

  g.my.hi_score(LIGHT) = 11;
  g.my.hi_score(HARD) = 22;
  g.my.hi_score(EXTREAM) = 33;
  g.my.hi_score(NOVA) = 44;
  g.my.hi_score(SQ) = 55;
  g.my.hi_score(HELL) = 66;
  v = Hud(g);
  std::vector<std::pair<std::string, int>> lines;
  for (const HudText& h : v) lines.push_back({h.text, h.y});
  EXPECT_EQ(lines, (std::vector<std::pair<std::string, int>>{
                       {"LIGHT HI SCORE:11", 360},
                       {"EASY HI SCORE:0", 375},
                       {"HARD HI SCORE:22", 390},
                       {"EXTREAM HI SCORE:33", 405},
                       {"NOVA HI SCORE:44", 420},
                       {"SQ HI SCORE:55", 435},
                       {"HELL HI SCORE:66", 450},
                   }));
}

TEST(Hud, NewRecordBesideTheBeatenMode) {
  auto t = BetweenGames();
  Game& g = t->g();
  g.my.hi_score(HARD) = 5000;
  g.run.record_mode = HARD + 1;
  auto v = Hud(g);
  const HudText* line = Find(v, "HARD HI SCORE:5000");
  const HudText* mark = Find(v, "NEW RECORD");
  ASSERT_TRUE(line && mark);
  g.cg->SetFontSize(10);
  EXPECT_EQ(mark->x, g.cg->TextWidth("HARD HI SCORE:5000") + 7);
  EXPECT_EQ(mark->y, 390);
  EXPECT_EQ(mark->color, kYellow);
  // The next line is silver again.
  g.my.hi_score(NOVA) = 1;
  v = Hud(g);
  EXPECT_EQ(Find(v, "NOVA HI SCORE:1")->color, kSilver);

  // LIGHT's record: the mark on the first line.
  g.my.hi_score(LIGHT) = 9;
  g.run.record_mode = LIGHT + 1;
  v = Hud(g);
  ASSERT_TRUE(Find(v, "NEW RECORD"));
  EXPECT_EQ(Find(v, "NEW RECORD")->y, 360);
}

TEST(Hud, StageDistanceAndScoreAtTheTop) {
  auto t = BetweenGames();
  Game& g = t->g();
  g.run.in_play = 1;
  g.my.stage() = 3;
  g.my.distance() = 1520;
  g.my.score() = 98765;
  auto v = Hud(g);
  const HudText* st = Find(v, "Stage3 1520km");
  const HudText* sc = Find(v, "Score 98765");
  ASSERT_TRUE(st && sc);
  g.cg->SetFontSize(9);
  EXPECT_EQ(st->x + g.cg->TextWidth("Stage3 1520km"), 640);
  EXPECT_EQ(st->y, 1);
  EXPECT_EQ(st->size, 9);
  EXPECT_EQ(sc->x, 1);
  EXPECT_EQ(sc->y, 1);
  EXPECT_EQ(sc->size, 9);
  EXPECT_GT(Lit(g, 560, 0, 640, 16), 20);
  EXPECT_GT(Lit(g, 0, 0, 80, 16), 20);
  // No hi-score table in play.
  EXPECT_FALSE(Find(v, "EASY HI SCORE:0"));
  EXPECT_EQ(Lit(g, 0, 360, 200, 372), 0);
}

TEST(Hud, LivesAndLevelInPlayAndInTheShop) {
  auto t = BetweenGames();
  Game& g = t->g();
  g.my.lives = 4;
  g.my.level = 12;
  auto v = Hud(g);
  EXPECT_FALSE(Find(v, "◆◆◆◆"));
  EXPECT_FALSE(Find(v, "Lv 12"));
  for (int where = 0; where < 2; ++where) {
    if (where == 0) g.run.in_play = 1;
    else { g.run.in_play = 0; g.menu.screen = 6; }
    v = Hud(g);
    const HudText* lives = Find(v, "◆◆◆◆");
    const HudText* lv = Find(v, "Lv 12");
    ASSERT_TRUE(lives && lv);
    g.cg->SetFontSize(10);
    TextSize ls = g.cg->MeasureText("◆◆◆◆");
    EXPECT_EQ(lives->x + ls.width, 640);
    EXPECT_EQ(lives->y + ls.height, 480);
    EXPECT_EQ(lives->size, 10);
    g.cg->SetFontSize(8);
    EXPECT_EQ(lv->x, 2);
    EXPECT_EQ(lv->y + g.cg->TextHeight("Lv 12"), 480);
    EXPECT_EQ(lv->size, 8);
    EXPECT_GT(Lit(g, 560, 462, 640, 480), 20);
  }
  g.my.lives = 0;
  g.run.in_play = 1;
  v = Hud(g);
  for (const HudText& h : v) EXPECT_EQ(h.text.find("◆"), std::string::npos);
}

TEST(Hud, ChainStarsOnlyWithoutBossAndMenu) {
  auto t = BetweenGames();
  Game& g = t->g();
  g.run.in_play = 1;
  g.my.chain_link() = 5;
  g.my.chain_count() = 3;
  auto v = Hud(g);
  const HudText* stars = Find(v, "＊＊＊");
  ASSERT_TRUE(stars);
  EXPECT_EQ(stars->x, 1);
  EXPECT_EQ(stars->y, 457);
  EXPECT_EQ(stars->size, 8);
  g.pools.boss_slot = 10;
  EXPECT_FALSE(Find(Hud(g), "＊＊＊"));
  g.pools.boss_slot = 0;
  g.menu.screen = 1;
  EXPECT_FALSE(Find(Hud(g), "＊＊＊"));
  g.menu.screen = 0;
  g.my.chain_link() = 0;
  EXPECT_FALSE(Find(Hud(g), "＊＊＊"));
}

TEST(Hud, BossBarLengthAndColourCycle) {
  auto t = BetweenGames();
  Game& g = t->g();
  g.run.in_play = 1;
  g.pools.boss_slot = 7;
  g.pools.enemies[7].hp = 200;
  const uint32_t fill[8] = {3364351, 1127423, 255, 221, 187, 153, 119, 85};
  for (int f = 0; f < 8; ++f) {
    g.run.frame_no = 8 * 5 + f;
    Hud(g);
    EXPECT_EQ(g.cg->GetPixel(10, 15), 255u);    // red outline
    EXPECT_EQ(g.cg->GetPixel(209, 19), 255u);
    EXPECT_EQ(g.cg->GetPixel(100, 17), fill[f]) << "frame " << f;
    EXPECT_EQ(g.cg->GetPixel(210, 17), 0u);     // ends at 10 + hp
    EXPECT_EQ(g.cg->GetPixel(100, 20), 0u);
  }
  g.pools.boss_slot = 0;
  Hud(g);
  EXPECT_EQ(g.cg->GetPixel(100, 17), 0u);
}

TEST(Hud, LeavesThePauseColourAfterTheStageEnds) {
  auto t = BetweenGames();
  Game& g = t->g();
  g.run.in_play = 1;
  g.run.stage_end_countdown = 50;
  Hud(g);
  EXPECT_EQ(g.cg->FontColor(), 13421772u);
  EXPECT_EQ(g.cg->FontSize(), 20);
  EXPECT_TRUE(g.cg->BrushSolid());
}
