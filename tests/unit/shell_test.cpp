// The game shell: resets, the hi-score rule, the frame clock, pause and shake,
// the title phases and the start-up checks.
#include <gtest/gtest.h>

#include <fstream>

#include "shell/input.h"
#include "platform/picture_file.h"
#include "menus/menu.h"
#include "platform/files.h"
#include "shell/form.h"
#include "shell/frame.h"
#include "state/game.h"
#include "test_util.h"

namespace {

constexpr double kMsPerDay = 86400000.0;

TEST(Resets, NewGameResetClearsTheRunButKeepsSavedValues) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.hi_score(EASY) = 100;
  g.my.name() = "n";
  g.my.mode = SQ;
  g.my.shot_way() = 2;
  g.my.buy_count(3) = 4;
  g.pools.items[7].timer = 5;
  g.pools.boss_slot = 12;
  g.my.barrier_size = 70;
  ResetGame(g);
  EXPECT_EQ(g.my.lives, 3);
  EXPECT_EQ(g.my.ship_size(), 15);
  EXPECT_EQ(g.my.shot_way(), 0);
  EXPECT_EQ(g.my.buy_count(3), 0);
  EXPECT_EQ(g.pools.items[7].timer, 0);
  EXPECT_EQ(g.pools.boss_slot, 0);
  EXPECT_EQ(g.my.barrier_size, 30);
  EXPECT_EQ(g.my.hi_score(EASY), 100);
  EXPECT_EQ(g.my.name(), "n");
  EXPECT_EQ(g.my.mode, SQ);
}

TEST(Resets, StageStartClearsPoolsAndPlacesTheShip) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.stage() = 1;
  g.pools.enemies[5].timer = 3;
  g.pools.enemies[5].big = 1;
  g.pools.shots[9].timer = 2;
  g.pools.items[4].timer = 8;  // items survive a stage start
  g.my.chain_count() = 6;
  g.my.chain_link() = 4;
  g.run.time_up = 1;
  StartStage(g);
  EXPECT_EQ(g.run.in_play, 1);
  EXPECT_EQ(g.pools.enemies[5].timer, 0);
  EXPECT_EQ(g.pools.enemies[5].big, 0);
  EXPECT_EQ(g.pools.shots[9].timer, 0);
  EXPECT_EQ(g.pools.items[4].timer, 8);
  EXPECT_EQ(g.my.chain_count(), 0);
  EXPECT_EQ(g.my.chain_link(), 4);
  EXPECT_EQ(g.run.time_up, 0);
  EXPECT_EQ(g.my.player_x(), 320);
  EXPECT_EQ(g.my.player_y(), 240);
  EXPECT_EQ(g.my.ship_size(), 10);
  ASSERT_FALSE(t->audio.music.empty());
  EXPECT_NE(t->audio.music.back().find("ZRK byCorvane.mp3"), std::string::npos);
}

TEST(HiScoreRule, OnlyAStrictlyGreaterScoreIsARecord) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.mode = LIGHT;
  g.my.hi_score(LIGHT) = 500;
  g.my.score() = 500;
  ApplyHiScoreRule(g);
  EXPECT_EQ(g.run.record_mode, 0);
  EXPECT_EQ(g.my.hi_score(LIGHT), 500);
  EXPECT_EQ(g.my.score(), 0);
  g.my.score() = 501;
  ApplyHiScoreRule(g);
  EXPECT_EQ(g.run.record_mode, LIGHT + 1);
  EXPECT_EQ(g.my.hi_score(LIGHT), 501);
  EXPECT_EQ(g.my.score(), 0);
}

TEST(FrameClock, FirstFrameAtOnceThen50ThenEvery40Ms) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  std::vector<int64_t> frame_times;
  for (int i = 0; i < 2000 && frame_times.size() < 27; ++i)
    if (DXTimer1Timer(g)) frame_times.push_back(t->clock.NowUs());
  ASSERT_EQ(frame_times.size(), 27u);
  // Each tick sleeps 1 ms first; a frame runs on the first tick past its deadline.
  EXPECT_NEAR(double(frame_times[1] - frame_times[0]), 50500, 500);
  // From then on 25 frames a second: the cadence holds on average, and no two
  // frames come closer than the tick that found the deadline late.
  EXPECT_NEAR(double(frame_times[26] - frame_times[1]), 25 * 40000.0, 1000.0);
  for (size_t i = 2; i < frame_times.size(); ++i) {
    EXPECT_GE(frame_times[i] - frame_times[i - 1], 38000);
    EXPECT_LE(frame_times[i] - frame_times[i - 1], 42000);
  }
}

TEST(FrameClock, LateFramesAreNotCaughtUp) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  for (int i = 0; i < 200; ++i) DXTimer1Timer(g);
  int before = g.run.frame_no;
  t->clock.AdvanceUs(2000000);  // the application was inactive for 2 s
  EXPECT_TRUE(DXTimer1Timer(g));
  EXPECT_EQ(g.run.frame_no, before + 1);
  // ...and then normal pacing resumes: nothing until 40 ms have passed.
  int ran = 0;
  for (int i = 0; i < 40; ++i) ran += DXTimer1Timer(g);
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(DXTimer1Timer(g));
}

TEST(FrameClock, AFrameWokenAFewMsLateKeepsTheCadenceAStalledOneRestarts) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  for (int i = 0; i < 1200; ++i) DXTimer1Timer(g);  // past the first second: 40 ms frames
  auto frame_at = [&](int64_t us) {
    t->clock.AdvanceUs(us - t->clock.NowUs());
    return TimerTick(g);
  };
  const int64_t grid = t->clock.NowUs() + 2000000;
  ASSERT_TRUE(frame_at(grid));  // after a stall: the cadence starts here
  ASSERT_TRUE(frame_at(grid + 40000 + 8000));  // a busy desktop woke the game 8 ms late
  EXPECT_FALSE(frame_at(grid + 80000 - 500));
  EXPECT_TRUE(frame_at(grid + 80000 + 500)) << "the next frame keeps to the 40 ms grid";
  ASSERT_TRUE(frame_at(grid + 120000 + 15000));  // stalled for more than a quarter of a frame
  EXPECT_FALSE(frame_at(grid + 160000 + 500)) << "not caught up";
  EXPECT_FALSE(frame_at(grid + 175000 - 500));
  EXPECT_TRUE(frame_at(grid + 175000 + 500)) << "restarted from the late frame";
}

TEST(FrameClock, FrameCounterWrapsAt999) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.frame_no = 998;
  RunFrame(g);
  EXPECT_EQ(g.run.frame_no, 999);
  RunFrame(g);
  EXPECT_EQ(g.run.frame_no, 0);
}

TEST(FrameClock, QueuedSoundsStartOneEvery400Ms) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.sound.queue = {"item.wav", "point.wav", "lvup.wav"};
  std::vector<int64_t> starts;
  size_t left = g.sound.queue.size();
  for (int i = 0; i < 2000; ++i) {
    DXTimer1Timer(g);
    if (g.sound.queue.size() < left) {
      starts.push_back(t->clock.NowUs());
      left = g.sound.queue.size();
    }
  }
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_NEAR(double(starts[1] - starts[0]), 401000.0, 1000.0);
  EXPECT_NEAR(double(starts[2] - starts[1]), 401000.0, 1000.0);
}

TEST(Pause, PauseDrawsTheWordOverTheLastFrameAndFreezesTheGame) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.run.in_play = 1;
  g.run.paused = 1;
  g.cg->Clear(0x123456);
  int distance = g.my.distance();
  RunFrame(g);
  EXPECT_EQ(g.my.distance(), distance);
  EXPECT_EQ(g.cg->GetPixel(5, 5), 0x123456u);  // not cleared
  // "PAUSE" is drawn around the centre.
  int changed = 0;
  for (int y = 220; y < 260; ++y)
    for (int x = 260; x < 380; ++x) changed += g.cg->GetPixel(x, y) != 0x123456u;
  EXPECT_GT(changed, 50);
}

TEST(Shake, ShakeOfOneEndsWithoutMovingThePicture) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.cg->Clear(0);
  g.cg->SetPixel(100, 100, 0xFFFFFF);
  g.run.shake = 1;
  ApplyShake(g);
  EXPECT_EQ(g.run.shake, 0);
  EXPECT_EQ(g.cg->GetPixel(100, 100), 0xFFFFFFu);
}

TEST(Shake, LargerShakeMovesThePictureWithinItsAmplitude) {
  for (uint64_t seed = 1; seed < 40; ++seed) {
    auto t = MakeTestGame(seed);
    Game& g = t->g();
    g.cg->Clear(0);
    g.cg->SetPixel(300, 200, 0xFFFFFF);
    g.run.shake = 4;  // amplitude 3 after the decrement
    ApplyShake(g);
    EXPECT_EQ(g.run.shake, 3);
    // The dot's copy lands within 3 pixels; the original may stay (uncovered areas keep old pixels).
    int copies = 0;
    for (int dy = -3; dy <= 3; ++dy)
      for (int dx = -3; dx <= 3; ++dx) copies += g.cg->GetPixel(300 + dx, 200 + dy) == 0xFFFFFFu;
    EXPECT_GE(copies, 1);
  }
}

TEST(TitlePhases, FirstClickShowsTheIntroSecondOpensTheStartScreen) {
  auto t = MakeTestGame();
  Game& g = t->g();
  EXPECT_EQ(g.run.title_phase, -2);
  cgMouseDown(g, 0, 100, 100);
  EXPECT_EQ(g.run.title_phase, -1);
  EXPECT_EQ(g.run.backdrop_on, 1);
  ASSERT_FALSE(t->audio.loads.empty());
  EXPECT_NE(t->audio.loads.front().find("/dat/1.wav"), std::string::npos);
  cgMouseDown(g, 1, 100, 100);  // any button
  EXPECT_EQ(g.run.title_phase, 0);
  EXPECT_EQ(g.menu.screen, 5);
}

TEST(TitlePhases, EscOnTheTitleAsksBeforeResettingSavedData) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.name() = "keep";
  t->dialogs.answers = {false};
  FormKeyDown(g, 27);
  ASSERT_EQ(t->dialogs.shown.size(), 1u);
  EXPECT_EQ(t->dialogs.shown[0], "初期化したいときは、はいを押してね");
  EXPECT_EQ(g.my.name(), "keep");
  t->dialogs.answers = {true};
  FormKeyDown(g, 27);
  EXPECT_EQ(g.my.name(), "");
  // After the title picture Esc does nothing.
  g.my.name() = "again";
  cgMouseDown(g, 0, 1, 1);
  FormKeyDown(g, 27);
  EXPECT_EQ(t->dialogs.shown.size(), 2u);
  EXPECT_EQ(g.my.name(), "again");
}

TEST(StartUp, MissingTitlePictureOrDataFolderIsReportedByPath) {
  std::string dir = MakeTempDir();
  auto t = MakeTestGame();
  Game& g = t->g();
  g.pf.game_dir = dir;
  std::string error;
  EXPECT_FALSE(FormCreate(g, &error));
  EXPECT_NE(error.find(dir + "/cg/title.bmp"), std::string::npos);

  MakeDirectories(dir + "/cg");
  std::string src = std::string(KV_GAME_DIR) + "/cg/title.bmp";
  std::string bytes = ReadWholeFile(src).value();
  std::ofstream(dir + "/cg/title.bmp", std::ios::binary) << bytes;
  error.clear();
  EXPECT_FALSE(FormCreate(g, &error));
  EXPECT_NE(error.find(dir + "/dat"), std::string::npos);

  MakeDirectories(dir + "/dat");
  g.pf.data_dir = dir + "/dat";
  EXPECT_TRUE(FormCreate(g, &error)) << error;
  EXPECT_TRUE(FileExists(dir + "/dat/my.dat"));
}

TEST(StartUp, CloseWritesTheSaveFile) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.hi_score(SQ) = 42;
  FormClose(g);
  EXPECT_EQ(g.run.closing_mark, -1);
  EXPECT_TRUE(g.run.quit);
  auto r = MakeTestGame(1, g.pf.data_dir);
  std::string err;
  ASSERT_TRUE(FormCreate(r->g(), &err)) << err;
  EXPECT_EQ(r->g().my.hi_score(SQ), 42);
}

TEST(Frame, TitleFrameShowsTheTitlePictureOnly) {
  auto t = MakeTestGame();
  Game& g = t->g();
  RunFrame(g);
  Picture title;
  ASSERT_TRUE(DecodePicture(std::string(KV_GAME_DIR) + "/cg/title.bmp", title));
  for (int y = 0; y < 480; y += 37)
    for (int x = 0; x < 640; x += 41) {
      uint32_t p = title.pixels[size_t(y) * 640 + x];
      uint32_t bgr = ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
      ASSERT_EQ(g.cg->GetPixel(x, y), bgr) << x << "," << y;
    }
}

}  // namespace
