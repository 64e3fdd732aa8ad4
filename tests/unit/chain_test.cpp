// Chains: kills of one linked group in a row, their bonus, texts and sounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "combat/chain.h"
#include "combat/player.h"
#include "combat/shots.h"
#include "state/game.h"
#include "test_util.h"

namespace {

const EffectSlot* FindEffect(Game& g, int kind) {
  for (const EffectSlot& e : g.fx.ring)
    if (e.age >= 1 && e.kind == kind) return &e;
  return nullptr;
}

std::vector<std::string> Queue(Game& g) {
  return std::vector<std::string>(g.sound.queue.begin(), g.sound.queue.end());
}

}  // namespace

TEST(Chain, EveryFourthKillPaysAndSounds) {
  auto t = MakeGameInPlay(EASY, 3);
  Game& g = t->g();
  for (int k = 0; k < 3; ++k) ChainHit(g, 7, 100, 200);
  EXPECT_EQ(g.my.chain_count(), 3);
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_TRUE(g.sound.queue.empty());
  ChainHit(g, 7, 100, 200);
  EXPECT_EQ(g.my.score(), 4);
  const EffectSlot* e = FindEffect(g, 319);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->text, "Chain1 +4");
  EXPECT_EQ(e->x, 100);
  EXPECT_EQ(e->y, 200 - 10 - 8);
  EXPECT_EQ(Queue(g), std::vector<std::string>({"chain01.wav"}));
  for (int k = 0; k < 4; ++k) ChainHit(g, 7, 100, 200);
  EXPECT_EQ(g.my.score(), 4 + 8);
  e = FindEffect(g, 320);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->text, "Chain2 +8");
  EXPECT_EQ(e->y, 200 - 10 - 16);  // higher the longer the chain
  EXPECT_EQ(Queue(g), std::vector<std::string>({"chain01.wav", "chain02.wav"}));
}

TEST(Chain, BonusIsMultipliedByTheLevel) {
  auto t = MakeGameInPlay(EASY, 3);
  Game& g = t->g();
  g.my.level = 2;
  for (int k = 0; k < 4; ++k) ChainHit(g, 5, 0, 0);
  EXPECT_EQ(g.my.score(), 12);
  ASSERT_NE(FindEffect(g, 319), nullptr);
  EXPECT_EQ(FindEffect(g, 319)->text, "Chain1 +12");
}

TEST(Chain, ChangingGroupRestartsTheCount) {
  auto t = MakeGameInPlay(EASY, 3);
  Game& g = t->g();
  ChainHit(g, 7, 0, 0);
  ChainHit(g, 7, 0, 0);
  ChainHit(g, 9, 0, 0);
  EXPECT_EQ(g.my.chain_link(), 9);
  EXPECT_EQ(g.my.chain_count(), 1);
  ChainHit(g, 7, 0, 0);
  EXPECT_EQ(g.my.chain_link(), 7);
  EXPECT_EQ(g.my.chain_count(), 1);
}

TEST(Chain, UnlinkedKillLeavesTheChain) {
  auto t = MakeGameInPlay(EASY, 3);
  Game& g = t->g();
  ChainHit(g, 7, 0, 0);
  ChainHit(g, 0, 0, 0);
  ChainHit(g, 7, 0, 0);
  EXPECT_EQ(g.my.chain_count(), 2);
}

TEST(Chain, BossFightClearsTheChain) {
  auto t = MakeGameInPlay(EASY, 3);
  Game& g = t->g();
  ChainHit(g, 7, 0, 0);
  ChainHit(g, 7, 0, 0);
  g.pools.boss_slot = 40;
  ChainHit(g, 7, 0, 0);
  EXPECT_EQ(g.my.chain_link(), 0);
  EXPECT_EQ(g.my.chain_count(), 0);
  g.pools.boss_slot = 0;
  ChainHit(g, 7, 0, 0);
  EXPECT_EQ(g.my.chain_count(), 1);
}

TEST(Chain, AVeryLongChainStillPaysButQueuesNoSound) {
  // The bonus number n reaches 1000.
  auto t = MakeGameInPlay(EASY, 3);
  Game& g = t->g();
  g.my.chain_link() = 3;
  g.my.chain_count() = 3999;
  ChainHit(g, 3, 0, 0);
  EXPECT_EQ(g.my.score(), 4000);
  EXPECT_TRUE(g.sound.queue.empty());
}

TEST(Chain, ShotKillsCountButBarrierKillsDoNot) {
  auto t = MakeGameInPlay(EASY, 3);
  Game& g = t->g();
  auto place = [&](int i, int x, int link) -> EnemySlot& {
    EnemySlot& e = g.pools.enemies[size_t(i)];
    e = EnemySlot{};
    e.timer = 3;
    e.x = x;
    e.y = 100;
    e.size = 5;
    e.hp = 1;
    e.link = link;
    return e;
  };
  place(5, 100, 7);
  place(6, 200, 7);
  place(7, 300, 7);
  EnemySlot& bullet = place(8, 400, 7);
  bullet.cls = 2;
  SpawnShot(g, {.kind = kShotPlain, .x = 100, .y = 100, .size = 5});
  UpdateShots(g);
  EXPECT_EQ(g.my.chain_link(), 7);
  EXPECT_EQ(g.my.chain_count(), 1);
  // The barrier takes member 6: no count, no break.
  g.my.barrier_timer = 5;
  g.my.player_x() = 200;
  g.my.player_y() = 120;
  g.run.invulnerable = 30;
  UpdatePlayer(g);
  EXPECT_EQ(g.pools.enemies[6].timer, 0);
  EXPECT_EQ(g.my.chain_count(), 1);
  // Destroying an enemy bullet of the group counts nothing either.
  SpawnShot(g, {.kind = kShotPlain, .x = 400, .y = 100, .size = 5});
  UpdateShots(g);
  EXPECT_EQ(bullet.timer, 0);
  EXPECT_EQ(g.my.chain_count(), 1);
  SpawnShot(g, {.kind = kShotPlain, .x = 300, .y = 100, .size = 5});
  UpdateShots(g);
  EXPECT_EQ(g.my.chain_count(), 2);
}
