// The settings file beside the save: M turns the music off and on, the choice
// survives a restart, and a damaged file never stops the game.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/files.h"
#include "platform/window.h"
#include "shell/form.h"
#include "shell/settings.h"
#include "test_util.h"

namespace {

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(Settings, MMutesTheMusicAndTheChoiceIsKeptForTheNextStart) {
  const std::string dir = MakeTempDir();
  {
    auto t = MakeTestGame(1, dir);
    Game& g = t->g();
    LoadSettings(g);  // no file yet: the music plays and nothing is written
    EXPECT_FALSE(t->audio.music_muted);
    EXPECT_FALSE(FileExists(SettingsPath(g)));
    WindowKey(g, kKeyMusic);
    EXPECT_TRUE(t->audio.music_muted);
    EXPECT_EQ(ReadWholeFile(SettingsPath(g)).value_or(""), "# K.V. settings\nmusic=off\n");
    EXPECT_FALSE(FileExists(SettingsPath(g) + ".tmp"));
    EXPECT_FALSE(FileExists(dir + "/my.dat"));  // the save file is not where it goes
    // Not while a text box has the keyboard: the M of a name is typed.
    g.panels.name_box_visible = true;
    WindowKey(g, kKeyMusic);
    EXPECT_TRUE(t->audio.music_muted);
  }
  auto t = MakeTestGame(1, dir);
  Game& g = t->g();
  LoadSettings(g);
  EXPECT_TRUE(t->audio.music_muted);
  EXPECT_TRUE(g.settings.notice.empty());
  WindowKey(g, kKeyMusic);
  EXPECT_FALSE(t->audio.music_muted);
  EXPECT_EQ(ReadWholeFile(SettingsPath(g)).value_or(""), "# K.V. settings\nmusic=on\n");
}

TEST(Settings, ADamagedFileGivesTheDefaultsAndANotice) {
  const std::string dir = MakeTempDir();
  const std::string path = dir + "/settings.txt";
  const std::string damaged[] = {
      "music=maybe\n", "music\n", "=off\n", std::string("music=off\0\xff", 11),
      "# ok\nmusic=off\n" + std::string(5000, 'x'),
  };
  for (const std::string& bytes : damaged) {
    Write(path, bytes);
    auto t = MakeTestGame(1, dir);
    Game& g = t->g();
    g.settings.music_muted = true;
    LoadSettings(g);
    EXPECT_FALSE(g.settings.music_muted) << bytes;
    EXPECT_FALSE(t->audio.music_muted);
    EXPECT_FALSE(g.settings.notice.empty()) << bytes;
    EXPECT_EQ(ReadWholeFile(path).value_or(""), bytes);  // left as it is until M
  }
  // Comments, blank lines, CR LF and names of later versions are fine.
  Write(path, "# mine\r\n\r\nvolume=3\r\nmusic=off\r\n");
  auto t = MakeTestGame(1, dir);
  LoadSettings(t->g());
  EXPECT_TRUE(t->audio.music_muted);
  EXPECT_TRUE(t->g().settings.notice.empty());
  // A folder in the file's place: defaults, and M reports it cannot write.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  auto f = MakeTestGame(1, dir);
  LoadSettings(f->g());
  EXPECT_FALSE(f->audio.music_muted);
  WindowKey(f->g(), kKeyMusic);
  EXPECT_TRUE(f->audio.music_muted);
  EXPECT_NE(f->g().settings.notice.find("保存できませんでした"), std::string::npos);
}
