// The graphic effect kinds: lifetimes, the stage card and warning directors,
// ring and arc radii, particle blocks, markers and the canvases they draw on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/effect_draw.h"
#include "assets/pictures.h"
#include "effects/effects.h"
#include "test_util.h"

namespace {

// One composed frame reduced to what the effects need: clear both canvases,
// step and draw the ring, OR the glow canvas onto the field.
void Frame(Game& g, bool compose = true) {
  g.run.frame_no = (g.run.frame_no + 1) % 1000;
  g.cg->Clear(0);
  g.bak->Clear(0);
  g.cg->SetPen(0, 1);
  g.cg->SetBrush(0);
  g.bak->SetPen(0, 1);
  g.bak->SetBrush(0);
  DrawEffects(g);
  if (compose) g.cg->OrFrom(*g.bak, 0, 0, 640, 480, 0, 0);
}

int Spawn(Game& g, int x, int y, int kind, const std::string& text = "") {
  AddEffect(g, x, y, kind, text);
  return g.fx.cursor;
}

int LitPixels(const Canvas& c) {
  int n = 0;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x)
      if (c.GetPixel(x, y) != 0) ++n;
  return n;
}

struct Life {
  int drawn = 0;      // frames on which the rule ran
  int last_age = 0;   // the age of its last drawing
  int final_age = 0;  // the slot's age once freed
};

Life LiveOut(Game& g, int slot, int max_frames = 400) {
  Life l;
  EffectSlot& e = g.fx.ring[size_t(slot)];
  for (int f = 0; f < max_frames && e.age >= 1; ++f) {
    int before = e.age;
    Frame(g);
    ++l.drawn;
    l.last_age = before + 1;
  }
  l.final_age = e.age;
  return l;
}

struct Queued {
  int at_age;
  int kind;
  std::string text;
  int x, y;
  bool operator==(const Queued& o) const {
    return at_age == o.at_age && kind == o.kind && text == o.text && x == o.x && y == o.y;
  }
};

// Runs a director to its end and lists what it queued, by its own age.
std::vector<Queued> RunDirector(Game& g, int slot) {
  std::vector<Queued> out;
  EffectSlot& d = g.fx.ring[size_t(slot)];
  while (d.age >= 1) {
    int age = d.age + 1;
    int c0 = g.fx.cursor;
    Frame(g);
    for (int i = c0; i != g.fx.cursor;) {
      i = (i + 1) % kEffectSlots;
      const EffectSlot& e = g.fx.ring[size_t(i)];
      out.push_back({age, e.kind, e.text, e.x, e.y});
    }
  }
  return out;
}

bool Loaded(TestGame& t, const std::string& name) {
  for (const std::string& p : t.audio.loads)
    if (p.size() >= name.size() && p.compare(p.size() - name.size(), name.size(), name) == 0)
      return true;
  return false;
}

}  // namespace

TEST(EffectsLifetime, EveryKindFreesItsSlotAfterItsLastAge) {
  struct Case {
    int kind;
    int last_age;
  };
  // The last drawing is at the first age past the kind's lifetime.
  const Case cases[] = {{0, 51},    {1, 131},   {18, 44},   {19, 44},   {137, 5},   {158, 27},
                        {160, 18},  {161, 63},  {168, 23},  {170, 21},  {176, 6},   {177, 51},
                        {179, 17},  {180, 18},  {189, 18},  {249, 17},  {276, 6},   {280, 18},
                        {319, 44},  {325, 44},  {329, 44},  {391, 100}, {392, 100}, {393, 100},
                        {394, 80},  {395, 16},  {396, 16},  {397, 16},  {491, 100}, {492, 80},
                        {493, 100}, {494, 80}};
  for (const Case& c : cases) {
    auto t = MakeFxGame();
    Game& g = t->g();
    g.my.lives = 3;
    g.pools.enemies[7].timer = 5;
    int slot;
    if (c.kind == 137) {
      AddLinkEffect(g, 100, 100, 300, 200, 137);
      slot = g.fx.cursor;
    } else {
      slot = Spawn(g, 320, 240, c.kind, c.kind == 176 ? "7" : c.kind == 393 || c.kind == 493 ? "300" : "Go");
    }
    Life l = LiveOut(g, slot);
    EXPECT_EQ(l.last_age, c.last_age) << "kind " << c.kind;
    EXPECT_EQ(l.final_age, 0) << "kind " << c.kind;
    bool double_step = c.kind == 18 || c.kind == 19 || (c.kind >= 319 && c.kind <= 329);
    EXPECT_EQ(l.drawn, double_step ? 22 : c.last_age - 1) << "kind " << c.kind;
  }
}

TEST(EffectsLifetime, KindsWithoutARuleStayLiveAndDrawNothing) {
  for (int kind : {2, 100, 330, 345, 600}) {
    auto t = MakeFxGame();
    Game& g = t->g();
    int slot = Spawn(g, 320, 240, kind, "12");
    for (int f = 0; f < 300; ++f) Frame(g);
    EXPECT_EQ(g.fx.ring[size_t(slot)].age, 301) << "kind " << kind;
    EXPECT_EQ(LitPixels(*g.cg), 0) << "kind " << kind;
    EXPECT_FALSE(DrawEffectKind(g, slot, 0));
  }
}

TEST(StageCard, QueuesItsPartsAtTheirAges) {
  auto t = MakeFxGame();
  Game& g = t->g();
  g.my.stage() = 1;
  const std::string title = "< Welcome to moonlit world >";
  int slot = Spawn(g, 320, 240, 392, title);
  std::vector<Queued> got = RunDirector(g, slot);
  std::vector<Queued> want = {
      {2, 395, "", 320, 240},        {2, 391, "", 320, 240},    {2, 393, "420", 320, 240},
      {4, 393, "380", 320, 240},     {5, 393, "390", 320, 240}, {11, 393, "450", 320, 240},
      {15, 393, "320", 320, 240},    {15, 394, "STAGE 1", 320, 200},
      {16, 394, title, 320, 280},    {85, 395, "", 320, 240},
  };
  EXPECT_EQ(got, want);
  EXPECT_TRUE(Loaded(*t, "/stage.wav"));
}

TEST(StageCard, StageLineUsesTheStageNumberAtAge15) {
  auto t = MakeFxGame();
  Game& g = t->g();
  g.my.stage() = 1;
  int slot = Spawn(g, 320, 240, 392, "< X >");
  for (int f = 0; f < 10; ++f) Frame(g);
  g.my.stage() = 4;
  std::vector<Queued> got = RunDirector(g, slot);
  bool found = false;
  for (const Queued& q : got)
    if (q.kind == 394 && q.at_age == 15) found = q.text == "STAGE 4";
  EXPECT_TRUE(found);
}

TEST(StageCard, PartsLostWhenTheirSlotHoldsALiveDoubleRingOrAnnouncement) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int card = Spawn(g, 320, 240, 392, "< X >");  // slot 1
  Spawn(g, 100, 100, 177);                      // slot 2
  Spawn(g, 320, 150, 0, "hello");               // slot 3
  g.fx.cursor = card;
  Frame(g);  // the card queues 395, 391 and 393 at slots 2, 3, 4
  EXPECT_EQ(g.fx.ring[2].kind, 177);
  EXPECT_EQ(g.fx.ring[3].kind, 0);
  EXPECT_EQ(g.fx.ring[3].text, "hello");
  EXPECT_EQ(g.fx.ring[4].kind, 393);
  EXPECT_EQ(g.fx.ring[4].text, "420");
  EXPECT_EQ(g.fx.cursor, 4);
}

TEST(BossWarning, QueuesArcsBandAndDangerAtTheirAges) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 240, 491);
  std::vector<Queued> got = RunDirector(g, slot);
  std::string band;
  for (int i = 0; i < 8; ++i) band += "EMERGENCY ";
  std::vector<Queued> want = {{2, 395, "", 320, 240}};
  for (int age = 4; age <= 20; ++age) {
    if (age <= 12) want.push_back({age, 493, std::to_string(300 + 10 * (age - 3)), 320, 240});
    if (age == 10) want.push_back({age, 492, band, 320, 240});
    if (age >= 12) want.push_back({age, 493, std::to_string(400 + 20 * (age - 11)), 320, 240});
    if (age == 15) {
      want.push_back({age, 494, "D A N G E R", 320, 170});
      want.push_back({age, 494, "D A N G E R", 320, 310});
    }
  }
  want.push_back({85, 395, "", 320, 240});
  EXPECT_EQ(got, want);
  EXPECT_TRUE(Loaded(*t, "/警告音.wav"));
  // At age 12 the inner arcs end with 390 and the outer ones start with 420.
  int i390 = -1, i420 = -1;
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].text == "390") i390 = int(i);
    if (got[i].text == "420") i420 = int(i);
  }
  EXPECT_EQ(i420, i390 + 1);
  EXPECT_EQ(got[size_t(i390)].at_age, 12);
}

TEST(BossWarning, ClearEffectsEndsItAndItsParts) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 240, 491);
  for (int f = 0; f < 20; ++f) Frame(g);
  ClearEffects(g);
  Frame(g);
  EXPECT_EQ(LitPixels(*g.cg), 0);
}

TEST(Rings, RadiiOpenAsListed) {
  struct Case {
    int kind;
    std::vector<int> radii;
  };
  const Case cases[] = {{395, {40, 190, 264, 300, 317, 325, 328, 329, 330}},
                        {396, {40, 190, 264, 300, 317, 325, 328, 329, 330}},
                        {397, {40, 140, 189, 213, 224, 229, 231, 232, 233}}};
  for (const Case& c : cases) {
    auto t = MakeFxGame();
    Game& g = t->g();
    int slot = Spawn(g, 320, 240, c.kind);
    std::vector<int> drawn;
    for (size_t f = 0; f < c.radii.size(); ++f) {
      // After the first frame the radius drawn is the one the last frame left.
      if (f > 0) drawn.push_back(g.fx.ring[size_t(slot)].u);
      Frame(g);
      if (f == 0) drawn.push_back(40);
    }
    EXPECT_EQ(drawn, c.radii) << "kind " << c.kind;
  }
}

TEST(ClosingArcs, RadiusDropsBy100_49_24_11_5_2ThenOne) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 240, 393, "420");
  std::vector<int> drawn = {420};
  Frame(g);
  for (int f = 0; f < 9; ++f) {
    drawn.push_back(g.fx.ring[size_t(slot)].u);
    Frame(g);
  }
  EXPECT_EQ(drawn, (std::vector<int>{420, 320, 271, 247, 236, 231, 229, 228, 227, 226}));
}

TEST(ClosingArcs, BracketsSitAboveAndBelowAndGrowBySegments) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 240, 393, "200");
  Frame(g, false);  // age 2: one segment each side of 90 and 270 degrees
  const Canvas& bak = *g.bak;
  EXPECT_NE(bak.GetPixel(320, 439), 0u);  // 240 + trunc(sin(90) * 200) with 3.1415
  EXPECT_NE(bak.GetPixel(320, 41), 0u);
  EXPECT_EQ(bak.GetPixel(520, 240), 0u);
  EXPECT_EQ(bak.GetPixel(120, 240), 0u);
  EXPECT_EQ(LitPixels(*g.cg), 0);  // glows on bak only
  Frame(g, false);  // age 3, radius 100: the brackets reach 20 degrees each way
  for (int a : {70, 110, 250, 290}) EXPECT_NE(g.bak->GetPixel(PolarX(320, a, 100), PolarY(240, a, 100)), 0u) << a;
  for (int a : {55, 125, 235, 305}) EXPECT_EQ(g.bak->GetPixel(PolarX(320, a, 100), PolarY(240, a, 100)), 0u) << a;

  using fx::ArcSegments;
  EXPECT_EQ(ArcSegments(2, 7).hi, 0);
  EXPECT_EQ(ArcSegments(20, 7).hi, 7);
  EXPECT_EQ(ArcSegments(20, 6).hi, 6);
  EXPECT_EQ(ArcSegments(73, 7).lo, 3);
  EXPECT_EQ(ArcSegments(90, 7).lo, 7);
  EXPECT_GT(ArcSegments(77, 6).lo, ArcSegments(77, 6).hi);  // side brackets gone
}

TEST(ClosingArcs, RadiusTextThatIsNotANumberClosesFromZero) {
  for (const char* text : {"", "abc", "12x", "99999999999"}) {
    auto t = MakeFxGame();
    Game& g = t->g();
    int slot = Spawn(g, 320, 240, 493, text);
    Frame(g);
    EXPECT_EQ(g.fx.ring[size_t(slot)].u, -100) << text;  // 0, then closing by 100
    EXPECT_EQ(LiveOut(g, slot).last_age, 100) << text;
  }
}

TEST(SideBrackets, DrawOnTheFieldAndShowOnlyTheLastDotOfReadyAtFirst) {
  auto t = MakeFxGame();
  Game& g = t->g();
  // Anchored so "ready.." sits at y 240 at age 2 (radius 400); the brackets are off the field.
  Spawn(g, 320, -160, 391);
  Frame(g, false);
  EXPECT_EQ(LitPixels(*g.bak), 0);
  int lit = 0, minx = 640, maxx = -1, miny = 480, maxy = -1;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      if (g.cg->GetPixel(x, y) != 0) {
        ++lit;
        minx = std::min(minx, x);
        maxx = std::max(maxx, x);
        miny = std::min(miny, y);
        maxy = std::max(maxy, y);
      }
  ASSERT_GT(lit, 0);
  EXPECT_LE(maxx - minx, 4);  // one "." only
  EXPECT_NEAR((minx + maxx) / 2, 320, 3);
  EXPECT_NEAR((miny + maxy) / 2, 240, 6);
}

TEST(Particles, CreatedOnTheFirstFrameInTheScratchBlock) {
  auto t = MakeFxGame();
  Game& g = t->g();
  g.run.frame_no = 2;  // the first frame is 3: sizes do not shrink yet
  int slot = Spawn(g, 200, 150, 160);
  EffectSlot& e = g.fx.ring[size_t(slot)];
  EXPECT_EQ(e.scratch[0], 0);
  Frame(g);
  EXPECT_EQ(e.scratch[0], 1);
  for (int k = 0; k < fx::kParticles; ++k) {
    int base = 3 + 11 * k;
    int angle = e.scratch[base], cx = e.scratch[base + 1], cy = e.scratch[base + 2];
    int dist = e.scratch[base + 3], speed = e.scratch[base + 4], size = e.scratch[base + 5];
    int page = e.scratch[base + 7];
    EXPECT_GE(angle, 0);
    EXPECT_LT(angle, 360);
    EXPECT_EQ(cx, 200);
    EXPECT_EQ(cy, 150);
    EXPECT_GE(speed, 7);  // 10..19, then 3 slower
    EXPECT_LE(speed, 16);
    EXPECT_EQ(dist, 5 + speed);
    EXPECT_GE(size, 1);
    EXPECT_LE(size, 3);
    EXPECT_GE(page, 2);
    EXPECT_LE(page, 10);
  }
  EXPECT_GT(LitPixels(*g.cg), 0);
}

TEST(Particles, ReusedSlotStartsWithFreshParticles) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 200, 150, 160);
  for (int f = 0; f < 8; ++f) Frame(g);
  EffectSlot& e = g.fx.ring[size_t(slot)];
  for (int k = 0; k < fx::kParticles; ++k) EXPECT_GE(e.scratch[3 + 11 * k + 7], 9);
  g.fx.cursor = slot - 1;
  Spawn(g, 400, 300, 160);
  EXPECT_EQ(e.scratch[0], 0);
  Frame(g);
  for (int k = 0; k < fx::kParticles; ++k) {
    EXPECT_LE(e.scratch[3 + 11 * k + 7], 10);
    EXPECT_EQ(e.scratch[3 + 11 * k + 1], 400);
  }
}

TEST(Particles, DiagonalSparksFlyApartInPairs) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 300, 200, 158);
  Frame(g);
  EffectSlot& e = g.fx.ring[size_t(slot)];
  for (int k = 0; k < fx::kParticles; ++k) {
    int x = e.scratch[3 + 11 * k + 1], y = e.scratch[3 + 11 * k + 2];
    // Odd sparks move down-right, even ones up-left, from 2..8 pixels up-left of the point.
    int lo = k % 2 == 1 ? -8 + 6 : -8 - 8, hi = k % 2 == 1 ? -2 + 8 : -2 - 6;
    EXPECT_GE(x - 300, lo);
    EXPECT_LE(x - 300, hi);
    EXPECT_GE(y - 200, lo);
    EXPECT_LE(y - 200, hi);
  }
}

TEST(Particles, StreaksOfTimeStopFlyInward) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 240, 168);
  Frame(g);
  EffectSlot& e = g.fx.ring[size_t(slot)];
  std::vector<int> d0;
  for (int k = 0; k < fx::kParticles; ++k) d0.push_back(e.scratch[3 + 11 * k + 3]);
  Frame(g);
  for (int k = 0; k < fx::kParticles; ++k) EXPECT_LT(e.scratch[3 + 11 * k + 3], d0[size_t(k)]);
}

TEST(Particles, GreenAndPickupStreaksDrawOnTheFieldOthersGlow) {
  for (int kind : {158, 160, 161, 168, 180, 189, 280}) {
    auto t = MakeFxGame();
    Game& g = t->g();
    Spawn(g, 320, 240, kind);
    Frame(g, false);
    bool on_field = kind == 180 || kind == 280;
    EXPECT_EQ(LitPixels(*g.cg) > 0, on_field) << "kind " << kind;
    EXPECT_EQ(LitPixels(*g.bak) > 0, !on_field) << "kind " << kind;
  }
}

TEST(Particles, ItemRingOpens30_50_63_71) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 240, 189);
  std::vector<int> drawn = {30};
  for (int f = 0; f < 4; ++f) {
    Frame(g);
    drawn.push_back(g.fx.ring[size_t(slot)].v);
  }
  drawn.pop_back();
  EXPECT_EQ(drawn, (std::vector<int>{30, 50, 63, 71}));
}

TEST(Markers, LockOnShrinksOntoItsEnemyAndStopsWhenTheEnemyIsGone) {
  auto t = MakeFxGame();
  Game& g = t->g();
  g.pools.enemies[42].timer = 3;
  g.pools.enemies[42].x = 400;
  g.pools.enemies[42].y = 300;
  int slot = Spawn(g, 0, 0, 176, "42");
  EffectSlot& e = g.fx.ring[size_t(slot)];
  std::vector<int> radii;
  for (int f = 0; f < 3; ++f) {
    Frame(g);
    radii.push_back(e.u);
    EXPECT_GT(LitPixels(*g.cg), 0);
  }
  g.pools.enemies[42].timer = 0;
  Frame(g);
  EXPECT_EQ(LitPixels(*g.cg), 0);
  EXPECT_EQ(e.age, 5);
  Frame(g);
  EXPECT_EQ(e.age, 0);
  EXPECT_EQ(radii, (std::vector<int>{100, 51, 27}));
}

TEST(Markers, LockOnIgnoresAnIndexOutsideThePool) {
  for (const char* text : {"700", "-1", "abc", ""}) {
    auto t = MakeFxGame();
    Game& g = t->g();
    int slot = Spawn(g, 0, 0, 176, text);
    Life l = LiveOut(g, slot);
    EXPECT_EQ(l.last_age, 6) << text;
    EXPECT_EQ(LitPixels(*g.cg), 0) << text;
  }
}

TEST(Markers, PlayerLockOnDrawsOnlyWhileTheShipHasLives) {
  auto t = MakeFxGame();
  Game& g = t->g();
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  g.my.lives = 0;
  int slot = Spawn(g, 0, 0, 276);
  Frame(g);
  EXPECT_EQ(LitPixels(*g.cg), 0);
  g.my.lives = 1;
  Frame(g);
  EXPECT_GT(LitPixels(*g.cg), 0);
  // The square is centred on the ship: r = 100 at its first drawn frame.
  EXPECT_EQ(g.fx.ring[size_t(slot)].u, 100);
}

TEST(Markers, LinkLineDrawsOnBothCanvases) {
  auto t = MakeFxGame();
  Game& g = t->g();
  AddLinkEffect(g, 100, 100, 300, 250, 137);
  Frame(g, false);
  EXPECT_GT(LitPixels(*g.cg), 0);
  EXPECT_GT(LitPixels(*g.bak), 0);
  // The walk leaves from the first point.
  EXPECT_NE(g.cg->GetPixel(100, 100), 0u);
  EXPECT_EQ(g.cg->PenWidth(), 1);
  EXPECT_EQ(g.bak->PenWidth(), 1);
}

TEST(Markers, LaserDotIsThreeRoundLayers) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 240, 170);
  Frame(g);  // age 2: widths 60, 21, 18; colours of h = 1
  EXPECT_EQ(g.cg->GetPixel(320, 240), 0xFFFFDDu);
  EXPECT_EQ(g.cg->GetPixel(320 + 25, 240), 0xDD0000u);
  EXPECT_EQ(g.cg->GetPixel(320, 240 - 25), 0xDD0000u);
  EXPECT_EQ(g.cg->GetPixel(320 + 10, 240), 0xFFDDBBu);
  EXPECT_EQ(g.cg->GetPixel(320 + 35, 240), 0u);
}

TEST(Composition, BlackNeverShowsThroughTheGlowCanvas) {
  auto t = MakeFxGame();
  Game& g = t->g();
  g.my.lives = 2;
  Spawn(g, 320, 150, 0, "月の海の上、静かな航路が続いている。");
  Spawn(g, 640, 450, 1, "ZRK byCorvane.mp3");
  Spawn(g, 200, 300, 18, "1000");
  Spawn(g, 300, 300, 19, "Cool");
  Spawn(g, 400, 300, 322, "12 CHAIN");
  Spawn(g, 320, 240, 177);
  Spawn(g, 320, 240, 160);
  Spawn(g, 320, 240, 491);
  for (int f = 0; f < 40; ++f) {
    g.run.frame_no = (g.run.frame_no + 1) % 1000;
    g.cg->Clear(0x808080);
    g.bak->Clear(0);
    DrawEffects(g);
    g.cg->OrFrom(*g.bak, 0, 0, 640, 480, 0, 0);
    int dark = 0;
    for (int y = 0; y < 480; y += 2)
      for (int x = 0; x < 640; x += 2)
        if ((g.cg->GetPixel(x, y) & 0x808080) != 0x808080) ++dark;
    ASSERT_EQ(dark, 0) << "frame " << f;
  }
}
