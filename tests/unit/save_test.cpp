// The save file: defaults, round trips, damaged files and atomic writes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <fstream>

#include "menus/menu.h"
#include "menus/save.h"
#include "menus/shop.h"
#include "shell/input.h"
#include "platform/text.h"
#include "platform/files.h"
#include "state/game.h"
#include "menu_test_util.h"
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
    EXPECT_NE(bytes.find(*text::Utf8ToCp932("  はなこ\r\n")), std::string::npos);
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

// A clean file whose line `line` (1-based) is replaced.
std::string SaveWithLine(int line, const std::string& value) {
  std::string lines[24] = {"-1400", "100", "200", "name", "77", "ce", "1", "2", "ch", "3", "4", "cx",
                           "5", "6", "cn", "7", "8", "cs", "9", "10", "cl", "11", "12", "chl"};
  lines[line - 1] = value;
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

// Loads `bytes` as my.dat; returns the game after its first save check.
std::unique_ptr<TestGame> LoadBytes(const std::string& dir, const std::string& bytes) {
  Spit(dir + "/my.dat", bytes);
  auto t = MakeTestGame(1, dir);
  LoadSave(t->g());
  SaveIfChanged(t->g());
  return t;
}

TEST(SaveFile, ValuesTheGameCouldNeverStoreTakeTheirDefaultAndTheFileIsKept) {
  struct Case {
    int line;
    std::string value;
  };
  const Case cases[] = {
      {1, "-2147483648"}, {1, "5000"}, {1, "-4200"}, {1, "-300"}, {1, "7"},  // volume
      {2, "-1"}, {22, "-2147483648"}, {7, "-5"}, {23, "-1"},            // scores, counts
      {5, "-1"}, {5, "10000"},                                            // player id
      {4, "1234567890123"}, {6, "1234567890123456789012345678901"},      // over the byte limit
      {9, std::string("a\0b", 3)}, {5, "12abc"}, {2, "99999999999"},
  };
  for (const Case& c : cases) {
    std::string dir = MakeTempDir();
    std::string bytes = SaveWithLine(c.line, c.value);
    auto t = LoadBytes(dir, bytes);
    Game& g = t->g();
    SCOPED_TRACE("line " + std::to_string(c.line));
    EXPECT_EQ(Slurp(dir + "/my.dat.bad"), bytes);
    // The faulty value is back at its default; the others load as written.
    EXPECT_EQ(g.my.se_volume, c.line == 1 ? -600 : -1400);
    EXPECT_EQ(g.my.hi_score(EASY), c.line == 2 ? 0 : 100);
    EXPECT_EQ(g.my.hi_score(HELL), c.line == 22 ? 0 : 11);
    EXPECT_EQ(g.my.play_count(EASY), c.line == 7 ? 0 : 1);
    EXPECT_EQ(g.my.player_id(), c.line == 5 ? 0 : 77);
    EXPECT_EQ(g.my.name(), c.line == 4 ? "" : "name");
    EXPECT_EQ(g.my.comment(HARD), c.line == 9 ? "" : "ch");
  }
  // Every reachable volume and the widest values load cleanly.
  for (const char* ok : {"-4000", "-3800", "0", "-200"}) {
    std::string dir = MakeTempDir();
    LoadBytes(dir, SaveWithLine(1, ok));
    EXPECT_FALSE(FileExists(dir + "/my.dat.bad")) << ok;
  }
  std::string dir = MakeTempDir();
  auto t = LoadBytes(dir, SaveWithLine(2, "2147483647"));
  EXPECT_EQ(t->g().my.hi_score(EASY), INT_MAX);
  EXPECT_FALSE(FileExists(dir + "/my.dat.bad"));
}

TEST(SaveFile, ExtraLinesAndHugeFilesAreDamage) {
  const std::string clean = SaveWithLine(1, "-1400");
  for (const std::string& bytes :
       {clean + "\r\n", clean + "25\r\n" + std::string(75, 'x'), clean + std::string(100 * 1024, '7')}) {
    std::string dir = MakeTempDir();
    auto t = LoadBytes(dir, bytes);
    EXPECT_EQ(Slurp(dir + "/my.dat.bad"), bytes) << bytes.size();
    EXPECT_EQ(t->g().my.hi_score(EASY), 100);  // the 24 lines still load
    EXPECT_EQ(Slurp(dir + "/my.dat"), clean);
  }
}

TEST(SaveFile, OnlyARegularFileIsRead) {
  std::string dir = MakeTempDir();
  ASSERT_EQ(mkfifo((dir + "/my.dat").c_str(), 0644), 0);  // opened plainly, this would never return
  auto t = MakeTestGame(1, dir);
  LoadSave(t->g());
  EXPECT_TRUE(t->g().save.blocked);
  EXPECT_FALSE(WriteSave(t->g()));
  struct stat st;
  ASSERT_EQ(lstat((dir + "/my.dat").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // A link to nothing is left alone too, not replaced.
  std::string dir2 = MakeTempDir();
  ASSERT_EQ(symlink("/nonexistent/kv-save", (dir2 + "/my.dat").c_str()), 0);
  auto t2 = MakeTestGame(1, dir2);
  LoadSave(t2->g());
  EXPECT_TRUE(t2->g().save.blocked);
  ASSERT_EQ(lstat((dir2 + "/my.dat").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(SaveFile, StepsOnSavedValuesNeverWrap) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.se_volume = INT_MIN;
  ChangeVolume(g, -1);
  EXPECT_EQ(g.my.se_volume, -4000);
  g.my.se_volume = INT_MIN;
  ChangeVolume(g, +1);
  EXPECT_EQ(g.my.se_volume, INT_MIN + 400);
  g.my.name() = "max";
  g.my.play_count(EASY) = INT_MAX;
  ToStartScreen(g);
  ASSERT_TRUE(ClickButton(g, "<EASY スタート>"));
  EXPECT_EQ(g.my.play_count(EASY), INT_MAX);
}

}  // namespace

// The reset on the title picture asks first and opens on No; a reset keeps the
// file it replaces as my.dat.old, and without that copy nothing is reset.
TEST(SaveFile, TitleResetOpensOnNoAndKeepsTheOldFileAside) {
  auto t = MakeTestGame();
  Game& g = t->g();
  LoadSave(g);
  g.my.name() = "keep";
  g.my.hi_score(EASY) = 5000;
  g.my.comment(EASY) = "いい感じ";
  ASSERT_TRUE(WriteSave(g));
  const std::string old_bytes = Slurp(SavePath(g));

  // Esc, then Enter or Esc: the default answer, No.
  FormKeyDown(g, 27);
  ASSERT_EQ(t->dialogs.shown, (std::vector<std::string>{"初期化したいときは、はいを押してね"}));
  EXPECT_EQ(g.my.name(), "keep");
  EXPECT_EQ(Slurp(SavePath(g)), old_bytes);
  EXPECT_FALSE(FileExists(OldSavePath(g)));

  // Yes chosen on purpose: the old bytes are kept, the file holds the defaults.
  t->dialogs.answers = {true};
  FormKeyDown(g, 27);
  EXPECT_EQ(g.my.name(), "");
  EXPECT_EQ(g.my.hi_score(EASY), 0);
  EXPECT_EQ(Slurp(OldSavePath(g)), old_bytes);
  auto reread = MakeTestGame(1, g.pf.data_dir);
  LoadSave(reread->g());
  EXPECT_EQ(reread->g().my.name(), "");
  EXPECT_EQ(reread->g().my.hi_score(EASY), 0);

  // Bringing it back is a rename.
  ASSERT_EQ(std::rename(OldSavePath(g).c_str(), SavePath(g).c_str()), 0);
  auto back = MakeTestGame(1, g.pf.data_dir);
  LoadSave(back->g());
  EXPECT_EQ(back->g().my.name(), "keep");
  EXPECT_EQ(back->g().my.comment(EASY), "いい感じ");
}

TEST(SaveFile, TitleResetDoesNothingWhenTheOldFileCannotBeKept) {
  auto t = MakeTestGame();
  Game& g = t->g();
  LoadSave(g);
  g.my.name() = "keep";
  ASSERT_TRUE(WriteSave(g));
  const std::string old_bytes = Slurp(SavePath(g));
  ASSERT_EQ(::mkdir(OldSavePath(g).c_str(), 0755), 0);  // nothing can be renamed over it
  t->dialogs.answers = {true};
  FormKeyDown(g, 27);
  EXPECT_EQ(g.my.name(), "keep");
  EXPECT_EQ(Slurp(SavePath(g)), old_bytes);
  ASSERT_EQ(t->dialogs.shown.size(), 2u);
  EXPECT_NE(t->dialogs.shown[1].find("初期化しませんでした"), std::string::npos);
}
