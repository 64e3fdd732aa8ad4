#include <gtest/gtest.h>

#include "menu_test_util.h"

using Strings = std::vector<std::string>;

TEST(MenuStartScreen, TitleThenIntroThenStartScreen) {
  auto t = MakeTestGame();
  Game& g = t->g();
  FieldClick(g, 10, 10, 0);
  EXPECT_EQ(g.run.title_phase, -1);
  EXPECT_EQ(g.menu.screen, 0);
  FieldClick(g, 10, 10, 1);  // any button moves on
  EXPECT_EQ(g.run.title_phase, 0);
  EXPECT_EQ(g.menu.screen, kStartScreen);
}

TEST(MenuStartScreen, WithoutNameOnlyAboutAndNameEntry) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.play_count(EASY) = 50;  // counts do not matter without a name
  g.my.play_count(HARD) = 50;
  ToStartScreen(g);
  EXPECT_EQ(Captions(g), (Strings{"このゲームについて", "名前入力"}));
}

TEST(MenuStartScreen, ModesUnlockByPlayCounts) {
  struct Case {
    int easy, hard, extream, light, sq;
    Strings expected;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0, {"このゲームについて", "<EASY スタート>", "RANKING"}},
      {2, 0, 0, 0, 0, {"このゲームについて", "<EASY スタート>", "RANKING"}},
      {3, 0, 0, 0, 0, {"このゲームについて", "<EASY スタート>", "<HARD スタート>", "RANKING"}},
      {4, 0, 0, 0, 0,
       {"このゲームについて", "<LIGHT スタート>", "<EASY スタート>", "<HARD スタート>", "RANKING"}},
      {0, 9, 9, 2, 9, {"このゲームについて", "<EASY スタート>", "RANKING"}},
      {0, 10, 0, 0, 0, {"このゲームについて", "<EASY スタート>", "<EXTREAM スタート>", "RANKING"}},
      {0, 0, 10, 0, 0, {"このゲームについて", "<EASY スタート>", "<NOVA スタート>", "RANKING"}},
      {0, 0, 0, 3, 0, {"このゲームについて", "<EASY スタート>", "<SQ スタート>", "RANKING"}},
      {0, 0, 0, 0, 10, {"このゲームについて", "<EASY スタート>", "<HELL スタート>", "RANKING"}},
      {4, 10, 10, 3, 10,
       {"このゲームについて", "<LIGHT スタート>", "<EASY スタート>", "<HARD スタート>",
        "<EXTREAM スタート>", "<NOVA スタート>", "<SQ スタート>", "<HELL スタート>", "RANKING"}},
  };
  for (const Case& c : cases) {
    auto t = MakeTestGame();
    Game& g = t->g();
    g.my.play_count(EASY) = c.easy;
    g.my.play_count(HARD) = c.hard;
    g.my.play_count(EXTREAM) = c.extream;
    g.my.play_count(LIGHT) = c.light;
    g.my.play_count(SQ) = c.sq;
    NamedOnStartScreen(g);
    EXPECT_EQ(Captions(g), c.expected) << "easy " << c.easy << " hard " << c.hard;
  }
}

TEST(MenuLayout, RowsWithoutGapsAndSlideIn) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.play_count(EASY) = 4;  // LIGHT shown, HARD shown, EXTREAM.. hidden between
  NamedOnStartScreen(g);
  Strings caps = Captions(g);
  ASSERT_EQ(caps.size(), 5u);
  int row = 0;
  for (size_t i = 1; i < g.menu.table.size(); ++i) {
    const MenuItem& m = g.menu.table[i];
    if (!m.visible) continue;
    EXPECT_EQ(m.y, 25 + 24 * row) << m.caption;
    EXPECT_EQ(m.x, -50);
    EXPECT_EQ(m.width, 200);
    EXPECT_EQ(m.height, 25);
    ++row;
  }
  int first = FindMenuButton(g, "このゲームについて");
  std::vector<int> xs;
  for (int f = 0; f < 6; ++f) {
    DrawMenu(g);
    xs.push_back(g.menu.table[size_t(first)].x);
  }
  EXPECT_EQ(xs, (std::vector<int>{-24, -11, -5, -2, 0, 0}));
}

TEST(MenuClicks, BetweenButtonsAndRightClickOnStartScreenDoNothing) {
  auto t = MakeTestGame();
  Game& g = t->g();
  NamedOnStartScreen(g);
  for (int i = 0; i < 6; ++i) DrawMenu(g);
  // Right of the column, and below the last button.
  FieldClick(g, 230, 30, 0);
  FieldClick(g, 50, 25 + 24 * 3 + 10, 0);
  EXPECT_EQ(g.menu.screen, kStartScreen);
  EXPECT_TRUE(LogTexts(g).empty());
  EXPECT_EQ(g.input.click, 0);
  FieldClick(g, 50, 30, 1);  // right click on a button
  EXPECT_EQ(g.menu.screen, kStartScreen);
  EXPECT_TRUE(LogTexts(g).empty());
  // The bottom pixel row of a button belongs to the next one only.
  FieldClick(g, 50, 25 + 24, 0);  // first row of button 2 (EASY start)
  EXPECT_EQ(g.menu.screen, kChapterScreen);
}

TEST(MenuClicks, ModeStartOpensChapterScreenAndCountsThePlay) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.play_count(HARD) = 2;
  NamedOnStartScreen(g);
  g.my.play_count(EASY) = 3;
  OpenMenuScreen(g, kStartScreen);
  g.run.record_mode = 2;  // a record whose comment was never entered
  g.my.score() = 999;
  MenuAction(g, FindMenuButton(g, "<HARD スタート>"));
  EXPECT_EQ(g.my.mode, HARD);
  EXPECT_EQ(g.my.play_count(HARD), 3);
  EXPECT_EQ(g.my.play_count(EASY), 3);
  EXPECT_EQ(g.run.record_mode, 0);
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_EQ(g.menu.screen, kChapterScreen);
  EXPECT_EQ(Captions(g), (Strings{"第１章", "OPTION"}));
  EXPECT_EQ(LogTexts(g), (Strings{"HARD スタートします"}));
}

TEST(MenuClicks, RightClickOnChapterScreenGoesBackOnlyBeforeChapterOne) {
  auto t = MakeTestGame();
  Game& g = t->g();
  NamedOnStartScreen(g);
  ASSERT_TRUE(ClickButton(g, "<EASY スタート>"));
  ASSERT_EQ(g.menu.screen, kChapterScreen);
  FieldClick(g, 300, 300, 1);
  EXPECT_EQ(g.menu.screen, kStartScreen);

  // During a run the right click stays on the chapter screen.
  ASSERT_TRUE(ClickButton(g, "<EASY スタート>"));
  ASSERT_TRUE(ClickButton(g, "第１章"));
  EXPECT_EQ(g.run.in_play, 1);
  EXPECT_EQ(g.my.stage(), 1);
  EXPECT_EQ(g.run.chapter_run, 1);
  EXPECT_EQ(g.menu.screen, 0);
  g.run.in_play = 0;  // the stage is cleared
  OpenMenuScreen(g, kChapterScreen);
  EXPECT_EQ(Captions(g), (Strings{"第２章", "<SHOP>", "OPTION"}));
  FieldClick(g, 300, 300, 1);
  EXPECT_EQ(g.menu.screen, kChapterScreen);
}

TEST(MenuChapters, ExactlyTheNextChapterIsOffered) {
  const char* next[] = {"第１章", "第２章", "第３章", "第４章", "第５章", "最終章", "<クリア>"};
  for (int s = 0; s <= 6; ++s) {
    auto t = MakeTestGame();
    Game& g = t->g();
    g.my.stage() = s;
    OpenMenuScreen(g, kChapterScreen);
    Strings expected{next[s]};
    if (s >= 1) expected.push_back("<SHOP>");
    expected.push_back("OPTION");
    EXPECT_EQ(Captions(g), expected) << "stage " << s;
  }
  auto t = MakeTestGame();
  t->g().my.stage() = 7;
  OpenMenuScreen(t->g(), kChapterScreen);
  EXPECT_EQ(Captions(t->g()), (Strings{"<SHOP>", "OPTION"}));
}

TEST(MenuChapters, LaterChapterKeepsTheRunAndStartsTheStage) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.stage() = 2;
  g.my.score() = 1234;
  g.my.buy_count(1) = 2;
  g.run.chapter_run = 1;
  OpenMenuScreen(g, kChapterScreen);
  ListenToSounds(*t);
  ASSERT_TRUE(ClickButton(g, "第３章"));
  EXPECT_EQ(g.my.stage(), 3);
  EXPECT_EQ(g.my.score(), 1234);
  EXPECT_EQ(g.my.buy_count(1), 2);
  EXPECT_EQ(g.run.in_play, 1);
  EXPECT_TRUE(Heard(*t, "1.wav"));
}

TEST(MenuChapters, ChapterOneStartsAFreshRun) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.mode = SQ;
  g.my.score() = 500;
  g.my.buy_count(3) = 1;
  OpenMenuScreen(g, kChapterScreen);
  ASSERT_TRUE(ClickButton(g, "第１章"));
  EXPECT_EQ(g.my.mode, SQ);
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_EQ(g.my.buy_count(3), 0);
  EXPECT_EQ(g.my.stage(), 1);
  EXPECT_EQ(g.run.in_play, 1);
  EXPECT_EQ(g.run.chapter_run, 1);
}

// The clear button ends the game as losing the last life does, the music
// stopped with it.
TEST(MenuChapters, ClearEndsTheRunWithTheHiScoreRule) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.mode = HARD;
  g.my.stage() = 6;
  g.my.score() = 777;
  g.my.hi_score(HARD) = 700;
  OpenMenuScreen(g, kChapterScreen);
  ListenToSounds(*t);
  t->audio.music.clear();
  ASSERT_TRUE(ClickButton(g, "<クリア>"));
  EXPECT_EQ(t->audio.music, std::vector<std::string>{""});
  EXPECT_EQ(g.menu.screen, 0);
  EXPECT_EQ(g.run.in_play, 0);
  EXPECT_EQ(g.run.game_over_banner, 1);
  EXPECT_EQ(g.my.hi_score(HARD), 777);
  EXPECT_EQ(g.run.record_mode, HARD + 1);
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_EQ(g.my.stage(), 0);
  EXPECT_TRUE(LogHas(g, "クリアおめでとうございます"));
  EXPECT_TRUE(Heard(*t, "gameover.wav"));
  // The next click opens the comment entry, not the menu.
  FieldClick(g, 100, 100, 0);
  EXPECT_TRUE(g.panels.hi_score_box_visible);
  EXPECT_EQ(g.menu.screen, 0);
}

TEST(MenuChapters, GameOverClickReturnsToStartScreen) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.name() = "p";
  g.run.game_over_banner = 1;
  FieldClick(g, 100, 100, 1);
  EXPECT_EQ(g.run.game_over_banner, 0);
  EXPECT_EQ(g.menu.screen, kStartScreen);
}

TEST(MenuAbout, ListsTheCountsOfFiveModes) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.play_count(EASY) = 7;
  g.my.play_count(NOVA) = 2;
  g.my.play_count(LIGHT) = 5;
  g.my.play_count(HELL) = 1;
  NamedOnStartScreen(g);
  ListenToSounds(*t);
  ASSERT_TRUE(ClickButton(g, "このゲームについて"));
  EXPECT_EQ(LogTexts(g), (Strings{"左Click:ショット　右Click:バリア　[Q]key:自殺 [Space]:一時停止",
                                  "EASY プレー回数 7回", "NOVA プレー回数 2回"}));
  EXPECT_TRUE(Heard(*t, "1.wav"));
  EXPECT_EQ(g.menu.screen, kStartScreen);
}

TEST(MenuAbout, EachActionClearsTheLogFirst) {
  auto t = MakeTestGame();
  Game& g = t->g();
  NamedOnStartScreen(g);
  ASSERT_TRUE(ClickButton(g, "このゲームについて"));
  ASSERT_TRUE(ClickButton(g, "このゲームについて"));
  EXPECT_EQ(LogTexts(g).size(), 1u);
}

TEST(MenuRanking, ButtonsFollowPlayCountsAndBackGoesToStart) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.play_count(SQ) = 1;
  g.my.play_count(LIGHT) = 4;
  NamedOnStartScreen(g);
  ASSERT_TRUE(ClickButton(g, "RANKING"));
  EXPECT_EQ(g.menu.screen, kRankingScreen);
  EXPECT_EQ(Captions(g), (Strings{"LIGHT RANK", "EASY RANK", "SQ RANK"}));
  EXPECT_EQ(g.menu.back, kStartScreen);
  FieldClick(g, 300, 300, 1);
  EXPECT_EQ(g.menu.screen, kStartScreen);
}

// The list itself arrives when the exchange ends (the ranking tests follow it there).
TEST(MenuRanking, RankButtonShowsTheWaitingLineWhileTheListLoads) {
  auto t = MakeTestGame();
  Game& g = t->g();
  NamedOnStartScreen(g);
  ASSERT_TRUE(ClickButton(g, "RANKING"));
  ASSERT_TRUE(ClickButton(g, "EASY RANK"));
  EXPECT_EQ(LogTexts(g), (Strings{"読み込み中........"}));
  EXPECT_TRUE(g.ranking.busy);
  EXPECT_FALSE(g.panels.rank_box_visible);
  EXPECT_EQ(g.menu.screen, kRankingScreen);
}

TEST(MenuOptions, VolumeStepsStopAtTheBounds) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.se_volume = -600;
  g.my.stage() = 1;
  OpenMenuScreen(g, kChapterScreen);
  ASSERT_TRUE(ClickButton(g, "OPTION"));
  EXPECT_EQ(Captions(g), (Strings{"SOUND"}));
  ASSERT_TRUE(ClickButton(g, "SOUND"));
  EXPECT_EQ(Captions(g), (Strings{"SE音量を下げる", "SE音量を上げる"}));
  std::vector<int> down;
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(ClickButton(g, "SE音量を下げる"));
    down.push_back(g.my.se_volume);
  }
  EXPECT_EQ(down, (std::vector<int>{-1000, -1400, -1800, -2200, -2600, -3000, -3400, -3800,
                                    -4000, -4000}));
  EXPECT_EQ(LogTexts(g), (Strings{"音量＝-4000"}));
  g.my.se_volume = -600;
  ListenToSounds(*t);
  ASSERT_TRUE(ClickButton(g, "SE音量を上げる"));
  EXPECT_EQ(g.my.se_volume, -200);
  EXPECT_TRUE(Heard(*t, "1.wav"));
  ASSERT_TRUE(ClickButton(g, "SE音量を上げる"));
  EXPECT_EQ(g.my.se_volume, 0);
  ASSERT_TRUE(ClickButton(g, "SE音量を上げる"));
  EXPECT_EQ(g.my.se_volume, 0);
  EXPECT_EQ(LogTexts(g), (Strings{"音量＝0"}));
  // Back: sound -> options -> chapter screen.
  FieldClick(g, 300, 300, 1);
  EXPECT_EQ(g.menu.screen, kOptionScreen);
  FieldClick(g, 300, 300, 1);
  EXPECT_EQ(g.menu.screen, kChapterScreen);
}

TEST(MenuDraw, CaptionShrinksUntilItFits) {
  auto t = MakeTestGame();
  Game& g = t->g();
  EXPECT_EQ(CaptionFontSize(g, "OPTION", 200), 12);
  EXPECT_EQ(CaptionFontSize(g, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ", 200), 8);
  // A caption just too wide at 12 points is drawn at the largest size that fits.
  std::string text = "SHOT POWER+1(100000Pt.)";
  Canvas& c = *g.cg;
  c.SetFontBold(true);
  c.SetFontSize(12);
  int w12 = c.TextWidth(text);
  c.SetFontSize(11);
  int w11 = c.TextWidth(text);
  ASSERT_LT(w11, w12);
  EXPECT_EQ(CaptionFontSize(g, text, w12), 11);
  EXPECT_EQ(CaptionFontSize(g, text, w12 + 1), 12);
}

TEST(MenuDraw, HoveredButtonPulsesAndOthersStayBlack) {
  auto t = MakeTestGame();
  Game& g = t->g();
  NamedOnStartScreen(g);
  for (int i = 0; i < 6; ++i) DrawMenu(g);
  g.input.mouse_x = 190;
  g.input.mouse_y = 50;  // second button, near its right end
  const uint32_t pulse[8] = {5592405, 4473924, 3355443, 2236962, 0, 2236962, 3355443, 4473924};
  for (int f = 0; f < 8; ++f) {
    g.run.frame_no = f;
    g.cg->Clear(0x123456);
    DrawMenu(g);
    EXPECT_EQ(g.menu.hovered, FindMenuButton(g, "<EASY スタート>"));
    EXPECT_EQ(g.cg->GetPixel(195, 70), pulse[f]) << "frame " << f;
    EXPECT_EQ(g.cg->GetPixel(195, 30), 0u);                  // the first button
    EXPECT_EQ(g.cg->GetPixel(0, 25), 8421504u);               // grey frame
    EXPECT_EQ(g.cg->GetPixel(199, 25 + 24 * 2 + 24), 8421504u);
  }
  // Below the last row: nothing hovered, the background untouched.
  g.input.mouse_y = 25 + 24 * 3;
  DrawMenu(g);
  EXPECT_EQ(g.menu.hovered, 0);
  EXPECT_EQ(g.cg->GetPixel(100, 25 + 24 * 3 + 2), 0x123456u);
}

TEST(MenuDraw, NothingDrawnOrClickedDuringPlay) {
  auto t = MakeTestGame();
  Game& g = t->g();
  NamedOnStartScreen(g);
  for (int i = 0; i < 6; ++i) DrawMenu(g);
  g.run.in_play = 1;
  g.input.click = 1;
  g.input.mouse_x = 50;
  g.input.mouse_y = 30;
  g.cg->Clear(0);
  DrawMenu(g);
  EXPECT_EQ(g.input.click, 1);
  EXPECT_EQ(g.cg->GetPixel(0, 25), 0u);
}
