// Cairo-backed canvas. Shapes are drawn without antialiasing on pixel centres;
// consecutive lines with the same pen are gathered into one path and stroked
// together, which is far cheaper than one stroke per segment and gives the same
// pixels for opaque colours.
#include "platform/canvas.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include <csetjmp>
#include <jpeglib.h>

// ---------------------------------------------------------------- fonts

struct FontSet::Impl {
  FT_Library lib = nullptr;
  FT_Face regular_ft = nullptr;
  FT_Face bold_ft = nullptr;  // its own FT_Face: cairo shares one font face per FT_Face
  cairo_font_face_t* regular = nullptr;
  cairo_font_face_t* bold = nullptr;
};

FontSet::FontSet(const std::string& font_path) : impl_(std::make_unique<Impl>()) {
  if (FT_Init_FreeType(&impl_->lib) != 0) {
    impl_->lib = nullptr;
    return;
  }
  if (FT_New_Face(impl_->lib, font_path.c_str(), 0, &impl_->regular_ft) != 0) {
    impl_->regular_ft = nullptr;
    return;
  }
  if (FT_New_Face(impl_->lib, font_path.c_str(), 0, &impl_->bold_ft) != 0) {
    impl_->bold_ft = nullptr;
  }
  impl_->regular = cairo_ft_font_face_create_for_ft_face(impl_->regular_ft, 0);
  if (impl_->bold_ft) {
    impl_->bold = cairo_ft_font_face_create_for_ft_face(impl_->bold_ft, 0);
    cairo_ft_font_face_set_synthesize(impl_->bold, CAIRO_FT_SYNTHESIZE_BOLD);
  } else {
    impl_->bold = cairo_font_face_reference(impl_->regular);
  }
}

FontSet::~FontSet() {
  if (impl_->bold) cairo_font_face_destroy(impl_->bold);
  if (impl_->regular) cairo_font_face_destroy(impl_->regular);
  if (impl_->bold_ft) FT_Done_Face(impl_->bold_ft);
  if (impl_->regular_ft) FT_Done_Face(impl_->regular_ft);
  if (impl_->lib) FT_Done_FreeType(impl_->lib);
}

bool FontSet::Ok() const { return impl_->regular != nullptr; }

// ---------------------------------------------------------------- canvas

namespace {

inline uint32_t ToNative(uint32_t bgr) {  // 0x00BBGGRR -> 0x00RRGGBB
  return ((bgr & 0xFF) << 16) | (bgr & 0xFF00) | ((bgr >> 16) & 0xFF);
}
inline uint32_t FromNative(uint32_t rgb) { return ToNative(rgb); }

inline void SetSource(cairo_t* cr, uint32_t c) {
  cairo_set_source_rgb(cr, RedOf(c) / 255.0, GreenOf(c) / 255.0, BlueOf(c) / 255.0);
}

}  // namespace

struct Canvas::Impl {
  int w = 0, h = 0;
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  std::shared_ptr<FontSet> fonts;

  uint32_t pen_color = 0;
  int pen_width = 1;
  uint32_t brush_color = 0xFFFFFF;
  bool brush_solid = true;
  int font_size = 10;
  bool font_bold = false;
  bool font_italic = false;
  uint32_t font_color = 0;
  int cur_x = 0, cur_y = 0;

  bool path_pending = false;  // lines gathered but not yet stroked
  bool font_dirty = true;

  void Flush() {
    if (!path_pending) return;
    SetSource(cr, pen_color);
    cairo_set_line_width(cr, pen_width);
    cairo_stroke(cr);
    path_pending = false;
  }

  // Pixel centre of integer coordinate.
  static double C(int v) { return v + 0.5; }

  void ApplyFont() {
    if (!font_dirty || !fonts || !fonts->Ok()) return;
    FontSet::Impl* f = fonts->impl();
    cairo_set_font_face(cr, font_bold ? f->bold : f->regular);
    double px = font_size * 96.0 / 72.0;
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, px, px);
    if (font_italic) {
      cairo_matrix_t shear;
      cairo_matrix_init(&shear, 1, 0, -0.2, 1, 0, 0);
      cairo_matrix_multiply(&m, &shear, &m);
    }
    cairo_set_font_matrix(cr, &m);
    font_dirty = false;
  }

  void MarkDirty() { cairo_surface_mark_dirty(surface); }
};

Canvas::Canvas(int width, int height, std::shared_ptr<FontSet> fonts)
    : impl_(std::make_unique<Impl>()) {
  impl_->w = width;
  impl_->h = height;
  impl_->surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  impl_->cr = cairo_create(impl_->surface);
  impl_->fonts = std::move(fonts);
  cairo_set_antialias(impl_->cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_cap(impl_->cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(impl_->cr, CAIRO_LINE_JOIN_ROUND);
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
void Canvas::SetPenColor(uint32_t color) {
  color &= 0xFFFFFF;
  if (color != impl_->pen_color) impl_->Flush();
  impl_->pen_color = color;
}
void Canvas::SetPenWidth(int width) {
  if (width < 1) width = 1;
  if (width != impl_->pen_width) impl_->Flush();
  impl_->pen_width = width;
}
uint32_t Canvas::PenColor() const { return impl_->pen_color; }
int Canvas::PenWidth() const { return impl_->pen_width; }

void Canvas::SetBrush(uint32_t color) {
  impl_->brush_color = color & 0xFFFFFF;
  impl_->brush_solid = true;
}
void Canvas::SetBrushColor(uint32_t color) { impl_->brush_color = color & 0xFFFFFF; }
void Canvas::SetBrushSolid(bool solid) { impl_->brush_solid = solid; }
uint32_t Canvas::BrushColor() const { return impl_->brush_color; }
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
bool Canvas::FontBold() const { return impl_->font_bold; }
uint32_t Canvas::FontColor() const { return impl_->font_color; }

void Canvas::MoveTo(int x, int y) {
  impl_->cur_x = x;
  impl_->cur_y = y;
}

void Canvas::LineTo(int x, int y) {
  cairo_t* cr = impl_->cr;
  // Coordinates far outside the surface are clamped so cairo's fixed-point
  // arithmetic never overflows; the visible part of the line is unchanged
  // for any practical value.
  auto clampc = [](int v) { return std::clamp(v, -100000, 100000); };
  cairo_move_to(cr, Impl::C(clampc(impl_->cur_x)), Impl::C(clampc(impl_->cur_y)));
  cairo_line_to(cr, Impl::C(clampc(x)), Impl::C(clampc(y)));
  impl_->path_pending = true;
  impl_->cur_x = x;
  impl_->cur_y = y;
}

void Canvas::Polyline(const int* xy, int points) {
  if (points < 1) return;
  MoveTo(xy[0], xy[1]);
  for (int i = 1; i < points; ++i) LineTo(xy[2 * i], xy[2 * i + 1]);
}

void Canvas::Rectangle(int x1, int y1, int x2, int y2) {
  impl_->Flush();
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  cairo_t* cr = impl_->cr;
  if (impl_->brush_solid && x2 - x1 > 0 && y2 - y1 > 0) {
    SetSource(cr, impl_->brush_color);
    cairo_rectangle(cr, x1, y1, x2 - x1, y2 - y1);
    cairo_fill(cr);
  }
  if (x2 - x1 >= 1 && y2 - y1 >= 1) {
    SetSource(cr, impl_->pen_color);
    int pw = impl_->pen_width;
    if (pw <= 1) {
      cairo_set_line_width(cr, 1);
      cairo_rectangle(cr, x1 + 0.5, y1 + 0.5, x2 - x1 - 1, y2 - y1 - 1);
      cairo_stroke(cr);
    } else {
      cairo_set_line_width(cr, pw);
      cairo_rectangle(cr, x1 + 0.5, y1 + 0.5, x2 - x1 - 1, y2 - y1 - 1);
      cairo_stroke(cr);
    }
  }
}

void Canvas::FillRect(int x1, int y1, int x2, int y2, uint32_t color) {
  impl_->Flush();
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  SetSource(impl_->cr, color);
  cairo_rectangle(impl_->cr, x1, y1, x2 - x1, y2 - y1);
  cairo_fill(impl_->cr);
}

void Canvas::Ellipse(int x1, int y1, int x2, int y2) {
  impl_->Flush();
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  double w = x2 - x1 - 1, h = y2 - y1 - 1;
  if (w < 0.5 || h < 0.5) return;
  cairo_t* cr = impl_->cr;
  cairo_save(cr);
  cairo_translate(cr, x1 + 0.5 + w / 2, y1 + 0.5 + h / 2);
  cairo_scale(cr, w / 2, h / 2);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr);
  if (impl_->brush_solid) {
    SetSource(cr, impl_->brush_color);
    cairo_fill_preserve(cr);
  }
  SetSource(cr, impl_->pen_color);
  cairo_set_line_width(cr, impl_->pen_width);
  cairo_stroke(cr);
}

void Canvas::FillPolygon(const int* xy, int points) {
  impl_->Flush();
  if (points < 2) return;
  cairo_t* cr = impl_->cr;
  cairo_move_to(cr, Impl::C(xy[0]), Impl::C(xy[1]));
  for (int i = 1; i < points; ++i) cairo_line_to(cr, Impl::C(xy[2 * i]), Impl::C(xy[2 * i + 1]));
  cairo_close_path(cr);
  SetSource(cr, impl_->pen_color);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, impl_->pen_width);
  cairo_stroke(cr);
}

TextSize Canvas::MeasureText(const std::string& utf8) {
  TextSize s;
  if (!impl_->fonts || !impl_->fonts->Ok()) return s;
  impl_->Flush();
  impl_->ApplyFont();
  cairo_font_extents_t fe;
  cairo_font_extents(impl_->cr, &fe);
  s.height = int(std::ceil(fe.ascent + fe.descent));
  if (!utf8.empty()) {
    cairo_text_extents_t te;
    cairo_text_extents(impl_->cr, utf8.c_str(), &te);
    s.width = int(std::lround(te.x_advance));
  }
  return s;
}

void Canvas::TextOut(int x, int y, const std::string& utf8) {
  if (!impl_->fonts || !impl_->fonts->Ok() || utf8.empty()) return;
  impl_->Flush();
  impl_->ApplyFont();
  cairo_t* cr = impl_->cr;
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  if (impl_->brush_solid) {
    cairo_text_extents_t te;
    cairo_text_extents(cr, utf8.c_str(), &te);
    SetSource(cr, impl_->brush_color);
    cairo_rectangle(cr, x, y, std::lround(te.x_advance), std::ceil(fe.ascent + fe.descent));
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
}  // namespace

void Canvas::CopyFrom(const Canvas& src, int dx, int dy, int w, int h, int sx, int sy) {
  impl_->Flush();
  src.impl_->Flush();
  if (!ClipBlock(impl_->w, impl_->h, src.impl_->w, src.impl_->h, dx, dy, w, h, sx, sy)) return;
  cairo_surface_flush(src.impl_->surface);
  cairo_surface_flush(impl_->surface);
  const uint8_t* sp = cairo_image_surface_get_data(src.impl_->surface);
  uint8_t* dp = cairo_image_surface_get_data(impl_->surface);
  int ss = cairo_image_surface_get_stride(src.impl_->surface);
  int ds = cairo_image_surface_get_stride(impl_->surface);
  if (&src == this && dy > sy) {
    for (int r = h - 1; r >= 0; --r)
      std::memmove(dp + (dy + r) * ds + dx * 4, sp + (sy + r) * ss + sx * 4, size_t(w) * 4);
  } else {
    for (int r = 0; r < h; ++r)
      std::memmove(dp + (dy + r) * ds + dx * 4, sp + (sy + r) * ss + sx * 4, size_t(w) * 4);
  }
  impl_->MarkDirty();
}

void Canvas::OrFrom(const Canvas& src, int dx, int dy, int w, int h, int sx, int sy) {
  impl_->Flush();
  src.impl_->Flush();
  if (!ClipBlock(impl_->w, impl_->h, src.impl_->w, src.impl_->h, dx, dy, w, h, sx, sy)) return;
  cairo_surface_flush(src.impl_->surface);
  cairo_surface_flush(impl_->surface);
  const uint8_t* sp = cairo_image_surface_get_data(src.impl_->surface);
  uint8_t* dp = cairo_image_surface_get_data(impl_->surface);
  int ss = cairo_image_surface_get_stride(src.impl_->surface);
  int ds = cairo_image_surface_get_stride(impl_->surface);
  for (int r = 0; r < h; ++r) {
    const uint32_t* s = reinterpret_cast<const uint32_t*>(sp + (sy + r) * ss) + sx;
    uint32_t* d = reinterpret_cast<uint32_t*>(dp + (dy + r) * ds) + dx;
    for (int c = 0; c < w; ++c) d[c] = (d[c] | s[c]) & 0xFFFFFF;
  }
  impl_->MarkDirty();
}

void Canvas::Clear(uint32_t color) {
  impl_->path_pending = false;
  cairo_new_path(impl_->cr);
  cairo_surface_flush(impl_->surface);
  uint8_t* dp = cairo_image_surface_get_data(impl_->surface);
  int ds = cairo_image_surface_get_stride(impl_->surface);
  uint32_t n = ToNative(color & 0xFFFFFF);
  for (int r = 0; r < impl_->h; ++r) {
    uint32_t* d = reinterpret_cast<uint32_t*>(dp + r * ds);
    std::fill(d, d + impl_->w, n);
  }
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
  impl_->MarkDirty();
}

const uint8_t* Canvas::Data() const {
  impl_->Flush();
  cairo_surface_flush(impl_->surface);
  return cairo_image_surface_get_data(impl_->surface);
}
uint8_t* Canvas::MutableData() {
  impl_->Flush();
  cairo_surface_flush(impl_->surface);
  impl_->MarkDirty();
  return cairo_image_surface_get_data(impl_->surface);
}
int Canvas::Stride() const { return cairo_image_surface_get_stride(impl_->surface); }

// ---------------------------------------------------------------- pictures

namespace {

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char a = s[s.size() - n + i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (a != suffix[i]) return false;
  }
  return true;
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

bool DecodeBmp(const std::string& path, Picture& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    data.insert(data.end(), buf, buf + n);
    if (data.size() > 64u * 1024 * 1024) break;
  }
  std::fclose(f);
  if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return false;
  uint32_t offset = Le32(&data[10]);
  uint32_t hsize = Le32(&data[14]);
  if (hsize < 40) return false;
  int32_t w = int32_t(Le32(&data[18]));
  int32_t h = int32_t(Le32(&data[22]));
  int bpp = Le16(&data[28]);
  uint32_t compression = Le32(&data[30]);
  if (w <= 0 || w > 8192 || h == 0 || h > 8192 || h < -8192) return false;
  if (compression != 0 || (bpp != 24 && bpp != 32)) return false;
  bool bottom_up = h > 0;
  int hh = bottom_up ? h : -h;
  size_t row = ((size_t(w) * bpp / 8) + 3) & ~size_t(3);
  if (offset > data.size() || data.size() - offset < row * hh) return false;
  out.width = w;
  out.height = hh;
  out.pixels.assign(size_t(w) * hh, 0);
  for (int y = 0; y < hh; ++y) {
    const uint8_t* r = &data[offset + row * (bottom_up ? hh - 1 - y : y)];
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = r + x * (bpp / 8);
      out.pixels[size_t(y) * w + x] = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
  }
  return true;
}

struct JpegErr {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

// libjpeg's fatal errors jump back to the caller, which gives up the load.
void JpegErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegErr*>(cinfo->err);
  longjmp(e->jump, 1);
}

bool DecodeJpeg(const std::string& path, Picture& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  jpeg_decompress_struct cinfo;
  JpegErr err;
  std::vector<uint8_t> row;  // outlives the jump target: nothing to unwind
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.output_message = [](j_common_ptr) {};
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  int w = int(cinfo.output_width), h = int(cinfo.output_height);
  bool ok = false;
  if (w > 0 && h > 0 && w <= 8192 && h <= 8192 && cinfo.output_components == 3) {
    out.width = w;
    out.height = h;
    out.pixels.assign(size_t(w) * h, 0);
    row.resize(size_t(w) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW rp = row.data();
      int y = int(cinfo.output_scanline);
      jpeg_read_scanlines(&cinfo, &rp, 1);
      for (int x = 0; x < w; ++x)
        out.pixels[size_t(y) * w + x] =
            (uint32_t(row[3 * x]) << 16) | (uint32_t(row[3 * x + 1]) << 8) | row[3 * x + 2];
    }
    jpeg_finish_decompress(&cinfo);
    ok = true;
  }
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return ok;
}

}  // namespace

bool DecodePicture(const std::string& path, Picture& out) {
  Picture p;
  bool ok = false;
  if (EndsWithNoCase(path, ".bmp")) ok = DecodeBmp(path, p);
  else if (EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".jpeg")) ok = DecodeJpeg(path, p);
  if (ok) out = std::move(p);
  return ok;
}

bool Canvas::LoadPicture(const std::string& path, int dx, int dy) {
  Picture p;
  if (!DecodePicture(path, p)) return false;
  uint8_t* dp = MutableData();
  int ds = Stride();
  for (int y = 0; y < p.height; ++y) {
    int ty = dy + y;
    if (ty < 0 || ty >= impl_->h) continue;
    uint32_t* d = reinterpret_cast<uint32_t*>(dp + ty * ds);
    for (int x = 0; x < p.width; ++x) {
      int tx = dx + x;
      if (tx < 0 || tx >= impl_->w) continue;
      d[tx] = p.pixels[size_t(y) * p.width + x];
    }
  }
  impl_->MarkDirty();
  return true;
}

bool Canvas::SavePng(const std::string& path) const {
  impl_->Flush();
  cairo_surface_flush(impl_->surface);
  return cairo_surface_write_to_png(impl_->surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool Canvas::SaveBmp(const std::string& path) const {
  const uint8_t* dp = Data();
  int ds = Stride();
  int w = impl_->w, h = impl_->h;
  size_t row = (size_t(w) * 3 + 3) & ~size_t(3);
  size_t image = row * h;
  std::vector<uint8_t> out(54 + image, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, uint32_t(out.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  out[26] = 1;
  out[28] = 24;
  put32(34, uint32_t(image));
  put32(38, 3780);
  put32(42, 3780);
  for (int y = 0; y < h; ++y) {
    const uint32_t* s = reinterpret_cast<const uint32_t*>(dp + (h - 1 - y) * ds);
    uint8_t* d = &out[54 + row * y];
    for (int x = 0; x < w; ++x) {
      d[3 * x] = uint8_t(s[x]);
      d[3 * x + 1] = uint8_t(s[x] >> 8);
      d[3 * x + 2] = uint8_t(s[x] >> 16);
    }
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

bool Canvas::SaveJpeg(const std::string& path, int quality) const {
  const uint8_t* dp = Data();
  int ds = Stride();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct cinfo;
  JpegErr err;
  std::vector<uint8_t> row(size_t(impl_->w) * 3);
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = JDIMENSION(impl_->w);
  cinfo.image_height = JDIMENSION(impl_->h);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint32_t* s = reinterpret_cast<const uint32_t*>(dp + int(cinfo.next_scanline) * ds);
    for (int x = 0; x < impl_->w; ++x) {
      row[3 * x] = uint8_t(s[x] >> 16);
      row[3 * x + 1] = uint8_t(s[x] >> 8);
      row[3 * x + 2] = uint8_t(s[x]);
    }
    JSAMPROW rp = row.data();
    jpeg_write_scanlines(&cinfo, &rp, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(f) == 0;
}
