// Cairo-backed canvas. Shapes are drawn without antialiasing on pixel centres;
// consecutive lines with the same pen are gathered into one path and stroked
// together, which is far cheaper than one stroke per segment and gives the same
// pixels for opaque colours.
#include "platform/canvas.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>
#include <cwchar>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif


// ---------------------------------------------------------------- fonts

namespace {
// The FreeType library stays alive while any face made from it does; each
// face is released by cairo's own clean-up once cairo no longer uses it
// (cairo may keep a font face cached after the FontSet is gone).
struct FtLibrary {
  FT_Library lib = nullptr;
  ~FtLibrary() {
    if (lib) FT_Done_FreeType(lib);
  }
};
struct FtFaceHolder {
  std::shared_ptr<FtLibrary> lib;
  FT_Face face = nullptr;
};
cairo_user_data_key_t kFaceKey;

void ReleaseFace(void* p) {
  auto* h = static_cast<FtFaceHolder*>(p);
  if (h->face) FT_Done_Face(h->face);
  delete h;
}

cairo_font_face_t* MakeFace(const std::shared_ptr<FtLibrary>& lib, const std::string& path, bool bold) {
  FT_Face face = nullptr;
  if (FT_New_Face(lib->lib, path.c_str(), 0, &face) != 0) return nullptr;
  cairo_font_face_t* cf = cairo_ft_font_face_create_for_ft_face(face, 0);
  auto* holder = new FtFaceHolder{lib, face};
  if (cairo_font_face_set_user_data(cf, &kFaceKey, holder, ReleaseFace) != CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(cf);
    ReleaseFace(holder);
    return nullptr;
  }
  if (bold) cairo_ft_font_face_set_synthesize(cf, CAIRO_FT_SYNTHESIZE_BOLD);
  return cf;
}

// What text is measured by: the advance widths in font units, read unhinted
// from the font file, and the arithmetic that scales them. A width never
// comes from the rasteriser (its hinting differs between FreeType versions),
// so it is the same on every machine: log lines wrap and menu captions fit
// alike wherever a run is replayed. The figures are those the game has always
// had (cairo 1.16 on FreeType 2.12 with slight hinting and hinted metrics:
// each advance rounded to whole pixels, synthetic bold one 24th of the em
// wider), for every character of the font at every size.
struct FontMetrics {
  int32_t units_per_em = 0, ascender = 0, descender = 0;  // descender < 0
  std::vector<uint16_t> advance;  // by character, U+0000..U+FFFF
  std::vector<std::pair<uint32_t, uint16_t>> beyond;  // characters past U+FFFF, sorted
  uint16_t missing = 0;           // the advance of a character the font lacks

  bool Load(FT_Library lib, const std::string& path) {
    FT_Face face = nullptr;
    if (FT_New_Face(lib, path.c_str(), 0, &face) != 0) return false;
    const bool ok = Read(face);
    FT_Done_Face(face);
    return ok;
  }

  uint16_t Advance(uint32_t ch) const {
    if (ch < advance.size()) return advance[ch];
    auto it = std::lower_bound(beyond.begin(), beyond.end(), std::make_pair(ch, uint16_t(0)));
    return it != beyond.end() && it->first == ch ? it->second : missing;
  }

 private:
  bool Read(FT_Face face) {
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0 || face->num_glyphs <= 0) return false;
    std::vector<FT_Fixed> by_glyph(size_t(face->num_glyphs));
    if (FT_Get_Advances(face, 0, FT_UInt(face->num_glyphs), FT_LOAD_NO_SCALE, by_glyph.data()) != 0) return false;
    auto units = [&](FT_UInt glyph) {
      return glyph < by_glyph.size() ? uint16_t(std::clamp<FT_Fixed>(by_glyph[glyph], 0, 0xFFFF)) : uint16_t(0);
    };
    units_per_em = face->units_per_EM;
    ascender = face->ascender;
    descender = face->descender;
    missing = units(0);
    advance.assign(0x10000, missing);
    FT_UInt glyph = 0;
    for (FT_ULong ch = FT_Get_First_Char(face, &glyph); glyph != 0; ch = FT_Get_Next_Char(face, ch, &glyph)) {
      if (ch < advance.size()) advance[ch] = units(glyph);
      else beyond.emplace_back(uint32_t(ch), units(glyph));
    }
    std::sort(beyond.begin(), beyond.end());
    return true;
  }
};

// FreeType's 16.16 products and quotients, rounded as it rounds them.
int64_t MulFix(int64_t a, int64_t b) {
  const int64_t m = (std::llabs(a) * std::llabs(b) + 0x8000) >> 16;
  return (a < 0) != (b < 0) ? -m : m;
}
int64_t DivFix(int64_t a, int64_t b) {
  const int64_t q = ((std::llabs(a) << 16) + std::llabs(b) / 2) / std::llabs(b);
  return (a < 0) != (b < 0) ? -q : q;
}

// The next character of UTF-8 text, or false when the text is not valid
// UTF-8 as cairo reads it (then the whole text is neither measured nor drawn).
bool NextChar(std::string_view s, size_t& at, uint32_t& ch) {
  const auto byte = [&](size_t i) { return i < s.size() ? uint8_t(s[i]) : uint8_t(0); };
  const uint8_t b = byte(at);
  int len = 1;
  ch = b;
  if (b >= 0x80) {
    if (b < 0xC0 || b >= 0xF8) return false;
    len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    ch = b & (0x7F >> len);
    for (int i = 1; i < len; ++i) {
      const uint8_t c = byte(at + size_t(i));
      if ((c & 0xC0) != 0x80) return false;
      ch = (ch << 6) | (c & 0x3F);
    }
    const int shortest = ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
    if (shortest != len) return false;
  }
  // Surrogates, the noncharacters and anything past U+10FFFF are refused.
  if (ch >= 0x110000 || (ch & 0xFFFFF800) == 0xD800 || (ch >= 0xFDD0 && ch <= 0xFDEF) || (ch & 0xFFFE) == 0xFFFE)
    return false;
  at += size_t(len);
  return true;
}

// A text as cairo takes it: up to its first NUL.
std::string_view UpToNul(const std::string& s) { return std::string_view(s.c_str()); }

bool ValidText(std::string_view s) {
  uint32_t ch = 0;
  for (size_t at = 0; at < s.size();)
    if (!NextChar(s, at, ch)) return false;
  return true;
}

// Pixels of a font size in points (96 DPI), in 26.6, as cairo asks FreeType for them.
int64_t PixelSize26(int points) { return (int64_t(points) * 512 + 3) / 6; }

// Width and line height of a text in whole pixels (0 wide when it is not
// valid UTF-8).
TextSize Measure(const FontMetrics& m, std::string_view text, int points, bool bold) {
  TextSize out;
  if (points < 1) return out;
  const int64_t scale = DivFix(PixelSize26(points), m.units_per_em);
  const int64_t ascent = (MulFix(m.ascender, scale) + 63) & ~int64_t(63);
  const int64_t descent = (MulFix(-int64_t(m.descender), scale) + 63) & ~int64_t(63);
  const double size = points * 96.0 / 72.0;
  out.height = int(std::ceil(double(ascent) / 64.0 * (1.0 / size) * size + double(descent) / 64.0 * (1.0 / size) * size));
  const int64_t emboldening = bold ? MulFix(m.units_per_em, scale) / 24 : 0;
  // Each advance goes from pixels to the font's units and back in doubles,
  // as cairo takes it: the sum can end a hair below a half pixel.
  double width = 0;
  uint32_t ch = 0;
  for (size_t at = 0; at < text.size();) {
    if (!NextChar(text, at, ch)) return {0, out.height};
    const int64_t advance = ((MulFix(m.Advance(ch), scale) + 32) & ~int64_t(63)) + emboldening;
    width += double(advance) / 64.0 * (1.0 / size) * size;
  }
  out.width = int(std::lround(width));
  return out;
}

}  // namespace

struct FontSet::Impl {
  cairo_font_face_t* regular = nullptr;
  cairo_font_face_t* bold = nullptr;  // its own FT_Face: cairo shares one font face per FT_Face
  FontMetrics metrics;
};

FontSet::FontSet(const std::string& font_path) : impl_(std::make_unique<Impl>()) {
  auto lib = std::make_shared<FtLibrary>();
  if (FT_Init_FreeType(&lib->lib) != 0) {
    lib->lib = nullptr;
    return;
  }
  if (!impl_->metrics.Load(lib->lib, font_path)) return;
  impl_->regular = MakeFace(lib, font_path, false);
  if (!impl_->regular) return;
  impl_->bold = MakeFace(lib, font_path, true);
  if (!impl_->bold) impl_->bold = cairo_font_face_reference(impl_->regular);
}

FontSet::~FontSet() {
  if (impl_->bold) cairo_font_face_destroy(impl_->bold);
  if (impl_->regular) cairo_font_face_destroy(impl_->regular);
}

bool FontSet::Ok() const { return impl_->regular != nullptr; }

// ---------------------------------------------------------------- canvas

namespace {

inline uint32_t ToNative(uint32_t bgr) {  // 0x00BBGGRR -> 0x00RRGGBB
  return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}
inline uint32_t FromNative(uint32_t rgb) { return ToNative(rgb); }

// n pixels of one colour. Short runs, the most common, are written four
// pixels at a time with the last four overlapping, so a run of any length
// takes no loop; long runs go to the C library's wide fill (wchar_t is a
// 32-bit value here).
static_assert(sizeof(wchar_t) == sizeof(uint32_t));
inline void FillPixels(uint32_t* p, size_t n, uint32_t c) {
#if defined(__SSE2__)
  if (n >= 4 && n <= 16) {
    const __m128i v = _mm_set1_epi32(int(c));
    auto put = [v](uint32_t* q) { _mm_storeu_si128(reinterpret_cast<__m128i*>(q), v); };
    put(p);
    put(p + n - 4);
    if (n > 8) {
      put(p + 4);
      put(p + n - 8);
    }
    return;
  }
  if (n < 4) {
    if (n == 0) return;
    p[0] = c;            // n is 1, 2 or 3: these three cover it
    p[n >> 1] = c;
    p[n - 1] = c;
    return;
  }
#endif
  if (n >= 16) {
    std::wmemset(reinterpret_cast<wchar_t*>(p), wchar_t(c), n);
    return;
  }
  for (size_t i = 0; i < n; ++i) p[i] = c;
}

// floor and ceil of a value well inside the int range, without a library call.
inline int FloorInt(double v) {
  const int t = int(v);
  return t > v ? t - 1 : t;
}
inline int CeilInt(double v) {
  const int t = int(v);
  return t < v ? t + 1 : t;
}

inline void SetSource(cairo_t* cr, uint32_t c) {
  cairo_set_source_rgb(cr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}

}  // namespace

struct Canvas::Impl {
  int w = 0, h = 0;
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  std::shared_ptr<FontSet> fonts;
  uint32_t* px = nullptr;  // the surface's pixels, 0x00RRGGBB
  int stride_px = 0;       // row length in pixels
  // Every pixel is 0, known without looking: cleared to black, or emptied by
  // OrFromAndClear, and nothing drawn since. Each drawing call resets it.
  bool black = false;

  uint32_t pen_color = 0;
  int pen_width = 1;
  uint32_t brush_color = 0xFFFFFF;
  bool brush_solid = true;
  int font_size = 10;
  bool font_bold = false;
  bool font_italic = false;
  uint32_t font_color = 0;
  int cur_x = 0, cur_y = 0;

  bool font_dirty = true;
  // A wide pen is a disc: pixel offsets (dx, dy) with dx^2 + dy^2 <= (width/2)^2 + 1/4.
  // pen_reach[|dy|] is the largest |dx| on row dy, for the width pen_reach_width.
  int pen_reach_width = 0;
  std::vector<int> pen_reach;
  // Per-row extent of the wide line being drawn (rows of the surface).
  std::vector<int> row_lo, row_hi;
  // The thin line's run on each of its rows, for the narrow pens.
  std::vector<int> run_lo, run_hi;
  // The outline's outer and inner half-width on each row of the ellipse being drawn.
  std::vector<double> ellipse_outer, ellipse_inner;

  // Shapes are rasterised straight into the pixels; only text goes through
  // cairo, which is told about the direct writes before it draws.
  void Flush() const { cairo_surface_mark_dirty(surface); }

  void ApplyFont() {
    if (!font_dirty || !fonts || !fonts->Ok()) return;
    FontSet::Impl* f = fonts->impl();
    cairo_set_font_face(cr, font_bold ? f->bold : f->regular);
    double size = font_size * 96.0 / 72.0;
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, size, size);
    if (font_italic) {
      cairo_matrix_t shear;
      cairo_matrix_init(&shear, 1, 0, -0.2, 1, 0, 0);
      cairo_matrix_multiply(&m, &shear, &m);
    }
    cairo_set_font_matrix(cr, &m);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    ascent = fe.ascent;
    descent = fe.descent;
    font_dirty = false;
  }
  double ascent = 0, descent = 0;  // of the current font

  void MarkDirty() { cairo_surface_mark_dirty(surface); }

  inline void Plot(int x, int y, uint32_t c) {
    if (unsigned(x) < unsigned(w) && unsigned(y) < unsigned(h)) px[y * stride_px + x] = c;
  }
  void HSpan(int x0, int x1, int y, uint32_t c) {  // x0..x1 inclusive
    if (unsigned(y) >= unsigned(h)) return;
    if (x0 < 0) x0 = 0;
    if (x1 > w - 1) x1 = w - 1;
    if (x0 > x1) return;
    FillPixels(px + y * stride_px + x0, size_t(x1 - x0 + 1), c);
  }

  const std::vector<int>& PenReach(int width) {
    if (width != pen_reach_width) {
      // In quarters, exactly: 4 (dx^2 + dy^2) <= width^2 + 1.
      const int limit = width * width + 1;
      pen_reach.clear();
      for (int dy = 0; 4 * dy * dy <= limit; ++dy) {
        int dx = 0;
        while (4 * ((dx + 1) * (dx + 1) + dy * dy) <= limit) ++dx;
        pen_reach.push_back(dx);
      }
      pen_reach_width = width;
    }
    return pen_reach;
  }

  // Clips a segment to the surface grown by `m` pixels (Liang-Barsky);
  // false when nothing of it is visible.
  bool ClipSegment(double& x0, double& y0, double& x1, double& y1, int m) const {
    double t0 = 0, t1 = 1, dx = x1 - x0, dy = y1 - y0;
    auto edge = [&](double p, double q) {
      if (p == 0) return q >= 0;
      double r = q / p;
      if (p < 0) {
        if (r > t1) return false;
        if (r > t0) t0 = r;
      } else {
        if (r < t0) return false;
        if (r < t1) t1 = r;
      }
      return true;
    };
    if (!edge(-dx, x0 + m) || !edge(dx, (w - 1 + m) - x0) || !edge(-dy, y0 + m) ||
        !edge(dy, (h - 1 + m) - y0))
      return false;
    double nx0 = x0 + t0 * dx, ny0 = y0 + t0 * dy, nx1 = x0 + t1 * dx, ny1 = y0 + t1 * dy;
    x0 = nx0;
    y0 = ny0;
    x1 = nx1;
    y1 = ny1;
    return true;
  }

  // A line with both end points, in the pen's width and colour; a wide pen
  // has round ends, so a zero-length wide line is a round dot.
  void Line(int ax, int ay, int bx, int by) {
    uint32_t c = ToNative(pen_color);
    int width = pen_width;
    int m = width + 2;
    if (ax < -m || ay < -m || bx < -m || by < -m || ax > w + m || bx > w + m || ay > h + m ||
        by > h + m) {
      double x0 = ax, y0 = ay, x1 = bx, y1 = by;
      if (!ClipSegment(x0, y0, x1, y1, m)) return;
      ax = int(std::lround(x0));
      ay = int(std::lround(y0));
      bx = int(std::lround(x1));
      by = int(std::lround(y1));
    }
    if (width <= 1) {
      // The thin line stays in the box of its ends: inside the surface it needs no clipping.
      if (unsigned(ax) < unsigned(w) && unsigned(bx) < unsigned(w) && unsigned(ay) < unsigned(h) &&
          unsigned(by) < unsigned(h))
        Bresenham(ax, ay, bx, by, ptrdiff_t(ay) * stride_px + ax, ptrdiff_t(1), ptrdiff_t(stride_px),
                  [pixels = px, c](ptrdiff_t at) { pixels[at] = c; });
      else
        Walk(ax, ay, bx, by, [&](int x, int y) { Plot(x, y, c); });
      return;
    }
    // The wide line is the union of pen discs centred on the thin line's pixels.
    // The thin line's pixels touch one another and go one way in x and in y, so
    // on every row the discs' pieces join into one span: only its two ends are
    // gathered, from the ends of each horizontal run of the thin line.
    const std::vector<int>& reach = PenReach(width);
    const int rmax = int(reach.size()) - 1;
    if (rmax == 1) {
      const int d = 2;  // how far the pen reaches past the thin line, at most
      if (std::min(ax, bx) >= d && std::max(ax, bx) < w - d && std::min(ay, by) >= 1 &&
          std::max(ay, by) < h - 1)
        NarrowLine<true>(ax, ay, bx, by, reach[0], reach[1], c);
      else
        NarrowLine<false>(ax, ay, bx, by, reach[0], reach[1], c);
      return;
    }
    const int top = std::max(std::min(ay, by) - rmax, 0);
    const int bottom = std::min(std::max(ay, by) + rmax, h - 1);
    if (top > bottom) return;
    row_lo.resize(size_t(h));
    row_hi.resize(size_t(h));
    std::fill(row_lo.begin() + top, row_lo.begin() + bottom + 1, INT_MAX);
    std::fill(row_hi.begin() + top, row_hi.begin() + bottom + 1, INT_MIN);
    auto add_run = [&](int xa, int xb, int y) {  // thin-line pixels xa..xb on row y
      const int lo = std::min(xa, xb), hi = std::max(xa, xb);
      const int r0 = std::max(y - rmax, top), r1 = std::min(y + rmax, bottom);
      for (int r = r0; r <= r1; ++r) {
        const int d = reach[size_t(std::abs(r - y))];
        row_lo[size_t(r)] = std::min(row_lo[size_t(r)], lo - d);
        row_hi[size_t(r)] = std::max(row_hi[size_t(r)], hi + d);
      }
    };
    int run_y = ay, run_x0 = ax, run_x1 = ax;
    Walk(ax, ay, bx, by, [&](int x, int y) {
      if (y != run_y) {
        add_run(run_x0, run_x1, run_y);
        run_y = y;
        run_x0 = x;
      }
      run_x1 = x;
    });
    add_run(run_x0, run_x1, run_y);
    for (int r = top; r <= bottom; ++r)
      if (row_lo[size_t(r)] <= row_hi[size_t(r)]) HSpan(row_lo[size_t(r)], row_hi[size_t(r)], r, c);
  }

  // A line in a pen that reaches one row up and down (widths 2 and 3): d0 is
  // its reach on the thin line's own row, d1 on the rows above and below. The
  // thin line's run on each of its rows is gathered first; a row's span then
  // comes from its own run and its two neighbours'. `inside`: every span lies
  // on the surface.
  template <bool inside>
  void NarrowLine(int ax, int ay, int bx, int by, int d0, int d1, uint32_t c) {
    const int n = std::abs(by - ay) + 1;  // rows of the thin line, from ay towards by
    const int sy = ay <= by ? 1 : -1;
    auto span = [this, pixels = px, stride = stride_px, c](int l, int r, int y) {
      if constexpr (inside) FillPixels(pixels + y * stride + l, size_t(r - l + 1), c);
      else HSpan(l, r, y, c);
    };
    if (d1 == 0 && std::abs(bx - ax) <= std::abs(by - ay)) {
      // A steep line in the width-2 pen: one thin pixel a row, its neighbours'
      // within one column of it, so each row is the pixel widened by d0.
      span(ax, ax, ay - sy);  // the row before the first pixel
      Walk(ax, ay, bx, by, [&](int x, int y) { span(x - d0, x + d0, y); });
      span(bx, bx, by + sy);  // and the row after the last
      return;
    }
    if (run_lo.size() < size_t(n)) {
      run_lo.resize(size_t(n));
      run_hi.resize(size_t(n));
    }
    int* const lo = run_lo.data();
    int* const hi = run_hi.data();
    int k = 0, run_y = ay;
    lo[0] = hi[0] = ax;
    Walk(ax, ay, bx, by, [&](int x, int y) {
      if (y != run_y) {
        run_y = y;
        lo[++k] = x;
        hi[k] = x;
      } else if (x < lo[k]) {
        lo[k] = x;
      } else if (x > hi[k]) {
        hi[k] = x;
      }
    });
    span(lo[0] - d1, hi[0] + d1, ay - sy);  // the row before the first run
    for (int i = 0; i < n; ++i) {
      int l = lo[i] - d0, r = hi[i] + d0;
      if (i > 0) {
        l = std::min(l, lo[i - 1] - d1);
        r = std::max(r, hi[i - 1] + d1);
      }
      if (i + 1 < n) {
        l = std::min(l, lo[i + 1] - d1);
        r = std::max(r, hi[i + 1] + d1);
      }
      span(l, r, ay + i * sy);
    }
    span(lo[n - 1] - d1, hi[n - 1] + d1, by + sy);  // and the row after the last
  }

  // The thin line from a to b, both ends included (Bresenham), as a position
  // that starts at `at` and moves by `step_x` and `step_y` with the line:
  // visit(at) for each pixel. The position is the pixel's coordinates or its
  // place in memory, which steps without a multiplication. The major axis
  // steps on every pixel, so each octant pair gets a loop with a single test.
  template <typename Pos, typename Visit>
  static void Bresenham(int ax, int ay, int bx, int by, Pos at, Pos step_x, Pos step_y, Visit&& visit) {
    const int dx = std::abs(bx - ax), dy = -std::abs(by - ay);
    if (bx < ax) step_x = -step_x;
    if (by < ay) step_y = -step_y;
    int err = dx + dy;
    if (dx >= -dy) {
      for (int n = dx;; --n) {
        visit(at);
        if (n == 0) break;
        if (2 * err <= dx) {
          err += dx;
          at += step_y;
        }
        err += dy;
        at += step_x;
      }
    } else {
      for (int n = -dy;; --n) {
        visit(at);
        if (n == 0) break;
        if (2 * err >= dy) {
          err += dy;
          at += step_x;
        }
        err += dx;
        at += step_y;
      }
    }
  }

  struct Point {
    int x, y;
    Point operator-() const { return {-x, -y}; }
    Point& operator+=(Point o) {
      x += o.x;
      y += o.y;
      return *this;
    }
  };

  // The thin line's pixels by their coordinates: visit(x, y).
  template <typename Visit>
  static void Walk(int ax, int ay, int bx, int by, Visit&& visit) {
    Bresenham(ax, ay, bx, by, Point{ax, ay}, Point{1, 0}, Point{0, 1}, [&](Point p) { visit(p.x, p.y); });
  }

  // Filled polygon by scanlines through pixel centres (even-odd rule).
  void FillPoly(const int* xy, int n, uint32_t colour) {
    int ymin = INT32_MAX, ymax = INT32_MIN;
    for (int i = 0; i < n; ++i) {
      ymin = std::min(ymin, xy[2 * i + 1]);
      ymax = std::max(ymax, xy[2 * i + 1]);
    }
    ymin = std::max(ymin, 0);
    ymax = std::min(ymax, h - 1);
    double xs[64];
    for (int y = ymin; y <= ymax; ++y) {
      int k = 0;
      for (int i = 0; i < n && k < 64; ++i) {
        int j = (i + 1) % n;
        double y0 = xy[2 * i + 1], y1 = xy[2 * j + 1];
        if ((y0 <= y && y1 > y) || (y1 <= y && y0 > y)) {
          double t = (y - y0) / (y1 - y0);
          xs[k++] = xy[2 * i] + t * (xy[2 * j] - xy[2 * i]);
        }
      }
      std::sort(xs, xs + k);
      for (int i = 0; i + 1 < k; i += 2)
        HSpan(CeilInt(xs[i]), FloorInt(xs[i + 1]), y, colour);
    }
  }
};

Canvas::Canvas(int width, int height, std::shared_ptr<FontSet> fonts)
    : impl_(std::make_unique<Impl>()) {
  impl_->w = width;
  impl_->h = height;
  impl_->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  impl_->cr = cairo_create(impl_->surface);
  impl_->fonts = std::move(fonts);
  impl_->px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(impl_->surface));
  impl_->stride_px = cairo_image_surface_get_stride(impl_->surface) / 4;
  cairo_set_antialias(impl_->cr, CAIRO_ANTIALIAS_NONE);
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(impl_->cr, fo);
  cairo_font_options_destroy(fo);
  Clear(0);
}

Canvas::~Canvas() {
  cairo_destroy(impl_->cr);
  cairo_surface_destroy(impl_->surface);
}

int Canvas::Width() const { return impl_->w; }
int Canvas::Height() const { return impl_->h; }

void Canvas::SetPen(uint32_t color, int width) {
  SetPenColor(color);
  SetPenWidth(width);
}
void Canvas::SetPenColor(uint32_t color) { impl_->pen_color = color & 0xFFFFFF; }
void Canvas::SetPenWidth(int width) { impl_->pen_width = width < 1 ? 1 : width; }
uint32_t Canvas::PenColor() const { return impl_->pen_color; }
int Canvas::PenWidth() const { return impl_->pen_width; }

void Canvas::SetBrush(uint32_t color) {
  impl_->brush_color = color & 0xFFFFFF;
  impl_->brush_solid = true;
}
void Canvas::SetBrushColor(uint32_t color) { impl_->brush_color = color & 0xFFFFFF; }
void Canvas::SetBrushSolid(bool solid) { impl_->brush_solid = solid; }
bool Canvas::BrushSolid() const { return impl_->brush_solid; }

void Canvas::SetFontSize(int points) {
  if (points != impl_->font_size) impl_->font_dirty = true;
  impl_->font_size = points;
}
void Canvas::SetFontBold(bool bold) {
  if (bold != impl_->font_bold) impl_->font_dirty = true;
  impl_->font_bold = bold;
}
void Canvas::SetFontItalic(bool italic) {
  if (italic != impl_->font_italic) impl_->font_dirty = true;
  impl_->font_italic = italic;
}
void Canvas::SetFontColor(uint32_t color) { impl_->font_color = color & 0xFFFFFF; }
int Canvas::FontSize() const { return impl_->font_size; }
uint32_t Canvas::FontColor() const { return impl_->font_color; }

void Canvas::MoveTo(int x, int y) {
  impl_->cur_x = x;
  impl_->cur_y = y;
}

void Canvas::LineTo(int x, int y) {
  impl_->black = false;
  impl_->Line(impl_->cur_x, impl_->cur_y, x, y);
  impl_->cur_x = x;
  impl_->cur_y = y;
}

void Canvas::Polyline(const int* xy, int points) {
  if (points < 1) return;
  MoveTo(xy[0], xy[1]);
  for (int i = 1; i < points; ++i) LineTo(xy[2 * i], xy[2 * i + 1]);
}

void Canvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  Impl& m = *impl_;
  m.black = false;
  if (m.brush_solid) {
    uint32_t b = ToNative(m.brush_color);
    for (int y = std::max(y1, 0); y < std::min(y2, m.h); ++y) m.HSpan(x1, x2 - 1, y, b);
  }
  // The outline runs through the outermost pixels, right and bottom excluded.
  int l = x1, t = y1, r = x2 - 1, b = y2 - 1;
  m.Line(l, t, r, t);
  m.Line(r, t, r, b);
  m.Line(r, b, l, b);
  m.Line(l, b, l, t);
}

void Canvas::FillRect(int x1, int y1, int x2, int y2, uint32_t color) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  uint32_t c = ToNative(color & 0xFFFFFF);
  impl_->black = false;
  for (int y = std::max(y1, 0); y < std::min(y2, impl_->h); ++y) impl_->HSpan(x1, x2 - 1, y, c);
}

void Canvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  Impl& m = *impl_;
  m.black = false;
  double a = (x2 - x1 - 1) / 2.0, b = (y2 - y1 - 1) / 2.0;
  if (a < 0.25 || b < 0.25) return;
  double cx = x1 + a, cy = y1 + b;
  double half = m.pen_width / 2.0;
  double ao = a + half, bo = b + half;                      // outline's outer edge
  double ai = a - half, bi = b - half;                      // and inner edge
  uint32_t pen = ToNative(m.pen_color), brush = ToNative(m.brush_color);
  // Rows y and 2 cy - y lie at the same distance from the centre (2 cy is a
  // whole number), so each pair of rows is worked out once and drawn twice.
  // Only the pairs with a row on the surface are worked out at all.
  const int twice_cy = y1 + y2 - 1;
  const int first = std::max(FloorInt(cy - bo), std::min(0, twice_cy - m.h + 1));
  // The upper row of a pair is at most the centre row, and its mirror must be on the surface.
  const int last = std::min({m.h - 1, FloorInt(twice_cy / 2.0), twice_cy});
  if (last < first) return;
  const int rows = last - first + 1;

  // The half-widths of the outer and inner edge on every row come first, in a
  // loop of their own: each is a division and a square root, and two rows at a
  // time cost little more than one. The figures are the same as one row at a
  // time would give, since both round every step exactly.
  m.ellipse_outer.resize(size_t(rows) + 1);
  m.ellipse_inner.resize(size_t(rows) + 1);
  double* outer = m.ellipse_outer.data();
  double* inner = m.ellipse_inner.data();
  // A brush of the pen's colour makes every row one span from the outer edge
  // to the outer edge (the inner edge always lies within the outer one), so
  // the inner edge is needed only for an outline of its own.
  const bool one_colour = m.brush_solid && brush == pen;
  const bool need_inner = ai > 0 && bi > 0 && !one_colour;
  const double bo2 = bo * bo, bi2 = bi * bi;
  int i = 0;
#if defined(__SSE2__)
  {
    const __m128d vcy = _mm_set1_pd(cy), one = _mm_set1_pd(1.0), zero = _mm_setzero_pd();
    const __m128d vbo2 = _mm_set1_pd(bo2), vbi2 = _mm_set1_pd(bi2);
    const __m128d vao = _mm_set1_pd(ao), vai = _mm_set1_pd(ai);
    for (; i + 1 < rows; i += 2) {
      const __m128d dy = _mm_sub_pd(_mm_set_pd(first + i + 1, first + i), vcy);
      const __m128d dy2 = _mm_mul_pd(dy, dy);
      const __m128d so = _mm_sqrt_pd(_mm_max_pd(_mm_sub_pd(one, _mm_div_pd(dy2, vbo2)), zero));
      _mm_storeu_pd(outer + i, _mm_mul_pd(vao, so));
      if (!need_inner) continue;
      const __m128d si = _mm_sqrt_pd(_mm_max_pd(_mm_sub_pd(one, _mm_div_pd(dy2, vbi2)), zero));
      _mm_storeu_pd(inner + i, _mm_mul_pd(vai, si));
    }
  }
#endif
  for (; i < rows; ++i) {
    const double dy = (first + i) - cy;
    outer[i] = ao * std::sqrt(std::max(0.0, 1 - (dy * dy) / bo2));
    if (need_inner) inner[i] = ai * std::sqrt(std::max(0.0, 1 - (dy * dy) / bi2));
  }

  auto span = [&](int l, int r, int y, uint32_t c) {
    m.HSpan(l, r, y, c);
    if (twice_cy - y != y) m.HSpan(l, r, twice_cy - y, c);
  };
  for (int y = first; y <= last; ++y) {
    const double dy = y - cy;
    if (std::fabs(dy) > bo) continue;
    const double so = outer[y - first];
    int ol = CeilInt(cx - so - 1e-9), orr = FloorInt(cx + so + 1e-9);
    if (ol > orr) continue;
    if (!need_inner || !(std::fabs(dy) < bi)) {
      span(ol, orr, y, pen);
      continue;
    }
    const double si = inner[y - first];
    int il = CeilInt(cx - si + 1e-9), ir = FloorInt(cx + si - 1e-9);
    if (il > ir) {
      span(ol, orr, y, pen);
      continue;
    }
    span(ol, il - 1, y, pen);
    span(ir + 1, orr, y, pen);
    if (m.brush_solid) span(il, ir, y, brush);
  }
}

void Canvas::FillPolygon(const int* xy, int points) {
  if (points < 2) return;
  impl_->black = false;
  impl_->FillPoly(xy, std::min(points, 60), ToNative(impl_->pen_color));
  MoveTo(xy[0], xy[1]);
  for (int i = 1; i < points; ++i) LineTo(xy[2 * i], xy[2 * i + 1]);
  LineTo(xy[0], xy[1]);
}

TextSize Canvas::MeasureText(const std::string& utf8) {
  if (!impl_->fonts || !impl_->fonts->Ok()) return {};
  return Measure(impl_->fonts->impl()->metrics, UpToNul(utf8), impl_->font_size, impl_->font_bold);
}

void Canvas::TextOut(int x, int y, const std::string& utf8) {
  if (!impl_->fonts || !impl_->fonts->Ok() || utf8.empty()) return;
  // Text cairo cannot read would leave the canvas unable to draw text again.
  if (!ValidText(UpToNul(utf8)) || impl_->font_size < 1) return;
  impl_->black = false;
  impl_->Flush();
  impl_->ApplyFont();
  cairo_t* cr = impl_->cr;
  cairo_font_extents_t fe;
  fe.ascent = impl_->ascent;
  fe.descent = impl_->descent;
  if (impl_->brush_solid) {
    SetSource(cr, impl_->brush_color);
    cairo_rectangle(cr, x, y, MeasureText(utf8).width, std::ceil(fe.ascent + fe.descent));
    cairo_fill(cr);
  }
  SetSource(cr, impl_->font_color);
  cairo_move_to(cr, x, y + std::round(fe.ascent));
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  cairo_show_text(cr, utf8.c_str());
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_new_path(cr);
}

namespace {
// Clips a block copy to both surfaces; returns false when nothing is left.
bool ClipBlock(int dw, int dh, int sw, int sh, int& dx, int& dy, int& w, int& h, int& sx, int& sy) {
  if (sx < 0) { dx -= sx; w += sx; sx = 0; }
  if (sy < 0) { dy -= sy; h += sy; sy = 0; }
  if (dx < 0) { sx -= dx; w += dx; dx = 0; }
  if (dy < 0) { sy -= dy; h += dy; dy = 0; }
  w = std::min({w, dw - dx, sw - sx});
  h = std::min({h, dh - dy, sh - sy});
  return w > 0 && h > 0;
}

typedef uint32_t Four __attribute__((vector_size(16)));

// to |= from over n pixels, four at a time in one vector register.
void OrPixels(uint32_t* to, const uint32_t* from, int n) {
  int c = 0;
  for (; c + 4 <= n; c += 4) {
    Four a, b;
    std::memcpy(&a, to + c, sizeof a);
    std::memcpy(&b, from + c, sizeof b);
    a = (a | b) & 0xFFFFFFu;
    std::memcpy(to + c, &a, sizeof a);
  }
  for (; c < n; ++c) to[c] = (to[c] | from[c]) & 0xFFFFFF;
}
}  // namespace

void Canvas::CopyFrom(const Canvas& src, int dx, int dy, int w, int h, int sx, int sy) {
  if (!ClipBlock(impl_->w, impl_->h, src.impl_->w, src.impl_->h, dx, dy, w, h, sx, sy)) return;
  const Impl& s = *src.impl_;
  Impl& d = *impl_;
  // Rows are walked bottom-up when a self copy moves down, so none is read after it was written.
  bool upward = &src == this && dy > sy;
  d.black = false;
  for (int i = 0; i < h; ++i) {
    int r = upward ? h - 1 - i : i;
    std::memmove(d.px + (dy + r) * d.stride_px + dx, s.px + (sy + r) * s.stride_px + sx,
                 size_t(w) * 4);
  }
  d.MarkDirty();
}

void Canvas::OrFrom(const Canvas& src, int dx, int dy, int w, int h, int sx, int sy) {
  if (!ClipBlock(impl_->w, impl_->h, src.impl_->w, src.impl_->h, dx, dy, w, h, sx, sy)) return;
  const Impl& s = *src.impl_;
  Impl& d = *impl_;
  d.black = false;
  for (int r = 0; r < h; ++r)
    OrPixels(d.px + (dy + r) * d.stride_px + dx, s.px + (sy + r) * s.stride_px + sx, w);
  d.MarkDirty();
}

void Canvas::OrFromAndClear(Canvas& src) {
  Impl& s = *src.impl_;
  Impl& d = *impl_;
  if (s.w != d.w || s.h != d.h || &src == this) {
    OrFrom(src, 0, 0, s.w, s.h, 0, 0);
    src.Clear(0);
    return;
  }
  if (s.black) return;
  d.black = false;
  // Effects cover a tenth of the field or so: the runs of src that hold
  // nothing are only read, the rest is OR-ed over and emptied.
  constexpr int kRun = 64;
  for (int r = 0; r < s.h; ++r) {
    uint32_t* from = s.px + r * s.stride_px;
    uint32_t* to = d.px + r * d.stride_px;
    for (int c0 = 0; c0 < s.w; c0 += kRun) {
      const int n = std::min(kRun, s.w - c0);
      if (n == kRun) {
        Four any = {0, 0, 0, 0};
        for (int c = c0; c < c0 + kRun; c += 4) {
          Four b;
          std::memcpy(&b, from + c, sizeof b);
          any |= b;
        }
        if (((any[0] | any[1] | any[2] | any[3]) & 0xFFFFFFu) == 0) continue;
      }
      OrPixels(to + c0, from + c0, n);
      std::fill_n(from + c0, n, 0u);
    }
  }
  s.black = true;
  s.MarkDirty();
  d.MarkDirty();
}

void Canvas::Clear(uint32_t color) {
  // bak is cleared at the start of every frame, mostly already empty.
  if (impl_->black && (color & 0xFFFFFF) == 0) return;
  cairo_surface_flush(impl_->surface);
  uint8_t* dp = cairo_image_surface_get_data(impl_->surface);
  int ds = cairo_image_surface_get_stride(impl_->surface);
  uint32_t n = ToNative(color & 0xFFFFFF);
  for (int r = 0; r < impl_->h; ++r) {
    uint32_t* d = reinterpret_cast<uint32_t*>(dp + r * ds);
    FillPixels(d, size_t(impl_->w), n);
  }
  impl_->black = n == 0;
  impl_->MarkDirty();
}

uint32_t Canvas::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= impl_->w || y >= impl_->h) return 0;
  impl_->Flush();
  cairo_surface_flush(impl_->surface);
  const uint8_t* dp = cairo_image_surface_get_data(impl_->surface);
  int ds = cairo_image_surface_get_stride(impl_->surface);
  return FromNative(reinterpret_cast<const uint32_t*>(dp + y * ds)[x] & 0xFFFFFF);
}

void Canvas::SetPixel(int x, int y, uint32_t color) {
  if (x < 0 || y < 0 || x >= impl_->w || y >= impl_->h) return;
  impl_->Flush();
  cairo_surface_flush(impl_->surface);
  uint8_t* dp = cairo_image_surface_get_data(impl_->surface);
  int ds = cairo_image_surface_get_stride(impl_->surface);
  reinterpret_cast<uint32_t*>(dp + y * ds)[x] = ToNative(color & 0xFFFFFF);
  impl_->black = false;
  impl_->MarkDirty();
}

const uint8_t* Canvas::Data() const {
  impl_->Flush();
  cairo_surface_flush(impl_->surface);
  return cairo_image_surface_get_data(impl_->surface);
}
uint8_t* Canvas::MutableData() {
  impl_->black = false;
  impl_->Flush();
  cairo_surface_flush(impl_->surface);
  impl_->MarkDirty();
  return cairo_image_surface_get_data(impl_->surface);
}
int Canvas::Stride() const { return cairo_image_surface_get_stride(impl_->surface); }
