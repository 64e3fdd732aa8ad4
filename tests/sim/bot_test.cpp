// The bot's shopping between chapters: the shop's buttons slide in after every
// purchase, and a click before they settle hits nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "autoplay.h"
#include "menus/menu.h"
#include "platform/files.h"
#include "simlib.h"

namespace {

struct Visit {
  ShopVisit shop;
  std::string summary;
  bool next_chapter_started = false;
};

// The chapter screen after chapter 1 of `mode` with this score, lives and
// level; the bot plays until the next chapter starts (at most 400 frames).
Visit ShopAfterChapterOne(int mode, int score, int lives, int level, Simulator& sim) {
  Game& g = sim.game();
  g.run.title_phase = 0;
  g.my.name() = "bot";
  g.my.mode = mode;
  g.my.stage() = 1;
  g.my.score() = score;
  g.my.lives = lives;
  g.my.level = level;
  OpenMenuScreen(g, kChapterScreen);
  AutoplayBot bot(sim, mode);
  Visit v;
  for (int f = 0; f < 400 && !g.run.in_play; ++f) {
    bot.Decide();
    bot.Frame();
  }
  v.next_chapter_started = g.run.in_play != 0 && g.my.stage() == 2;
  if (!bot.result().shops.empty()) v.shop = bot.result().shops.front();
  v.summary = AutoplaySummary(bot.result());
  return v;
}

TEST(BotShop, BuysTheFirstItemItCanAffordUntilNoneThenPlaysOn) {
  TempFolder data("kv-bot-test");
  Simulator sim(KV_GAME_DIR, 1, data.path());
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  Visit v = ShopAfterChapterOne(EXTREAM, 150000, 3, 0, sim);
  // 2 WAY (100000), LV +5 (a life), SHOT POWER+1 (20000), LIFE +1 (20000),
  // SHOT SIZE+1 (4000); then 6000 buys nothing on the list.
  EXPECT_EQ(v.shop.bought,
            (std::vector<std::string>{"2 WAY", "LV +5", "SHOT POWER+1", "LIFE +1", "SHOT SIZE+1"}));
  const Tmy& my = sim.game().my;
  EXPECT_EQ(my.score(), 6000);
  EXPECT_EQ(my.lives, 3);
  EXPECT_EQ(my.level, 5);
  EXPECT_EQ(my.shot_way(), 1);
  EXPECT_TRUE(v.next_chapter_started);
  EXPECT_NE(v.summary.find(" bought=5 [shop 1, 150000 Pt., 3 lives: 2 WAY, LV +5, SHOT POWER+1, LIFE +1, SHOT SIZE+1]"),
            std::string::npos)
      << v.summary;
}

TEST(BotShop, LaserWaysInSqAndNothingWithoutThePoints) {
  {
    TempFolder data("kv-bot-test");
    Simulator sim(KV_GAME_DIR, 1, data.path());
    Visit v = ShopAfterChapterOne(SQ, 16000, 0, 9, sim);
    EXPECT_EQ(v.shop.bought, std::vector<std::string>{"LAZER WAY+1"});  // 15000
    EXPECT_EQ(sim.game().my.laser_way(), 1);
    EXPECT_TRUE(v.next_chapter_started);
  }
  {
    TempFolder data("kv-bot-test");
    Simulator sim(KV_GAME_DIR, 1, data.path());
    Visit v = ShopAfterChapterOne(NOVA, 3999, 0, 0, sim);  // the cheapest item costs 4000
    EXPECT_TRUE(v.shop.bought.empty());
    EXPECT_EQ(sim.game().my.score(), 3999);
    EXPECT_TRUE(v.next_chapter_started);
    EXPECT_NE(v.summary.find(" bought=0 [shop 1, 3999 Pt., 0 lives: nothing]"), std::string::npos) << v.summary;
  }
}

}  // namespace
