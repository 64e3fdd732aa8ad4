// The player's volleys, markers, bolts and lasers, and what their hits do.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "combat/player.h"
#include "combat/shots.h"
#include "effects/effects.h"
#include "state/game.h"
#include "test_util.h"

namespace {

// A shot of the given kind that will sit at (x, y) after its next move.
EnemySlot& ShotAt(Game& g, int kind, int x, int y, int size) {
  SpawnShot(g, {.kind = kind, .x = x, .y = y, .size = size});
  EnemySlot& s = g.pools.shots[size_t(g.pools.shot_cursor)];
  if (kind == kShotBolt) s.speed = 0;
  return s;
}

std::vector<EnemySlot> LiveShots(Game& g) {
  std::vector<EnemySlot> out;
  for (const EnemySlot& s : g.pools.shots)
    if (s.timer >= 1) out.push_back(s);
  return out;
}

std::vector<EnemySlot> LiveItems(Game& g) {
  std::vector<EnemySlot> out;
  for (const EnemySlot& s : g.pools.items)
    if (s.timer >= 1) out.push_back(s);
  return out;
}



}  // namespace

TEST(SpawnShot, CursorWrapsAndOverwritesTheOldest) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  g.pools.shot_cursor = 98;
  SpawnShot(g, {.kind = 1, .x = 10, .y = 20, .angle = 45, .speed = 8, .size = 8});
  EXPECT_EQ(g.pools.shot_cursor, 99);
  g.pools.shots[0].timer = 7;  // live: overwritten all the same
  SpawnShot(g, {.kind = 1, .x = 11, .y = 21, .angle = 45, .speed = 8, .size = 8});
  EXPECT_EQ(g.pools.shot_cursor, 0);
  EXPECT_EQ(g.pools.shots[0].timer, 1);
  EXPECT_EQ(g.pools.shots[0].originX, 11);
  EXPECT_EQ(g.pools.shots[0].y, 21);
}

TEST(SpawnShot, BoltTakesItsTargetInsteadOfASpeed) {
  auto t = MakeGameInPlay(HARD, 11);
  Game& g = t->g();
  SpawnShot(g, {.kind = kShotBolt, .x = 320, .y = 240, .angle = 10, .size = 55, .target = 77});
  const EnemySlot& s = g.pools.shots[size_t(g.pools.shot_cursor)];
  EXPECT_EQ(s.lockOn, 77);
  EXPECT_EQ(s.speed, 53);
  SpawnShot(g, {.kind = kShotPlain, .x = 320, .y = 240, .angle = 10, .speed = 9, .size = 8});
  EXPECT_EQ(g.pools.shots[size_t(g.pools.shot_cursor)].lockOn, 0);
  EXPECT_EQ(g.pools.shots[size_t(g.pools.shot_cursor)].speed, 9);
}

TEST(Volley, EasyFiresOneShotTowardThePointer) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  g.input.click = 1;
  g.input.mouse_x = 320;
  g.input.mouse_y = 100;  // straight up
  g.my.shot_size() = 2;
  g.my.shot_speed() = 3;
  ForgetSounds(g);
  UpdatePlayer(g);
  auto shots = LiveShots(g);
  ASSERT_EQ(shots.size(), 1u);
  EXPECT_EQ(shots[0].kind, 1);
  EXPECT_EQ(shots[0].angle, 270);
  EXPECT_EQ(shots[0].speed, 11);
  EXPECT_EQ(shots[0].size, 10);
  EXPECT_EQ(shots[0].originX, 320);
  EXPECT_TRUE(Played(g, "tama.wav"));
}

TEST(Volley, FanPointsLieBehindTheShip) {
  auto t = MakeGameInPlay(SQ, 11);
  Game& g = t->g();
  g.input.click = 1;
  g.input.mouse_x = 600;  // A = 0
  g.my.shot_way() = 1;
  UpdatePlayer(g);
  auto shots = LiveShots(g);
  ASSERT_EQ(shots.size(), 2u);
  // B = (308, 240); fan points 12 px from B at -20 and +20 degrees.
  EXPECT_EQ(shots[0].originX, 319);
  EXPECT_EQ(shots[0].originY, 236);
  EXPECT_EQ(shots[1].originX, 319);
  EXPECT_EQ(shots[1].originY, 244);
  for (const auto& s : shots) {
    EXPECT_EQ(s.angle, 0);
    EXPECT_EQ(s.size, 4);  // half of 8
  }
  g.my.shot_way() = 2;
  for (auto& s : g.pools.shots) s.timer = 0;
  UpdatePlayer(g);
  shots = LiveShots(g);
  ASSERT_EQ(shots.size(), 3u);
  EXPECT_EQ(shots[1].originX, 320);  // the middle fan point is straight ahead of B
  EXPECT_EQ(shots[1].originY, 240);
}

TEST(Volley, ExtreamFiresUpwardWhateverThePointer) {
  auto t = MakeGameInPlay(EXTREAM, 11);
  Game& g = t->g();
  g.input.click = 1;
  g.input.mouse_x = 600;
  g.input.mouse_y = 240;
  g.my.shot_way() = 2;
  UpdatePlayer(g);
  auto shots = LiveShots(g);
  ASSERT_EQ(shots.size(), 3u);
  EXPECT_EQ(shots[0].angle, -91);
  EXPECT_EQ(shots[1].angle, -90);
  EXPECT_EQ(shots[2].angle, -89);
  EXPECT_EQ(shots[0].kind, 1);
}

TEST(Volley, LockOnModesFireMarkers) {
  {
    auto t = MakeGameInPlay(HARD, 11);
    Game& g = t->g();
    g.input.click = 1;
    g.input.mouse_x = 600;
    UpdatePlayer(g);
    auto shots = LiveShots(g);
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0].kind, 2);
    EXPECT_EQ(shots[0].speed, 9);
    EXPECT_EQ(shots[0].angle, 0);
  }
  for (int mode : {NOVA, HELL}) {
    auto t = MakeGameInPlay(mode, 11);
    Game& g = t->g();
    g.input.click = 1;
    g.input.mouse_x = 600;
    g.my.shot_way() = 1;
    UpdatePlayer(g);
    auto shots = LiveShots(g);
    ASSERT_EQ(shots.size(), 2u);
    EXPECT_EQ(shots[0].kind, 2);
    EXPECT_EQ(shots[0].speed, 8);
    EXPECT_EQ(shots[0].angle, -91);
    EXPECT_EQ(shots[1].angle, -89);
  }
}

TEST(Volley, LightFiresThreeDirectionsAndFillsThePoolFast) {
  auto t = MakeGameInPlay(LIGHT, 11);
  Game& g = t->g();
  g.input.click = 1;
  g.input.mouse_x = 600;
  g.my.shot_way() = 2;
  UpdatePlayer(g);
  auto shots = LiveShots(g);
  ASSERT_EQ(shots.size(), 9u);
  std::map<int, int> headings;
  for (const auto& s : shots) {
    headings[s.angle] += 1;
    EXPECT_EQ(s.speed, 7);
  }
  EXPECT_EQ(headings[0], 3);
  EXPECT_EQ(headings[120], 3);
  EXPECT_EQ(headings[240], 3);
  for (int f = 0; f < 20; ++f) UpdatePlayer(g);
  EXPECT_EQ(LiveShots(g).size(), 100u);
}

TEST(Volley, UnknownShotWayFiresNothingButStillSounds) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  g.input.click = 1;
  g.my.shot_way() = 3;
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_TRUE(LiveShots(g).empty());
  EXPECT_TRUE(Played(g, "tama.wav"));
}

TEST(ShotFlight, PositionIsRecomputedFromTheOrigin) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  SpawnShot(g, {.kind = kShotPlain, .x = 100, .y = 100, .speed = 10, .size = 8});
  UpdateShots(g);
  EXPECT_EQ(g.pools.shots[size_t(g.pools.shot_cursor)].x, 120);
  UpdateShots(g);
  EXPECT_EQ(g.pools.shots[size_t(g.pools.shot_cursor)].x, 130);
  EXPECT_EQ(g.pools.shots[size_t(g.pools.shot_cursor)].y, 100);
}

TEST(ShotFlight, ShotLeavingTheFieldIsFreed) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  SpawnShot(g, {.kind = kShotPlain, .x = 600, .y = 100, .speed = 20, .size = 8});
  UpdateShots(g);  // x 640: still touching
  EXPECT_GE(g.pools.shots[size_t(g.pools.shot_cursor)].timer, 1);
  UpdateShots(g);  // x 660: 652 > 640
  EXPECT_EQ(g.pools.shots[size_t(g.pools.shot_cursor)].timer, 0);
}

TEST(ShotFlight, ShotsAreDrawnAsLinesAlongTheirHeading) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  SpawnShot(g, {.kind = kShotPlain, .x = 100, .y = 100, .size = 8});
  SpawnShot(g, {.kind = kShotLaser, .x = 300, .y = 300, .angle = 90, .size = 30});
  g.cg->Clear(0);
  UpdateShots(g);
  EXPECT_EQ(g.cg->GetPixel(108, 100), 0x9900FFu);
  EXPECT_EQ(g.cg->GetPixel(92, 100), 0x9900FFu);
  EXPECT_EQ(g.cg->GetPixel(100, 112), 0u);
  EXPECT_EQ(g.cg->GetPixel(300, 360), 0xEEFFEEu);  // a laser is twice as long
  EXPECT_EQ(g.cg->GetPixel(300, 240), 0xEEFFEEu);
}

TEST(Hits, ShotPowerSpreadsTheDamage) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  g.my.shot_power() = 3;
  std::map<int, int> counts;
  const int n = 8000;
  for (int k = 0; k < n; ++k) {
    PlaceEnemy(g, 5, 200, 200, 10, 1000);
    ShotAt(g, kShotPlain, 200, 200, 5);
    UpdateShots(g);
    counts[1000 - g.pools.enemies[5].hp] += 1;
  }
  // Half the hits do 1; the others 1, 2, 3 or 4 with equal chance.
  EXPECT_EQ(counts.size(), 4u);
  EXPECT_NEAR(counts[1] / double(n), 0.625, 0.03);
  for (int d : {2, 3, 4}) EXPECT_NEAR(counts[d] / double(n), 0.125, 0.02) << d;

  g.my.shot_power() = 0;
  for (int k = 0; k < 200; ++k) {
    PlaceEnemy(g, 5, 200, 200, 10, 1000);
    ShotAt(g, kShotPlain, 200, 200, 5);
    UpdateShots(g);
    EXPECT_EQ(g.pools.enemies[5].hp, 999);
  }
}

TEST(Hits, PlainShotHitsOnlyTheLowerIndex) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 9, 200, 200, 10, 5);
  PlaceEnemy(g, 5, 205, 200, 10, 5);
  ShotAt(g, kShotPlain, 200, 200, 5);
  ForgetSounds(g);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[5].hp, 4);
  EXPECT_EQ(g.pools.enemies[5].flash, 2);
  EXPECT_EQ(g.pools.enemies[9].hp, 5);
  EXPECT_TRUE(HasEffect(g, 160));
  EXPECT_TRUE(Played(g, "enemy_cut.wav"));
  EXPECT_TRUE(LiveShots(g).empty());  // the shot is spent
}

TEST(Hits, BoxesThatShareAnEdgeDoNotTouch) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 5, 215, 200, 10, 5);  // 205 < 205 fails
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[5].hp, 5);
  for (auto& s : g.pools.shots) s.timer = 0;
  PlaceEnemy(g, 5, 214, 200, 10, 5);
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[5].hp, 4);
}

TEST(Hits, LaserPassesThroughAndShrinks) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 3, 200, 200, 5, 50);
  PlaceEnemy(g, 4, 210, 200, 5, 50);
  PlaceEnemy(g, 5, 190, 200, 5, 50);
  EnemySlot& laser = ShotAt(g, kShotLaser, 200, 200, 30);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[3].hp, 49);
  EXPECT_EQ(g.pools.enemies[4].hp, 49);
  EXPECT_EQ(g.pools.enemies[5].hp, 49);
  EXPECT_EQ(laser.size, 27);
  EXPECT_GE(laser.timer, 1);
}

TEST(Hits, FreshLaserEndsOnItsTwentySixthHit) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  for (int i = 1; i <= 27; ++i) PlaceEnemy(g, i, 200, 200, 5, 50);
  EnemySlot& laser = ShotAt(g, kShotLaser, 200, 200, 30);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[26].hp, 49);
  EXPECT_EQ(g.pools.enemies[27].hp, 50);
  EXPECT_EQ(laser.timer, 0);
}

TEST(Hits, LaserKillDropsTheBonusItemToo) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 3, 200, 200, 5, 1, 1);
  ShotAt(g, kShotLaser, 200, 200, 30);
  UpdateShots(g);
  auto items = LiveItems(g);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].kind, 1);
  EXPECT_EQ(items[1].kind, 4);
}

TEST(Hits, EnemyBulletsByMode) {
  // EASY: a shot destroys a bullet, and the bullet drops an item.
  {
    auto t = MakeGameInPlay(EASY, 11);
    Game& g = t->g();
    PlaceEnemy(g, 6, 200, 200, 4, 1, 2);
    ShotAt(g, kShotPlain, 200, 200, 5);
    UpdateShots(g);
    EXPECT_EQ(g.pools.enemies[6].timer, 0);
    EXPECT_EQ(LiveItems(g).size(), 1u);
  }
  // NOVA: shots and markers pass through bullets.
  {
    auto t = MakeGameInPlay(NOVA, 11);
    Game& g = t->g();
    PlaceEnemy(g, 6, 200, 200, 4, 1, 2);
    EnemySlot& shot = ShotAt(g, kShotPlain, 200, 200, 5);
    UpdateShots(g);
    EXPECT_GE(g.pools.enemies[6].timer, 1);
    EXPECT_GE(shot.timer, 1);
    EnemySlot& marker = ShotAt(g, kShotMarker, 200, 200, 5);
    UpdateShots(g);
    EXPECT_EQ(g.pools.enemies[6].lockOn, 0);
    EXPECT_GE(marker.timer, 1);
    ShotAt(g, kShotLaser, 200, 200, 30);
    UpdateShots(g);
    EXPECT_GE(g.pools.enemies[6].timer, 1);
  }
  // HELL: only lasers reach bullets.
  {
    auto t = MakeGameInPlay(HELL, 11);
    Game& g = t->g();
    PlaceEnemy(g, 6, 200, 200, 4, 1, 2);
    ShotAt(g, kShotPlain, 200, 200, 5);
    UpdateShots(g);
    EXPECT_GE(g.pools.enemies[6].timer, 1);
    ShotAt(g, kShotLaser, 200, 200, 30);
    UpdateShots(g);
    EXPECT_EQ(g.pools.enemies[6].timer, 0);
  }
}

TEST(Hits, MarkerMarksWithoutDamage) {
  auto t = MakeGameInPlay(HARD, 11);
  Game& g = t->g();
  PlaceEnemy(g, 42, 200, 200, 10, 1);
  ShotAt(g, kShotMarker, 200, 200, 5);
  ForgetSounds(g);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[42].lockOn, 1);
  EXPECT_EQ(g.pools.enemies[42].hp, 1);
  EXPECT_TRUE(HasEffect(g, 176, "42"));
  EXPECT_TRUE(Played(g, "target.wav"));
  ShotAt(g, kShotMarker, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[42].lockOn, 2);
}

TEST(Hits, BoltIgnoresOthersWhileItsTargetLives) {
  auto t = MakeGameInPlay(HARD, 11);
  Game& g = t->g();
  PlaceEnemy(g, 5, 200, 200, 10, 3);
  PlaceEnemy(g, 10, 500, 50, 10, 3);
  EnemySlot& bolt = ShotAt(g, kShotBolt, 200, 200, 55);
  bolt.lockOn = 10;
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[5].hp, 3);
  EXPECT_GE(bolt.timer, 1);
  // Once its target is gone it hits whatever it meets.
  g.pools.enemies[10].timer = 0;
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[5].hp, 2);
  EXPECT_EQ(bolt.timer, 0);
}

TEST(Hits, FinalBossPartsAreGuardedUntilLateInStageSix) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  g.my.stage() = 6;
  g.pools.boss_slot = 30;
  g.my.distance() = 1900;
  EnemySlot& part = PlaceEnemy(g, 12, 200, 200, 10, 100);
  part.kind = 25;
  part.big = 1;
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(part.hp, 100);
  EXPECT_EQ(part.flash, 2);  // it still flashes
  g.my.distance() = 1901;
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(part.hp, 99);
  // Without a boss, or in another stage, the guard is off.
  g.my.distance() = 100;
  g.pools.boss_slot = 0;
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(part.hp, 98);
  g.pools.boss_slot = 30;
  g.my.stage() = 5;
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(part.hp, 97);
}

TEST(Kills, ItemPlaceByClassAndMode) {
  // Fixed-ship modes: an orbiter's own angle and radius.
  {
    auto t = MakeGameInPlay(EASY, 11);
    Game& g = t->g();
    EnemySlot& e = PlaceEnemy(g, 5, 200, 200, 10, 1);
    e.angle = 77;
    e.radius = 350;
    ShotAt(g, kShotPlain, 200, 200, 5);
    UpdateShots(g);
    auto items = LiveItems(g);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].angle, 77);
    EXPECT_EQ(items[0].radius, 350);
    EXPECT_EQ(items[0].hp, 4);
  }
  // Moving-ship modes and flyers: measured from the ship.
  {
    auto t = MakeGameInPlay(NOVA, 11);
    Game& g = t->g();
    EnemySlot& e = PlaceEnemy(g, 5, 320, 40, 10, 1);
    e.angle = 77;
    e.radius = 999;
    ShotAt(g, kShotPlain, 320, 40, 5);
    UpdateShots(g);
    auto items = LiveItems(g);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].angle, 270);
    EXPECT_EQ(items[0].radius, 200);
  }
  {
    auto t = MakeGameInPlay(EASY, 11);
    Game& g = t->g();
    PlaceEnemy(g, 5, 620, 240, 10, 1, 1).radius = 5;
    ShotAt(g, kShotPlain, 620, 240, 5);
    UpdateShots(g);
    auto items = LiveItems(g);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].angle, 0);
    EXPECT_EQ(items[0].radius, 300);
  }
}

TEST(Kills, GroupWipeOutWithoutBossPaysCoolAndALevelItem) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 5, 200, 200, 10, 1).link = 7;
  PlaceEnemy(g, 6, 400, 400, 10, 1).link = 7;
  EnemySlot& b = PlaceEnemy(g, 7, 100, 100, 3, 1, 2);
  b.link = 7;
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_FALSE(HasEffect(g, 19, "Cool"));  // one member still alive
  EXPECT_GE(b.timer, 1);
  ForgetSounds(g);
  ShotAt(g, kShotPlain, 400, 400, 5);
  UpdateShots(g);
  EXPECT_TRUE(HasEffect(g, 19, "Cool"));
  EXPECT_TRUE(HasEffect(g, 249));
  EXPECT_TRUE(HasEffect(g, 137));  // a line from the last kill to its bullet
  EXPECT_TRUE(Played(g, "item.wav"));
  EXPECT_EQ(b.timer, 0);
  int kinds[5] = {};
  for (const auto& it : LiveItems(g)) kinds[it.kind] += 1;
  EXPECT_EQ(kinds[1], 3);  // two kills and the bullet
  EXPECT_EQ(kinds[2], 1);  // the level-up item
}

TEST(Kills, GroupWipeOutDuringABossGivesNoCoolButBulletsStillPay) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 1, 300, 60, 20, 100).big = 1;
  g.pools.boss_slot = 1;
  PlaceEnemy(g, 5, 200, 200, 10, 1).link = 7;
  EnemySlot& b = PlaceEnemy(g, 7, 100, 100, 3, 1, 2);
  b.link = 7;
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_FALSE(HasEffect(g, 19, "Cool"));
  EXPECT_EQ(b.timer, 0);
  int kinds[5] = {};
  for (const auto& it : LiveItems(g)) kinds[it.kind] += 1;
  EXPECT_EQ(kinds[1], 2);
  EXPECT_EQ(kinds[2], 0);
}

TEST(Kills, OtherGroupsBulletsAndUnlinkedKillsAreLeftAlone) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 5, 200, 200, 10, 1).link = 7;
  EnemySlot& other = PlaceEnemy(g, 7, 100, 100, 3, 1, 2);
  other.link = 8;
  EnemySlot& unlinked_bullet = PlaceEnemy(g, 8, 100, 120, 3, 1, 2);
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_GE(other.timer, 1);
  EXPECT_GE(unlinked_bullet.timer, 1);
  // A lone unlinked enemy is no group.
  PlaceEnemy(g, 9, 300, 300, 10, 1);
  ShotAt(g, kShotPlain, 300, 300, 5);
  g.fx.ring = {};
  UpdateShots(g);
  EXPECT_FALSE(HasEffect(g, 19, "Cool"));
}

TEST(Kills, KindThirteenShakesTheScreen) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  PlaceEnemy(g, 5, 200, 200, 10, 1).kind = 13;
  ShotAt(g, kShotPlain, 200, 200, 5);
  UpdateShots(g);
  EXPECT_EQ(g.run.shake, 10);
  EXPECT_TRUE(HasEffect(g, 177));
}

TEST(Kills, LastBigKillClearsTheStage) {
  auto t = MakeGameInPlay(EASY, 11);
  Game& g = t->g();
  EnemySlot& boss = PlaceEnemy(g, 30, 320, 60, 20, 1);
  boss.big = 1;
  boss.kind = 11;
  boss.angle = 270;
  boss.radius = 180;
  g.pools.boss_slot = 30;
  g.my.chain_count() = 5;
  g.my.chain_link() = 3;
  EnemySlot& small = PlaceEnemy(g, 40, 100, 100, 5, 60);
  small.angle = 12;
  small.radius = 250;
  EnemySlot& off_field = PlaceEnemy(g, 41, 700, 100, 5, 1);
  ForgetSounds(g);
  ShotAt(g, kShotPlain, 320, 60, 5);
  UpdateShots(g);
  EXPECT_EQ(boss.timer, 0);
  EXPECT_EQ(boss.big, 0);
  EXPECT_EQ(g.run.stage_end_countdown, 100);
  EXPECT_EQ(g.pools.boss_slot, 0);
  EXPECT_EQ(g.my.chain_count(), 0);
  EXPECT_EQ(g.run.shake, 15);
  EXPECT_EQ(g.run.backdrop_on, 1);  // "clear.jpg"
  EXPECT_TRUE(Played(g, "boss.wav"));
  ASSERT_FALSE(t->audio.music.empty());
  EXPECT_EQ(t->audio.music.back(), "");  // the music stops
  EXPECT_EQ(small.timer, 0);  // however tough, it goes
  EXPECT_GE(off_field.timer, 1);
  std::vector<EnemySlot> points;
  for (const auto& it : LiveItems(g))
    if (it.kind == 3) points.push_back(it);
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].angle, 270);
  EXPECT_EQ(points[0].radius, 180);
  EXPECT_EQ(points[0].size, 50);
}

TEST(Kills, OneOfTwoBigSlotsIsNoStageClear) {
  auto t = MakeGameInPlay(HELL, 11);
  Game& g = t->g();
  PlaceEnemy(g, 30, 320, 60, 20, 1).big = 1;
  PlaceEnemy(g, 31, 320, 420, 20, 100).big = 1;  // the twin
  g.pools.boss_slot = 31;
  ShotAt(g, kShotLaser, 320, 60, 30);
  UpdateShots(g);
  EXPECT_EQ(g.pools.enemies[30].timer, 0);
  EXPECT_EQ(g.run.stage_end_countdown, 0);
  EXPECT_EQ(g.pools.boss_slot, 31);
}

TEST(Burst, MarksTurnIntoBoltsAndEveryShotVanishes) {
  auto t = MakeGameInPlay(HARD, 11);
  Game& g = t->g();
  EnemySlot& a = PlaceEnemy(g, 7, 500, 240, 10, 5);
  a.lockOn = 2;
  EnemySlot& dead = PlaceEnemy(g, 9, 320, 100, 10, 5);
  dead.lockOn = 1;
  dead.timer = 0;  // died after being marked
  SpawnShot(g, {.kind = kShotPlain, .x = 10, .y = 10, .speed = 5, .size = 8});
  SpawnShot(g, {.kind = kShotMarker, .x = 10, .y = 10, .speed = 5, .size = 8});
  g.run.burst_request = 1;
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_EQ(g.run.burst_request, 0);
  EXPECT_TRUE(Played(g, "bom3.wav"));
  EXPECT_TRUE(HasEffect(g, 397));
  auto shots = LiveShots(g);
  ASSERT_EQ(shots.size(), 3u);
  std::map<int, int> targets;
  for (const auto& s : shots) {
    EXPECT_EQ(s.kind, 3);
    EXPECT_EQ(s.size, 55);
    EXPECT_EQ(s.speed, 53);
    targets[s.lockOn] += 1;
  }
  EXPECT_EQ(targets[7], 2);
  EXPECT_EQ(targets[9], 1);
  EXPECT_EQ(a.lockOn, 0);
  EXPECT_EQ(dead.lockOn, 0);
  // The bolt toward the dead slot heads for its last place (straight up).
  for (const auto& s : shots)
    if (s.lockOn == 9) {
      EXPECT_EQ(s.angle, 270);
    }
}

TEST(Burst, WithoutMarksStillClearsTheShots) {
  auto t = MakeGameInPlay(NOVA, 11);
  Game& g = t->g();
  SpawnShot(g, {.kind = kShotMarker, .x = 10, .y = 10, .speed = 5, .size = 8});
  g.run.burst_request = 1;
  ForgetSounds(g);
  UpdatePlayer(g);
  EXPECT_TRUE(LiveShots(g).empty());
  EXPECT_TRUE(Played(g, "bom3.wav"));
}

TEST(Burst, HellRightPressNeedsLevelTwo) {
  {
    auto t = MakeGameInPlay(HELL, 11);
    Game& g = t->g();
    g.my.level = 1;
    g.input.click = 2;
    g.pools.enemies[7].lockOn = 1;
    UpdatePlayer(g);
    EXPECT_TRUE(LiveShots(g).empty());
    EXPECT_EQ(g.pools.enemies[7].lockOn, 1);
    EXPECT_EQ(g.my.time_stop, 0);
  }
  {
    auto t = MakeGameInPlay(HELL, 11);
    Game& g = t->g();
    g.my.level = 2;
    g.input.click = 2;
    PlaceEnemy(g, 7, 320, 100, 10, 5).lockOn = 1;
    UpdatePlayer(g);
    auto shots = LiveShots(g);
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0].kind, 3);
    EXPECT_EQ(g.my.time_stop, 29);  // the time stop starts (and runs) in the same frame
    EXPECT_EQ(g.input.click, 0);
  }
}

TEST(Burst, BoltFliesAndSteersTowardItsTarget) {
  auto t = MakeGameInPlay(HARD, 11);
  Game& g = t->g();
  PlaceEnemy(g, 7, 320, 40, 10, 50).lockOn = 1;
  g.run.burst_request = 1;
  UpdatePlayer(g);
  g.pools.enemies[7].x = 520;  // the target slips aside
  g.pools.enemies[7].y = 240;
  g.bak->Clear(0);
  UpdateShots(g);
  const EnemySlot& bolt = g.pools.shots[size_t(g.pools.shot_cursor)];
  // First move: one step along the old heading.
  EXPECT_EQ(bolt.x, PolarX(320, 270, 53));
  EXPECT_EQ(bolt.y, PolarY(240, 270, 53));
  EXPECT_LT(bolt.y, 190);
  EXPECT_EQ(bolt.angle, 0);     // new heading from the next frame
  // It is drawn on the glow canvas as well as on the field.
  int lit = 0;
  for (int y = 180; y <= 245; ++y)
    for (int x = 300; x <= 340; ++x) lit += g.bak->GetPixel(x, y) != 0;
  EXPECT_GT(lit, 20);
}
