// The enemy pool: slot search, spawns and twins, hit points, movement, fire,
// removal and drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "effects/effects.h"
#include "stages/enemies.h"
#include "test_util.h"

namespace {

std::unique_ptr<TestGame> PoolGame(int mode, int stage = 1) {
  auto t = MakeTestGame(5);
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.mode = mode;
  g.my.stage() = stage;
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  return t;
}

int Count(const Game& g, int cls) {
  int n = 0;
  for (const EnemySlot& e : g.pools.enemies) n += (e.timer >= 1 && e.cls == cls) ? 1 : 0;
  return n;
}
int Live(const Game& g) {
  int n = 0;
  for (const EnemySlot& e : g.pools.enemies) n += e.timer >= 1 ? 1 : 0;
  return n;
}

void Frames(Game& g, int n) {
  for (int f = 0; f < n; ++f) {
    g.run.frame_no = (g.run.frame_no + 1) % 1000;
    g.cg->Clear(0);
    UpdateEnemies(g);
  }
}

bool SameSlot(const EnemySlot& a, const EnemySlot& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

// ---------------------------------------------------------------- slot search

TEST(EnemySlots, SearchSkipsSlotZeroAndLiveSlots) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnBullet(g, {.kind = 1, .x = 100, .y = 100, .speed = 1, .size = 4});
  EXPECT_EQ(g.pools.spawn_cursor, 1);  // slot 0 is never handed out
  EXPECT_EQ(g.pools.enemies[0].timer, 0);
  g.pools.enemies[2].timer = 5;
  SpawnBullet(g, {.kind = 1, .x = 100, .y = 100, .speed = 1, .size = 4});
  EXPECT_EQ(g.pools.spawn_cursor, 3);  // the live slot 2 is stepped over
  g.pools.spawn_cursor = 699;
  SpawnBullet(g, {.kind = 1, .x = 100, .y = 100, .speed = 1, .size = 4});
  EXPECT_EQ(g.pools.spawn_cursor, 4);  // wraps from 699 to 1, then past the live 1..3
  EXPECT_EQ(g.pools.enemies[0].timer, 0);
}

TEST(EnemySlots, FullPoolOverwritesTheSlotAfterAThousandSteps) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  for (int i = 1; i < kEnemySlots; ++i) {
    g.pools.enemies[size_t(i)].timer = 10;
    g.pools.enemies[size_t(i)].kind = 3;
  }
  SpawnBullet(g, {.kind = 22, .x = 50, .y = 60, .speed = 2, .size = 4});
  // From slot 1, a thousand further steps around the 699 usable slots.
  EXPECT_EQ(g.pools.spawn_cursor, 302);
  EXPECT_EQ(g.pools.enemies[302].cls, 2);
  EXPECT_EQ(g.pools.enemies[302].kind, 22);
  EXPECT_EQ(g.pools.enemies[302].timer, 1);
}

TEST(EnemySlots, FullPoolOfLiveBigSlotsChangesNothing) {
  auto t = PoolGame(HELL, 4);
  Game& g = t->g();
  for (int i = 1; i < kEnemySlots; ++i) {
    EnemySlot& e = g.pools.enemies[size_t(i)];
    e.timer = 10 + i;
    e.big = 1;
    e.kind = 14;
    e.hp = 400;
  }
  auto before = g.pools.enemies;
  SpawnOrbiter(g, {.kind = 1, .radius = 360, .speed = 2, .size = 10, .link = 5});
  SpawnFlyer(g, {.kind = 1, .x = 100, .y = 100, .speed = 2, .size = 10, .link = 5});
  SpawnBullet(g, {.kind = 1, .x = 100, .y = 100, .speed = 2, .size = 4, .link = 5});
  for (int i = 0; i < kEnemySlots; ++i) EXPECT_TRUE(SameSlot(before[size_t(i)], g.pools.enemies[size_t(i)])) << i;

  // Only the slot the search ends on matters: one big slot there drops the spawn.
  for (int i = 1; i < kEnemySlots; ++i) g.pools.enemies[size_t(i)].big = 0;
  g.pools.spawn_cursor = 0;
  g.pools.enemies[302].big = 1;
  before = g.pools.enemies;
  SpawnBullet(g, {.kind = 1, .x = 100, .y = 100, .speed = 2, .size = 4, .link = 5});
  for (int i = 0; i < kEnemySlots; ++i) EXPECT_TRUE(SameSlot(before[size_t(i)], g.pools.enemies[size_t(i)])) << i;
}

TEST(EnemySlots, ASpawnIntoAFallenBossSlotStartsClean) {
  // A boss dies: its slot is freed but still holds big, a hit flash and marks.
  auto t = PoolGame(EASY, 2);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 6, .radius = 380, .angle = 270, .speed = 2, .size = 30});
  EnemySlot& boss = g.pools.enemies[1];
  ASSERT_EQ(boss.big, 1);
  boss.flash = 6;
  boss.lockOn = 3;
  boss.links = 4;
  boss.passed = 1;
  boss.timer = 0;
  g.pools.spawn_cursor = 0;
  SpawnBullet(g, {.kind = 22, .x = 200, .y = 200, .angle = 45, .speed = 3, .size = 4});
  const EnemySlot& b = g.pools.enemies[1];
  EXPECT_EQ(b.cls, 2);
  EXPECT_EQ(b.big, 0);  // the barrier can remove it, and it does not block spawns
  EXPECT_EQ(b.flash, 0);
  EXPECT_EQ(b.lockOn, 0);
  EXPECT_EQ(b.links, 0);
  EXPECT_EQ(b.passed, 0);
  EXPECT_EQ(b.hp, 1);

  // The same for an orbiter and a flyer.
  g.pools.enemies[1].big = 1;
  g.pools.enemies[1].flash = 4;
  g.pools.enemies[1].timer = 0;
  g.pools.spawn_cursor = 0;
  SpawnOrbiter(g, {.kind = 3, .radius = 360, .speed = 2, .size = 6});
  EXPECT_EQ(g.pools.enemies[1].big, 0);
  EXPECT_EQ(g.pools.enemies[1].flash, 0);
  g.pools.enemies[1].big = 1;
  g.pools.enemies[1].timer = 0;
  g.pools.enemies[1].originX = 999;
  g.pools.spawn_cursor = 0;
  SpawnOrbiter(g, {.kind = 3, .radius = 360, .speed = 2, .size = 6});
  EXPECT_EQ(g.pools.enemies[1].originX, 0);

  // A freed big slot no longer holds up later spawns once it is reused.
  g.pools.enemies[1].timer = 0;
  g.pools.spawn_cursor = 0;
  SpawnFlyer(g, {.kind = 1, .x = 100, .y = 100, .speed = 2, .size = 10});
  EXPECT_EQ(g.pools.enemies[1].big, 0);
  EXPECT_EQ(g.pools.enemies[1].cls, 1);
}

// ---------------------------------------------------------------- spawns

TEST(EnemySpawns, HellOrbiterTwinIsOppositeFartherSlowerAndRelinked) {
  auto t = PoolGame(HELL);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 3, .radius = 360, .angle = 40, .speed = 2, .size = 9, .link = 5});
  ASSERT_EQ(Live(g), 2);
  const EnemySlot& a = g.pools.enemies[1];
  const EnemySlot& b = g.pools.enemies[2];
  EXPECT_EQ(a.link, 5);
  EXPECT_EQ(a.radius, 360);
  EXPECT_EQ(a.angle, 40);
  EXPECT_EQ(a.speed, 2);
  EXPECT_EQ(b.kind, 3);
  EXPECT_EQ(b.size, 9);
  EXPECT_EQ(b.link, 517);
  EXPECT_EQ(b.angle, 220);
  EXPECT_EQ(b.radius, 410);
  EXPECT_EQ(b.speed, 1);
  EXPECT_EQ(b.cls, 0);
  EXPECT_EQ(b.timer, 1);

  // Unlinked stays unlinked; the slowest twin still moves.
  SpawnOrbiter(g, {.kind = 1, .radius = 380, .speed = 1, .size = 10});
  EXPECT_EQ(g.pools.enemies[4].link, 0);
  EXPECT_EQ(g.pools.enemies[4].speed, 1);

  // Elsewhere one call is one orbiter.
  auto e = PoolGame(NOVA);
  SpawnOrbiter(e->g(), {.kind = 3, .radius = 360, .angle = 40, .speed = 2, .size = 9, .link = 5});
  EXPECT_EQ(Live(e->g()), 1);
}

TEST(EnemySpawns, HellFlyerTwinWaitsAndTurns) {
  auto t = PoolGame(HELL);
  Game& g = t->g();
  SpawnFlyer(g, {.kind = 2, .x = 100, .y = 50, .angle = 90, .speed = 3, .size = 7, .link = 7});
  ASSERT_EQ(Count(g, 1), 2);
  const EnemySlot& b = g.pools.enemies[2];
  EXPECT_EQ(b.originX, 100);
  EXPECT_EQ(b.originY, 50);
  EXPECT_EQ(b.radius, -50);
  EXPECT_EQ(b.angle, 120);
  EXPECT_EQ(b.speed, 2);
  EXPECT_EQ(b.link, 519);
  // It stays at its origin until its distance turns positive.
  Frames(g, 20);
  EXPECT_EQ(g.pools.enemies[2].x, 100);
  EXPECT_EQ(g.pools.enemies[2].y, 50);
  Frames(g, 10);
  EXPECT_NE(g.pools.enemies[2].y, 50);

  // Bullets never have twins.
  SpawnBullet(g, {.kind = 9, .x = 300, .y = 300, .speed = 2, .size = 4, .link = 7});
  EXPECT_EQ(Count(g, 2), 1);
}

TEST(EnemySpawns, BulletsOutsideTheMarginAreDropped) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnBullet(g, {.kind = 1, .x = 741, .y = 240, .speed = 2, .size = 4});
  SpawnBullet(g, {.kind = 1, .x = -101, .y = 240, .speed = 2, .size = 4});
  SpawnBullet(g, {.kind = 1, .x = 320, .y = 581, .speed = 2, .size = 4});
  SpawnBullet(g, {.kind = 1, .x = 320, .y = -101, .speed = 2, .size = 4});
  EXPECT_EQ(Live(g), 0);
  EXPECT_EQ(g.pools.spawn_cursor, 0);  // a dropped bullet does not even move the cursor
  SpawnBullet(g, {.kind = 1, .x = 740, .y = 240, .speed = 2, .size = 4});
  SpawnBullet(g, {.kind = 1, .x = -100, .y = 580, .speed = 2, .size = 4});
  SpawnBullet(g, {.kind = 1, .x = 320, .y = -100, .speed = 2, .size = 4});
  EXPECT_EQ(Live(g), 3);
  EXPECT_EQ(g.pools.enemies[1].x, 740);
  EXPECT_EQ(g.pools.enemies[1].originX, 740);
  EXPECT_EQ(g.pools.enemies[1].hp, 1);
}

// ---------------------------------------------------------------- hit points

TEST(EnemyHitPoints, StageFourBossByModeAndShotWays) {
  auto hp = [](int mode, int shot_way, int kind = 14, int stage = 4) {
    auto t = PoolGame(mode, stage);
    Game& g = t->g();
    g.my.shot_way() = shot_way;
    SpawnOrbiter(g, {.kind = kind, .radius = 380, .angle = 270, .speed = 2, .size = 50});
    return g.pools.enemies[1].hp;
  };
  EXPECT_EQ(hp(EASY, 0), 400);  // a big slot skips the stage increase
  EXPECT_EQ(hp(HARD, 0), 400);  // 500 - 500 / 5
  EXPECT_EQ(hp(EASY, 1), 500);
  EXPECT_EQ(hp(HARD, 1), 500);
  EXPECT_EQ(hp(EASY, 2), 600);
  EXPECT_EQ(hp(EASY, 3), 600);  // only the first two shot ways count
  EXPECT_EQ(hp(NOVA, 0), 400);
  EXPECT_EQ(hp(EXTREAM, 0), 400);
  // The other bosses.
  EXPECT_EQ(hp(EASY, 0, 11, 1), 150);
  EXPECT_EQ(hp(HARD, 0, 11, 1), 100);  // 150 - 50
  EXPECT_EQ(hp(HARD, 0, 12, 3), 263);  // 350 - 87
  EXPECT_EQ(hp(EASY, 0, 16, 5), 500);
  EXPECT_EQ(hp(EASY, 0, 6, 2), 250);
}

TEST(EnemyHitPoints, LastBossCountsShotPowerOnlyWithShotWays) {
  auto t = PoolGame(EASY, 6);
  Game& g = t->g();
  g.my.shot_power() = 4;
  SpawnOrbiter(g, {.kind = 25, .radius = 380, .angle = 90, .speed = 2, .size = 30});
  EXPECT_EQ(g.pools.enemies[1].hp, 700);  // no shot way: the power adds nothing
  g.my.shot_way() = 1;
  SpawnOrbiter(g, {.kind = 25, .radius = 380, .angle = 90, .speed = 2, .size = 30});
  EXPECT_EQ(g.pools.enemies[2].hp, 700 + 200 + 200 + 100);
  g.my.mode = HELL;
  g.my.shot_way() = 2;
  g.pools.boss_slot = 0;
  SpawnOrbiter(g, {.kind = 25, .radius = 380, .angle = 90, .speed = 2, .size = 30});
  // 900 + 200 + 400 = 1500, minus a seventh, plus 200 for the shot ways.
  EXPECT_EQ(g.pools.enemies[3].hp, 1500 - 1500 / 7 + 200);
}

TEST(EnemyHitPoints, StageRulesForOrdinaryEnemies) {
  auto hp = [](int mode, int stage, int kind, int size, int boss_slot = 0) {
    auto t = PoolGame(mode, stage);
    Game& g = t->g();
    g.pools.boss_slot = boss_slot;
    SpawnFlyer(g, {.kind = kind, .x = 100, .y = 100, .speed = 2, .size = size});
    return g.pools.enemies[1].hp;
  };
  EXPECT_EQ(hp(EASY, 1, 1, 10), 3);
  EXPECT_EQ(hp(EASY, 3, 1, 10), 4);   // + 3 / 5 + 1
  EXPECT_EQ(hp(EASY, 6, 1, 10), 5);   // + 3 / 2 + 1
  EXPECT_EQ(hp(EASY, 6, 1, 10, 7), 3);  // no increase while a boss is alive
  EXPECT_EQ(hp(SQ, 5, 13, 10), 134);  // 100 + 34
  EXPECT_EQ(hp(HARD, 1, 13, 10), 67);  // 100 - 33
  EXPECT_EQ(hp(HARD, 6, 1, 10), 3);  // 3 - 0
  EXPECT_EQ(hp(EASY, 1, 21, 20), 10);  // size / 5 + 1 + 5
  EXPECT_EQ(hp(EASY, 4, 9, 20), 2);  // kinds 9 and 10 have one hit point, then + 1
  // HELL: while a boss is alive from stage 3 on, every newcomer has 100 more.
  EXPECT_EQ(hp(HELL, 3, 1, 10), 3);
  EXPECT_EQ(hp(HELL, 3, 1, 10, 9), 103);
  EXPECT_EQ(hp(HELL, 2, 1, 10, 9), 2);
}

// ---------------------------------------------------------------- movement

TEST(EnemyMoves, EasyOrbiterSettlesOnTheCentre) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 30, .radius = 100, .speed = 5, .size = 10});
  Frames(g, 19);
  EXPECT_EQ(g.pools.enemies[1].x, 325);
  Frames(g, 30);
  EXPECT_EQ(g.pools.enemies[1].x, 320);
  EXPECT_EQ(g.pools.enemies[1].y, 240);
  Frames(g, 500);
  EXPECT_EQ(g.pools.enemies[1].timer, 550);  // still there, waiting to be shot
  EXPECT_EQ(g.pools.enemies[1].x, 320);
  EXPECT_EQ(g.cg->GetPixel(PolarX(320, 550, 10), PolarY(240, 550, 10)), 0x889988u);
}

TEST(EnemyMoves, NovaOrbiterPassesThroughAndLeaves) {
  auto t = PoolGame(NOVA);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 30, .radius = 100, .speed = 5, .size = 10});
  Frames(g, 20);
  EXPECT_EQ(g.pools.enemies[1].passed, 0);
  EXPECT_EQ(g.pools.enemies[1].x, 320);
  Frames(g, 1);
  EXPECT_EQ(g.pools.enemies[1].passed, 1);
  Frames(g, 40);
  // Leaving on the far side.
  const EnemySlot& e = g.pools.enemies[1];
  EXPECT_GT(e.radius, 150);
  EXPECT_EQ(e.x, PolarX(320, -180, e.radius));
  EXPECT_LT(e.x, 320 - 150);
  int frames = 0;
  while (g.pools.enemies[1].timer >= 1 && frames < 200) {
    Frames(g, 1);
    ++frames;
  }
  EXPECT_EQ(g.pools.enemies[1].timer, 0);
  EXPECT_GT(g.pools.enemies[1].radius, 400);
  EXPECT_LE(g.pools.enemies[1].radius, 405);
}

TEST(EnemyMoves, FlyersTurnBackAndEnd) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  // Kind 5 heads out, turns back at 181 and ends when its distance falls below 1.
  SpawnFlyer(g, {.kind = 5, .x = 320, .y = 240, .speed = 2, .size = 7});
  // Kind 2 flies back to its origin and ends when it gets there.
  SpawnFlyer(g, {.kind = 2, .x = 320, .y = 240, .angle = 90, .speed = 3, .size = 7});
  int last5 = 0, last2 = 0, f = 0;
  while ((g.pools.enemies[1].timer >= 1 || g.pools.enemies[2].timer >= 1) && f < 1000) {
    if (g.pools.enemies[1].timer >= 1) last5 = g.pools.enemies[1].radius;
    if (g.pools.enemies[2].timer >= 1) last2 = g.pools.enemies[2].radius;
    Frames(g, 1);
    ++f;
  }
  EXPECT_EQ(g.pools.enemies[1].timer, 0);
  EXPECT_LT(g.pools.enemies[1].radius, 1);
  EXPECT_GE(last5, 1);
  EXPECT_EQ(g.pools.enemies[2].timer, 0);
  EXPECT_LE(g.pools.enemies[2].radius, 0);
  EXPECT_GT(last2, 0);
}

TEST(EnemyMoves, OffScreenFlyersEndAfterOneHundredFiftyFrames) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnBullet(g, {.kind = 1, .x = 700, .y = 240, .speed = 20, .size = 4});  // off screen almost at once
  Frames(g, 148);
  EXPECT_EQ(g.pools.enemies[1].timer, 149);
  Frames(g, 1);
  EXPECT_EQ(g.pools.enemies[1].timer, 0);
  // A bullet that stays on screen lives on.
  SpawnBullet(g, {.kind = 1, .x = 320, .y = 240, .size = 4});
  Frames(g, 400);
  EXPECT_GE(g.pools.enemies[2].timer, 400);
}

TEST(EnemyMoves, TimeStopHoldsEverythingButStillDraws) {
  auto t = PoolGame(NOVA);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 1, .radius = 200, .speed = 3, .size = 20});
  SpawnBullet(g, {.kind = 10, .x = 100, .y = 100, .speed = 3, .size = 6});
  Frames(g, 1);
  EnemySlot o = g.pools.enemies[1];
  EnemySlot b = g.pools.enemies[2];
  g.my.time_stop = 50;
  Frames(g, 99);  // past t = 100, where kind 1 would fire
  EXPECT_EQ(g.pools.enemies[1].timer, o.timer);
  EXPECT_EQ(g.pools.enemies[1].radius, o.radius);
  EXPECT_EQ(g.pools.enemies[2].x, b.x);
  EXPECT_EQ(Count(g, 2), 1);
  // Drawn all the same, in grey while held.
  EXPECT_EQ(g.cg->GetPixel(PolarX(o.x, o.timer, 20), PolarY(o.y, o.timer, 20)), 0x889988u);
  EXPECT_NE(g.cg->GetPixel(b.x, b.y), 0u);
}

TEST(EnemyMoves, OldFarOrbiterStartsItsAgeAgainOrVanishesInTimeStop) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 30, .radius = 380, .size = 10});
  g.pools.enemies[1].timer = 300;
  Frames(g, 1);
  EXPECT_EQ(g.pools.enemies[1].timer, 1);
  g.pools.enemies[1].timer = 299;
  Frames(g, 1);
  EXPECT_EQ(g.pools.enemies[1].timer, 300);
  g.my.time_stop = 5;
  Frames(g, 1);
  EXPECT_EQ(g.pools.enemies[1].timer, 0);
}

// ---------------------------------------------------------------- fire

TEST(EnemyFire, EasyAndHardOrbitersHoldFireButFifteenAndTwentyShoot) {
  auto bullets = [](int mode, int kind) {
    auto t = PoolGame(mode, 2);
    Game& g = t->g();
    SpawnOrbiter(g, {.kind = kind, .radius = 300, .angle = 30, .speed = 1, .size = 10, .link = 3});
    int most = 0;
    for (int f = 0; f < 160; ++f) {  // every first shot comes by t = 120
      Frames(g, 1);
      most = std::max(most, Count(g, 2));
    }
    return most;
  };
  for (int kind = 1; kind <= 13; ++kind) {
    EXPECT_EQ(bullets(EASY, kind), 0) << "kind " << kind;
    EXPECT_EQ(bullets(HARD, kind), 0) << "kind " << kind;
  }
  for (int kind : {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 13}) EXPECT_GT(bullets(NOVA, kind), 0) << "kind " << kind;
  for (int kind : {15, 20}) {
    EXPECT_GT(bullets(EASY, kind), 0) << "kind " << kind;
    EXPECT_GT(bullets(HARD, kind), 0) << "kind " << kind;
  }
}

TEST(EnemyFire, BulletsCarryTheShootersLinkAndAimAtTheShip) {
  auto t = PoolGame(NOVA);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 1, .radius = 300, .speed = 1, .size = 10, .link = 44});
  Frames(g, 99);
  ASSERT_EQ(Count(g, 2), 1);
  const EnemySlot& b = g.pools.enemies[2];
  EXPECT_EQ(b.kind, 10);
  EXPECT_EQ(b.link, 44);
  EXPECT_EQ(b.size, 4);
  // Aimed: from the right of the ship towards it, heading about 180.
  EXPECT_GE(b.angle, 180);
  EXPECT_LE(b.angle, 184);
}

TEST(EnemyFire, StageOneKindNineHoldsFire) {
  auto count = [](int stage) {
    auto t = PoolGame(NOVA, stage);
    Game& g = t->g();
    SpawnOrbiter(g, {.kind = 9, .radius = 300, .speed = 1, .size = 10});
    Frames(g, 60);
    return Count(g, 2);
  };
  EXPECT_EQ(count(1), 0);
  EXPECT_EQ(count(2), 6);
}

TEST(EnemyFire, KindSevenRingFiresOnlyFromEvenSlotsWhileABossLives) {
  auto fired = [](int boss_slot) {
    auto t = PoolGame(NOVA, 4);
    Game& g = t->g();
    for (int k = 0; k < 6; ++k)
      SpawnOrbiter(g, {.kind = 7, .radius = 360, .angle = 60 * k, .speed = 2, .size = 6});
    g.pools.boss_slot = boss_slot;
    Frames(g, 69);
    return Count(g, 2);
  };
  EXPECT_EQ(fired(0), 6);
  EXPECT_EQ(fired(650), 3);  // slots 2, 4 and 6
}

// ---------------------------------------------------------------- drawing

TEST(EnemyDrawing, ShapesAndColours) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 1, .size = 20});       // hexagon at the centre
  SpawnFlyer(g, {.kind = 10, .x = 100, .y = 100, .size = 20});  // pentagon outline
  SpawnBullet(g, {.kind = 10, .x = 500, .y = 100, .size = 8});  // filled square
  Frames(g, 1);
  Canvas& cg = *g.cg;
  // Orbiter vertex at angle timer (2) on its hexagon, the inside left empty.
  EXPECT_EQ(cg.GetPixel(PolarX(320, 2, 20), PolarY(240, 2, 20)), 0x9900FFu);
  EXPECT_EQ(cg.GetPixel(320, 240), 0u);
  // Flyers and bullets are drawn in a bluer version of their colour.
  const uint32_t blue10 = OffsetColor(0xCCCCFF, 50, -40, -20);
  EXPECT_EQ(blue10, RGB(215, 184, 254));
  EXPECT_EQ(cg.GetPixel(PolarX(100, 2, 20), PolarY(100, 2, 20)), blue10);
  EXPECT_EQ(cg.GetPixel(100, 100), 0u);
  EXPECT_EQ(cg.GetPixel(500, 100), blue10);
  EXPECT_EQ(cg.GetPixel(503, 102), blue10);
}

TEST(EnemyDrawing, BigSlotsHaveATwoPixelOutline) {
  auto lit = [](int kind) {
    auto t = PoolGame(EASY, 2);
    Game& g = t->g();
    SpawnOrbiter(g, {.kind = kind, .size = 30});
    Frames(g, 1);
    int n = 0;
    for (int y = 200; y < 280; ++y)
      for (int x = 280; x < 360; ++x) n += g.cg->GetPixel(x, y) != 0 ? 1 : 0;
    return n;
  };
  const int thin = lit(13);  // 100 hit points but not big
  const int thick = lit(6);  // the stage 2 boss
  EXPECT_GT(thin, 150);
  EXPECT_GT(thick, thin * 18 / 10);
}

TEST(EnemyDrawing, HitFlashLightsAndShakes) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 1, .size = 20});
  g.pools.enemies[1].flash = 2;
  g.run.frame_no = 9;  // the next frame is even
  Frames(g, 1);
  const EnemySlot& e = g.pools.enemies[1];
  EXPECT_EQ(e.flash, 1);
  EXPECT_LE(std::abs(e.x - 320), 1);
  EXPECT_LE(std::abs(e.y - 240), 1);
  EXPECT_EQ(g.cg->GetPixel(PolarX(e.x, 2, 20), PolarY(e.y, 2, 20)), ShiftColor(0x9900FF, 160));
  Frames(g, 1);  // odd frame: its own colour
  EXPECT_EQ(g.pools.enemies[1].flash, 0);
  EXPECT_EQ(g.cg->GetPixel(PolarX(e.x, 3, 20), PolarY(e.y, 3, 20)), 0x9900FFu);
}

TEST(EnemyDrawing, LockOnDiamonds) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  SpawnOrbiter(g, {.kind = 30, .size = 10});
  SpawnOrbiter(g, {.kind = 30, .angle = 90, .size = 10});
  g.pools.enemies[1].lockOn = 1;
  g.pools.enemies[2].lockOn = 1;
  g.pools.enemies[2].radius = 150;
  Frames(g, 1);
  // A diamond of radius size + 11; its colour turns with age, slot and mark:
  // (2 + 1 + 1) mod 9 = 4 for slot 1, 5 for slot 2.
  EXPECT_EQ(g.cg->GetPixel(320 + 21, 240), 0x9900BBu);
  const EnemySlot& e = g.pools.enemies[2];
  EXPECT_EQ(g.cg->GetPixel(e.x + 21, e.y), 0x880077u);
  // No marks, no diamond.
  g.pools.enemies[1].lockOn = 0;
  Frames(g, 1);
  EXPECT_EQ(g.cg->GetPixel(320 + 21, 240), 0u);
}

// ---------------------------------------------------------------- links

TEST(EnemyLinks, OrbitersJoinEarlierSameParitySlotsAtMostNineTimes) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  for (int k = 0; k < 30; ++k)
    SpawnOrbiter(g, {.kind = 30, .radius = 150, .angle = 12 * k, .size = 5, .link = 77});
  SpawnOrbiter(g, {.kind = 30, .radius = 100, .size = 5, .link = 78});  // another group
  Frames(g, 1);
  EXPECT_EQ(g.pools.enemies[1].links, 9);   // 14 later odd slots, capped
  EXPECT_EQ(g.pools.enemies[2].links, 9);
  EXPECT_EQ(g.pools.enemies[27].links, 1);  // only 29 comes after it
  EXPECT_EQ(g.pools.enemies[29].links, 0);
  EXPECT_EQ(g.pools.enemies[30].links, 0);
  EXPECT_EQ(g.pools.enemies[31].links, 0);
  for (const EnemySlot& e : g.pools.enemies) EXPECT_LE(e.links, 9);
}

TEST(EnemyLinks, LinesJoinTheGroup) {
  auto t = PoolGame(EASY);
  Game& g = t->g();
  // slot 1, left of the centre
  SpawnOrbiter(g, {.kind = 30, .radius = 100, .angle = 180, .size = 5, .link = 9});
  // slot 2: other parity, not joined
  SpawnOrbiter(g, {.kind = 30, .radius = 100, .angle = 90, .size = 5, .link = 9});
  // slot 3, right of the centre
  SpawnOrbiter(g, {.kind = 30, .radius = 100, .size = 5, .link = 9});
  Frames(g, 1);
  Canvas& cg = *g.cg;
  // 1 and 3 are joined through the centre.
  EXPECT_EQ(g.pools.enemies[1].y, 240);
  EXPECT_EQ(cg.GetPixel(320, 240), 0x889988u);
  // 2 and 3 are not.
  EXPECT_EQ(cg.GetPixel((g.pools.enemies[2].x + g.pools.enemies[3].x) / 2, (g.pools.enemies[2].y + g.pools.enemies[3].y) / 2), 0u);
  EXPECT_EQ(g.pools.enemies[1].links, 1);
  EXPECT_EQ(g.pools.enemies[2].links, 0);

  // Flyers join earlier flyers and every bullet of the link, without counting.
  auto f = PoolGame(EASY);
  Game& h = f->g();
  SpawnBullet(h, {.kind = 1, .x = 400, .y = 300, .size = 3, .link = 9});
  SpawnFlyer(h, {.kind = 1, .x = 200, .y = 300, .size = 5, .link = 9});
  Frames(h, 1);
  EXPECT_EQ(h.cg->GetPixel(300, 300), OffsetColor(0x9900FF, 50, -40, -20));
  EXPECT_EQ(h.pools.enemies[1].links, 0);
}

// A bullet fired during the enemy update is part of its group's lines in the
// same frame, for the slots drawn after the one that fired it.
TEST(EnemyLinks, ABulletIsJoinedInTheFrameItIsFired) {
  auto t = PoolGame(NOVA);
  Game& g = t->g();
  // slot 1, left of the ship, drawn before the shot
  SpawnFlyer(g, {.kind = 1, .x = 100, .y = 240, .size = 5, .link = 44});
  // slot 2, right of the ship, fires
  SpawnOrbiter(g, {.kind = 1, .radius = 300, .speed = 1, .size = 10, .link = 44});
  // slot 3: its line runs through slot 1 to the bullet
  SpawnFlyer(g, {.kind = 1, .x = 100, .y = 100, .size = 5, .link = 44});
  int frames = 0;
  while (Count(g, 2) == 0 && frames < 99) {
    EXPECT_EQ(g.cg->GetPixel(200, 240), 0u) << "frame " << frames;
    Frames(g, 1);
    ++frames;
  }
  ASSERT_EQ(Count(g, 2), 1);
  ASSERT_EQ(g.pools.enemies[2].y, 240);
  EXPECT_EQ(g.cg->GetPixel(200, 240), OffsetColor(0x9900FF, 50, -40, -20));
}

