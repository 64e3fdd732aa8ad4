#include <gtest/gtest.h>

#include "shell/input.h"
#include "menu_test_util.h"
#include "menus/save.h"
#include "platform/window.h"
#include "shell/form.h"
#include "shell/frame.h"

TEST(InputMouse, PressInPlayAimsAndHolds) {
  auto t = MakeGameInPlay(EASY);
  Game& g = t->g();
  cgMouseDown(g, 0, 123, 45);
  EXPECT_EQ(g.input.mouse_x, 123);
  EXPECT_EQ(g.input.mouse_y, 45);
  EXPECT_EQ(g.input.click, 1);
  cgMouseDown(g, 2, 7, 8);  // middle counts as left
  EXPECT_EQ(g.input.click, 1);
  cgMouseDown(g, 1, -20, 700);  // right replaces left; outside the field is kept as is
  EXPECT_EQ(g.input.click, 2);
  EXPECT_EQ(g.input.mouse_x, -20);
  EXPECT_EQ(g.input.mouse_y, 700);
  EXPECT_EQ(g.menu.screen, 0);
}

TEST(InputMouse, MoveAlwaysTracksThePointer) {
  auto t = MakeTestGame();
  Game& g = t->g();
  cgMouseMove(g, 10, 20);  // on the title picture
  EXPECT_EQ(g.input.mouse_x, 10);
  EXPECT_EQ(g.input.mouse_y, 20);
  g.run.in_play = 1;
  g.run.paused = 1;
  cgMouseMove(g, -5, 900);
  EXPECT_EQ(g.input.mouse_x, -5);
  EXPECT_EQ(g.input.mouse_y, 900);
}

TEST(InputMouse, ReleaseRequestsTheBurstOnlyForLeftInBurstModes) {
  struct Case {
    int mode;
    int button;
    int burst;
  };
  const Case cases[] = {
      {HARD, 0, 1}, {NOVA, 0, 1}, {HELL, 0, 1},  {HARD, 1, 0}, {HARD, 2, 0}, {NOVA, 2, 0},
      {EASY, 0, 0}, {EXTREAM, 0, 0}, {SQ, 0, 0}, {LIGHT, 0, 0},
  };
  for (const Case& c : cases) {
    auto t = MakeGameInPlay(c.mode);
    Game& g = t->g();
    cgMouseDown(g, c.button, 100, 100);
    cgMouseUp(g, c.button);
    EXPECT_EQ(g.input.click, 0);
    EXPECT_EQ(g.run.burst_request, c.burst) << kModeNames[c.mode] << " button " << c.button;
  }
}

TEST(InputMouse, ReleaseAfterTheClickWasUsedUpRequestsNothing) {
  auto t = MakeGameInPlay(HARD);
  Game& g = t->g();
  cgMouseDown(g, 1, 100, 100);
  g.input.click = 0;  // the barrier took the press
  cgMouseUp(g, 0);
  EXPECT_EQ(g.run.burst_request, 0);
  // Releasing either button clears a held press.
  cgMouseDown(g, 0, 1, 1);
  cgMouseUp(g, 1);
  EXPECT_EQ(g.input.click, 0);
  EXPECT_EQ(g.run.burst_request, 0);
}

namespace {

// A press and release between two frames, as the window delivers them.
void QuickClick(Game& g, int button, int x, int y) {
  InputEvent e;
  e.button = button;
  e.x = x;
  e.y = y;
  e.type = InputEvent::kMouseDown;
  WindowInput(g, e);
  e.type = InputEvent::kMouseUp;
  WindowInput(g, e);
}

void RunOneFrame(TestGame& t) {
  for (int i = 0; i < 200; ++i)
    if (DXTimer1Timer(t.g())) return;
  ADD_FAILURE() << "no frame ran";
}

int LiveShots(const Game& g) {
  int n = 0;
  for (const EnemySlot& s : g.pools.shots) n += s.timer > 0;
  return n;
}

}  // namespace

TEST(InputLatch, AQuickClickBetweenFramesIsSeenByOneFrameThenReleased) {
  auto t = MakeGameInPlay(EASY);
  Game& g = t->g();
  g.my.level = 5;
  RunOneFrame(*t);
  // A right click: the barrier goes up, and the release after the frame finds
  // the press used up.
  QuickClick(g, 1, 320, 240);
  EXPECT_EQ(g.input.click, 2);
  RunOneFrame(*t);
  EXPECT_GT(g.my.barrier_timer, 0);
  EXPECT_EQ(g.input.click, 0);
  // A left tap fires one volley and then lets go: the next frame fires nothing.
  QuickClick(g, 0, 320, 40);
  RunOneFrame(*t);
  const int fired = LiveShots(g);
  EXPECT_GT(fired, 0);
  EXPECT_EQ(g.input.click, 0);
  EXPECT_FALSE(g.input.release_held);
  RunOneFrame(*t);
  EXPECT_EQ(LiveShots(g), fired);
  // In a lock-on mode the release after the frame asks for the burst.
  auto h = MakeGameInPlay(HARD);
  RunOneFrame(*h);
  QuickClick(h->g(), 0, 320, 40);
  EXPECT_EQ(h->g().run.burst_request, 0);
  RunOneFrame(*h);
  EXPECT_GT(LiveShots(h->g()), 0);
  EXPECT_EQ(h->g().run.burst_request, 1);
}

TEST(InputLatch, EventsHandedToTheGameDirectlyKeepTheirMeaning) {
  // Recorded replays and scripts give the game its events as they were
  // handled: a release right after the press still lets go before the frame.
  auto t = MakeGameInPlay(EASY);
  Game& g = t->g();
  RunOneFrame(*t);
  InputEvent e;
  e.x = 320;
  e.y = 40;
  e.type = InputEvent::kMouseDown;
  DispatchInput(g, e);
  e.type = InputEvent::kMouseUp;
  DispatchInput(g, e);
  RunOneFrame(*t);
  EXPECT_EQ(LiveShots(g), 0);
  // Out of play a press goes to the menus at once and nothing is held.
  auto m = MakeTestGame();
  QuickClick(m->g(), 0, 5, 5);
  EXPECT_EQ(m->g().run.title_phase, -1);
  EXPECT_FALSE(m->g().input.press_unseen);
  EXPECT_FALSE(m->g().input.release_held);
}

TEST(InputMouse, PressOutsidePlayGoesToTheMenus) {
  auto t = MakeTestGame();
  Game& g = t->g();
  cgMouseDown(g, 0, 5, 5);
  EXPECT_EQ(g.run.title_phase, -1);
  cgMouseDown(g, 0, 5, 5);
  EXPECT_EQ(g.menu.screen, kStartScreen);
  EXPECT_EQ(g.input.click, 0);  // the menu used the press
}

TEST(InputKeys, SpaceTogglesPauseOnlyInPlay) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  FormKeyDown(g, 32);
  EXPECT_EQ(g.run.paused, 0);
  g.run.in_play = 1;
  ListenToSounds(*t);
  FormKeyDown(g, 32);
  EXPECT_EQ(g.run.paused, 1);
  EXPECT_TRUE(Heard(*t, "1.wav"));
  FormKeyDown(g, 32);  // a key repeat toggles again
  EXPECT_EQ(g.run.paused, 0);
}

TEST(InputKeys, QEndsTheGameOnlyInUnpausedPlay) {
  auto t = MakeGameInPlay(HARD);
  Game& g = t->g();
  g.run.paused = 1;
  FormKeyDown(g, 81);
  EXPECT_EQ(g.run.in_play, 1);
  g.run.paused = 0;
  FormKeyDown(g, 81);
  EXPECT_EQ(g.run.in_play, 0);
  EXPECT_EQ(g.run.game_over_banner, 1);

  auto t2 = MakeTestGame();
  t2->g().run.title_phase = 0;
  FormKeyDown(t2->g(), 81);
  EXPECT_EQ(t2->g().run.game_over_banner, 0);
}

TEST(InputKeys, SSkipsTheStoryAndPressesAtTheCorner) {
  auto t = MakeGameInPlay(EXTREAM);
  Game& g = t->g();
  g.run.story = {"a", "b", "c"};
  g.run.story_index = 1;
  g.input.mouse_x = 300;
  g.input.mouse_y = 300;
  FormKeyDown(g, 83);
  EXPECT_EQ(g.run.story_index, 3);
  EXPECT_EQ(g.input.mouse_x, 0);
  EXPECT_EQ(g.input.mouse_y, 0);
  EXPECT_EQ(g.input.click, 1);

  // Without a story it is just the press: on the title picture it moves on.
  auto t2 = MakeTestGame();
  FormKeyDown(t2->g(), 83);
  EXPECT_EQ(t2->g().run.title_phase, -1);
}

TEST(InputKeys, EscOnTheTitleAsksBeforeResettingTheSave) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.name() = "keep";
  g.my.hi_score(EASY) = 5000;
  t->dialogs.answers.push_back(false);
  FormKeyDown(g, 27);
  EXPECT_EQ(t->dialogs.shown, (std::vector<std::string>{"初期化したいときは、はいを押してね"}));
  EXPECT_EQ(g.my.name(), "keep");
  FormKeyDown(g, 27);  // no answer given: the default, No
  EXPECT_EQ(g.my.name(), "keep");
  t->dialogs.answers.push_back(true);
  FormKeyDown(g, 27);  // Yes
  EXPECT_EQ(g.my.name(), "");
  EXPECT_EQ(g.my.hi_score(EASY), 0);
  EXPECT_EQ(g.my.se_volume, -600);

  // After the title picture was clicked away Esc does nothing.
  g.my.name() = "again";
  FieldClick(g, 1, 1, 0);
  t->dialogs.shown.clear();
  FormKeyDown(g, 27);
  EXPECT_TRUE(t->dialogs.shown.empty());
  EXPECT_EQ(g.my.name(), "again");
}

TEST(InputKeys, OtherKeysDoNothing) {
  auto t = MakeGameInPlay(HARD);
  Game& g = t->g();
  for (int k : {13, 8, 65, 80, 112}) FormKeyDown(g, k);
  EXPECT_EQ(g.run.paused, 0);
  EXPECT_EQ(g.run.in_play, 1);
  EXPECT_EQ(g.input.click, 0);
}
