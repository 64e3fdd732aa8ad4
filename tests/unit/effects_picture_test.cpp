// Reference pictures of the text-free effects, compared pixel by pixel.
// Shapes are drawn without antialiasing, so a change in any rule (radius,
// colour, pen width, segment range) shows as a changed pixel.
//
// To rewrite the pictures after an intended change, run the tests with
// KV_UPDATE_REFS=1; a mismatch leaves the actual picture in the build folder
// (kv_actual_NAME.png).
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "effects/effects.h"
#include "platform/picture_file.h"
#include "test_util.h"

namespace {

// A PNG read with Cairo's reader into 0x00BBGGRR pixels, the canvas's colours.
struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

bool ReadPng(const std::string& path, Image& img, std::string& error) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  const cairo_status_t status = cairo_surface_status(s);
  const cairo_format_t format = cairo_image_surface_get_format(s);
  if (status != CAIRO_STATUS_SUCCESS || (format != CAIRO_FORMAT_RGB24 && format != CAIRO_FORMAT_ARGB32)) {
    error = status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : "not an RGB picture";
    cairo_surface_destroy(s);
    return false;
  }
  img.width = cairo_image_surface_get_width(s);
  img.height = cairo_image_surface_get_height(s);
  img.pixels.resize(size_t(img.width) * size_t(img.height));
  const unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < img.height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
    for (int x = 0; x < img.width; ++x) {
      const uint32_t p = row[x];  // 0xAARRGGBB; the pictures are opaque
      img.pixels[size_t(y) * size_t(img.width) + size_t(x)] = RGB(int(p >> 16) & 255, int(p >> 8) & 255, int(p) & 255);
    }
  }
  cairo_surface_destroy(s);
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
