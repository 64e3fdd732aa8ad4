// Picture files: BMP and JPEG read into pixels, a canvas written as PNG, BMP
// or JPEG. The game reads its pictures through DecodePicture; the asset
// generator and the tools write them.
#include "platform/picture_file.h"

#include <SDL.h>
#include <cairo.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

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

constexpr int kMaxSide = 8192;
constexpr size_t kMaxFileBytes = 64u * 1024 * 1024;

// Windows bitmaps of every kind the common tools write (palettes of 1 to 8
// bits, RLE4 and RLE8, 16, 24 and 32 bits, BITFIELDS, the V4 and V5 headers)
// go through SDL's own reader. Only the size is looked at first, so a bogus
// header cannot make it reserve a huge surface.
bool DecodeBmp(const std::string& path, Picture& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  bool too_large = false;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    data.insert(data.end(), buf, buf + n);
    if (data.size() > kMaxFileBytes) {
      too_large = true;
      break;
    }
  }
  std::fclose(f);
  if (too_large || data.size() < 26 || data[0] != 'B' || data[1] != 'M') return false;
  const uint32_t hsize = Le32(&data[14]);
  int64_t w = 0, h = 0;
  if (hsize == 12) {  // the old OS/2 header: 16-bit sizes
    w = Le16(&data[18]);
    h = Le16(&data[20]);
  } else {
    w = int32_t(Le32(&data[18]));
    h = int32_t(Le32(&data[22]));
  }
  if (w <= 0 || w > kMaxSide || h == 0 || h > kMaxSide || h < -kMaxSide) return false;

  SDL_RWops* rw = SDL_RWFromConstMem(data.data(), int(data.size()));
  if (!rw) return false;
  SDL_Surface* loaded = SDL_LoadBMP_RW(rw, 1);
  if (!loaded) return false;
  SDL_Surface* rgb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_XRGB8888, 0);
  SDL_FreeSurface(loaded);
  if (!rgb) return false;
  bool ok = false;
  if (rgb->w > 0 && rgb->h > 0 && SDL_LockSurface(rgb) == 0) {
    out.width = rgb->w;
    out.height = rgb->h;
    out.pixels.assign(size_t(rgb->w) * rgb->h, 0);
    for (int y = 0; y < rgb->h; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(rgb->pixels) + size_t(y) * rgb->pitch);
      for (int x = 0; x < rgb->w; ++x) out.pixels[size_t(y) * rgb->w + x] = row[x] & 0xFFFFFFu;
    }
    SDL_UnlockSurface(rgb);
    ok = true;
  }
  SDL_FreeSurface(rgb);
  return ok;
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
  // Four-channel pictures (print work, some scanners) come out as CMYK, libjpeg
  // turning YCCK into CMYK; the rest as RGB (greyscale included).
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  // Adobe's writers (and most since) store CMYK inverted: 255 is no ink.
  const bool inverted = cmyk && cinfo.saw_Adobe_marker;
  jpeg_start_decompress(&cinfo);
  int w = int(cinfo.output_width), h = int(cinfo.output_height);
  const int channels = cmyk ? 4 : 3;
  bool ok = false;
  if (w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && cinfo.output_components == channels) {
    out.width = w;
    out.height = h;
    out.pixels.assign(size_t(w) * h, 0);
    row.resize(size_t(w) * channels);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW rp = row.data();
      int y = int(cinfo.output_scanline);
      jpeg_read_scanlines(&cinfo, &rp, 1);
      uint32_t* dst = &out.pixels[size_t(y) * w];
      if (!cmyk) {
        for (int x = 0; x < w; ++x)
          dst[x] = (uint32_t(row[3 * x]) << 16) | (uint32_t(row[3 * x + 1]) << 8) | row[3 * x + 2];
        continue;
      }
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = &row[4 * size_t(x)];
        // Paper white minus ink: red is (1 - cyan) x (1 - black), and so on.
        auto paper = [&](int i) { return inverted ? uint32_t(p[i]) : 255u - p[i]; };
        const uint32_t k = paper(3);
        dst[x] = ((paper(0) * k + 127) / 255) << 16 | ((paper(1) * k + 127) / 255) << 8 | (paper(2) * k + 127) / 255;
      }
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

bool LoadPicture(Canvas& c, const std::string& path, int dx, int dy) {
  Picture p;
  if (!DecodePicture(path, p)) return false;
  uint8_t* dp = c.MutableData();
  int ds = c.Stride();
  for (int y = 0; y < p.height; ++y) {
    int ty = dy + y;
    if (ty < 0 || ty >= c.Height()) continue;
    uint32_t* d = reinterpret_cast<uint32_t*>(dp + ty * ds);
    for (int x = 0; x < p.width; ++x) {
      int tx = dx + x;
      if (tx < 0 || tx >= c.Width()) continue;
      d[tx] = p.pixels[size_t(y) * p.width + x];
    }
  }
  return true;
}

bool SavePng(const Canvas& c, const std::string& path) {
  cairo_surface_t* s = cairo_image_surface_create_for_data(const_cast<uint8_t*>(c.Data()), CAIRO_FORMAT_RGB24,
                                                           c.Width(), c.Height(), c.Stride());
  bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

bool SaveBmp(const Canvas& c, const std::string& path) {
  const uint8_t* dp = c.Data();
  int ds = c.Stride();
  int w = c.Width(), h = c.Height();
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

bool SaveJpeg(const Canvas& c, const std::string& path, int quality) {
  const uint8_t* dp = c.Data();
  int ds = c.Stride();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct cinfo;
  JpegErr err;
  std::vector<uint8_t> row(size_t(c.Width()) * 3);
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = JDIMENSION(c.Width());
  cinfo.image_height = JDIMENSION(c.Height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint32_t* s = reinterpret_cast<const uint32_t*>(dp + int(cinfo.next_scanline) * ds);
    for (int x = 0; x < c.Width(); ++x) {
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
