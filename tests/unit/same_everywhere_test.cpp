// The values play takes from angles and from text measurement, pinned: a run
// recorded on one machine must replay on any other, so none of these may
// come from the C library's sin, cos and atan or from the font rasteriser's
// hinting, and none may change without re-recording the golden replays.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/canvas.h"
#include "state/turns.h"

namespace {

uint32_t Crc(uint32_t crc, const void* bytes, size_t n) {
  return uint32_t(crc32(crc, static_cast<const Bytef*>(bytes), uInt(n)));
}

TEST(SameEverywhere, TurnsAreCorrectlyRoundedAndPinned) {
  // At 225 degrees the C library the game grew up on is one unit in the last
  // place off; the correctly rounded sine is the one kept (no point of play
  // moves by it).
  EXPECT_EQ(TurnSin(225), -0x1.69ff2a4eb8673p-1);
  EXPECT_EQ(TurnCos(225), -0x1.6a14a22fb5b6p-1);
  EXPECT_EQ(TurnSin(1), 0x1.1dee8a1aeaa4ep-6);
  EXPECT_EQ(TurnCos(1), 0x1.ffec09cc8595p-1);
  EXPECT_EQ(TurnSin(0), 0.0);
  EXPECT_EQ(TurnCos(0), 1.0);

  uint32_t table = 0;  // the looked-up angles
  for (int32_t a = -4096; a < 4096; ++a) {
    const double v[2] = {TurnCos(a), TurnSin(a)};
    table = Crc(table, v, sizeof v);
  }
  EXPECT_EQ(table, 0xca677339u);
  uint32_t far = 0;  // and those worked out each time
  for (int64_t a = INT32_MIN; a <= INT32_MAX; a += 9999991) {
    const double v[2] = {TurnCos(int32_t(a)), TurnSin(int32_t(a))};
    far = Crc(far, v, sizeof v);
  }
  EXPECT_EQ(far, 0xfe7e2c66u);
}

TEST(SameEverywhere, SlopesInWholeDegreesArePinned) {
  EXPECT_EQ(SlopeDegrees(0.0), 0);
  EXPECT_EQ(SlopeDegrees(1.0), 45);  // 45.0013...: 3.1415 is a little short of pi
  EXPECT_EQ(SlopeDegrees(-1.0), 45);
  EXPECT_EQ(SlopeDegrees(1e300), 90);
  uint32_t crc = 0;
  for (int dy = -400; dy <= 400; ++dy) {
    for (int dx = -400; dx <= 400; ++dx) {
      if (dx == 0) continue;
      const unsigned char d = static_cast<unsigned char>(SlopeDegrees(double(dy) / double(dx)));
      crc = Crc(crc, &d, 1);
    }
  }
  EXPECT_EQ(crc, 0x8714424eu);
}

TEST(SameEverywhere, TextWidthsComeFromTheFontAndArePinned) {
  Canvas c(1, 1, std::make_shared<FontSet>(std::string(KV_GAME_DIR) + "/dat/ipagp.ttf"));
  const char* texts[] = {"HI SCORE NEW RECORD!!", "リプレイを送れませんでした", "ready..", "PAUSE", "\x01", "Wg|"};
  struct Row {
    int points;
    bool bold;
    int height;
    int widths[6];
  };
  const Row rows[] = {
      {8, false, 12, {131, 122, 34, 34, 11, 18}},  {9, false, 13, {148, 136, 37, 38, 12, 20}},
      {12, false, 17, {197, 184, 50, 51, 16, 27}}, {20, false, 28, {325, 303, 84, 86, 27, 45}},
      // Bold is a 24th of the em wider a character; "\x01" (the font's
      // missing-character box) at 9 points ends just short of 12.5 pixels.
      {8, true, 12, {140, 128, 37, 36, 11, 19}},   {9, true, 13, {159, 143, 41, 41, 12, 22}},
      {12, true, 17, {211, 193, 55, 54, 17, 29}},  {20, true, 28, {348, 317, 92, 92, 28, 48}},
  };
  for (const Row& r : rows) {
    c.SetFontSize(r.points);
    c.SetFontBold(r.bold);
    for (bool italic : {false, true}) {
      c.SetFontItalic(italic);  // the slant leaves advances alone
      for (int i = 0; i < 6; ++i) {
        const TextSize s = c.MeasureText(texts[i]);
        EXPECT_EQ(s.width, r.widths[i]) << r.points << (r.bold ? " bold " : " ") << texts[i];
        EXPECT_EQ(s.height, r.height) << r.points;
      }
    }
  }
}

TEST(SameEverywhere, TextThatIsNotUtf8MeasuresNothingAndLeavesTheCanvasWorking) {
  Canvas c(120, 40, std::make_shared<FontSet>(std::string(KV_GAME_DIR) + "/dat/ipagp.ttf"));
  c.SetFontSize(12);
  const int before = c.TextWidth("ABC");
  ASSERT_GT(before, 0);
  for (const std::string& bad : {std::string("AB\xff"), std::string("\xe3\x81"), std::string("\xc0\xaf"),
                                std::string("\xed\xa0\x80")}) {
    EXPECT_EQ(c.TextWidth(bad), 0);
    c.TextOut(0, 0, bad);
  }
  EXPECT_EQ(c.TextWidth("ABC"), before);
  EXPECT_EQ(c.TextWidth(std::string("ABC\0DEF", 7)), before);  // up to the first NUL
  c.SetBrushSolid(false);
  c.SetFontColor(0x00FFFF);
  c.TextOut(2, 2, "■");
  EXPECT_EQ(c.GetPixel(2 + c.TextWidth("■") / 2, 2 + c.TextHeight("■") / 2), 0x00FFFFu);
}

}  // namespace
