// The phase tables of the bosses of stages 2, 4, 5 and 6.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "stages/enemies.h"
#include "test_util.h"

namespace {

struct BossRun {
  std::unique_ptr<TestGame> t;
  int slot = 0;
  Game& g() { return t->g(); }
  EnemySlot& boss() { return t->g().pools.enemies[size_t(slot)]; }
};

// A boss placed the way its stage places it, with the frame counter at 0.
BossRun PlaceBoss(int mode, int kind) {
  const int stage = kind == 6 ? 2 : kind == 14 ? 4 : kind == 16 ? 5 : 6;
  BossRun r;
  r.t = MakeTestGame(21);
  Game& g = r.g();
  g.run.title_phase = 0;
  g.my.mode = mode;
  g.my.stage() = stage;
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  g.run.in_play = 1;
  const int size = kind == 6 ? 30 : kind == 25 ? 30 : 50;
  SpawnOrbiter(g, {.kind = kind, .radius = 380, .angle = kind == 25 ? 90 : 270, .speed = 2, .size = size});
  g.pools.boss_slot = g.pools.spawn_cursor;
  r.slot = g.pools.boss_slot;
  g.run.frame_no = 0;
  return r;
}

void Step(Game& g) {
  g.run.frame_no = (g.run.frame_no + 1) % 1000;
  UpdateEnemies(g);
}

int CountKind(const Game& g, int cls, int kind, int link = -1) {
  int n = 0;
  for (const EnemySlot& e : g.pools.enemies)
    if (e.timer >= 1 && e.cls == cls && e.kind == kind && (link < 0 || e.link == link)) ++n;
  return n;
}

}  // namespace

TEST(Bosses, EachCyclesThroughItsTableForThousandsOfFrames) {
  // top: the last age of a cycle (the next step sets the restart age).
  struct Case {
    int kind, top, restart;
  };
  for (int mode : {EASY, HELL}) {  // a fixed-ship mode, and a mode where orbiters pass the centre
    for (Case c : {Case{6, 549, 49}, Case{14, 499, 1}, Case{16, 499, 1}, Case{25, 680, 49}}) {
      BossRun r = PlaceBoss(mode, c.kind);
      Game& g = r.g();
      int wraps = 0, highest = 0, prev = r.boss().timer;
      int min_size = 1000, max_size = 0;
      for (int f = 0; f < 3000; ++f) {
        Step(g);
        const EnemySlot& b = r.boss();
        ASSERT_EQ(b.kind, c.kind);
        ASSERT_GE(b.timer, 1) << "kind " << c.kind << " frame " << f;  // never leaves the pool
        ASSERT_EQ(b.big, 1);
        ASSERT_EQ(b.cls, 0);
        ASSERT_EQ(b.passed, 0) << "kind " << c.kind << " crossed the centre";
        ASSERT_GE(b.radius, 0);
        ASSERT_LE(b.radius, mode == HELL ? 430 : 380);  // the HELL twin starts 50 farther out
        if (b.timer < prev) {
          ++wraps;
          EXPECT_EQ(b.timer, c.restart) << "kind " << c.kind;
          EXPECT_EQ(prev, c.top) << "kind " << c.kind;
        }
        highest = std::max(highest, b.timer);
        if (f > 700) {
          min_size = std::min(min_size, b.size);
          max_size = std::max(max_size, b.size);
        }
        prev = b.timer;
      }
      EXPECT_EQ(highest, c.top) << "kind " << c.kind;
      EXPECT_GE(wraps, 3000 / c.top - 1) << "kind " << c.kind << " " << kModeNames[mode];
      if (c.kind == 25) {
        EXPECT_EQ(min_size, 5);  // shrinks to 5 and grows back to 30
        EXPECT_EQ(max_size, 30);
      }
      if (c.kind == 14) {
        EXPECT_GE(min_size, 5);
        EXPECT_LE(max_size, 36);
      }
    }
  }
}

TEST(Bosses, StageTwoBossEscortsComeFasterOutsideEasy) {
  for (int mode : {EASY, HARD}) {
    BossRun r = PlaceBoss(mode, 6);
    Game& g = r.g();
    r.boss().timer = 449;  // the next frame is t = 450
    r.boss().radius = 150;
    for (int f = 0; f < 100; ++f) Step(g);
    EXPECT_EQ(r.boss().timer, 549);
    const int expected = mode == EASY ? 25 : 50;  // every fourth or every second frame
    EXPECT_EQ(CountKind(g, 0, 7), expected) << kModeNames[mode];
    EXPECT_EQ(CountKind(g, 0, 8), expected) << kModeNames[mode];
    std::set<int> sizes;
    for (const EnemySlot& e : g.pools.enemies)
      if (e.timer >= 1 && e.kind == 7) sizes.insert(e.size);
    EXPECT_EQ(*sizes.rbegin(), 15);
    EXPECT_EQ(*sizes.begin(), 6);
    EXPECT_EQ(sizes.size(), 10u);
    Step(g);
    EXPECT_EQ(r.boss().timer, 49);  // t = 550 starts the cycle again
  }
}

TEST(Bosses, StageFourBossGrowsAsItComesNearer) {
  for (auto [radius, size] : {std::pair{300, 5}, {240, 5}, {236, 6}, {200, 15}, {120, 35}}) {
    BossRun r = PlaceBoss(EASY, 14);
    r.boss().speed = 0;
    r.boss().radius = radius;
    Step(r.g());
    EXPECT_EQ(r.boss().size, size) << "radius " << radius;
  }
}

TEST(Bosses, StageFourBossSpraysFlyersFromItsCentre) {
  BossRun r = PlaceBoss(EASY, 14);
  Game& g = r.g();
  r.boss().timer = 99;
  r.boss().radius = 200;
  g.run.frame_no = 9;  // t = 100 falls on a multiple of 10
  Step(g);
  // Six big flyers of kind 1, in six directions.
  ASSERT_EQ(CountKind(g, 1, 1), 6);
  std::set<int> angles;
  for (const EnemySlot& e : g.pools.enemies)
    if (e.timer >= 1 && e.cls == 1) {
      EXPECT_EQ(e.size, 30);
      EXPECT_EQ(e.speed, 1);
      EXPECT_EQ(e.originX, r.boss().x);
      angles.insert(e.angle);
    }
  EXPECT_EQ(angles, (std::set<int>{0, 60, 120, 180, 240, 300}));
}

TEST(Bosses, StageFiveVolleysAreJoinedToTheirOrbiter) {
  struct Volley {
    int t, bullet_kind, link, bullets, orbiter_kind;
  };
  for (Volley v : {Volley{150, 7, 151, 144, 1}, Volley{200, 9, 201, 144, 1}, Volley{450, 2, 201, 144, 10}}) {
    BossRun r = PlaceBoss(EASY, 16);
    Game& g = r.g();
    r.boss().timer = v.t - 1;
    r.boss().radius = 200;
    Step(g);
    EXPECT_EQ(CountKind(g, 2, v.bullet_kind, v.link), v.bullets) << "t " << v.t;
    ASSERT_EQ(CountKind(g, 0, v.orbiter_kind, v.link), 1) << "t " << v.t;
    // Next frame the orbiter draws its lines to every bullet of the volley.
    Step(g);
    int joined = 0;
    for (const EnemySlot& e : g.pools.enemies)
      if (e.timer >= 1 && e.cls == 2 && e.link == v.link && e.links >= 1) ++joined;
    EXPECT_EQ(joined, v.bullets) << "t " << v.t;
  }
}

TEST(Bosses, LastBossLocksOnAndLetsGoTheFinalBurst) {
  for (int mode : {EASY, NOVA, EXTREAM, HELL}) {
    BossRun r = PlaceBoss(mode, 25);
    Game& g = r.g();
    r.boss().timer = 599;
    r.boss().radius = 150;
    g.my.player_x() = 100;
    g.my.player_y() = 400;
    for (int f = 0; f < 80; ++f) Step(g);  // t = 600 .. 679
    EXPECT_EQ(g.my.target_lock(), 40);
    int markers = 0, rings = 0;
    for (const EffectSlot& e : g.fx.ring) {
      if (e.age >= 1 && e.kind == 276 && e.x == 100 && e.y == 400) ++markers;
      if (e.age >= 1 && (e.kind == 179 || e.kind == 180)) ++rings;
    }
    EXPECT_EQ(markers, 40);
    EXPECT_EQ(rings, 2);
    const int orbiters_before = CountKind(g, 0, 1);
    Step(g);  // t = 680
    EXPECT_EQ(g.my.target_lock(), 0);
    for (const EffectSlot& e : g.fx.ring) EXPECT_FALSE(e.age >= 1 && e.kind == 276);
    EXPECT_EQ(g.sound.last, "bom3.wav");
    const bool aimed = mode == NOVA || mode == EXTREAM;
    const int twins = mode == HELL ? 2 : 1;
    if (aimed) {
      EXPECT_EQ(CountKind(g, 2, 1), 22) << kModeNames[mode];
      for (const EnemySlot& e : g.pools.enemies)
        if (e.timer >= 1 && e.cls == 2 && e.kind == 1) {
          EXPECT_EQ(e.speed, 10);
          EXPECT_EQ(e.size, 10);
        }
    } else {
      EXPECT_EQ(CountKind(g, 0, 1) - orbiters_before, 22 * twins) << kModeNames[mode];
      EXPECT_EQ(CountKind(g, 2, 1), 0);
    }
    Step(g);
    EXPECT_EQ(r.boss().timer, 49);  // and round again
  }
}

TEST(Bosses, BossesSpawnNothingUnderTimeStop) {
  for (int kind : {6, 14, 16, 25}) {
    BossRun r = PlaceBoss(NOVA, kind);
    Game& g = r.g();
    for (int f = 0; f < 300; ++f) Step(g);
    g.my.time_stop = 100;
    const int live_before = [&g] {
      int n = 0;
      for (const EnemySlot& e : g.pools.enemies) n += e.timer >= 1;
      return n;
    }();
    const EnemySlot before = r.boss();
    for (int f = 0; f < 200; ++f) Step(g);
    int live = 0;
    for (const EnemySlot& e : g.pools.enemies) live += e.timer >= 1;
    EXPECT_EQ(live, live_before) << "kind " << kind;
    EXPECT_EQ(r.boss().timer, before.timer);
    EXPECT_EQ(r.boss().radius, before.radius);
  }
}
