// The save file: defaults, round trips, damaged files and atomic writes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "menus/save.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "state/game.h"
#include "test_util.h"

namespace {

std::string Slurp(const std::string& path) { return ReadWholeFile(path).value_or("<missing>"); }

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(SaveFile, FreshStartWritesTheDefaults) {
  auto t = MakeTestGame();
  LoadSave(t->g());
  std::string expected =
      "-600\r\n0\r\n0\r\n\r\n0\r\n\r\n0\r\n0\r\n\r\n0\r\n0\r\n\r\n0\r\n0\r\n\r\n0\r\n0\r\n\r\n"
      "0\r\n0\r\n\r\n0\r\n0\r\n\r\n";
  EXPECT_EQ(Slurp(SavePath(t->g())), expected);
  EXPECT_EQ(t->g().my.se_volume, -600);
}

TEST(SaveFile, EveryValueSurvivesARestartInItsOwnLine) {
  std::string dir = MakeTempDir();
  {
    auto t = MakeTestGame(1, dir);
    Game& g = t->g();
    LoadSave(g);
    g.my.se_volume = -1400;
    g.my.name() = "  はなこ";  // leading blanks are kept
    g.my.player_id() = 4321;
    for (int m = 0; m < kModeCount; ++m) {
      g.my.hi_score(m) = 1000 * (m + 1);
      g.my.play_count(m) = m + 10;
      g.my.comment(m) = "comment " + std::string(kModeNames[m]) + " 表示";
    }
    ASSERT_TRUE(WriteSave(g));
    // The file is CP932 with CR LF; line 4 is the name, line 21 the LIGHT comment.
    std::string bytes = Slurp(SavePath(g));
    EXPECT_NE(bytes.find(*Utf8ToCp932("  はなこ\r\n")), std::string::npos);
    EXPECT_EQ(bytes.substr(0, 7), "-1400\r\n");
  }
  auto t = MakeTestGame(2, dir);
  Game& g = t->g();
  LoadSave(g);
  EXPECT_EQ(g.my.se_volume, -1400);
  EXPECT_EQ(g.my.name(), "  はなこ");
  EXPECT_EQ(g.my.player_id(), 4321);
  for (int m = 0; m < kModeCount; ++m) {
    EXPECT_EQ(g.my.hi_score(m), 1000 * (m + 1)) << kModeNames[m];
    EXPECT_EQ(g.my.play_count(m), m + 10) << kModeNames[m];
    EXPECT_EQ(g.my.comment(m), "comment " + std::string(kModeNames[m]) + " 表示");
  }
}

TEST(SaveFile, LineOrderMatchesTheFileLayout) {
  std::string dir = MakeTempDir();
  // line: 1 vol, 2 EASY hi, 3 HARD hi, 4 name, 5 id, 6 EASY comment, 7 EASY plays,
  // 8 HARD plays, 9 HARD comment, 10 EXTREAM hi, 11 EXTREAM plays, 12 comment,
  // 13 NOVA hi, 14 plays, 15 comment, 16 SQ hi, 17 plays, 18 comment,
  // 19 LIGHT hi, 20 plays, 21 comment, 22 HELL hi, 23 plays, 24 comment
  Spit(dir + "/my.dat",
       "-200\r\n11\r\n12\r\nname\r\n77\r\nce\r\n1\r\n2\r\nch\r\n13\r\n3\r\ncx\r\n14\r\n4\r\ncn\r\n"
       "15\r\n5\r\ncs\r\n16\r\n6\r\ncl\r\n17\r\n7\r\nchl\r\n");
  auto t = MakeTestGame(1, dir);
  Game& g = t->g();
  LoadSave(g);
  EXPECT_EQ(g.my.se_volume, -200);
  EXPECT_EQ(g.my.name(), "name");
  EXPECT_EQ(g.my.player_id(), 77);
  const int hi[7] = {11, 12, 13, 14, 15, 16, 17};
  const int plays[7] = {1, 2, 3, 4, 5, 6, 7};
  const char* comments[7] = {"ce", "ch", "cx", "cn", "cs", "cl", "chl"};
  for (int m = 0; m < kModeCount; ++m) {
    EXPECT_EQ(g.my.hi_score(m), hi[m]);
    EXPECT_EQ(g.my.play_count(m), plays[m]);
    EXPECT_EQ(g.my.comment(m), comments[m]);
  }
  // A well-formed file is not rewritten or set aside.
  EXPECT_FALSE(FileExists(dir + "/my.dat.bad"));
}

TEST(SaveFile, DamagedFileIsReadAsFarAsItParsesAndKeptAside) {
  std::string dir = MakeTempDir();
  std::string damaged = "-600\r\nlots\r\n500\r\nbob\r\n";
  Spit(dir + "/my.dat", damaged);
  auto t = MakeTestGame(1, dir);
  Game& g = t->g();
  LoadSave(g);
  EXPECT_EQ(g.my.hi_score(EASY), 0);   // not a number: 0
  EXPECT_EQ(g.my.hi_score(HARD), 500);  // what parses is kept
  EXPECT_EQ(g.my.name(), "bob");
  EXPECT_EQ(g.my.play_count(HELL), 0);  // past the end: 0
  SaveIfChanged(g);
  EXPECT_EQ(Slurp(dir + "/my.dat.bad"), damaged);
  // The rewritten file is whole again: 24 lines.
  std::string now = Slurp(dir + "/my.dat");
  EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 24);
  EXPECT_FALSE(FileExists(dir + "/my.dat.tmp"));
}

TEST(SaveFile, GarbageBytesDoNotStopTheGame) {
  std::string dir = MakeTempDir();
  std::string junk("\xFF\xFE\x00\x81\x01zz\n\n\n\x80", 11);
  Spit(dir + "/my.dat", junk);
  auto t = MakeTestGame(1, dir);
  LoadSave(t->g());
  SaveIfChanged(t->g());
  EXPECT_EQ(Slurp(dir + "/my.dat.bad"), junk);
  auto again = MakeTestGame(1, dir);
  LoadSave(again->g());  // the rewritten file loads cleanly
  EXPECT_EQ(again->g().my.se_volume, t->g().my.se_volume);
}

TEST(SaveFile, UnreadableFileIsNeverOverwritten) {
  std::string dir = MakeTempDir();
  ASSERT_EQ(mkdir((dir + "/my.dat").c_str(), 0755), 0);  // something that cannot be read as a file
  auto t = MakeTestGame(1, dir);
  Game& g = t->g();
  LoadSave(g);
  EXPECT_EQ(g.my.se_volume, -600);
  g.my.hi_score(EASY) = 5;
  SaveIfChanged(g);
  EXPECT_FALSE(WriteSave(g));
  EXPECT_FALSE(g.save.error.empty());
  EXPECT_TRUE(DirectoryExists(dir + "/my.dat"));
}

TEST(SaveFile, ChangedSavedValuesAreWrittenAtOnce) {
  auto t = MakeTestGame();
  Game& g = t->g();
  LoadSave(g);
  g.my.score() = 900;
  g.my.mode = HARD;
  ApplyHiScoreRule(g);
  SaveIfChanged(g);
  auto reread = MakeTestGame(1, g.pf.data_dir);
  LoadSave(reread->g());
  EXPECT_EQ(reread->g().my.hi_score(HARD), 900);
  // Unsaved values (score, level) changing does not count.
  std::string before = Slurp(SavePath(g));
  g.my.level = 9;
  SaveIfChanged(g);
  EXPECT_EQ(Slurp(SavePath(g)), before);
}

TEST(SaveFile, ResetSaveValuesRestoresDefaultsAndRunsTheNewGameReset) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.name() = "x";
  g.my.se_volume = 0;
  g.my.hi_score(NOVA) = 7;
  g.my.play_count(SQ) = 3;
  g.my.comment(LIGHT) = "c";
  g.my.score() = 50;
  g.my.lives = 9;
  ResetSaveValues(g);
  EXPECT_EQ(g.my.name(), "");
  EXPECT_EQ(g.my.se_volume, -600);
  EXPECT_EQ(g.my.hi_score(NOVA), 0);
  EXPECT_EQ(g.my.play_count(SQ), 0);
  EXPECT_EQ(g.my.comment(LIGHT), "");
  EXPECT_EQ(g.my.score(), 0);
  EXPECT_EQ(g.my.lives, 3);
}

}  // namespace
