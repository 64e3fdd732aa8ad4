#include <gtest/gtest.h>

#include "menu_test_util.h"
#include "menus/shop.h"

using Strings = std::vector<std::string>;

namespace {

// A run between chapters with the shop open.
std::unique_ptr<TestGame> InShop(int mode, int score, int lives = 3) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.mode = mode;
  g.my.stage() = 1;
  g.run.chapter_run = 1;
  g.my.score() = score;
  g.my.lives = lives;
  OpenMenuScreen(g, kChapterScreen);
  EXPECT_TRUE(ClickButton(g, "<SHOP>"));
  EXPECT_EQ(g.menu.screen, kShopScreen);
  return t;
}

}  // namespace

TEST(ShopOffers, PricesOutsideEasy) {
  auto t = InShop(HARD, 0);
  EXPECT_EQ(Captions(t->g()),
            (Strings{"LIFE +1(20000Pt.)", "SHOT SIZE+1(4000Pt.)", "SHOT POWER+1(20000Pt.)",
                     "2 WAY(100000Pt.)", "SHOT SPEED+1(15000Pt.)", "BARRIER SIZE+10(10000Pt.)",
                     "BARRIER Time+10(8000Pt.)", "LV +5(LIFE -1)"}));
  for (size_t i = 1; i < t->g().menu.table.size(); ++i)
    if (t->g().menu.table[i].visible) { EXPECT_EQ(t->g().menu.table[i].width, 250); }
  EXPECT_EQ(t->g().menu.back, kChapterScreen);
}

TEST(ShopOffers, EasyHalvesSomePrices) {
  auto t = InShop(EASY, 0);
  EXPECT_EQ(Captions(t->g()),
            (Strings{"LIFE +1(10000Pt.)", "SHOT SIZE+1(2000Pt.)", "SHOT POWER+1(10000Pt.)",
                     "2 WAY(100000Pt.)", "SHOT SPEED+1(15000Pt.)", "BARRIER SIZE+10(5000Pt.)",
                     "BARRIER Time+10(4000Pt.)", "LV +5(LIFE -1)"}));
}

TEST(ShopOffers, TimeStopModesSellStopAndLaserInsteadOfBarrier) {
  for (int mode : {SQ, HELL}) {
    auto t = InShop(mode, 0);
    EXPECT_EQ(Captions(t->g()),
              (Strings{"LIFE +1(20000Pt.)", "SHOT SIZE+1(4000Pt.)", "SHOT POWER+1(20000Pt.)",
                       "2 WAY(100000Pt.)", "SHOT SPEED+1(15000Pt.)", "STOP Time+20(19000Pt.)",
                       "LAZER WAY+1(15000Pt.)", "LV +5(LIFE -1)"}))
        << kModeNames[mode];
  }
}

TEST(ShopOffers, HalvedPricesDropTheRemainder) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.mode = EASY;
  g.my.buy_count(2) = 2;  // third shot size: 3 x 4000 / 2
  g.my.buy_count(7) = 4;  // fifth barrier time: 5 x 8000 / 2
  for (const ShopOffer& o : ShopOffers(g)) {
    if (o.id == 2) { EXPECT_EQ(o.price, 6000); }
    if (o.id == 7) { EXPECT_EQ(o.price, 20000); }
  }
  g.my.buy_count(6) = 1;  // second barrier size: 2 x 10000 / 2
  for (const ShopOffer& o : ShopOffers(g))
    if (o.id == 6) { EXPECT_EQ(o.price, 10000); }
}

TEST(ShopBuy, LifePricesRiseAndTheItemGoesAfterSix) {
  for (int mode : {EASY, HARD}) {
    auto t = InShop(mode, 10000000);
    Game& g = t->g();
    int unit = mode == EASY ? 10000 : 20000;
    for (int n = 1; n <= 6; ++n) {
      std::string cap = "LIFE +1(" + std::to_string(n * unit) + "Pt.)";
      int before = g.my.score();
      ASSERT_TRUE(ClickButton(g, cap)) << cap;
      EXPECT_EQ(g.my.score(), before - n * unit);
      EXPECT_EQ(g.my.lives, 3 + n);
      EXPECT_EQ(LogTexts(g), (Strings{std::to_string(n * unit) + "Pt.を消費", "LIFE +1"}));
    }
    EXPECT_EQ(g.my.buy_count(1), 6);
    for (const std::string& c : Captions(g)) EXPECT_NE(c.rfind("LIFE +1", 0), 0u) << c;
  }
}

TEST(ShopBuy, ScoreEqualToThePriceIsEnoughAndTooLittleIsRefused) {
  auto t = InShop(HARD, 3999);
  Game& g = t->g();
  Strings before = Captions(g);
  ListenToSounds(*t);
  ASSERT_TRUE(ClickButton(g, "SHOT SIZE+1(4000Pt.)"));
  EXPECT_EQ(LogTexts(g), (Strings{"スコアが足りません"}));
  EXPECT_EQ(g.my.score(), 3999);
  EXPECT_EQ(g.my.shot_size(), 0);
  EXPECT_EQ(Captions(g), before);
  EXPECT_FALSE(Heard(*t, "katan.wav"));

  g.my.score() = 4000;
  ListenToSounds(*t);
  ASSERT_TRUE(ClickButton(g, "SHOT SIZE+1(4000Pt.)"));
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_EQ(g.my.shot_size(), 1);
  EXPECT_EQ(LogTexts(g), (Strings{"4000Pt.を消費", "SHOT SIZE +1→1"}));
  EXPECT_TRUE(Heard(*t, "katan.wav"));
  EXPECT_TRUE(Heard(*t, "up.wav"));
  EXPECT_TRUE(HasButton(g, "SHOT SIZE+1(8000Pt.)"));
}

TEST(ShopBuy, ThreeWayOnlyAfterTwoWay) {
  auto t = InShop(HARD, 300000);
  Game& g = t->g();
  EXPECT_FALSE(HasButton(g, "3 WAY(200000Pt.)"));
  ASSERT_TRUE(ClickButton(g, "2 WAY(100000Pt.)"));
  EXPECT_EQ(g.my.shot_way(), 1);
  EXPECT_EQ(LogTexts(g), (Strings{"100000Pt.を消費", "SHOT WAY +1→2"}));
  EXPECT_FALSE(HasButton(g, "2 WAY(100000Pt.)"));
  ASSERT_TRUE(ClickButton(g, "3 WAY(200000Pt.)"));
  EXPECT_EQ(g.my.shot_way(), 2);
  EXPECT_EQ(LogTexts(g), (Strings{"200000Pt.を消費", "SHOT WAY +1→3"}));
  EXPECT_FALSE(HasButton(g, "2 WAY(100000Pt.)"));
  EXPECT_FALSE(HasButton(g, "3 WAY(200000Pt.)"));
  EXPECT_EQ(g.my.score(), 0);
}

TEST(ShopBuy, LevelCostsALifeEvenTheLastOne) {
  auto t = InShop(HARD, 0, 1);
  Game& g = t->g();
  ASSERT_TRUE(ClickButton(g, "LV +5(LIFE -1)"));
  EXPECT_EQ(g.my.lives, 0);
  EXPECT_EQ(g.my.level, 5);
  EXPECT_EQ(LogTexts(g), (Strings{"LIFE 1を消費", "LV +5→5"}));
  ASSERT_TRUE(ClickButton(g, "LV +5(LIFE -1)"));
  EXPECT_EQ(LogTexts(g), (Strings{"LIFEが足りません"}));
  EXPECT_EQ(g.my.level, 5);
  EXPECT_EQ(g.my.lives, 0);
  g.my.lives = 5;
  ASSERT_TRUE(ClickButton(g, "LV +5(LIFE -1)"));
  ASSERT_TRUE(ClickButton(g, "LV +5(LIFE -1)"));
  EXPECT_EQ(g.my.level, 15);
  EXPECT_EQ(g.my.lives, 3);
  EXPECT_FALSE(HasButton(g, "LV +5(LIFE -1)"));
}

TEST(ShopBuy, UpgradeLinesShowTheShiftedValues) {
  struct Case {
    int mode;
    std::string caption;
    std::string line;
  };
  const Case cases[] = {
      {HARD, "SHOT POWER+1(20000Pt.)", "SHOT POWER +1→1"},
      {HARD, "SHOT SPEED+1(15000Pt.)", "SHOT SPEED +1→2"},
      {LIGHT, "SHOT SPEED+1(15000Pt.)", "SHOT SPEED +2→4"},
      {HARD, "BARRIER SIZE+10(10000Pt.)", "BARRIER SIZE +10→10"},
      {LIGHT, "BARRIER SIZE+10(10000Pt.)", "BARRIER SIZE +20→20"},
      {HARD, "BARRIER Time+10(8000Pt.)", "BARRIER TIME +10→35"},
      {SQ, "STOP Time+20(19000Pt.)", "STOP TIME +20→50"},
      {HELL, "LAZER WAY+1(15000Pt.)", "LAZER WAY +1→1"},
  };
  for (const Case& c : cases) {
    auto t = InShop(c.mode, 100000);
    Game& g = t->g();
    ASSERT_TRUE(ClickButton(g, c.caption)) << c.caption;
    Strings log = LogTexts(g);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], c.line);
  }
  auto t = InShop(LIGHT, 100000);
  ASSERT_TRUE(ClickButton(t->g(), "BARRIER SIZE+10(10000Pt.)"));
  EXPECT_EQ(t->g().my.barrier_size, 50);
}

TEST(ShopBuy, BarrierSizeStopsAfterFour) {
  auto t = InShop(HARD, 1000000);
  Game& g = t->g();
  for (int n = 1; n <= 4; ++n)
    ASSERT_TRUE(ClickButton(g, "BARRIER SIZE+10(" + std::to_string(n * 10000) + "Pt.)"));
  EXPECT_FALSE(HasButton(g, "BARRIER SIZE+10(50000Pt.)"));
  EXPECT_EQ(g.my.barrier_size, 70);
}

TEST(ShopBuy, RightClickGoesBackToTheChapterScreen) {
  auto t = InShop(HARD, 0, 2);
  Game& g = t->g();
  FieldClick(g, 400, 400, 1);
  EXPECT_EQ(g.menu.screen, kChapterScreen);
}
