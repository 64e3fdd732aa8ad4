// Items: placement from the ship, closing in, pickup and what they pay.
#include <gtest/gtest.h>

#include <string>

#include "combat/items.h"
#include "state/game.h"
#include "test_util.h"

namespace {

EnemySlot& LastItem(Game& g) { return g.pools.items[size_t(g.pools.item_cursor)]; }

// Runs item updates until the item at `index` is collected; returns the frames taken.
int CollectItem(Game& g, int index) {
  for (int f = 1; f <= 200; ++f) {
    UpdateItems(g);
    if (g.pools.items[size_t(index)].timer == 0) return f;
  }
  return -1;
}

}  // namespace

TEST(SpawnItem, TypesSetSizeSpeedAndValue) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  struct Want {
    int type, size, speed;
  } wants[] = {{1, 5, 40}, {2, 10, 4}, {3, 50, 4}, {4, 5, 15}};
  for (const Want& w : wants) {
    SpawnItem(g, w.type, {.angle = 45, .distance = 350});
    const EnemySlot& it = LastItem(g);
    EXPECT_EQ(it.kind, w.type);
    EXPECT_EQ(it.size, w.size) << w.type;
    EXPECT_EQ(it.speed, w.speed) << w.type;
    EXPECT_EQ(it.hp, 4);  // 350 / 100 + 1
    EXPECT_EQ(it.radius, 350);
    EXPECT_EQ(it.angle, 45);
    EXPECT_EQ(it.timer, 1);
  }
}

TEST(SpawnItem, SkipsBusyRecordsAndWraps) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  g.pools.item_cursor = 198;
  g.pools.items[199].timer = 3;
  g.pools.items[0].timer = 3;
  SpawnItem(g, 1, {.angle = 0, .distance = 100});
  EXPECT_EQ(g.pools.item_cursor, 1);
  EXPECT_EQ(g.pools.items[199].timer, 3);
}

TEST(SpawnItem, FullPoolOverwritesALiveItemAfterTheSearch) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  for (auto& it : g.pools.items) {
    it.timer = 9;
    it.kind = 1;
    it.hp = 77;
  }
  g.pools.item_cursor = 50;
  SpawnItem(g, 2, {.angle = 10, .distance = 0});
  // 1 + 1000 steps from 50 land on 51 again.
  EXPECT_EQ(g.pools.item_cursor, 51);
  EXPECT_EQ(g.pools.items[51].kind, 2);
  EXPECT_EQ(g.pools.items[51].timer, 1);
  EXPECT_EQ(g.pools.items[51].hp, 1);
}

TEST(Items, CloseInOnTheShipFromTheirDirection) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  SpawnItem(g, 2, {.angle = 0, .distance = 200});  // to the right, 4 px per frame
  UpdateItems(g);
  const EnemySlot& it = LastItem(g);
  EXPECT_EQ(it.radius, 196);
  EXPECT_EQ(it.x, 516);
  EXPECT_EQ(it.y, 240);
  EXPECT_EQ(it.timer, 2);
  // The ship moves: the item keeps its direction and distance from the ship.
  g.my.player_x() = 100;
  g.my.player_y() = 100;
  UpdateItems(g);
  EXPECT_EQ(it.x, 292);
  EXPECT_EQ(it.y, 100);
}

TEST(Items, KeepFlyingOutsidePlay) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  g.run.in_play = 0;
  SpawnItem(g, 1, {.angle = 90, .distance = 400});
  int frames = CollectItem(g, g.pools.item_cursor);
  EXPECT_EQ(frames, 10);  // 400 / 40, then the pickup box catches it
  EXPECT_EQ(g.my.score(), 5);
}

TEST(Items, DropAtDistanceZeroIsWorthOneAndCollectedAtOnce) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  SpawnItem(g, 1, {.angle = 0, .distance = 0});
  EXPECT_EQ(LastItem(g).hp, 1);
  EXPECT_EQ(CollectItem(g, g.pools.item_cursor), 1);
  EXPECT_EQ(g.my.score(), 1);
}

TEST(Items, SunkOrbiterDropIsWorthWhatACentreDropIsWorth) {
  // An orbiter that sat on the centre for a while has a negative radius; its
  // item must not take score away.
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  g.my.score() = 100;
  SpawnItem(g, 1, {.angle = 0, .distance = -450});
  EXPECT_EQ(LastItem(g).hp, 1);
  CollectItem(g, g.pools.item_cursor);
  EXPECT_EQ(g.my.score(), 101);
}

TEST(Items, ValueByDistanceLevelAndBoss) {
  {
    auto t = MakeGameInPlay(EASY, 5);
    Game& g = t->g();
    g.my.level = 9;
    SpawnItem(g, 1, {.angle = 180, .distance = 350});
    ForgetSounds(g);
    CollectItem(g, g.pools.item_cursor);
    EXPECT_EQ(g.my.score(), 40);
    EXPECT_TRUE(HasEffect(g, 18, "40"));
    EXPECT_TRUE(HasEffect(g, 280));
    EXPECT_TRUE(Played(g, "item_get.wav"));
  }
  {
    auto t = MakeGameInPlay(EASY, 5);
    Game& g = t->g();
    g.my.level = 9;
    g.pools.boss_slot = 12;
    SpawnItem(g, 1, {.angle = 180, .distance = 350});
    CollectItem(g, g.pools.item_cursor);
    EXPECT_EQ(g.my.score(), 5);
    EXPECT_TRUE(HasEffect(g, 18, "5"));
  }
}

TEST(Items, LaserBonusItemPaysFiveTimes) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  g.my.level = 1;
  SpawnItem(g, 4, {.angle = 0, .distance = 250});  // value 3
  CollectItem(g, g.pools.item_cursor);
  EXPECT_EQ(g.my.score(), 30);
}

TEST(Items, PointItemPaysStageTimesTenThousandFlat) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  g.my.stage() = 5;
  g.my.level = 30;
  g.pools.boss_slot = 4;
  SpawnItem(g, 3, {.angle = 270, .distance = 180});
  ForgetSounds(g);
  CollectItem(g, g.pools.item_cursor);
  EXPECT_EQ(g.my.score(), 50000);
  EXPECT_TRUE(HasEffect(g, 18, "50000"));
  EXPECT_TRUE(Played(g, "point.wav"));
}

TEST(Items, LevelItemRaisesTheLevel) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  g.my.level = 7;
  SpawnItem(g, 2, {.angle = 0, .distance = 40});
  ForgetSounds(g);
  CollectItem(g, g.pools.item_cursor);
  EXPECT_EQ(g.my.level, 8);
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_TRUE(HasEffect(g, 19, "Lvup→8"));
  EXPECT_TRUE(HasEffect(g, 189));
  EXPECT_TRUE(Played(g, "lvup.wav"));
}

TEST(Items, PickupBoxUsesTheFullShipSize) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  // A type-3 item (size 50) is caught 59 px away but not 60 px away.
  SpawnItem(g, 3, {.angle = 0, .distance = 64});
  UpdateItems(g);  // radius 60: 270 < 330, but 320 + 60 - 50 = 330 is not < 330
  EXPECT_GE(LastItem(g).timer, 1);
  UpdateItems(g);  // radius 56
  EXPECT_EQ(LastItem(g).timer, 0);
}

TEST(AddScore, MultipliesByLevelAndCutsDuringABoss) {
  auto t = MakeGameInPlay(EASY, 5);
  Game& g = t->g();
  EXPECT_EQ(AddScore(g, 0), 0);
  EXPECT_EQ(g.my.score(), 0);
  g.my.level = 2;
  EXPECT_EQ(AddScore(g, 7), 21);
  EXPECT_EQ(g.my.score(), 21);
  g.pools.boss_slot = 1;
  EXPECT_EQ(AddScore(g, 7), 3);  // 21 / 10 + 1
  EXPECT_EQ(AddScore(g, 500, Gain::kFlat), 500);  // neither level nor boss counts
  EXPECT_EQ(g.my.score(), 524);
}
