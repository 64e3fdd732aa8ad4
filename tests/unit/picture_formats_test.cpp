// Picture files as the common tools write them: every usual kind of Windows
// bitmap and four-channel JPEGs load with the right colours; empty, cut-short
// and random files are still refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <csetjmp>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/files.h"
#include "platform/picture_file.h"
#include "shell/form.h"
#include "test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A temporary folder removed with the test.
struct TempDir {
  std::string path = MakeTempDir();
  ~TempDir() { std::filesystem::remove_all(path); }
};

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// Eight colours (0x00RRGGBB) in bands and blocks, so rows and columns differ.
const uint32_t kColours[8] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xC08040, 0xFFFFFF};
int IndexAt(int x, int y) { return ((x / 7) + 3 * (y / 5)) % 8; }

// The file header and an info header of `info_size` bytes; pixels at `offset`.
Bytes Headers(int w, int h, int bpp, uint32_t compression, uint32_t info_size, uint32_t palette_entries,
              size_t pixel_bytes) {
  const size_t offset = 14 + info_size + 4 * palette_entries;
  Bytes b(offset + pixel_bytes, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, uint32_t(b.size()));
  Put32(b, 10, uint32_t(offset));
  Put32(b, 14, info_size);
  Put32(b, 18, uint32_t(w));
  Put32(b, 22, uint32_t(h));
  Put16(b, 26, 1);
  Put16(b, 28, uint32_t(bpp));
  Put32(b, 30, compression);
  Put32(b, 34, uint32_t(pixel_bytes));
  Put32(b, 46, palette_entries);
  for (uint32_t i = 0; i < palette_entries; ++i) Put32(b, 14 + info_size + 4 * i, kColours[i % 8]);
  return b;
}

// 8 bits a pixel through a palette, bottom-up rows padded to 4 bytes.
Bytes Palette8(int w, int h) {
  const size_t row = (size_t(w) + 3) & ~size_t(3);
  Bytes b = Headers(w, h, 8, 0, 40, 256, row * h);
  const size_t at = b.size() - row * h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b[at + row * (h - 1 - y) + x] = uint8_t(IndexAt(x, y));
  return b;
}

// The same, run-length encoded (RLE8): runs of one index, an end of line
// after each row, the end of the bitmap after the last.
Bytes Rle8(int w, int h) {
  Bytes runs;
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w;) {
      int n = 1;
      while (x + n < w && n < 255 && IndexAt(x + n, y) == IndexAt(x, y)) ++n;
      runs.push_back(uint8_t(n));
      runs.push_back(uint8_t(IndexAt(x, y)));
      x += n;
    }
    runs.push_back(0);
    runs.push_back(y == 0 ? 1 : 0);
  }
  Bytes b = Headers(w, h, 8, 1, 40, 256, runs.size());
  std::copy(runs.begin(), runs.end(), b.end() - long(runs.size()));
  return b;
}

// 32 bits with the V5 header and BITFIELDS masks, as ImageMagick writes by
// default: B, G, R, A bytes; the alpha is not the picture's business.
Bytes V5Bitfields32(int w, int h) {
  Bytes b = Headers(w, h, 32, 3, 124, 0, size_t(w) * h * 4);
  Put32(b, 54, 0x00FF0000);  // red mask
  Put32(b, 58, 0x0000FF00);
  Put32(b, 62, 0x000000FF);
  Put32(b, 66, 0xFF000000);  // alpha
  Put32(b, 70, 0x73524742);  // 'sRGB'
  const size_t at = 14 + 124;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = kColours[IndexAt(x, y)];
      Put32(b, at + 4 * (size_t(w) * (h - 1 - y) + x), c | (uint32_t((x * 37) & 0xFF) << 24));
    }
  return b;
}

// 16 bits 5-6-5 with BITFIELDS, top-down rows (negative height).
Bytes TopDown565(int w, int h) {
  const size_t row = (size_t(w) * 2 + 3) & ~size_t(3);
  Bytes b = Headers(w, -h, 16, 3, 40, 0, 12 + row * h);
  Put32(b, 10, 14 + 40 + 12);
  Put32(b, 54, 0xF800);
  Put32(b, 58, 0x07E0);
  Put32(b, 62, 0x001F);
  const size_t at = 14 + 40 + 12;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = kColours[IndexAt(x, y)];
      const uint32_t v = ((c >> 19) & 0x1F) << 11 | ((c >> 10) & 0x3F) << 5 | ((c >> 3) & 0x1F);
      Put16(b, at + row * y + 2 * x, v);
    }
  return b;
}

void Write(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// The expected picture, each colour reduced as 5-6-5 would when asked.
void ExpectBands(const Picture& p, int w, int h, bool reduced_565 = false) {
  ASSERT_EQ(p.width, w);
  ASSERT_EQ(p.height, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t want = kColours[IndexAt(x, y)];
      const uint32_t got = p.pixels[size_t(y) * w + x];
      if (reduced_565) {
        // Each channel keeps its top bits; what fills the low bits is the reader's.
        ASSERT_EQ(got & 0xF8FCF8, want & 0xF8FCF8) << x << "," << y;
        continue;
      }
      ASSERT_EQ(got, want) << x << "," << y;
    }
}

// A JPEG written by libjpeg in four channels, CMYK or YCCK, with Adobe's
// inverted values (255 = no ink) as Photoshop and ImageMagick write them.
struct JpegFail {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
bool WriteCmykJpeg(const std::string& path, int w, int h, J_COLOR_SPACE stored) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct c;
  JpegFail err;
  c.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = [](j_common_ptr ci) { longjmp(reinterpret_cast<JpegFail*>(ci->err)->jump, 1); };
  Bytes row(size_t(w) * 4);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return false;
  }
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, stored);
  jpeg_set_quality(&c, 100, TRUE);
  c.write_Adobe_marker = TRUE;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < w; ++x) {
      // Left half: pure cyan ink; right half: half black, no colour ink.
      const bool left = x < w / 2;
      row[4 * x + 0] = left ? 0 : 255;
      row[4 * x + 1] = 255;
      row[4 * x + 2] = 255;
      row[4 * x + 3] = left ? 255 : 128;
    }
    JSAMPROW rp = row.data();
    jpeg_write_scanlines(&c, &rp, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

bool Near(uint32_t got, uint32_t want, int tolerance) {
  for (int s = 0; s < 24; s += 8) {
    const int a = int((got >> s) & 0xFF), b = int((want >> s) & 0xFF);
    if (a - b > tolerance || b - a > tolerance) return false;
  }
  return true;
}

}  // namespace

TEST(PictureFiles, EveryCommonKindOfBitmapLoadsWithItsColours) {
  TempDir dir;
  const int w = 61, h = 23;  // odd sizes: rows need padding
  Picture p;
  Write(dir.path + "/p8.bmp", Palette8(w, h));
  ASSERT_TRUE(DecodePicture(dir.path + "/p8.bmp", p));
  ExpectBands(p, w, h);
  Write(dir.path + "/rle8.bmp", Rle8(w, h));
  ASSERT_TRUE(DecodePicture(dir.path + "/rle8.bmp", p));
  ExpectBands(p, w, h);
  Write(dir.path + "/v5.bmp", V5Bitfields32(w, h));
  ASSERT_TRUE(DecodePicture(dir.path + "/v5.bmp", p));
  ExpectBands(p, w, h);
  Write(dir.path + "/565.bmp", TopDown565(w, h));
  ASSERT_TRUE(DecodePicture(dir.path + "/565.bmp", p));
  ExpectBands(p, w, h, true);
}

TEST(PictureFiles, EmptyCutShortAndRandomBitmapsAreRefused) {
  TempDir dir;
  Picture p;
  const std::string f = dir.path + "/x.bmp";
  Write(f, {});
  EXPECT_FALSE(DecodePicture(f, p));
  for (const Bytes& whole : {Palette8(64, 48), Rle8(64, 48), V5Bitfields32(64, 48)}) {
    for (size_t keep : {size_t(10), size_t(60), whole.size() / 2, whole.size() - 5}) {
      Write(f, Bytes(whole.begin(), whole.begin() + long(keep)));
      EXPECT_FALSE(DecodePicture(f, p)) << keep << " of " << whole.size();
    }
  }
  // "BM" and then noise, and a header claiming a picture far too large.
  Bytes noise(4000);
  uint32_t s = 12345;
  for (uint8_t& b : noise) b = uint8_t((s = s * 1103515245u + 12345u) >> 16);
  noise[0] = 'B';
  noise[1] = 'M';
  Write(f, noise);
  EXPECT_FALSE(DecodePicture(f, p));
  Bytes huge = Palette8(8, 8);
  Put32(huge, 18, 100000);
  Put32(huge, 22, 100000);
  Write(f, huge);
  EXPECT_FALSE(DecodePicture(f, p));
  EXPECT_EQ(p.width, 0);  // a refused file leaves the picture as it was
}

TEST(PictureFiles, FourChannelJpegsAreTurnedIntoColours) {
  TempDir dir;
  for (J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
    const std::string f = dir.path + "/cmyk.jpg";
    ASSERT_TRUE(WriteCmykJpeg(f, 32, 16, stored));
    Picture p;
    ASSERT_TRUE(DecodePicture(f, p)) << stored;
    ASSERT_EQ(p.width, 32);
    EXPECT_TRUE(Near(p.pixels[8 * 32 + 4], 0x00FFFF, 6)) << std::hex << p.pixels[8 * 32 + 4];   // cyan
    EXPECT_TRUE(Near(p.pixels[8 * 32 + 28], 0x808080, 6)) << std::hex << p.pixels[8 * 32 + 28];  // grey
    // Cut short, it is refused.
    std::string bytes = ReadWholeFile(f).value();
    std::ofstream(f, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() / 3);
    EXPECT_FALSE(DecodePicture(f, p));
  }
}

TEST(PictureFiles, APaletteTitlePictureStartsTheGame) {
  TempDir dir;
  MakeDirectories(dir.path + "/cg");
  MakeDirectories(dir.path + "/dat");
  Write(dir.path + "/cg/title.bmp", Rle8(640, 480));
  auto t = MakeTestGame(1, dir.path + "/dat");
  Game& g = t->g();
  g.pf.game_dir = dir.path;
  std::string error;
  ASSERT_TRUE(FormCreate(g, &error)) << error;
  // The title is on the backdrop, red (0x00BBGGRR on the canvas) where the bands say so.
  EXPECT_EQ(g.bitmaps[0]->GetPixel(7, 0), 0x0000FFu);
}
