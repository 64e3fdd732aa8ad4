// The canvas: exact shapes, OR combination, self copies and pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "platform/canvas.h"
#include "platform/picture_file.h"
#include "test_util.h"

namespace {

std::shared_ptr<FontSet> Fonts() {
  return std::make_shared<FontSet>(std::string(KV_GAME_DIR) + "/dat/ipagp.ttf");
}

TEST(Canvas, RectangleLeavesRightAndBottomEdgesOut) {
  Canvas c(40, 40, nullptr);
  c.SetPen(0x0000FF, 1);
  c.SetBrush(0x00FF00);
  c.Rectangle(5, 5, 15, 10);
  EXPECT_EQ(c.GetPixel(5, 5), 0x0000FFu);
  EXPECT_EQ(c.GetPixel(14, 9), 0x0000FFu);
  EXPECT_EQ(c.GetPixel(15, 9), 0u);
  EXPECT_EQ(c.GetPixel(14, 10), 0u);
  EXPECT_EQ(c.GetPixel(8, 7), 0x00FF00u);
  c.SetBrushSolid(false);
  c.Rectangle(20, 20, 30, 30);
  EXPECT_EQ(c.GetPixel(25, 25), 0u);
}

TEST(Canvas, LinesAreDrawnWithoutAntialiasing) {
  Canvas c(50, 50, nullptr);
  c.SetPen(0xFFFFFF, 1);
  c.MoveTo(0, 0);
  c.LineTo(40, 17);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 50; ++x) {
      uint32_t p = c.GetPixel(x, y);
      ASSERT_TRUE(p == 0 || p == 0xFFFFFF) << x << "," << y;
    }
  EXPECT_EQ(c.GetPixel(0, 0), 0xFFFFFFu);
}

TEST(Canvas, AZeroLengthWideLineIsARoundDot) {
  Canvas c(30, 30, nullptr);
  c.SetPen(0x00FFFF, 6);
  c.MoveTo(15, 15);
  c.LineTo(15, 15);
  EXPECT_EQ(c.GetPixel(15, 15), 0x00FFFFu);
  EXPECT_EQ(c.GetPixel(17, 15), 0x00FFFFu);
  EXPECT_EQ(c.GetPixel(15, 24), 0u);
}

// The first way wide lines were drawn, kept as the measure of the faster one:
// a pen disc stamped at every pixel of the thin line.
void StampedLine(std::vector<uint32_t>& px, int w, int h, int ax, int ay, int bx, int by,
                 int width, uint32_t native) {
  std::vector<std::pair<int, int>> disc;
  double r = width / 2.0;
  int ri = int(std::ceil(r));
  for (int dy = -ri; dy <= ri; ++dy)
    for (int dx = -ri; dx <= ri; ++dx)
      if (dx * dx + dy * dy <= r * r + 0.25) disc.emplace_back(dx, dy);
  int dx = std::abs(bx - ax), sx = ax < bx ? 1 : -1;
  int dy = -std::abs(by - ay), sy = ay < by ? 1 : -1;
  int err = dx + dy, x = ax, y = ay;
  for (;;) {
    for (auto [ox, oy] : disc)
      if (unsigned(x + ox) < unsigned(w) && unsigned(y + oy) < unsigned(h))
        px[size_t((y + oy) * w + x + ox)] = native;
    if (x == bx && y == by) break;
    int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x += sx; }
    if (e2 <= dx) { err += dx; y += sy; }
  }
}

uint32_t Native(uint32_t colour) {
  return (colour & 0xFF00) | ((colour & 0xFF) << 16) | ((colour >> 16) & 0xFF);
}

void ExpectPixels(const Canvas& c, const std::vector<uint32_t>& want, int w, int h, const std::string& what) {
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = c.Data() + y * c.Stride();
    for (int x = 0; x < w; ++x) {
      uint32_t got;
      std::memcpy(&got, row + 4 * x, 4);
      ASSERT_EQ(got & 0xFFFFFF, want[size_t(y * w + x)]) << what << " at " << x << "," << y;
    }
  }
}

// A small surface and the pixels a model of the shapes says it must hold.
class CanvasModel : public ::testing::Test {
 protected:
  static constexpr int w = 64, h = 48;
  Canvas c{w, h, nullptr};
  std::vector<uint32_t> want = std::vector<uint32_t>(size_t(w * h), 0);
};

// Width 1 is a disc of one pixel: the thin line.
TEST_F(CanvasModel, LinesCoverExactlyTheStampedPenDiscs) {
  std::mt19937 rng(17);
  for (int i = 0; i < 3000; ++i) {
    int width = 1 + int(rng() % 31);
    int m = width + 2;  // ends this far off the surface are drawn without clipping
    auto coord = [&](int size) { return int(rng() % unsigned(size + 2 * m + 1)) - m; };
    int ax = coord(w), ay = coord(h), bx = coord(w), by = coord(h);
    if (i % 7 == 0) { bx = ax + int(rng() % 3) - 1; by = ay + int(rng() % 3) - 1; }  // dots
    uint32_t colour = rng() & 0xFFFFFF;
    c.SetPen(colour, width);
    c.MoveTo(ax, ay);
    c.LineTo(bx, by);
    StampedLine(want, w, h, ax, ay, bx, by, width, Native(colour));
    if (i % 10 == 9)
      ExpectPixels(c, want, w, h, "line " + std::to_string(i) + " width " + std::to_string(width));
  }
}

// An ellipse row by row, each row on its own: the outline between the outer
// and inner edge of the pen, the brush inside when it is solid.
void RowByRowEllipse(std::vector<uint32_t>& px, int w, int h, int x1, int y1, int x2, int y2, int pen,
                     bool solid, uint32_t pen_c, uint32_t brush_c) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  const double a = (x2 - x1 - 1) / 2.0, b = (y2 - y1 - 1) / 2.0;
  if (a < 0.25 || b < 0.25) return;
  const double cx = x1 + a, cy = y1 + b, half = pen / 2.0;
  const double ao = a + half, bo = b + half, ai = a - half, bi = b - half;
  auto fill = [&](int l, int r, int y, uint32_t colour) {
    for (int x = std::max(l, 0); x <= std::min(r, w - 1); ++x) px[size_t(y * w + x)] = colour;
  };
  for (int y = std::max(0, int(std::floor(cy - bo))); y <= std::min(h - 1, int(std::ceil(cy + bo))); ++y) {
    const double dy = y - cy;
    if (std::fabs(dy) > bo) continue;
    const double so = ao * std::sqrt(std::max(0.0, 1 - dy * dy / (bo * bo)));
    const int ol = int(std::ceil(cx - so - 1e-9)), orr = int(std::floor(cx + so + 1e-9));
    if (ol > orr) continue;
    if (!(ai > 0 && bi > 0 && std::fabs(dy) < bi)) {
      fill(ol, orr, y, pen_c);
      continue;
    }
    const double si = ai * std::sqrt(std::max(0.0, 1 - dy * dy / (bi * bi)));
    const int il = int(std::ceil(cx - si + 1e-9)), ir = int(std::floor(cx + si - 1e-9));
    if (il > ir) {
      fill(ol, orr, y, pen_c);
      continue;
    }
    fill(ol, il - 1, y, pen_c);
    fill(ir + 1, orr, y, pen_c);
    if (solid) fill(il, ir, y, brush_c);
  }
}

TEST_F(CanvasModel, EllipsesMatchTheirRowByRowOutline) {
  std::mt19937 rng(23);
  for (int i = 0; i < 3000; ++i) {
    const int pen = i % 3 == 0 ? 1 + int(rng() % 30) : 1 + int(rng() % 3);
    const bool solid = rng() % 2 == 0;
    const uint32_t pen_c = rng() & 0xFFFFFF, other = rng() & 0xFFFFFF;
    const uint32_t brush_c = i % 4 == 1 ? pen_c : other;  // a disc: brush and pen alike
    // Some wholly on the surface, most cut by one or more of its edges.
    const int size = i % 4 == 0 ? int(rng() % 200) : int(rng() % 40);
    const int x1 = int(rng() % unsigned(w + 2 * size + 1)) - size, y1 = int(rng() % unsigned(h + 2 * size + 1)) - size;
    const int x2 = x1 + int(rng() % unsigned(size + 1)) * (rng() % 5 == 0 ? -1 : 1);
    const int y2 = y1 + int(rng() % unsigned(size + 1));
    c.SetPen(pen_c, pen);
    c.SetBrush(brush_c);
    c.SetBrushSolid(solid);
    c.Ellipse(x1, y1, x2, y2);
    RowByRowEllipse(want, w, h, x1, y1, x2, y2, pen, solid, Native(pen_c), Native(brush_c));
    if (i % 10 == 9)
      ExpectPixels(c, want, w, h,
                   "ellipse " + std::to_string(i) + " (" + std::to_string(x1) + "," + std::to_string(y1) + ")-(" +
                       std::to_string(x2) + "," + std::to_string(y2) + ") pen " + std::to_string(pen));
  }
}

TEST(Canvas, OrCombinationBrightensOnlyWhereTheGlowIs) {
  Canvas a(10, 10, nullptr), b(10, 10, nullptr);
  a.Clear(RGB(0x10, 0x20, 0x30));
  b.Clear(0);
  b.SetPixel(3, 3, RGB(0x01, 0x02, 0xC0));
  a.OrFrom(b, 0, 0, 10, 10, 0, 0);
  EXPECT_EQ(a.GetPixel(3, 3), RGB(0x11, 0x22, 0xF0));
  EXPECT_EQ(a.GetPixel(4, 4), RGB(0x10, 0x20, 0x30));
}

// The frame ORs bak over the field and leaves it black; its next Clear then
// skips the work, so every way of drawing must make that Clear real again.
TEST(Canvas, OrFromAndClearIsOrThenClearAndDrawingAfterItIsClearedAgain) {
  auto fonts = Fonts();
  Canvas field(640, 480, fonts), glow(640, 480, fonts), want(640, 480, fonts), pic(8, 8, nullptr);
  pic.Clear(0x123456);
  auto ink = [&](Canvas& c) {
    c.SetPen(0x00FFFF, 3);
    c.MoveTo(320, 240);
    c.LineTo(639, 479);  // the last pixel of the last run of a row
    c.SetPixel(63, 5, 0x010000);
    c.SetPixel(64, 5, 0x000001);  // either side of a run's edge
    c.SetFontSize(14);
    c.SetFontColor(0xFF8000);
    c.TextOut(600, 200, "KV");
  };
  for (Canvas* c : {&field, &want}) {
    c->Clear(0x303030);
    c->SetPen(0x4000FF, 1);
    c->Ellipse(10, 10, 300, 200);
  }
  ink(glow);
  want.OrFrom(glow, 0, 0, 640, 480, 0, 0);
  field.OrFromAndClear(glow);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      ASSERT_EQ(field.GetPixel(x, y), want.GetPixel(x, y)) << x << "," << y;
      ASSERT_EQ(glow.GetPixel(x, y), 0u) << x << "," << y;
    }
  using Draw = void (*)(Canvas&, const Canvas&);
  const std::pair<const char*, Draw> draws[] = {
      {"line", [](Canvas& c, const Canvas&) { c.SetPen(0xFFFFFF, 1); c.MoveTo(1, 1); c.LineTo(30, 9); }},
      {"polyline", [](Canvas& c, const Canvas&) { const int xy[] = {0, 0, 9, 9}; c.SetPen(0xFF, 1); c.Polyline(xy, 2); }},
      {"rectangle", [](Canvas& c, const Canvas&) { c.SetBrush(0x808080); c.Rectangle(5, 5, 20, 20); }},
      {"fill", [](Canvas& c, const Canvas&) { c.FillRect(5, 5, 20, 20, 0x800000); }},
      {"ellipse", [](Canvas& c, const Canvas&) { c.SetPen(0xFF00, 2); c.Ellipse(5, 5, 40, 30); }},
      {"polygon", [](Canvas& c, const Canvas&) { const int xy[] = {0, 0, 20, 0, 10, 15}; c.SetPen(0xFF, 1); c.FillPolygon(xy, 3); }},
      {"text", [](Canvas& c, const Canvas&) { c.SetFontColor(0xFFFFFF); c.TextOut(10, 10, "PAUSE"); }},
      {"copy", [](Canvas& c, const Canvas& p) { c.CopyFrom(p, 0, 0, 8, 8, 0, 0); }},
      {"or", [](Canvas& c, const Canvas& p) { c.OrFrom(p, 0, 0, 8, 8, 0, 0); }},
      {"pixel", [](Canvas& c, const Canvas&) { c.SetPixel(7, 7, 0x0000FF); }},
      {"raw", [](Canvas& c, const Canvas&) { c.MutableData()[0] = 0xFF; }},
  };
  for (const auto& [name, draw] : draws) {
    draw(glow, pic);
    bool drew = false;
    for (int y = 0; y < 60 && !drew; ++y)
      for (int x = 0; x < 60; ++x) drew = drew || glow.GetPixel(x, y) != 0;
    EXPECT_TRUE(drew) << name;
    glow.Clear(0);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 60; ++x) ASSERT_EQ(glow.GetPixel(x, y), 0u) << name << " left " << x << "," << y;
  }
}

TEST(Canvas, SelfCopyShiftsWithoutSmearing) {
  Canvas c(20, 20, nullptr);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) c.SetPixel(x, y, uint32_t(y * 20 + x));
  c.CopyFrom(c, 2, 3, 22, 23, 0, 0);  // the shake's shape of copy
  EXPECT_EQ(c.GetPixel(2, 3), 0u);
  EXPECT_EQ(c.GetPixel(19, 19), uint32_t(16 * 20 + 17));
  EXPECT_EQ(c.GetPixel(0, 0), 0u);       // uncovered: old pixels stay
  EXPECT_EQ(c.GetPixel(1, 10), uint32_t(10 * 20 + 1));
  c.CopyFrom(c, -2, -1, 18, 19, 0, 0);  // and the other way
  EXPECT_EQ(c.GetPixel(0, 2), uint32_t(0 * 20 + 0));  // moved from (2,3)
}

TEST(Canvas, TextIsMeasuredAndDrawnInTheFontColour) {
  Canvas c(200, 60, Fonts());
  c.SetFontSize(12);
  TextSize s = c.MeasureText("HI SCORE");
  EXPECT_GT(s.width, 40);
  EXPECT_GE(s.height, 14);
  c.SetFontSize(24);
  EXPECT_GT(c.TextWidth("HI SCORE"), s.width);
  c.SetBrushSolid(false);
  c.SetFontColor(0x00FFFF);
  c.TextOut(2, 2, "■");
  EXPECT_EQ(c.GetPixel(2 + c.TextWidth("■") / 2, 2 + c.TextHeight("■") / 2), 0x00FFFFu);
  EXPECT_EQ(Canvas(10, 10, nullptr).TextWidth("x"), 0);  // no font: nothing, no crash
}

TEST(Canvas, PicturesRoundTripAndBadFilesAreRefused) {
  std::string dir = MakeTempDir();
  Canvas c(64, 48, nullptr);
  c.Clear(RGB(200, 100, 50));
  c.SetPixel(3, 4, RGB(1, 2, 3));
  ASSERT_TRUE(SaveBmp(c, dir + "/a.bmp"));
  Canvas d(64, 48, nullptr);
  ASSERT_TRUE(LoadPicture(d, dir + "/a.bmp"));
  EXPECT_EQ(d.GetPixel(3, 4), RGB(1, 2, 3));
  EXPECT_EQ(d.GetPixel(63, 47), RGB(200, 100, 50));
  ASSERT_TRUE(SaveJpeg(c, dir + "/a.jpg", 95));
  Picture p;
  ASSERT_TRUE(DecodePicture(dir + "/a.jpg", p));
  EXPECT_EQ(p.width, 64);
  EXPECT_EQ(p.height, 48);
  std::ofstream(dir + "/bad.jpg", std::ios::binary) << "\xFF\xD8\xFF\xE0 not really a jpeg";
  std::ofstream(dir + "/bad.bmp", std::ios::binary) << "BM short";
  EXPECT_FALSE(DecodePicture(dir + "/bad.jpg", p));
  EXPECT_FALSE(DecodePicture(dir + "/bad.bmp", p));
  EXPECT_FALSE(DecodePicture(dir + "/missing.jpg", p));
  EXPECT_FALSE(DecodePicture(dir + "/a.png", p));
  EXPECT_FALSE(LoadPicture(d, dir + "/bad.jpg"));
  EXPECT_EQ(d.GetPixel(3, 4), RGB(1, 2, 3));  // unchanged
}

}  // namespace
