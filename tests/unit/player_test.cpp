// The ship: movement, blinking, contact with enemies, lives, screen clear, game over.
#include <gtest/gtest.h>

#include <string>

#include "combat/player.h"
#include "state/game.h"
#include "test_util.h"

namespace {

EnemySlot& Place(Game& g, int i, int x, int y, int size, int hp = 1, int cls = 0) {
  EnemySlot& e = PlaceEnemy(g, i, x, y, size, hp, cls);
  e.angle = 30;
  e.radius = 200;
  return e;
}



int LiveItems(Game& g) {
  int n = 0;
  for (const EnemySlot& it : g.pools.items) n += it.timer >= 1;
  return n;
}

}  // namespace

TEST(PlayerMovement, ClosesAFifthOfTheGapAtMostSevenPixels) {
  auto t = MakeGameInPlay(EXTREAM, 7);
  Game& g = t->g();
  g.input.mouse_x = 420;  // 100 px to the right
  std::vector<int> xs;
  for (int f = 0; f < 14; ++f) {
    UpdatePlayer(g);
    xs.push_back(g.my.player_x());
  }
  // 7 px per frame while the gap is 35 or more, then a fifth of the gap.
  std::vector<int> want = {327, 334, 341, 348, 355, 362, 369, 376, 383, 390, 396, 400, 404, 407};
  EXPECT_EQ(xs, want);
  for (int f = 0; f < 30; ++f) UpdatePlayer(g);
  // It stops short: within 4 px a fifth of the gap is 0.
  EXPECT_EQ(g.my.player_x(), 416);
  EXPECT_EQ(g.my.player_y(), 240);
}

TEST(PlayerMovement, PointerWithinFourPixelsLeavesTheShipStill) {
  auto t = MakeGameInPlay(NOVA, 7);
  Game& g = t->g();
  g.input.mouse_x = 324;
  g.input.mouse_y = 236;
  UpdatePlayer(g);
  EXPECT_EQ(g.my.player_x(), 320);
  EXPECT_EQ(g.my.player_y(), 240);
}

TEST(PlayerMovement, EdgesAreReachableButNotPassable) {
  auto t = MakeGameInPlay(EXTREAM, 7);
  Game& g = t->g();
  g.input.mouse_x = 900;  // a held button can drag the pointer outside the window
  g.input.mouse_y = 700;
  for (int f = 0; f < 200; ++f) UpdatePlayer(g);
  EXPECT_EQ(g.my.player_x(), 640);
  EXPECT_EQ(g.my.player_y(), 480);
  g.input.mouse_x = -300;
  g.input.mouse_y = -300;
  for (int f = 0; f < 200; ++f) UpdatePlayer(g);
  EXPECT_EQ(g.my.player_x(), 0);
  EXPECT_EQ(g.my.player_y(), 0);
}

TEST(PlayerMovement, FixedShipModesNeverMove) {
  for (int mode : {EASY, HARD, SQ, LIGHT}) {
    auto t = MakeGameInPlay(mode, 7);
    Game& g = t->g();
    g.input.mouse_x = 10;
    g.input.mouse_y = 470;
    g.input.click = 1;
    for (int f = 0; f < 40; ++f) UpdatePlayer(g);
    EXPECT_EQ(g.my.player_x(), 320) << kModeNames[mode];
    EXPECT_EQ(g.my.player_y(), 240) << kModeNames[mode];
  }
}

TEST(PlayerMovement, NothingHappensOutsidePlay) {
  auto t = MakeGameInPlay(EXTREAM, 7);
  Game& g = t->g();
  g.run.in_play = 0;
  g.input.mouse_x = 500;
  g.run.invulnerable = 10;
  Place(g, 1, 320, 240, 5);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.player_x(), 320);
  EXPECT_EQ(g.run.invulnerable, 10);
  EXPECT_EQ(g.my.lives, 3);
}

TEST(PlayerDrawing, ShipPulsesAndBlinksWhileInvulnerable) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  g.run.frame_no = 2;  // radius 10 + 2
  g.cg->Clear(0);
  UpdatePlayer(g);
  EXPECT_EQ(g.cg->GetPixel(320, 240), 0xFFFFFFu);
  EXPECT_NE(g.cg->GetPixel(320 + 11, 240), 0u);
  EXPECT_EQ(g.cg->GetPixel(320 + 14, 240), 0u);

  g.run.invulnerable = 5;
  g.run.frame_no = 3;  // odd: hidden
  g.cg->Clear(0);
  UpdatePlayer(g);
  EXPECT_EQ(g.cg->GetPixel(320, 240), 0u);
  EXPECT_EQ(g.run.invulnerable, 4);
  g.run.frame_no = 4;  // even: shown
  g.cg->Clear(0);
  UpdatePlayer(g);
  EXPECT_EQ(g.cg->GetPixel(320, 240), 0xFFFFFFu);
  EXPECT_EQ(g.run.invulnerable, 3);
}

TEST(PlayerDrawing, TargetLockRingsAreDiamondsAboutTheShip) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  g.my.target_lock() = 2;
  g.run.frame_no = 0;
  g.cg->Clear(0);
  UpdatePlayer(g);
  // Ring 1 has its corners 21 px out, ring 2 22 px out.
  EXPECT_NE(g.cg->GetPixel(341, 240), 0u);
  EXPECT_NE(g.cg->GetPixel(320, 260), 0u);
  EXPECT_EQ(g.cg->GetPixel(345, 240), 0u);
}

TEST(PlayerContact, HitBoxIsHalfTheShipWithStrictEdges) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  // h = 10 / 2 - 1 = 4: a bullet of size 1 touches from 4 px away, not from 5.
  Place(g, 3, 325, 240, 1, 50);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.lives, 3);
  Place(g, 3, 324, 240, 1, 50);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.lives, 2);
}

TEST(PlayerContact, HitAtOneLifeGoesOnWithScreenClearAndLevelLoss) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  g.my.lives = 1;
  g.my.level = 10;
  Place(g, 2, 322, 240, 3, 50);     // the one that hits (survives: 50 hp)
  Place(g, 10, 100, 100, 6, 20);    // cleared
  Place(g, 11, 100, 100, 6, 21);    // too tough
  Place(g, 12, 200, 100, 30, 5).big = 1;
  Place(g, 13, 0, 100, 5, 1);       // on the border
  Place(g, 14, 640, 100, 5, 1);
  Place(g, 15, 100, 0, 5, 1);
  Place(g, 16, 100, 480, 5, 1);
  Place(g, 17, 639, 479, 5, 1);     // just inside: cleared
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.lives, 0);
  EXPECT_EQ(g.run.in_play, 1);
  EXPECT_EQ(g.run.invulnerable, 30);
  EXPECT_EQ(g.run.shake, 20);
  EXPECT_TRUE(Played(g, "hp_down.wav"));
  EXPECT_TRUE(Played(g, "bom.wav"));
  EXPECT_TRUE(HasEffect(g, 161));
  EXPECT_TRUE(HasEffect(g, 177));
  EXPECT_EQ(g.pools.enemies[10].timer, 0);
  EXPECT_EQ(g.pools.enemies[17].timer, 0);
  for (int i : {2, 11, 12, 13, 14, 15, 16}) EXPECT_GE(g.pools.enemies[size_t(i)].timer, 1) << i;
  // Each cleared slot leaves an item placed by its own angle and radius.
  EXPECT_EQ(LiveItems(g), 2);
  EXPECT_EQ(g.pools.items[1].angle, 30);
  EXPECT_EQ(g.pools.items[1].hp, 3);
  // A third of the level is lost.
  EXPECT_EQ(g.my.level, 7);
  EXPECT_TRUE(HasEffect(g, 19, "Lv down 10→7"));
}

TEST(PlayerContact, LowLevelsLoseNothingButStillSayIt) {
  for (int level : {0, 1, 2}) {
    auto t = MakeGameInPlay(HARD, 7);
    Game& g = t->g();
    g.my.level = level;
    Place(g, 5, 320, 240, 4);
    UpdatePlayer(g);
    EXPECT_EQ(g.my.level, level);
    std::string n = std::to_string(level);
    EXPECT_TRUE(HasEffect(g, 19, "Lv down " + n + "→" + n));
  }
}

TEST(PlayerContact, HitAtZeroLivesEndsTheGameWithoutClearing) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  g.my.lives = 0;
  g.my.level = 9;
  g.my.score() = 1234;
  g.my.hi_score(EASY) = 1000;
  Place(g, 2, 320, 240, 3, 50);
  Place(g, 10, 100, 100, 6, 1);
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.run.in_play, 0);
  EXPECT_EQ(g.run.game_over_banner, 1);
  EXPECT_TRUE(Played(g, "gameover.wav"));
  EXPECT_EQ(g.run.backdrop_on, 1);  // the game-over picture is up
  EXPECT_GE(g.pools.enemies[10].timer, 1);
  EXPECT_FALSE(HasEffect(g, 177));
  EXPECT_FALSE(HasEffect(g, 19));
  EXPECT_EQ(g.my.hi_score(EASY), 1234);
  EXPECT_EQ(g.run.record_mode, 1);
  // The new-game reset ran.
  EXPECT_EQ(g.my.lives, 3);
  EXPECT_EQ(g.my.level, 0);
  EXPECT_EQ(g.my.score(), 0);
  // The next game starts with the hit's invulnerability.
  EXPECT_EQ(g.run.invulnerable, 30);
}

TEST(PlayerContact, BarrierKillAndShipHitInTheSamePass) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  g.my.barrier_timer = 10;
  g.my.barrier_size = 30;
  Place(g, 4, 322, 241, 3, 50);  // inside the barrier and on the ship
  Place(g, 5, 345, 240, 3, 50);  // inside the barrier only
  Place(g, 6, 345, 250, 3, 50).big = 1;
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.pools.enemies[4].timer, 0);
  EXPECT_EQ(g.pools.enemies[5].timer, 0);
  EXPECT_GE(g.pools.enemies[6].timer, 1);  // big slots shrug the barrier off
  EXPECT_EQ(g.my.lives, 2);
  EXPECT_TRUE(Played(g, "enemy_down.wav"));
  // Barrier kills pay nothing: no score and no chain.
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_EQ(g.my.chain_count(), 0);
}

TEST(PlayerContact, BarrierUsesItsFullSizeNotTheDrawnRing) {
  auto t = MakeGameInPlay(EXTREAM, 7);
  Game& g = t->g();
  g.my.barrier_timer = 20;
  g.my.barrier_size = 30;
  g.my.ring_radius = 0;
  g.my.ring_step = 15;
  Place(g, 8, 320 + 32, 240, 3);  // 32 - 3 = 29 < 30: touches
  Place(g, 9, 320 + 33, 240, 3);  // 30: only shares an edge
  UpdatePlayer(g);
  EXPECT_EQ(g.pools.enemies[8].timer, 0);
  EXPECT_GE(g.pools.enemies[9].timer, 1);
}

TEST(PlayerContact, InvulnerableShipIsNotHurtButBarrierStillKills) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  g.run.invulnerable = 20;
  g.my.barrier_timer = 5;
  Place(g, 4, 320, 240, 5, 50).big = 1;
  Place(g, 5, 330, 240, 5, 1);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.lives, 3);
  EXPECT_EQ(g.pools.enemies[5].timer, 0);
}

TEST(PlayerContact, OneHitPerFrameEvenWithManyAttackers) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  Place(g, 4, 320, 240, 5, 50);
  Place(g, 5, 321, 240, 5, 50);
  Place(g, 6, 319, 240, 5, 50);
  UpdatePlayer(g);
  EXPECT_EQ(g.my.lives, 2);
}

TEST(EndGame, EqualScoreIsNoRecord) {
  auto t = MakeGameInPlay(NOVA, 7);
  Game& g = t->g();
  g.my.score() = 5000;
  g.my.hi_score(NOVA) = 5000;
  g.run.record_mode = 0;
  EndGame(g);
  EXPECT_EQ(g.my.hi_score(NOVA), 5000);
  EXPECT_EQ(g.run.record_mode, 0);
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_EQ(g.run.in_play, 0);
  EXPECT_EQ(g.run.game_over_banner, 1);
}

TEST(EndGame, HigherScoreIsARecordOfThatMode) {
  auto t = MakeGameInPlay(HELL, 7);
  Game& g = t->g();
  g.my.score() = 5001;
  g.my.hi_score(HELL) = 5000;
  g.my.hi_score(EASY) = 1;
  EndGame(g);
  EXPECT_EQ(g.my.hi_score(HELL), 5001);
  EXPECT_EQ(g.my.hi_score(EASY), 1);
  EXPECT_EQ(g.run.record_mode, 7);
}

TEST(EndGame, ItemsInFlightVanishWithoutPaying) {
  auto t = MakeGameInPlay(EASY, 7);
  Game& g = t->g();
  g.pools.items[3].timer = 4;
  g.pools.items[3].kind = 1;
  g.pools.items[3].hp = 9;
  EndGame(g);
  EXPECT_EQ(LiveItems(g), 0);
  EXPECT_EQ(g.my.score(), 0);
}
