// Watching a run: the viewer's own line hides none of the HUD's texts.
#include <gtest/gtest.h>

#include "platform/canvas.h"
#include "platform/files.h"
#include "shell/form.h"
#include "shell/hud.h"
#include "shell/replay_view.h"
#include "test_util.h"

TEST(ReplayView, ItsLineLeavesEveryHudTextInSight) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto bytes = ReadWholeFile(std::string(KV_SOURCE_DIR) + "/tests/replay/golden/EASY.kvr");
  ASSERT_TRUE(bytes.has_value());
  std::string err;
  auto p = StartPlayback(g.pf, *bytes, nullptr, &err);
  ASSERT_TRUE(p) << err;
  while (p->game->run.in_play == 0 || p->game->my.distance() < 50) ASSERT_TRUE(StepPlayback(*p));
  Game& run = *p->game;
  // The widest texts the HUD can show at the top and at the bottom.
  run.my.score() = 19999999;
  run.my.stage() = 6;
  run.my.distance() = 99999;
  run.my.lives = 12;
  run.my.level = 99;
  DrawHud(run);
  Canvas alone(640, 480, g.pf.fonts);
  ComposeWindow(run, alone);

  auto v = std::make_shared<ReplayView>();
  v->playback = std::move(p);
  v->title = "EXTREAM #1000 ＷＷＷＷＷＷ";
  g.replay_view = v;
  Canvas viewed(640, 480, g.pf.fonts);
  ComposeReplayView(g, viewed);

  std::vector<HudText> placed;
  DrawHud(run, &placed);
  ASSERT_GE(placed.size(), 4u);  // score, stage, lives, level
  Canvas measure(1, 1, g.pf.fonts);
  measure.SetFontBold(true);
  for (const HudText& h : placed) {
    measure.SetFontSize(h.size);
    const TextSize s = measure.MeasureText(h.text);
    for (int y = h.y; y < h.y + s.height && y < 480; ++y)
      for (int x = h.x; x < h.x + s.width && x < 640; ++x)
        ASSERT_EQ(viewed.GetPixel(x, y), alone.GetPixel(x, y)) << h.text << " at " << x << "," << y;
  }
  // The line itself is there: yellow text in its band.
  int yellow = 0;
  for (int y = ReplayViewLine::kTop; y < ReplayViewLine::kTop + ReplayViewLine::kHeight; ++y)
    for (int x = ReplayViewLine::kLeft; x < ReplayViewLine::kRight; ++x) {
      const uint32_t c = viewed.GetPixel(x, y);
      yellow += RedOf(c) > 0xC0 && GreenOf(c) > 0xC0 && BlueOf(c) < 0x40;
    }
  EXPECT_GT(yellow, 100);
}
