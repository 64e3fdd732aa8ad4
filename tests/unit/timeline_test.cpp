// The stage timetables: waves by clock and mode, story lines, boss warning and
// placement, stage clear and time up.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "menus/menu.h"
#include "shell/frame.h"
#include "stages/enemies.h"
#include "stages/timeline.h"
#include "test_util.h"

namespace {

// The timeline's step of a frame: a stage end it asks for opens the menu.
void TimelineStep(Game& g) {
  RunStageTimeline(g);
  ServeFlowRequests(g);
}

}  // namespace

namespace {

// A stage started the way the chapter buttons start it.
std::unique_ptr<TestGame> StageGame(int mode, int stage, uint64_t seed = 7) {
  auto t = MakeTestGame(seed);
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.mode = mode;
  g.my.stage() = stage;
  StartStage(g);
  return t;
}

int LiveSlots(const Game& g) {
  int n = 0;
  for (const EnemySlot& e : g.pools.enemies) n += e.timer >= 1 ? 1 : 0;
  return n;
}


// Number of slots a timeline frame at clock c (frame counter n) fills.
int SpawnedAt(int mode, int stage, int c, int n = 0) {
  auto t = StageGame(mode, stage);
  Game& g = t->g();
  g.my.distance() = c - 1;
  g.run.frame_no = n;
  TimelineStep(g);
  return LiveSlots(g);
}

}  // namespace

TEST(StageScripts, LateModesGetTheExtraWaves) {
  // Stage 1 at 900 and stage 3 at 51 and 151 only in SQ, LIGHT and HELL.
  EXPECT_EQ(SpawnedAt(EASY, 1, 900), 0);
  EXPECT_EQ(SpawnedAt(HARD, 1, 900), 0);
  EXPECT_EQ(SpawnedAt(NOVA, 1, 900), 0);
  EXPECT_EQ(SpawnedAt(SQ, 1, 900), 48);
  EXPECT_EQ(SpawnedAt(LIGHT, 1, 900), 48);
  EXPECT_EQ(SpawnedAt(HELL, 1, 900), 96);  // every one with its twin
  EXPECT_EQ(SpawnedAt(EASY, 3, 51), 0);
  EXPECT_EQ(SpawnedAt(EASY, 3, 151), 0);
  EXPECT_EQ(SpawnedAt(SQ, 3, 51), 12);
  EXPECT_EQ(SpawnedAt(LIGHT, 3, 151), 18);
  // Rows every mode sees.
  EXPECT_EQ(SpawnedAt(EASY, 3, 1), 10);
  EXPECT_EQ(SpawnedAt(EASY, 3, 201), 30);
  EXPECT_EQ(SpawnedAt(EASY, 1, 800), 30);
}

TEST(StageScripts, SpokesAtSevenHundredAreFourOrEight) {
  // Each spoke is one flyer and sixteen bullets; in HELL the flyer has a twin.
  auto count = [](int mode, int* flyers, int* bullets) {
    auto t = StageGame(mode, 1);
    Game& g = t->g();
    g.my.distance() = 699;
    TimelineStep(g);
    *flyers = *bullets = 0;
    for (const EnemySlot& e : g.pools.enemies) {
      if (e.timer < 1) continue;
      if (e.cls == 1) ++*flyers;
      if (e.cls == 2) ++*bullets;
    }
  };
  int f = 0, b = 0;
  count(EASY, &f, &b);
  EXPECT_EQ(f, 4);
  EXPECT_EQ(b, 64);
  count(NOVA, &f, &b);
  EXPECT_EQ(f, 4);
  // The spokes straight up and down sit near the edge: the bullets of their
  // stars that would start beyond y -100 or 580 are dropped (2 and 3).
  count(SQ, &f, &b);
  EXPECT_EQ(f, 8);
  EXPECT_EQ(b, 123);
  count(HELL, &f, &b);
  EXPECT_EQ(f, 16);
  EXPECT_EQ(b, 123);
}

TEST(StageScripts, RowsKeyedOnTheFrameCounterAndRanges) {
  // Stage 1, 1..199 every 20: eight orbiters on frames that are multiples of 20.
  EXPECT_EQ(SpawnedAt(EASY, 1, 100, 40), 8);
  EXPECT_EQ(SpawnedAt(EASY, 1, 100, 41), 0);
  // The range ends are included.
  EXPECT_EQ(SpawnedAt(EASY, 1, 199, 20), 8);
  EXPECT_EQ(SpawnedAt(EASY, 1, 200, 20), 4);
  EXPECT_EQ(SpawnedAt(EASY, 1, 300, 20), 0);
  // Stage 4, the corner flyers only on even frames between 800 and 821.
  EXPECT_EQ(SpawnedAt(EASY, 4, 822, 2), 0);
  EXPECT_EQ(SpawnedAt(EASY, 4, 821, 2), 4);
  EXPECT_EQ(SpawnedAt(EASY, 4, 820, 3), 0);
  // Stage 5 escorted flyers: a flyer and 36 bullets each, two of them.
  EXPECT_EQ(SpawnedAt(EASY, 5, 1200), 74);
  // Stage 6 at 301: 144 flyers.
  EXPECT_EQ(SpawnedAt(EASY, 6, 301), 144);
}

TEST(StageScripts, RingsShareLinksInGroupsOfFour) {
  auto t = StageGame(EASY, 4);
  Game& g = t->g();
  g.my.distance() = 319;
  TimelineStep(g);
  std::multiset<int> links;
  for (const EnemySlot& e : g.pools.enemies)
    if (e.timer >= 1) links.insert(e.link);
  EXPECT_EQ(links.size(), 42u);
  EXPECT_EQ(links.count(0), 4u);  // the first group is not joined
  EXPECT_EQ(links.count(10), 2u);  // the last group has two
  for (int l = 1; l <= 9; ++l) EXPECT_EQ(links.count(l), 4u) << l;
}

TEST(StageScripts, BossSlotNamesTheBossAndInHellItsTwin) {
  for (int mode : {EASY, HELL}) {
    auto t = StageGame(mode, 1);
    Game& g = t->g();
    g.my.distance() = 1169;
    TimelineStep(g);
    ASSERT_NE(g.pools.boss_slot, 0);
    const EnemySlot& b = g.pools.enemies[size_t(g.pools.boss_slot)];
    EXPECT_EQ(b.kind, 11);
    EXPECT_EQ(b.big, 1);
    if (mode == HELL) {
      EXPECT_EQ(b.radius, 430);  // the twin: 50 farther out
      EXPECT_EQ(b.angle, 450);
      EXPECT_EQ(b.speed, 1);
    } else {
      EXPECT_EQ(b.radius, 380);
      EXPECT_EQ(b.angle, 270);
    }
  }
  // Stage 3 places two escorts first; the boss is the last one filled.
  auto t = StageGame(EASY, 3);
  Game& g = t->g();
  g.my.distance() = 1649;
  TimelineStep(g);
  ASSERT_NE(g.pools.boss_slot, 0);
  EXPECT_EQ(g.pools.enemies[size_t(g.pools.boss_slot)].kind, 12);
}

TEST(StageScripts, BossWarningAndStoryFile) {
  auto t = StageGame(EASY, 2);
  Game& g = t->g();
  g.my.distance() = 1599;
  TimelineStep(g);
  bool warned = false;
  for (const EffectSlot& e : g.fx.ring) warned |= e.age >= 1 && e.kind == 491 && e.x == 320 && e.y == 240;
  EXPECT_TRUE(warned);

  auto t1 = StageGame(EASY, 1);
  Game& g1 = t1->g();
  g1.my.distance() = 999;
  TimelineStep(g1);
  EXPECT_EQ(g1.run.story_on, 1);
  EXPECT_FALSE(g1.run.story.empty());
}

TEST(StageFlow, StoryLinesEveryTwentyFiveFrames) {
  auto t = StageGame(EASY, 2);
  Game& g = t->g();
  g.run.story = {"一", "二"};
  g.run.story_index = 0;
  g.run.story_on = 1;
  auto announcements = [&g] {
    std::vector<std::string> out;
    for (const EffectSlot& e : g.fx.ring)
      if (e.age >= 1 && e.kind == 0) out.push_back(e.text);
    return out;
  };
  g.run.frame_no = 24;
  TimelineStep(g);
  EXPECT_TRUE(announcements().empty());
  g.run.frame_no = 25;
  TimelineStep(g);
  EXPECT_EQ(announcements(), std::vector<std::string>{"一"});
  g.run.frame_no = 50;
  TimelineStep(g);
  EXPECT_EQ(announcements().size(), 2u);
  EXPECT_EQ(g.run.story_on, 0);  // the last line turns the story off

  // An empty story (or one skipped to its end) just turns off.
  g.run.story.clear();
  g.run.story_index = 0;
  g.run.story_on = 1;
  g.run.frame_no = 75;
  TimelineStep(g);
  EXPECT_EQ(g.run.story_on, 0);
}

TEST(StageFlow, TimeUpAtTheStageLimit) {
  for (int stage : {1, 5, 6}) {
    const int limit = stage == 6 ? 4000 : 3200;
    auto t = StageGame(EASY, stage);
    Game& g = t->g();
    g.my.distance() = limit - 2;
    g.pools.boss_slot = 5;
    TimelineStep(g);
    EXPECT_EQ(g.run.in_play, 1) << stage;
    EXPECT_EQ(g.run.time_up, 0);
    TimelineStep(g);
    EXPECT_EQ(g.my.distance(), limit);
    EXPECT_EQ(g.run.in_play, 0) << stage;
    EXPECT_EQ(g.run.time_up, 1);
    EXPECT_EQ(g.pools.boss_slot, 0);
    EXPECT_EQ(g.menu.screen, 1);
    EXPECT_EQ(g.run.backdrop_on, 1);  // "timeup.jpg"
  }
}

TEST(StageFlow, BossBeatenJustBeforeTheLimitClearsTheStage) {
  auto t = StageGame(EASY, 2);
  Game& g = t->g();
  g.my.distance() = 3198;
  TimelineStep(g);  // c = 3199: the boss falls in this frame
  g.run.stage_end_countdown = 100;
  g.pools.boss_slot = 0;
  for (int f = 0; f < 99; ++f) {
    TimelineStep(g);
    ASSERT_EQ(g.run.in_play, 1) << f;
    ASSERT_EQ(g.run.time_up, 0) << f;
  }
  EXPECT_GT(g.my.distance(), 3200);  // the clock ran on, but time up waited
  TimelineStep(g);
  EXPECT_EQ(g.run.stage_end_countdown, 0);
  EXPECT_EQ(g.run.in_play, 0);
  EXPECT_EQ(g.run.time_up, 0);  // cleared, not timed out
  EXPECT_EQ(g.menu.screen, 1);
}

TEST(StageFlow, CountdownHoldsTheScript) {
  auto t = StageGame(EASY, 3);
  Game& g = t->g();
  g.run.stage_end_countdown = 5;
  g.my.distance() = 200;  // 201 would place thirty orbiters
  TimelineStep(g);
  EXPECT_EQ(LiveSlots(g), 0);
  EXPECT_EQ(g.run.stage_end_countdown, 4);
}

TEST(StageFlow, TimeStopHoldsTheClockAndIdleDriftOutsidePlay) {
  auto t = StageGame(EASY, 1);
  Game& g = t->g();
  g.my.time_stop = 10;
  g.my.distance() = 799;
  TimelineStep(g);
  EXPECT_EQ(g.my.distance(), 799);
  EXPECT_EQ(LiveSlots(g), 0);
  g.my.time_stop = 0;
  TimelineStep(g);
  EXPECT_EQ(g.my.distance(), 800);
  EXPECT_EQ(LiveSlots(g), 30);

  // Between stages only the drifting kind-1 orbiters come, about one in five frames.
  auto t2 = MakeTestGame(3);
  Game& h = t2->g();
  h.run.in_play = 0;
  for (int f = 0; f < 1000; ++f) TimelineStep(h);
  int live = LiveSlots(h);
  EXPECT_GT(live, 150);
  EXPECT_LT(live, 250);
  EXPECT_EQ(h.my.distance(), 0);
  for (const EnemySlot& e : h.pools.enemies)
    if (e.timer >= 1) {
      EXPECT_EQ(e.kind, 1);
      EXPECT_EQ(e.size, 20);
      EXPECT_EQ(e.radius, 380);
    }
}

// Every stage, in a gentle and in the hardest mode, runs its whole timetable
// to time up with nobody shooting: the clock, the enemy pool and the end.
class WholeStage : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(WholeStage, RunsToTimeUp) {
  const int mode = std::get<0>(GetParam());
  const int stage = std::get<1>(GetParam());
  auto t = StageGame(mode, stage, 11 + stage);
  Game& g = t->g();
  int max_live = 0, frames = 0, boss_frames = 0;
  while (g.run.in_play == 1 && frames < 5000) {
    g.run.frame_no = (g.run.frame_no + 1) % 1000;
    TimelineStep(g);
    UpdateEnemies(g);
    ++frames;
    max_live = std::max(max_live, LiveSlots(g));
    if (g.pools.boss_slot != 0) {
      ++boss_frames;
      // The boss stays in its slot for as long as the stage runs.
      ASSERT_GE(g.pools.enemies[size_t(g.pools.boss_slot)].timer, 1) << "clock " << g.my.distance();
      ASSERT_EQ(g.pools.enemies[size_t(g.pools.boss_slot)].big, 1);
    }
  }
  const int limit = stage == 6 ? 4000 : 3200;
  EXPECT_EQ(g.my.distance(), limit);
  EXPECT_EQ(frames, limit);
  EXPECT_EQ(g.run.time_up, 1);
  EXPECT_EQ(g.pools.boss_slot, 0);
  EXPECT_EQ(g.menu.screen, 1);
  EXPECT_GT(max_live, 150);
  const int boss_at[7] = {0, 1170, 1650, 1650, 1650, 1650, 1770};
  EXPECT_EQ(boss_frames, limit - boss_at[stage]);
}

INSTANTIATE_TEST_SUITE_P(EasyAndHell, WholeStage,
                         ::testing::Combine(::testing::Values(int(EASY), int(HELL)), ::testing::Range(1, 7)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                           return std::string(kModeNames[std::get<0>(info.param)]) + "_stage" +
                                  std::to_string(std::get<1>(info.param));
                         });
