// Reference pictures of the text-free effects, compared pixel by pixel.
// Shapes are drawn without antialiasing, so a change in any rule (radius,
// colour, pen width, segment range) shows as a changed pixel.
//
// To rewrite the pictures after an intended change, run the tests with
// KV_UPDATE_REFS=1; a mismatch leaves the actual picture in the build folder
// (kv_actual_NAME.png).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "effects/effects.h"
#include "platform/picture_file.h"
#include "test_util.h"

namespace {

// ---- a small PNG reader (8-bit RGB/RGBA, not interlaced) -------------------

class Inflater {
 public:
  Inflater(const uint8_t* data, size_t size) : p_(data), n_(size) {}

  std::vector<uint8_t> Run() {
    int last;
    do {
      last = Bits(1);
      int type = Bits(2);
      if (type == 0) Stored();
      else if (type == 1) Fixed();
      else if (type == 2) Dynamic();
      else throw std::runtime_error("bad block type");
    } while (!last);
    return out_;
  }

 private:
  struct Huffman {
    std::vector<int> count = std::vector<int>(16, 0);
    std::vector<int> symbol;
  };

  int Bit() {
    if (bitcnt_ == 0) {
      if (pos_ >= n_) throw std::runtime_error("out of data");
      bitbuf_ = p_[pos_++];
      bitcnt_ = 8;
    }
    int b = bitbuf_ & 1;
    bitbuf_ >>= 1;
    --bitcnt_;
    return b;
  }
  int Bits(int k) {
    int v = 0;
    for (int i = 0; i < k; ++i) v |= Bit() << i;
    return v;
  }

  static Huffman Build(const std::vector<int>& lengths) {
    Huffman h;
    for (int len : lengths) h.count[size_t(len)]++;
    h.count[0] = 0;
    std::vector<int> offs(16, 0);
    for (int len = 1; len < 16; ++len) offs[size_t(len)] = offs[size_t(len - 1)] + h.count[size_t(len - 1)];
    h.symbol.assign(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s)
      if (lengths[s] != 0) h.symbol[size_t(offs[size_t(lengths[s])]++)] = int(s);
    return h;
  }

  int Decode(const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= Bit();
      int count = h.count[size_t(len)];
      if (code - count < first) return h.symbol[size_t(index + (code - first))];
      index += count;
      first += count;
      first <<= 1;
      code <<= 1;
    }
    throw std::runtime_error("bad code");
  }

  void Stored() {
    bitbuf_ = 0;
    bitcnt_ = 0;
    if (pos_ + 4 > n_) throw std::runtime_error("out of data");
    size_t len = p_[pos_] | (p_[pos_ + 1] << 8);
    pos_ += 4;
    if (pos_ + len > n_) throw std::runtime_error("out of data");
    out_.insert(out_.end(), p_ + pos_, p_ + pos_ + len);
    pos_ += len;
  }

  void Codes(const Huffman& lit, const Huffman& dist) {
    static const int kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                      33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                      1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      int sym = Decode(lit);
      if (sym < 256) {
        out_.push_back(uint8_t(sym));
      } else if (sym == 256) {
        return;
      } else {
        sym -= 257;
        if (sym >= 29) throw std::runtime_error("bad length");
        int len = kLenBase[sym] + Bits(kLenExtra[sym]);
        int d = Decode(dist);
        if (d >= 30) throw std::runtime_error("bad distance");
        size_t back = size_t(kDistBase[d] + Bits(kDistExtra[d]));
        if (back > out_.size()) throw std::runtime_error("distance too far");
        for (int i = 0; i < len; ++i) out_.push_back(out_[out_.size() - back]);
      }
    }
  }

  void Fixed() {
    std::vector<int> l(288);
    for (int i = 0; i < 288; ++i) l[size_t(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    Codes(Build(l), Build(std::vector<int>(30, 5)));
  }

  void Dynamic() {
    static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int nlen = Bits(5) + 257, ndist = Bits(5) + 1, ncode = Bits(4) + 4;
    std::vector<int> cl(19, 0);
    for (int i = 0; i < ncode; ++i) cl[size_t(kOrder[i])] = Bits(3);
    Huffman lencode = Build(cl);
    std::vector<int> lengths;
    while (int(lengths.size()) < nlen + ndist) {
      int sym = Decode(lencode);
      if (sym < 16) {
        lengths.push_back(sym);
        continue;
      }
      int len = 0, rep;
      if (sym == 16) {
        if (lengths.empty()) throw std::runtime_error("repeat with no length");
        len = lengths.back();
        rep = 3 + Bits(2);
      } else if (sym == 17) {
        rep = 3 + Bits(3);
      } else {
        rep = 11 + Bits(7);
      }
      lengths.insert(lengths.end(), size_t(rep), len);
    }
    std::vector<int> lit(lengths.begin(), lengths.begin() + nlen);
    std::vector<int> dist(lengths.begin() + nlen, lengths.begin() + nlen + ndist);
    Codes(Build(lit), Build(dist));
  }

  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  int bitbuf_ = 0, bitcnt_ = 0;
  std::vector<uint8_t> out_;
};

struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0x00BBGGRR
};

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool ReadPng(const std::string& path, Image& img, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  static const uint8_t kSig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (d.size() < 8 || !std::equal(kSig, kSig + 8, d.begin())) {
    error = "not a PNG file: " + path;
    return false;
  }
  int depth = 0, colour = -1, interlace = 0;
  std::vector<uint8_t> idat;
  for (size_t p = 8; p + 12 <= d.size();) {
    size_t len = Be32(&d[p]);
    std::string type(reinterpret_cast<const char*>(&d[p + 4]), 4);
    if (p + 12 + len > d.size()) break;
    const uint8_t* body = &d[p + 8];
    if (type == "IHDR") {
      img.width = int(Be32(body));
      img.height = int(Be32(body + 4));
      depth = body[8];
      colour = body[9];
      interlace = body[12];
    } else if (type == "IDAT") {
      idat.insert(idat.end(), body, body + len);
    }
    p += 12 + len;
  }
  if (depth != 8 || (colour != 2 && colour != 6) || interlace != 0 || idat.size() < 2) {
    error = "unsupported PNG layout";
    return false;
  }
  std::vector<uint8_t> raw;
  try {
    raw = Inflater(idat.data() + 2, idat.size() - 2).Run();
  } catch (const std::exception& e) {
    error = std::string("PNG data: ") + e.what();
    return false;
  }
  const int bpp = colour == 6 ? 4 : 3;
  const size_t stride = size_t(img.width) * size_t(bpp);
  if (raw.size() < (stride + 1) * size_t(img.height)) {
    error = "PNG data too short";
    return false;
  }
  std::vector<uint8_t> prev(stride, 0), row(stride);
  img.pixels.assign(size_t(img.width) * size_t(img.height), 0);
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* src = &raw[size_t(y) * (stride + 1)];
    int filter = src[0];
    for (size_t i = 0; i < stride; ++i) {
      int a = i >= size_t(bpp) ? row[i - size_t(bpp)] : 0;
      int b = prev[i];
      int c = i >= size_t(bpp) ? prev[i - size_t(bpp)] : 0;
      int pred = 0;
      switch (filter) {
        case 0: pred = 0; break;
        case 1: pred = a; break;
        case 2: pred = b; break;
        case 3: pred = (a + b) / 2; break;
        case 4: {
          int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
          pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default: error = "bad PNG filter"; return false;
      }
      row[i] = uint8_t(src[1 + i] + pred);
    }
    for (int x = 0; x < img.width; ++x) {
      const uint8_t* px = &row[size_t(x) * size_t(bpp)];
      img.pixels[size_t(y) * size_t(img.width) + size_t(x)] = RGB(px[0], px[1], px[2]);
    }
    prev = row;
  }
  return true;
}

// ---- scenes ----------------------------------------------------------------

void Frame(Game& g) {
  g.run.frame_no = (g.run.frame_no + 1) % 1000;
  g.cg->Clear(0);
  g.bak->Clear(0);
  g.cg->SetPen(0, 1);
  g.cg->SetBrush(0);
  g.bak->SetPen(0, 1);
  g.bak->SetBrush(0);
  DrawEffects(g);
  g.cg->OrFrom(*g.bak, 0, 0, 640, 480, 0, 0);
}

// Sets up a scene, runs it for some frames and compares the field with the
// reference picture of that name.
void CheckScene(const std::string& name, int frames, const std::function<void(Game&)>& setup) {
  auto t = MakeTestGame(3);
  Game& g = t->g();
  setup(g);
  for (int f = 0; f < frames; ++f) Frame(g);
  const std::string ref = std::string(KV_SOURCE_DIR) + "/tests/ref/" + name;
  if (std::getenv("KV_UPDATE_REFS")) {
    ASSERT_TRUE(SavePng(*g.cg, ref)) << ref;
    return;
  }
  // The reader must agree with the writer before it judges anything.
  const std::string actual = MakeTempDir() + "/" + name;
  ASSERT_TRUE(SavePng(*g.cg, actual));
  Image own, want;
  std::string error;
  ASSERT_TRUE(ReadPng(actual, own, error)) << error;
  ASSERT_EQ(own.width, 640);
  for (int y = 0; y < 480; y += 7)
    for (int x = 0; x < 640; x += 3)
      ASSERT_EQ(own.pixels[size_t(y * 640 + x)], g.cg->GetPixel(x, y)) << "reader at " << x << "," << y;
  ASSERT_TRUE(ReadPng(ref, want, error)) << error << " (" << ref << ")";
  ASSERT_EQ(want.width, 640);
  ASSERT_EQ(want.height, 480);
  int differ = 0, first_x = -1, first_y = -1, lit = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      uint32_t p = g.cg->GetPixel(x, y);
      if (p != 0) ++lit;
      if (p != want.pixels[size_t(y * 640 + x)]) {
        if (differ++ == 0) {
          first_x = x;
          first_y = y;
        }
      }
    }
  EXPECT_GT(lit, 0) << name << ": nothing drawn";
  if (differ == 0) return;
  const std::string kept = std::string(KV_GAME_DIR) + "/kv_actual_" + name;
  std::error_code ec;
  std::filesystem::copy_file(actual, kept, std::filesystem::copy_options::overwrite_existing, ec);
  ADD_FAILURE() << name << ": " << differ << " pixels differ, first at " << first_x << "," << first_y
                << "; actual picture in " << kept;
}

}  // namespace

TEST(EffectPictures, StageCardRingsAndArcs) {
  // The card's ring and arcs (no text): a ring and two closing arc pairs.
  CheckScene("fx_card_arcs.png", 6, [](Game& g) {
    AddEffect(g, 320, 240, 395);
    AddEffect(g, 320, 240, 393, "420");
    AddEffect(g, 320, 240, 393, "300");
  });
}

TEST(EffectPictures, WarningArcsThickAndRed) {
  CheckScene("fx_warning_arcs.png", 9, [](Game& g) {
    for (int r = 310; r <= 390; r += 20) AddEffect(g, 320, 240, 493, std::to_string(r));
  });
}

TEST(EffectPictures, WarningArcsVanishFromTheMiddle) {
  CheckScene("fx_warning_arcs_late.png", 74, [](Game& g) { AddEffect(g, 320, 240, 493, "390"); });
}

TEST(EffectPictures, BarrierBombAndEnemyRings) {
  CheckScene("fx_rings.png", 3, [](Game& g) {
    AddEffect(g, 160, 160, 396);
    AddEffect(g, 480, 320, 397);
    AddEffect(g, 320, 240, 395);
  });
}

TEST(EffectPictures, DoubleRingGreenRingTickCross) {
  CheckScene("fx_double_ring.png", 5, [](Game& g) {
    AddEffect(g, 320, 240, 177);
    AddEffect(g, 120, 380, 179);
    AddEffect(g, 520, 380, 249);
  });
}

TEST(EffectPictures, LockOnSquaresAndLaserDot) {
  CheckScene("fx_lock_on.png", 2, [](Game& g) {
    g.pools.enemies[12].timer = 1;
    g.pools.enemies[12].x = 450;
    g.pools.enemies[12].y = 150;
    g.my.lives = 1;
    g.my.player_x() = 250;
    g.my.player_y() = 300;
    AddEffect(g, 0, 0, 176, "12");
    AddEffect(g, 0, 0, 276);
    AddEffect(g, 100, 100, 170);
  });
}

TEST(EffectPictures, SeededBurstsAndSparks) {
  // Particles come from the game's one generator: a fixed seed fixes them.
  CheckScene("fx_bursts.png", 4, [](Game& g) {
    AddEffect(g, 150, 150, 158);
    AddEffect(g, 150, 150, 160);
    AddEffect(g, 450, 200, 161);
    AddEffect(g, 320, 360, 189);
    AddEffect(g, 120, 380, 180);
    AddEffect(g, 520, 400, 280);
    AddLinkEffect(g, 300, 40, 600, 300, 137);
  });
}
