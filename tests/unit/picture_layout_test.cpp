// The generated menu pictures keep their hint text clear of what the game
// draws over them: the button column and the message log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "scenes.h"
#include "test_util.h"

namespace {

TEST(MenuPictures, HintLiesClearOfTheButtonsAndTheLog) {
  auto t = MakeTestGame();
  int checked = 0;
  for (const Scene& s : kScenes) {
    if (!s.menu_band || !s.subtitle[0]) continue;
    // Where the hint is: the pixels it changes.
    Canvas with(640, 480, t->g().pf.fonts), without(640, 480, t->g().pf.fonts);
    Scene bare = s;
    bare.subtitle = "";
    DrawScene(with, s);
    DrawScene(without, bare);
    int x0 = 640, y0 = 480, x1 = -1, y1 = -1;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x)
        if (with.GetPixel(x, y) != without.GetPixel(x, y)) {
          x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
    SCOPED_TRACE(s.file);
    ASSERT_GE(x1, 0) << "no hint drawn";
    // Log lines start at x 10, y 250; ten start-screen buttons fill x 0..200, y 25..266.
    EXPECT_LT(y1, 250);
    EXPECT_GT(x0, 200);
    ++checked;
  }
  EXPECT_EQ(checked, 3);  // the intro, chapter and ranking pictures
}

}  // namespace
