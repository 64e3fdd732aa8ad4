#include "stages/pixel_painter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/canvas.h"

namespace {

// Steps along the major axis of a line, one pixel per step: the minor
// coordinate is a0 + round((t - t0) * dm / dt) for dt > 0, |dm| <= dt, kept as a
// quotient and remainder so each step is a few additions.
struct Stepper {
  int64_t minor;  // current minor coordinate
  int64_t rem;    // remainder in 0 .. 2 dt - 1
  int64_t two_dt, two_dm;
  Stepper(int64_t a0, int64_t t_from, int64_t t0, int64_t dt, int64_t dm) : two_dt(2 * dt), two_dm(2 * dm) {
    // a0 + floor((2 (t - t0) dm + dt) / (2 dt))
    int64_t n = 2 * (t_from - t0) * dm + dt;
    int64_t q = n / two_dt;
    int64_t r = n % two_dt;
    if (r < 0) {
      r += two_dt;
      --q;
    }
    minor = a0 + q;
    rem = r;
  }
  void Next() {
    rem += two_dm;
    if (rem >= two_dt) {
      rem -= two_dt;
      ++minor;
    } else if (rem < 0) {
      rem += two_dt;
      --minor;
    }
  }
};

}  // namespace

PixelPainter::PixelPainter(Canvas& canvas) {
  px_ = reinterpret_cast<uint32_t*>(canvas.MutableData());
  stride_ = canvas.Stride() / 4;
  w_ = canvas.Width();
  h_ = canvas.Height();
}

void PixelPainter::SetPen(uint32_t color, int width) {
  native_ = ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
  width_ = width < 2 ? 1 : 2;
}

void PixelPainter::Plot(int x, int y, bool x_major) {
  if (x >= 0 && y >= 0 && x < w_ && y < h_) px_[y * stride_ + x] = native_;
  if (width_ == 2) {
    // The second pixel across the line.
    int x2 = x_major ? x : x + 1;
    int y2 = x_major ? y + 1 : y;
    if (x2 >= 0 && y2 >= 0 && x2 < w_ && y2 < h_) px_[y2 * stride_ + x2] = native_;
  }
}

void PixelPainter::Line(int x0, int y0, int x1, int y1) {
  // Nothing to do for a line wholly on one side outside the surface.
  const int m = width_;  // margin for the second pixel of a wide pen
  if ((x0 < -m && x1 < -m) || (y0 < -m && y1 < -m) || (x0 >= w_ && x1 >= w_) || (y0 >= h_ && y1 >= h_)) return;
  const int64_t dx = int64_t(x1) - x0;
  const int64_t dy = int64_t(y1) - y0;
  if (dx == 0 && dy == 0) {
    Plot(x0, y0, true);
    return;
  }
  const bool x_major = std::llabs(dx) >= std::llabs(dy);
  // Walk from the end with the smaller major coordinate.
  int64_t ax = x0, ay = y0, bx = x1, by = y1;
  if (x_major ? ax > bx : ay > by) {
    std::swap(ax, bx);
    std::swap(ay, by);
  }
  // Only the visible part of the major axis is stepped (one pixel more on
  // each side for the second pixel of a wide pen).
  const int64_t limit = x_major ? w_ : h_;
  const int64_t minor_limit = x_major ? h_ : w_;
  const int64_t t0 = x_major ? ax : ay, t1 = x_major ? bx : by;
  const int64_t from = std::max<int64_t>(t0, width_ == 1 ? 0 : -1);
  const int64_t to = std::min<int64_t>(t1, width_ == 1 ? limit - 1 : limit);
  if (from > to) return;
  Stepper s(x_major ? ay : ax, from, t0, t1 - t0, x_major ? by - ay : bx - ax);
  if (width_ == 1) {
    // The common thin pen: one store per visible pixel.
    const uint32_t c = native_;
    if (x_major) {
      for (int64_t t = from; t <= to; ++t, s.Next())
        if (uint64_t(s.minor) < uint64_t(minor_limit)) px_[s.minor * stride_ + t] = c;
    } else {
      for (int64_t t = from; t <= to; ++t, s.Next())
        if (uint64_t(s.minor) < uint64_t(minor_limit)) px_[t * stride_ + s.minor] = c;
    }
    return;
  }
  for (int64_t t = from; t <= to; ++t, s.Next()) {
    if (s.minor < -1 || s.minor > minor_limit) continue;
    if (x_major)
      Plot(int(t), int(s.minor), true);
    else
      Plot(int(s.minor), int(t), false);
  }
}

void PixelPainter::Polyline(const int* xy, int n) {
  if (n == 1) Line(xy[0], xy[1], xy[0], xy[1]);
  for (int i = 1; i < n; ++i) Line(xy[2 * i - 2], xy[2 * i - 1], xy[2 * i], xy[2 * i + 1]);
}

void PixelPainter::FillConvex(const int* xy, int n) {
  if (n < 1) return;
  int ymin = xy[1], ymax = xy[1];
  for (int i = 1; i < n; ++i) {
    ymin = std::min(ymin, xy[2 * i + 1]);
    ymax = std::max(ymax, xy[2 * i + 1]);
  }
  const int y_from = std::max(ymin, 0), y_to = std::min(ymax, h_ - 1);
  for (int y = y_from; y <= y_to; ++y) {
    // Where the edges cross this row.
    double lo = 1e18, hi = -1e18;
    for (int i = 0; i < n; ++i) {
      const int* a = xy + 2 * i;
      const int* b = xy + 2 * ((i + 1) % n);
      if ((y < a[1] && y < b[1]) || (y > a[1] && y > b[1])) continue;
      if (a[1] == b[1]) {
        lo = std::min(lo, double(std::min(a[0], b[0])));
        hi = std::max(hi, double(std::max(a[0], b[0])));
        continue;
      }
      double x = a[0] + double(y - a[1]) * (b[0] - a[0]) / double(b[1] - a[1]);
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
    if (lo > hi) continue;
    const int x_from = std::max(int(std::ceil(lo)), 0), x_to = std::min(int(std::floor(hi)), w_ - 1);
    uint32_t* row = px_ + y * stride_;
    for (int x = x_from; x <= x_to; ++x) row[x] = native_;
  }
  // The outline in the same colour, as a fill up to the pen colour leaves it.
  for (int i = 0; i < n; ++i) {
    const int* a = xy + 2 * i;
    const int* b = xy + 2 * ((i + 1) % n);
    Line(a[0], a[1], b[0], b[1]);
  }
}
