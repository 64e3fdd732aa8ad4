// The right-button weapons: barrier and time stop, their costs, rings and lasers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "combat/barrier.h"
#include "combat/player.h"
#include "combat/shots.h"
#include "menus/menu.h"
#include "state/game.h"
#include "test_util.h"

namespace {

int CountEffects(Game& g, int kind) {
  int n = 0;
  for (const EffectSlot& e : g.fx.ring) n += e.age >= 1 && e.kind == kind;
  return n;
}


std::vector<EnemySlot> LiveShots(Game& g) {
  std::vector<EnemySlot> out;
  for (const EnemySlot& s : g.pools.shots)
    if (s.timer >= 1) out.push_back(s);
  return out;
}

int LitPixels(Canvas& c, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) n += c.GetPixel(x, y) != 0;
  return n;
}

}  // namespace

TEST(WeaponCost, PerModeAndLevel) {
  EXPECT_EQ(BarrierCost(EASY, 2), 2);
  EXPECT_EQ(BarrierCost(EASY, 25), 4);
  EXPECT_EQ(BarrierCost(HARD, 19), 1);
  EXPECT_EQ(BarrierCost(HARD, 40), 3);
  EXPECT_EQ(BarrierCost(EXTREAM, 30), 3);
  EXPECT_EQ(BarrierCost(NOVA, 24), 1);
  EXPECT_EQ(BarrierCost(NOVA, 50), 3);
  EXPECT_EQ(BarrierCost(LIGHT, 2), 1);
  EXPECT_EQ(BarrierCost(LIGHT, 500), 1);
  EXPECT_EQ(TimeStopCost(SQ, 2), 1);
  EXPECT_EQ(TimeStopCost(SQ, 20), 3);
  EXPECT_EQ(TimeStopCost(HELL, 39), 2);
  EXPECT_EQ(TimeStopCost(HELL, 40), 3);
}

TEST(Barrier, RaisedByARightPressAtLevelTwo) {
  auto t = MakeGameInPlay(EASY, 9);
  Game& g = t->g();
  g.my.level = 25;
  g.my.barrier_time = 10;
  g.input.click = 2;
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.level, 21);
  EXPECT_TRUE(HasEffect(g, 19, "Barrier Lv25→21"));
  EXPECT_TRUE(HasEffect(g, 396));
  EXPECT_TRUE(Played(g, "baria.wav"));
  EXPECT_EQ(g.my.barrier_timer, 34);  // 10 + 25, one frame already run
  EXPECT_EQ(g.run.shake, 10);
  EXPECT_EQ(g.input.click, 0);
  // The ring is drawn about the ship.
  EXPECT_GT(LitPixels(*g.cg, 280, 200, 360, 280) - LitPixels(*g.cg, 305, 225, 335, 255), 40);
}

TEST(Barrier, EveryBarrierModeRaisesOneAndPaysItsCost) {
  struct Case {
    int mode, level, after;
  } cases[] = {{EASY, 2, 0}, {HARD, 40, 37}, {EXTREAM, 30, 27}, {NOVA, 50, 47}, {LIGHT, 2, 1}};
  for (const Case& c : cases) {
    auto t = MakeGameInPlay(c.mode, 9);
    Game& g = t->g();
    g.my.level = c.level;
    g.input.click = 2;
    UpdatePlayer(g);
    EXPECT_EQ(g.my.level, c.after) << kModeNames[c.mode];
    EXPECT_EQ(g.my.barrier_timer, 24) << kModeNames[c.mode];
    EXPECT_EQ(g.my.time_stop, 0) << kModeNames[c.mode];
  }
}

TEST(Barrier, LevelOneDoesNothingAndTheRightButtonStaysHeld) {
  for (int mode : {EASY, SQ, HELL}) {
    auto t = MakeGameInPlay(mode, 9);
    Game& g = t->g();
    g.my.level = 1;
    g.input.click = 2;
    UpdatePlayer(g);
    EXPECT_EQ(g.my.barrier_timer, 0);
    EXPECT_EQ(g.my.time_stop, 0);
    EXPECT_EQ(g.my.level, 1);
    EXPECT_EQ(g.input.click, 2);
    EXPECT_TRUE(LiveShots(g).empty());
  }
}

TEST(Barrier, CannotBeRenewedWhileUpButAHeldPressRaisesTheNext) {
  auto t = MakeGameInPlay(HARD, 9);
  Game& g = t->g();
  g.my.level = 10;
  g.my.barrier_timer = 2;
  g.input.click = 2;
  UpdatePlayer(g);
  EXPECT_EQ(g.my.barrier_timer, 1);
  EXPECT_EQ(g.my.level, 10);
  EXPECT_EQ(g.input.click, 2);
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.barrier_timer, 0);
  EXPECT_TRUE(Played(g, "baria.wav"));  // the barrier fades with its sound
  UpdatePlayer(g);
  EXPECT_EQ(g.my.barrier_timer, 24);
  EXPECT_EQ(g.my.level, 9);
}

TEST(Barrier, NovaBarrierStaysWhereItWasRaised) {
  auto t = MakeGameInPlay(NOVA, 9);
  Game& g = t->g();
  g.my.level = 5;
  g.input.click = 2;
  UpdatePlayer(g);
  EXPECT_EQ(g.my.barrier_x, 320);
  EXPECT_EQ(g.my.barrier_y, 240);
  g.input.mouse_x = 600;
  for (int f = 0; f < 10; ++f) UpdatePlayer(g);
  ASSERT_GT(g.my.player_x(), 380);
  EXPECT_EQ(g.my.barrier_x, 320);
  // Enemies at the anchor die; one next to the moved ship does not.
  EnemySlot& at_anchor = g.pools.enemies[3];
  at_anchor = EnemySlot{};
  at_anchor.timer = 2;
  at_anchor.x = 330;
  at_anchor.y = 240;
  at_anchor.size = 4;
  at_anchor.hp = 50;
  EnemySlot& near_ship = g.pools.enemies[4];
  near_ship = at_anchor;
  near_ship.x = g.my.player_x() + 25;
  near_ship.y = 200;
  g.run.invulnerable = 30;
  UpdatePlayer(g);
  EXPECT_EQ(at_anchor.timer, 0);
  EXPECT_GE(near_ship.timer, 1);
}

TEST(Ring, GrowsFastThenSettlesAtTheBarrierSize) {
  auto t = MakeGameInPlay(EASY, 9);
  Game& g = t->g();
  g.my.barrier_size = 30;
  g.my.ring_step = 15;
  g.my.ring_radius = 0;
  std::vector<int> radii;
  for (int k = 0; k < 9; ++k) {
    GrowRing(g, 20);
    radii.push_back(g.my.ring_radius);
  }
  EXPECT_EQ(radii, std::vector<int>({15, 22, 25, 26, 27, 28, 29, 30, 30}));
  // In its last frames the ring snaps inward.
  GrowRing(g, 2);
  EXPECT_EQ(g.my.ring_radius, 25);
  GrowRing(g, 1);
  EXPECT_EQ(g.my.ring_radius, 7);
  GrowRing(g, 0);
  EXPECT_EQ(g.my.ring_radius, 5);
}

TEST(Ring, ThreeStepsPerFrameWhileTheBarrierRuns) {
  auto t = MakeGameInPlay(EASY, 9);
  Game& g = t->g();
  g.my.level = 2;
  g.input.click = 2;
  UpdatePlayer(g);
  EXPECT_EQ(g.my.ring_radius, 25);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.ring_radius, 28);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.ring_radius, 30);
}

TEST(TimeStop, StartsWithItsCostAndText) {
  auto t = MakeGameInPlay(SQ, 9);
  Game& g = t->g();
  g.my.level = 20;
  g.my.stop_time = 5;
  g.input.click = 2;
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.level, 17);
  EXPECT_TRUE(HasEffect(g, 19, "Timestop Lv20→17"));
  EXPECT_TRUE(HasEffect(g, 168));
  EXPECT_TRUE(Played(g, "combo5.wav"));
  EXPECT_EQ(g.my.time_stop, 34);
  EXPECT_EQ(g.my.barrier_timer, 0);
  EXPECT_EQ(g.input.click, 0);
  EXPECT_EQ(g.run.shake, 10);
}

TEST(TimeStop, EndsWithAStarOfLasers) {
  auto t = MakeGameInPlay(SQ, 9);
  Game& g = t->g();
  g.my.time_stop = 1;
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.time_stop, 0);
  auto shots = LiveShots(g);
  ASSERT_EQ(shots.size(), 4u);
  std::vector<int> angles;
  for (const auto& s : shots) {
    EXPECT_EQ(s.kind, 4);
    EXPECT_EQ(s.speed, 20);
    EXPECT_EQ(s.size, 30);
    EXPECT_EQ(s.originX, 320);
    angles.push_back(s.angle);
  }
  EXPECT_EQ(angles, std::vector<int>({135, 225, 315, 405}));
  EXPECT_EQ(CountEffects(g, 170), 4);
  EXPECT_TRUE(HasEffect(g, 396));
  EXPECT_TRUE(Played(g, "combo6.wav"));
}

TEST(TimeStop, MoreLaserWaysSpreadTheStar) {
  auto t = MakeGameInPlay(HELL, 9);
  Game& g = t->g();
  g.my.laser_way() = 2;
  g.my.time_stop = 1;
  UpdatePlayer(g);
  std::vector<int> angles;
  for (const auto& s : LiveShots(g)) angles.push_back(s.angle);
  EXPECT_EQ(angles, std::vector<int>({105, 165, 225, 285, 345, 405}));
}

TEST(TimeStop, SecondRightPressCancelsAndFiresAtOnce) {
  auto t = MakeGameInPlay(SQ, 9);
  Game& g = t->g();
  g.my.level = 10;
  g.my.time_stop = 20;
  g.input.click = 2;
  UpdatePlayer(g);
  EXPECT_EQ(g.my.time_stop, 0);
  EXPECT_EQ(g.input.click, 0);
  EXPECT_EQ(LiveShots(g).size(), 4u);
  EXPECT_EQ(g.my.level, 10);  // cancelling costs nothing
}

TEST(TimeStop, ArcShrinksLikeAClockHand) {
  auto t = MakeGameInPlay(SQ, 9);
  Game& g = t->g();
  g.my.level = 2;
  g.input.click = 2;
  g.run.frame_no = 0;
  g.cg->Clear(0);
  UpdatePlayer(g);
  // The inner arc (radius 25 after the first frame) is nearly a full circle:
  // it passes below and to the left of the ship.
  EXPECT_GT(LitPixels(*g.cg, 310, 262, 330, 268), 0);
  EXPECT_GT(LitPixels(*g.cg, 292, 230, 298, 250), 0);
  for (int f = 0; f < 24; ++f) UpdatePlayer(g);
  ASSERT_EQ(g.my.time_stop, 5);
  g.cg->Clear(0);
  UpdatePlayer(g);
  // Four steps left: only the first 48 degrees are drawn (radius 30 now).
  EXPECT_EQ(LitPixels(*g.cg, 300, 266, 330, 274), 0);
  EXPECT_EQ(LitPixels(*g.cg, 286, 230, 294, 250), 0);
  EXPECT_GT(LitPixels(*g.cg, 345, 235, 355, 260), 0);
}

TEST(Timers, SurviveGameOverAndStageStart) {
  auto t = MakeGameInPlay(SQ, 9);
  Game& g = t->g();
  g.my.time_stop = 12;
  g.my.barrier_timer = 7;
  EndGame(g);
  EXPECT_EQ(g.my.time_stop, 12);
  EXPECT_EQ(g.my.barrier_timer, 7);
  UpdatePlayer(g);  // no play: nothing counts down
  EXPECT_EQ(g.my.time_stop, 12);
  g.run.title_phase = 0;
  g.my.stage() = 1;
  StartStage(g);
  EXPECT_EQ(g.my.time_stop, 12);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.time_stop, 11);
  EXPECT_EQ(g.my.barrier_timer, 6);
}
