// The effect ring, the colour shift and the aiming angle.
#include <gtest/gtest.h>

#include "effects/effects.h"
#include "state/game.h"
#include "test_util.h"

namespace {

TEST(EffectRing, FirstEffectGoesToSlotOneAndThe200thToSlotZero) {
  auto t = MakeTestGame();
  Game& g = t->g();
  AddEffect(g, 10, 20, 158);
  EXPECT_EQ(g.fx.ring[1].age, 1);
  EXPECT_EQ(g.fx.ring[1].kind, 158);
  EXPECT_EQ(g.fx.ring[1].x0, 10);
  EXPECT_EQ(g.fx.ring[1].y0, 20);
  for (int i = 0; i < 199; ++i) AddEffect(g, 0, 0, 160);
  EXPECT_EQ(g.fx.cursor, 0);
  EXPECT_EQ(g.fx.ring[0].kind, 160);
}

TEST(EffectRing, LiveAnnouncementsAndDoubleRingsAreNeverOverwritten) {
  auto t = MakeTestGame();
  Game& g = t->g();
  AddEffect(g, 1, 1, 177);
  AddEffect(g, 2, 2, 0, "story");
  AddEffect(g, 3, 3, 158);
  g.fx.cursor = 0;
  AddEffect(g, 9, 9, 160, "x");  // onto the live 177: lost, cursor still moves
  EXPECT_EQ(g.fx.ring[1].kind, 177);
  EXPECT_EQ(g.fx.cursor, 1);
  AddEffect(g, 9, 9, 160);  // onto the live announcement: lost
  EXPECT_EQ(g.fx.ring[2].kind, 0);
  EXPECT_EQ(g.fx.ring[2].text, "story");
  AddEffect(g, 9, 9, 160);  // a live 158 is overwritten
  EXPECT_EQ(g.fx.ring[3].kind, 160);
  // Once a 177 has ended its slot is free for anything.
  g.fx.ring[1].age = 0;
  g.fx.cursor = 0;
  AddEffect(g, 5, 5, 19, "Cool");
  EXPECT_EQ(g.fx.ring[1].kind, 19);
  EXPECT_EQ(g.fx.ring[1].text, "Cool");
}

TEST(EffectRing, LinkEffectsAlwaysOverwriteAndKeepTheOldText) {
  auto t = MakeTestGame();
  Game& g = t->g();
  AddEffect(g, 1, 1, 177, "ring");
  g.fx.cursor = 0;
  g.fx.ring[1].scratch[0] = 1;
  AddLinkEffect(g, 10, 20, 30, 40, 137);
  const EffectSlot& e = g.fx.ring[1];
  EXPECT_EQ(e.kind, 137);
  EXPECT_EQ(e.x0, 10);
  EXPECT_EQ(e.u, 10);
  EXPECT_EQ(e.y0, 20);
  EXPECT_EQ(e.v, 20);
  EXPECT_EQ(e.x, 30);
  EXPECT_EQ(e.y, 40);
  EXPECT_EQ(e.text, "ring");
  EXPECT_EQ(e.scratch[0], 0);
}

TEST(EffectRing, KindsWithoutARuleStayLiveAndAge) {
  auto t = MakeTestGame();
  Game& g = t->g();
  AddEffect(g, 0, 0, 777);
  for (int i = 0; i < 5; ++i) DrawEffects(g);
  EXPECT_EQ(g.fx.ring[1].age, 6);
  ClearEffects(g);
  EXPECT_EQ(g.fx.ring[1].age, 0);
}

TEST(EffectRing, BounceFollowsTheAge) {
  const int expected[] = {-12, -12, -10, 6, 4, -3, -2, 3, 2, -1, 1};
  for (int age = 0; age <= 10; ++age) EXPECT_EQ(BounceOffset(age), expected[age]) << age;
  EXPECT_EQ(BounceOffset(99), 1);
  EXPECT_EQ(BounceOffset(100), 0);
  EXPECT_EQ(BounceOffset(-5), -12);
}

TEST(ShiftColor, SaturatedChannelsSpillHalfTheirExcess) {
  EXPECT_EQ(ShiftColor(0xFFFFFF, 10), 0xFFFFFFu);
  // pure red by +20: red 255 (spill 20), green and blue 20 + 10
  EXPECT_EQ(ShiftColor(0x0000FF, 20), RGB(255, 30, 30));
  EXPECT_EQ(ShiftColor(0x000000, -10), 0x000000u);
  // darkening that bottoms out one channel darkens the others further
  EXPECT_EQ(ShiftColor(RGB(100, 100, 10), -20), RGB(75, 75, 0));
  EXPECT_EQ(ShiftColor(RGB(10, 20, 30), 0), RGB(10, 20, 30));
}

TEST(AngleFromPlayer, CompassPointsAndTheShipItself) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  EXPECT_EQ(AngleFromPlayer(g, 320, 100), 270);
  EXPECT_EQ(AngleFromPlayer(g, 320, 400), 90);
  EXPECT_EQ(AngleFromPlayer(g, 100, 240), 180);
  EXPECT_EQ(AngleFromPlayer(g, 500, 240), 0);
  EXPECT_EQ(AngleFromPlayer(g, 320, 240), 45);
  EXPECT_EQ(AngleFromPlayer(g, 420, 340), 45);
  EXPECT_EQ(AngleFromPlayer(g, 220, 340), 135);
  EXPECT_EQ(AngleFromPlayer(g, 220, 140), 225);
  EXPECT_EQ(AngleFromPlayer(g, 420, 140), 315);
}

}  // namespace
