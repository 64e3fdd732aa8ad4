#include "art.h"

#include <algorithm>
#include <cmath>

namespace art {
namespace {

inline uint32_t* Row(Canvas& c, int y) {
  return reinterpret_cast<uint32_t*>(c.MutableData() + y * c.Stride());
}
inline int Clamp255(double v) { return std::clamp(int(std::lround(v)), 0, 255); }
inline uint32_t Pack(double r, double g, double b) {
  return (uint32_t(Clamp255(r)) << 16) | (uint32_t(Clamp255(g)) << 8) | uint32_t(Clamp255(b));
}

}  // namespace

void VerticalGradient(Canvas& c, Rgb top, Rgb bottom) {
  for (int y = 0; y < c.Height(); ++y) {
    double t = double(y) / (c.Height() - 1);
    uint32_t v = Pack(top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
                      top.b + (bottom.b - top.b) * t);
    uint32_t* row = Row(c, y);
    std::fill(row, row + c.Width(), v);
  }
}

void AddGlow(Canvas& c, int cx, int cy, double radius, Rgb colour, double strength) {
  int reach = int(radius * 3);
  for (int y = std::max(0, cy - reach); y < std::min(c.Height(), cy + reach); ++y) {
    uint32_t* row = Row(c, y);
    for (int x = std::max(0, cx - reach); x < std::min(c.Width(), cx + reach); ++x) {
      double d = std::hypot(x - cx, y - cy) / radius;
      double k = strength * std::exp(-d * d);
      if (k < 0.002) continue;
      uint32_t p = row[x];
      row[x] = Pack(((p >> 16) & 255) + colour.r * k, ((p >> 8) & 255) + colour.g * k,
                    (p & 255) + colour.b * k);
    }
  }
}

void Stars(Canvas& c, std::mt19937& rng, int count, int max_y) {
  for (int i = 0; i < count; ++i) {
    int x = int(rng() % uint32_t(c.Width()));
    int y = int(rng() % uint32_t(std::max(1, max_y)));
    int b = 90 + int(rng() % 166);
    int tint = int(rng() % 3);
    uint32_t col = tint == 0 ? RGB(b, b, b) : tint == 1 ? RGB(b * 3 / 4, b * 3 / 4, b) : RGB(b, b * 3 / 4, b);
    c.SetPixel(x, y, col);
    if (b > 230) {
      uint32_t dim = RGB(b / 3, b / 3, b / 2);
      c.SetPixel(x + 1, y, dim);
      c.SetPixel(x - 1, y, dim);
      c.SetPixel(x, y + 1, dim);
      c.SetPixel(x, y - 1, dim);
    }
  }
}

void Moon(Canvas& c, int cx, int cy, int r, Rgb colour) {
  AddGlow(c, cx, cy, r * 2.2, {colour.r * 0.5, colour.g * 0.5, colour.b * 0.6}, 0.8);
  for (int y = cy - r; y <= cy + r; ++y) {
    if (y < 0 || y >= c.Height()) continue;
    uint32_t* row = Row(c, y);
    for (int x = cx - r; x <= cx + r; ++x) {
      if (x < 0 || x >= c.Width()) continue;
      double d = std::hypot(x - cx, y - cy) / r;
      if (d > 1) continue;
      // A soft terminator: the lit side fades into shadow on the lower left.
      double lit = std::clamp(0.55 + 0.6 * ((x - cx) * 0.6 - (y - cy) * 0.8) / r, 0.08, 1.0);
      double crater = 1.0 - 0.12 * (std::sin(x * 0.37) * std::cos(y * 0.29) > 0.6);
      double k = lit * crater * (1 - 0.25 * d * d);
      row[x] = Pack(colour.r * k, colour.g * k, colour.b * k);
    }
  }
}

void NeonGrid(Canvas& c, int horizon, int vx, Rgb colour) {
  int h = c.Height();
  for (int i = 1; i < 40; ++i) {
    double t = std::pow(i / 40.0, 2.2);
    int y = horizon + int((h - horizon) * t);
    if (y >= h) break;
    double k = 0.25 + 0.75 * t;
    uint32_t col = RGB(Clamp255(colour.r * k), Clamp255(colour.g * k), Clamp255(colour.b * k));
    c.SetPen(col, 1);
    c.MoveTo(0, y);
    c.LineTo(c.Width(), y);
  }
  for (int i = -16; i <= 16; ++i) {
    int xb = vx + i * 90;
    c.SetPen(RGB(Clamp255(colour.r * 0.7), Clamp255(colour.g * 0.7), Clamp255(colour.b * 0.7)), 1);
    c.MoveTo(vx + i * 4, horizon);
    c.LineTo(xb, h);
  }
  // the horizon glows
  for (int x = 0; x < c.Width(); x += 8) AddGlow(c, x, horizon, 10, colour, 0.05);
}

void Rings(Canvas& c, int cx, int cy, int r0, int step, int count, uint32_t colour) {
  c.SetBrushSolid(false);
  for (int i = 0; i < count; ++i) {
    int r = r0 + step * i;
    double k = 1.0 - double(i) / (count + 1);
    c.SetPen(RGB(int(RedOf(colour) * k), int(GreenOf(colour) * k), int(BlueOf(colour) * k)), 1);
    c.Ellipse(cx - r, cy - r, cx + r, cy + r);
  }
  c.SetBrushSolid(true);
}

void GlowText(Canvas& c, const std::string& text, int points, int cx, int y, uint32_t colour,
              uint32_t halo, bool italic) {
  c.SetBrushSolid(false);
  c.SetFontBold(true);
  c.SetFontItalic(italic);
  c.SetFontSize(points);
  int w = c.TextWidth(text);
  int x = cx - w / 2;
  int spread = std::max(2, points / 12);
  for (int r = spread; r >= 1; --r) {
    double k = 0.35 + 0.5 * (spread - r) / spread;
    c.SetFontColor(RGB(int(RedOf(halo) * k), int(GreenOf(halo) * k), int(BlueOf(halo) * k)));
    for (int dy = -r; dy <= r; dy += r)
      for (int dx = -r; dx <= r; dx += r)
        if (dx || dy) c.TextOut(x + dx, y + dy, text);
  }
  c.SetFontColor(colour);
  c.TextOut(x, y, text);
  c.SetFontItalic(false);
  c.SetBrushSolid(true);
}

void ShadeBand(Canvas& c, int x0, int x1, double factor) {
  for (int y = 0; y < c.Height(); ++y) {
    uint32_t* row = Row(c, y);
    for (int x = std::max(0, x0); x < std::min(c.Width(), x1); ++x) {
      uint32_t p = row[x];
      row[x] = Pack(((p >> 16) & 255) * factor, ((p >> 8) & 255) * factor, (p & 255) * factor);
    }
  }
}

void Scanlines(Canvas& c, double factor) {
  for (int y = 1; y < c.Height(); y += 2) {
    uint32_t* row = Row(c, y);
    for (int x = 0; x < c.Width(); ++x) {
      uint32_t p = row[x];
      row[x] = Pack(((p >> 16) & 255) * factor, ((p >> 8) & 255) * factor, (p & 255) * factor);
    }
  }
}

}  // namespace art
