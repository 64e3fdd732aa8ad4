// Text effects: the typed announcement, the music ticker, hopping reward
// texts, chain texts and the typed lines of the stage card.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "assets/pictures.h"
#include "effects/effects.h"
#include "test_util.h"

namespace {

void Frame(Game& g) {
  g.run.frame_no = (g.run.frame_no + 1) % 1000;
  g.cg->Clear(0);
  g.bak->Clear(0);
  g.bak->SetPen(0, 1);
  g.bak->SetBrush(0);
  DrawEffects(g);
}

int Spawn(Game& g, int x, int y, int kind, const std::string& text) {
  AddEffect(g, x, y, kind, text);
  return g.fx.cursor;
}

struct Box {
  int x0 = 100000, y0 = 100000, x1 = -1, y1 = -1;
  bool empty() const { return x1 < 0; }
  int cx() const { return (x0 + x1) / 2; }
  int cy() const { return (y0 + y1) / 2; }
  int h() const { return y1 - y0 + 1; }
  int w() const { return x1 - x0 + 1; }
};

Box LitBox(const Canvas& c, int top = 0, int bottom = 479) {
  Box b;
  for (int y = std::max(top, 0); y <= std::min(bottom, c.Height() - 1); ++y)
    for (int x = 0; x < c.Width(); ++x)
      if (c.GetPixel(x, y) != 0) {
        b.x0 = std::min(b.x0, x);
        b.x1 = std::max(b.x1, x);
        b.y0 = std::min(b.y0, y);
        b.y1 = std::max(b.y1, y);
      }
  return b;
}

// The box a text would light when drawn alone with the given font.
Box Reference(Game& g, int x, int y, const std::string& text, int size, bool italic = false,
              uint32_t colour = 0xFFFFFF) {
  Canvas c(640, 480, g.pf.fonts);
  c.Clear(0);
  c.SetBrushSolid(false);
  c.SetFontSize(size);
  c.SetFontBold(true);
  c.SetFontItalic(italic);
  c.SetFontColor(colour);
  c.TextOut(x, y, text);
  return LitBox(c);
}

// The most common lit colour: the colour of fully covered text pixels.
uint32_t MainColour(const Canvas& c) {
  std::map<uint32_t, int> n;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x)
      if (uint32_t p = c.GetPixel(x, y)) ++n[p];
  uint32_t best = 0;
  int most = 0;
  for (auto& [colour, count] : n)
    if (count > most) {
      best = colour;
      most = count;
    }
  return best;
}

// Steps one frame and tells whether the typing click sounded in it.
bool FrameClicks(Game& g) {
  g.sound.last.clear();
  Frame(g);
  return g.sound.last == "moji.wav";
}

}  // namespace

TEST(HoppingText, SmallTextHopsThenSinks) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 300, 19, "Cool");
  std::vector<int> ys;
  for (int f = 0; f < 7; ++f) {
    Frame(g);
    ys.push_back(g.fx.ring[size_t(slot)].y);
  }
  EXPECT_EQ(ys, (std::vector<int>{290, 294, 292, 294, 295, 296, 297}));
  // The text is drawn at that y: its glyphs start a little below it.
  Box b = LitBox(*g.bak);
  ASSERT_FALSE(b.empty());
  EXPECT_GE(b.y0, 297);
  EXPECT_LE(b.y0, 297 + 8);
}

TEST(HoppingText, BonusNumberHopsThenRises) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 300, 18, "500");
  std::vector<int> ys;
  for (int f = 0; f < 6; ++f) {
    Frame(g);
    ys.push_back(g.fx.ring[size_t(slot)].y);
  }
  EXPECT_EQ(ys, (std::vector<int>{288, 290, 286, 286, 285, 284}));
}

TEST(HoppingText, AgesTwoStepsAFrameAndIsDrawnAtEvenAges) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 300, 19, "Cool");
  for (int f = 1; f <= 21; ++f) {
    Frame(g);
    EXPECT_EQ(g.fx.ring[size_t(slot)].age, 2 * f + 1);
  }
  Frame(g);  // drawn at age 44, then freed
  EXPECT_EQ(g.fx.ring[size_t(slot)].age, 0);
  EXPECT_FALSE(LitBox(*g.bak).empty());
}

TEST(HoppingText, LongBonusNumbersAreLarger) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 200, 300, 18, "12");
  Frame(g);
  Box small = LitBox(*g.bak);
  ClearEffects(g);
  Spawn(g, 200, 300, 18, "12345");
  Frame(g);
  Box five = LitBox(*g.bak);
  // Five digits: size 5 + 5 = 10; two digits: size 8.
  EXPECT_EQ(five.w(), Reference(g, 100, 100, "12345", 10).w());
  EXPECT_GT(five.w(), Reference(g, 100, 100, "12345", 8).w());
  EXPECT_EQ(small.w(), Reference(g, 100, 100, "12", 8).w());
}

TEST(HoppingText, CentredByTheFieldCanvasFont) {
  auto t = MakeFxGame();
  Game& g = t->g();
  for (int size : {8, 30}) {
    ClearEffects(g);
    g.cg->SetFontSize(size);
    g.cg->SetFontBold(true);
    int expected_x = 320 - g.cg->TextWidth("Cool") / 2;
    int y = 300;
    Spawn(g, 320, y + 10, 19, "Cool");  // the first hop lifts it by 10
    g.bak->Clear(0);
    g.run.frame_no += 1;
    DrawEffects(g);
    Box b = LitBox(*g.bak);
    Box want = Reference(g, expected_x, y, "Cool", 8);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.x0, want.x0) << "field font size " << size;
  }
}

TEST(HoppingText, FadesThroughGreyToDark) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 300, 19, "COOL COOL");
  std::map<int, uint32_t> colour_at;
  for (int f = 1; f <= 22; ++f) {
    Frame(g);
    colour_at[2 * f] = MainColour(*g.bak);
  }
  EXPECT_EQ(colour_at[28], 0xFFFFFFu);
  EXPECT_EQ(colour_at[30], 0xDDDDDDu);
  EXPECT_EQ(colour_at[36], 0x555555u);
  EXPECT_EQ(colour_at[40], 0x111111u);
  EXPECT_EQ(colour_at[44], 0x111111u);
}

TEST(ChainText, Level319IsAlwaysDrawnInOneColour) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 300, 319, "8 CHAIN");
  for (int f = 1; f <= 10; ++f) {
    Frame(g);
    EXPECT_EQ(MainColour(*g.bak), 0xCCBBAAu) << "frame " << f;
  }
}

TEST(ChainText, TypesTwoCharactersAFrameAndRises) {
  auto t = MakeFxGame();
  Game& g = t->g();
  g.cg->SetFontSize(8);
  g.cg->SetFontBold(true);
  int slot = Spawn(g, 320, 300, 323, "24 CHAIN");
  g.run.frame_no = 1;  // the first frame is even: the text rises one pixel
  Frame(g);
  EXPECT_EQ(g.fx.ring[size_t(slot)].y, 299);
  Box two = LitBox(*g.bak);
  int x = 320 - g.cg->TextWidth("24 CHAIN") / 2;
  Box want = Reference(g, x, 299, "24", 18);
  EXPECT_EQ(two.x0, want.x0);
  EXPECT_NEAR(two.x1, want.x1 + 1, 1);  // the shadow reaches one pixel further
  Frame(g);
  EXPECT_EQ(g.fx.ring[size_t(slot)].y, 299);
  Frame(g);
  EXPECT_EQ(g.fx.ring[size_t(slot)].y, 298);
}

TEST(Announcement, CentredOnTheFieldWhereverSpawned) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 40, 150, 0, "ABCDEFGH");
  g.run.frame_no = 0;
  for (int f = 0; f < 11; ++f) Frame(g);  // odd frame 11, age 12: all typed, no block
  Box b = LitBox(*g.bak);
  ASSERT_FALSE(b.empty());
  Canvas& bak = *g.bak;
  bak.SetFontSize(10);
  bak.SetFontBold(true);
  int x = 320 - bak.TextWidth("ABCDEFGH") / 2;
  Box want = Reference(g, x, 100, "ABCDEFGH", 10);
  EXPECT_EQ(b.x0, want.x0);
  EXPECT_EQ(b.x1, want.x1);
}

TEST(Announcement, TypesTwoCharactersEveryOtherFrameWithClicks) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 150, 0, "ABCDEFGH");
  std::vector<bool> clicks;
  for (int f = 0; f < 10; ++f) clicks.push_back(FrameClicks(g));
  // Ages 2..7 type (2, 2, 4, 4, 6, 6 of 8 characters); from age 8 all are shown.
  EXPECT_EQ(clicks, (std::vector<bool>{true, true, true, true, true, true, false, false, false, false}));
}

TEST(Announcement, LongLineNeverShowsItsEnd) {
  auto t = MakeFxGame();
  Game& g = t->g();
  std::string line(60, 'A');
  int slot = Spawn(g, 320, 150, 0, line);
  g.run.frame_no = 0;
  Box at_48;
  bool clicked_last = false;
  while (g.fx.ring[size_t(slot)].age >= 1) {
    clicked_last = FrameClicks(g);
    // Age 48 is the last one with a visible colour (black from age 50).
    if (g.fx.ring[size_t(slot)].age == 48) at_48 = LitBox(*g.bak);
  }
  EXPECT_TRUE(clicked_last);  // still typing when it ends
  g.bak->SetFontSize(10);
  g.bak->SetFontBold(true);
  int x = 320 - g.bak->TextWidth(line) / 2;
  Box typed = Reference(g, x, 100, std::string(48, 'A'), 10, false, 0x111111);
  EXPECT_EQ(at_48.x0, typed.x0);
  EXPECT_EQ(at_48.x1, typed.x1);
}

TEST(Announcement, RisesOnEvenFrames) {
  auto t = MakeFxGame();
  Game& g = t->g();
  int slot = Spawn(g, 320, 150, 0, "A");
  g.run.frame_no = 0;
  for (int f = 0; f < 10; ++f) Frame(g);
  EXPECT_EQ(g.fx.ring[size_t(slot)].y, 145);
}

TEST(MusicTicker, RightAlignedOnTheFieldEdge) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 640, 450, 1, "ZRK.mp3");
  g.run.frame_no = 0;
  for (int f = 0; f < 9; ++f) Frame(g);  // odd frame 9: no ">" after the text
  Box b = LitBox(*g.bak);
  ASSERT_FALSE(b.empty());
  EXPECT_GE(b.x1, 630);
  EXPECT_LE(b.x1, 639);
  EXPECT_GE(b.y0, 450);
}

TEST(StageLines, UpperLineSmallLowerLineLargeBothCentred) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 200, 394, "STAGE 1");
  Spawn(g, 320, 280, 394, "STAGE 1");
  g.run.frame_no = 0;
  for (int f = 0; f < 20; ++f) Frame(g);  // odd frame: no flicker here anyway
  Box upper = LitBox(*g.bak, 150, 240);
  Box lower = LitBox(*g.bak, 241, 330);
  ASSERT_FALSE(upper.empty());
  ASSERT_FALSE(lower.empty());
  EXPECT_EQ(upper.h(), Reference(g, 100, 100, "STAGE 1", 8, true).h());
  EXPECT_EQ(lower.h(), Reference(g, 100, 100, "STAGE 1", 12, true).h());
  EXPECT_NEAR(upper.cx(), 320, 3);
  EXPECT_NEAR(lower.cx(), 320, 3);
  EXPECT_NEAR(upper.cy(), 200, 3);
  EXPECT_NEAR(lower.cy(), 280, 4);
}

TEST(StageLines, ClickWhileTypingIncludingTheLastCharacter) {
  auto t = MakeFxGame();
  Game& g = t->g();
  Spawn(g, 320, 200, 394, "AB");
  std::vector<bool> clicks;
  for (int f = 0; f < 5; ++f) clicks.push_back(FrameClicks(g));
  // Ages 2, 3, 4 show 0, 1, 2 characters.
  EXPECT_EQ(clicks, (std::vector<bool>{true, true, true, false, false}));
}
