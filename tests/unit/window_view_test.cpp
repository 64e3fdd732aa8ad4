// Where the field sits in the window, and how window pixels map to field pixels.
#include <gtest/gtest.h>

#include <vector>

#include "platform/window.h"

namespace {

TEST(WindowScale, DesktopSizesPickWholeScales) {
  EXPECT_EQ(DesktopScale(1024, 768), 1);
  EXPECT_EQ(DesktopScale(1280, 800), 1);
  EXPECT_EQ(DesktopScale(1920, 1080), 2);
  EXPECT_EQ(DesktopScale(2560, 1440), 3);
  EXPECT_EQ(DesktopScale(3840, 2160), 4);
  EXPECT_EQ(DesktopScale(600, 400), 1);  // never below 1
}

TEST(WindowScale, ExactScaledWindowsMapEveryFieldPixelBack) {
  for (int s = 1; s <= 4; ++s) {
    FieldView v = FitField(640 * s, 480 * s);
    EXPECT_EQ(v.scale, s);
    EXPECT_EQ(v.offset_x, 0);
    EXPECT_EQ(v.offset_y, 0);
    int fx, fy;
    WindowToField(v, 0, 0, fx, fy);
    EXPECT_EQ(fx, 0);
    EXPECT_EQ(fy, 0);
    WindowToField(v, 640 * s - 1, 480 * s - 1, fx, fy);
    EXPECT_EQ(fx, 639);
    EXPECT_EQ(fy, 479);
    WindowToField(v, 100 * s + s - 1, 37 * s, fx, fy);  // every window pixel of a field pixel
    EXPECT_EQ(fx, 100);
    EXPECT_EQ(fy, 37);
  }
}

TEST(WindowScale, FullscreenIsLetterboxedAndCentred) {
  // 1920 x 1080: scale 2 (1280 x 960), bars of 320 left and right, 60 top and bottom.
  FieldView v = FitField(1920, 1080);
  EXPECT_EQ(v.scale, 2);
  EXPECT_EQ(v.offset_x, 320);
  EXPECT_EQ(v.offset_y, 60);
  int fx, fy;
  WindowToField(v, 320, 60, fx, fy);
  EXPECT_EQ(fx, 0);
  EXPECT_EQ(fy, 0);
  WindowToField(v, 320 + 2 * 100 + 1, 60 + 2 * 25, fx, fy);
  EXPECT_EQ(fx, 100);
  EXPECT_EQ(fy, 25);
  // 1366 x 768 (a laptop): scale 1 with bars
  v = FitField(1366, 768);
  EXPECT_EQ(v.scale, 1);
  EXPECT_EQ(v.offset_x, 363);
  EXPECT_EQ(v.offset_y, 144);
}

TEST(WindowScale, PointsOutsideTheFieldStayOutside) {
  FieldView v = FitField(1920, 1080);
  int fx, fy;
  WindowToField(v, 319, 59, fx, fy);  // one window pixel left of and above the field
  EXPECT_EQ(fx, -1);
  EXPECT_EQ(fy, -1);
  WindowToField(v, 0, 0, fx, fy);
  EXPECT_EQ(fx, -160);
  EXPECT_EQ(fy, -30);
  WindowToField(v, 1919, 1079, fx, fy);
  EXPECT_EQ(fx, 799);
  EXPECT_EQ(fy, 509);
  WindowToField(FitField(640, 480), -5, 700, fx, fy);  // a held button dragged off the window
  EXPECT_EQ(fx, -5);
  EXPECT_EQ(fy, 700);
}

// Without a GPU the window enlarges the picture itself: every window pixel is
// the field pixel under it, for each whole scale, odd widths (the rows' ends)
// and padded rows included.
TEST(WindowScale, EnlargedPictureRepeatsEachPixelAsABlock) {
  const int w = 13, h = 5, src_stride = (w + 3) * 4;
  std::vector<uint32_t> src(size_t(src_stride / 4) * h, 0xDEADBEEF);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) src[size_t(y) * (src_stride / 4) + x] = uint32_t(y * 1000 + x + 1);
  for (int s = 1; s <= 4; ++s)
    for (int lead = 0; lead <= 1; ++lead) {  // rows on 16-byte boundaries, and not
      const int dst_stride = (w * s + 2) * 4;
      std::vector<uint32_t> dst(size_t(dst_stride / 4) * h * s + 1, 0);
      ScalePicture(reinterpret_cast<const uint8_t*>(src.data()), src_stride, w, h, s,
                   reinterpret_cast<uint8_t*>(dst.data() + lead), dst_stride);
      for (int y = 0; y < h * s; ++y)
        for (int x = 0; x < w * s; ++x)
          ASSERT_EQ(dst[lead + size_t(y) * (dst_stride / 4) + x], uint32_t((y / s) * 1000 + x / s + 1))
              << "scale " << s << " at " << x << "," << y;
      EXPECT_EQ(dst[lead + dst_stride / 4 - 1], 0u) << "wrote past the row at scale " << s;
    }
}

// Only what changed is enlarged and sent: neighbouring changed blocks of a
// band make one rectangle, the narrow last block and short last band included,
// and afterwards the screen's copy is the picture.
TEST(WindowScale, OnlyChangedBlocksOfThePictureAreTaken) {
  const int w = 100, h = 40, stride = (w + 1) * 4;  // blocks of 16: six, then 4; bands of 16: 16, 16, 8
  std::vector<uint32_t> pic(size_t(stride / 4) * h, 0x102030), shown = pic;
  for (int y = 0; y < h; ++y) pic[size_t(y) * (stride / 4) + w] = 0xDEAD;  // padding, not picture
  auto take = [&] {
    return TakeChanges(reinterpret_cast<const uint8_t*>(pic.data()), stride,
                       reinterpret_cast<uint8_t*>(shown.data()), stride, w, h);
  };
  auto at = [&](int x, int y) -> uint32_t& { return pic[size_t(y) * (stride / 4) + x]; };
  auto box = [](const FieldRect& r) { return std::vector<int>({r.x, r.y, r.w, r.h}); };
  EXPECT_TRUE(take().empty());
  at(70, 20) = 1;
  std::vector<FieldRect> r = take();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(box(r[0]), std::vector<int>({64, 16, 16, 16}));
  EXPECT_TRUE(take().empty()) << "taken once, the change is on screen";
  at(0, 15) = 2, at(16, 3) = 6, at(63, 0) = 3, at(99, 39) = 4, at(40, 33) = 5;
  r = take();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(box(r[0]), std::vector<int>({0, 0, 32, 16})) << "neighbouring blocks are one rectangle";
  EXPECT_EQ(box(r[1]), std::vector<int>({48, 0, 16, 16}));
  EXPECT_EQ(box(r[2]), std::vector<int>({32, 32, 16, 8}));
  EXPECT_EQ(box(r[3]), std::vector<int>({96, 32, 4, 8}));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(shown[size_t(y) * (stride / 4) + x], at(x, y)) << x << "," << y;
  EXPECT_EQ(shown[size_t(stride / 4) - 1], 0x102030u) << "the row's padding is not the picture's";
}

}  // namespace

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/files.h"

namespace {

TEST(DataFolder, WritableGameFolderKeepsItsOwnDat) {
  std::string dir = std::string(KV_GAME_DIR);
  EXPECT_EQ(ChooseDataDir(dir), dir + "/dat");
}

TEST(DataFolder, ReadOnlyGameFolderUsesTheXdgDataHome) {
  const char* old = std::getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", "/tmp/kv-xdg-test", 1);
  EXPECT_EQ(ChooseDataDir("/nonexistent/game"), "/tmp/kv-xdg-test/kv");
  setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/tmp";
  EXPECT_EQ(ChooseDataDir("/nonexistent/game"), home + "/.local/share/kv");
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");
}

// An installed game (PREFIX/bin/kv, PREFIX/share/kv) finds its pictures in
// share/kv and keeps the player's files in the XDG folder, even where it could
// write into share/kv (root); a game folder of its own wins over share/kv.
TEST(DataFolder, InstalledGameFindsShareKvAndWritesOnlyToTheXdgFolder) {
  namespace fs = std::filesystem;
  TempFolder temp("kv-prefix");
  ASSERT_FALSE(temp.path().empty());
  const std::string prefix = temp.path();
  fs::create_directories(prefix + "/games");
  fs::create_directories(prefix + "/share/kv/cg");
  fs::create_directories(prefix + "/share/kv/dat");
  std::ofstream(prefix + "/share/kv/cg/title.bmp") << "BM";

  GameFolder found = FindGameFolder(prefix + "/games");
  EXPECT_EQ(found.dir, prefix + "/share/kv");
  EXPECT_TRUE(found.installed);
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", "/tmp/kv-xdg-test", 1);
  EXPECT_EQ(ChooseDataDir(found.dir, found.installed), "/tmp/kv-xdg-test/kv");
  if (old) setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else unsetenv("XDG_DATA_HOME");

  fs::create_directories(prefix + "/games/cg");
  std::ofstream(prefix + "/games/cg/title.bmp") << "BM";
  found = FindGameFolder(prefix + "/games");
  EXPECT_EQ(found.dir, prefix + "/games");
  EXPECT_FALSE(found.installed);

  found = FindGameFolder(prefix + "/nothing/here");
  EXPECT_EQ(found.dir, prefix + "/nothing/here");
  EXPECT_FALSE(found.installed);
}

}  // namespace
