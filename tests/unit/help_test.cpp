// The key help over the field: what opens and closes it, and that the game
// waits under it.
#include <gtest/gtest.h>

#include "platform/canvas.h"
#include "platform/window.h"
#include "shell/form.h"
#include "shell/frame.h"
#include "shell/help.h"
#include "test_util.h"

namespace {

int FramesIn(TestGame& t, int ticks) {
  int n = 0;
  for (int i = 0; i < ticks; ++i) n += DXTimer1Timer(t.g());
  return n;
}

}  // namespace

TEST(KeyHelp, F1PausesPlayAndTheGameWaitsUntilAnyKeyClosesIt) {
  auto t = MakeGameInPlay(EASY);
  Game& g = t->g();
  ASSERT_GT(FramesIn(*t, 100), 0);
  WindowKey(g, kKeyF1);
  ASSERT_TRUE(g.panels.help_visible);
  EXPECT_EQ(g.run.paused, 1);
  const int frame = g.run.frame_no;
  EXPECT_EQ(FramesIn(*t, 500), 0);
  EXPECT_EQ(g.run.frame_no, frame);
  // Drawn over the field.
  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);
  EXPECT_EQ(screen.GetPixel(70, 420), 0x201818u);
  WindowKey(g, kKeyF1, true);  // F1 held down: its repeats leave the help open
  EXPECT_TRUE(g.panels.help_visible);
  // The closing key does only that: Q here does not end the game.
  WindowKey(g, 81);
  EXPECT_FALSE(g.panels.help_visible);
  EXPECT_EQ(g.run.in_play, 1);
  EXPECT_EQ(g.run.paused, 1);  // still paused: Space goes on
  ComposeWindow(g, screen);
  EXPECT_NE(screen.GetPixel(70, 420), 0x201818u);
  WindowKey(g, 32);
  EXPECT_EQ(g.run.paused, 0);
  EXPECT_GT(FramesIn(*t, 100), 0);

  // ? opens it too; a click closes it and fires nothing.
  WindowKey(g, kKeySlash);
  EXPECT_TRUE(g.panels.help_visible);
  InputEvent click;
  click.type = InputEvent::kMouseDown;
  click.x = 320;
  click.y = 40;
  WindowInput(g, click);
  EXPECT_FALSE(g.panels.help_visible);
  EXPECT_EQ(g.input.click, 0);
}

TEST(KeyHelp, OpensOutsidePlayButNotWhileATextBoxHasTheKeyboard) {
  auto t = MakeTestGame();
  Game& g = t->g();
  WindowKey(g, kKeyF1);  // on the title picture
  EXPECT_TRUE(g.panels.help_visible);
  EXPECT_EQ(g.run.paused, 0);
  WindowKey(g, 27);  // Esc closes it without asking to reset the save
  EXPECT_FALSE(g.panels.help_visible);
  EXPECT_TRUE(t->dialogs.shown.empty());
  g.panels.name_box_visible = true;
  WindowKey(g, kKeySlash);
  WindowKey(g, kKeyF1);
  EXPECT_FALSE(g.panels.help_visible);
}
