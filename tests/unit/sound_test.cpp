// Sound effects: the repeat guard, the cache, volume, the queue and music.
#include <gtest/gtest.h>

#include "assets/sound.h"
#include "shell/frame.h"
#include "state/game.h"
#include "test_util.h"

namespace {

// The game folder has no sound files until they are generated; tests point
// the game at a folder of their own with a couple of tiny wave files.
std::string MakeWaveFolder(const std::vector<std::string>& names) {
  std::string dir = MakeTempDir();
  std::string cmd = "mkdir -p " + dir + "/dat";
  EXPECT_EQ(system(cmd.c_str()), 0);
  const unsigned char wav[] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                               16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0,
                               16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
  for (const std::string& n : names) {
    FILE* f = fopen((dir + "/dat/" + n).c_str(), "wb");
    fwrite(wav, 1, sizeof wav, f);
    fclose(f);
  }
  return dir;
}

TEST(SoundEffects, OneNameStartsOnceInARowPerTick) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.pf.game_dir = MakeWaveFolder({"item.wav", "point.wav"});
  PlayEffect(g, "item.wav");
  PlayEffect(g, "item.wav");
  EXPECT_EQ(t->audio.plays.size(), 1u);
  PlayEffect(g, "point.wav");
  PlayEffect(g, "item.wav");
  EXPECT_EQ(t->audio.plays.size(), 3u);
  // The next tick releases the guard: the same name may start again.
  StepSoundGuard(g);
  EXPECT_EQ(g.sound.last, "");
  PlayEffect(g, "item.wav");
  EXPECT_EQ(t->audio.plays.size(), 4u);
}

TEST(SoundEffects, EmptyNamesAreIgnoredAndMissingFilesLoadOnce) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.pf.game_dir = MakeWaveFolder({});
  PlayEffect(g, "");
  EXPECT_TRUE(t->audio.loads.empty());
  PlayEffect(g, "nothere.wav");
  StepSoundGuard(g);
  PlayEffect(g, "nothere.wav");
  EXPECT_EQ(t->audio.loads.size(), 1u);  // a failed load is never retried
  EXPECT_TRUE(t->audio.plays.empty());
}

TEST(SoundEffects, VolumeAppliesToTheNextStart) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.pf.game_dir = MakeWaveFolder({"1.wav"});
  g.my.se_volume = -600;
  PlayEffect(g, "1.wav");
  StepSoundGuard(g);
  g.my.se_volume = -2200;
  PlayEffect(g, "1.wav");
  ASSERT_EQ(t->audio.plays.size(), 2u);
  EXPECT_EQ(t->audio.plays[0].volume_mb, -600);
  EXPECT_EQ(t->audio.plays[1].volume_mb, -2200);
}

TEST(SoundEffects, QueueDrainsInOrder) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.pf.game_dir = MakeWaveFolder({"chain01.wav", "chain02.wav"});
  QueueEffect(g, "chain01.wav");
  QueueEffect(g, "");
  QueueEffect(g, "chain02.wav");
  EXPECT_EQ(g.sound.queue.size(), 2u);
  DrainSoundQueue(g);
  DrainSoundQueue(g);
  DrainSoundQueue(g);
  ASSERT_EQ(t->audio.plays.size(), 2u);
  EXPECT_NE(t->audio.plays[0].path.find("chain01.wav"), std::string::npos);
  EXPECT_NE(t->audio.plays[1].path.find("chain02.wav"), std::string::npos);
}

TEST(Music, NotStopsEmptyIsIgnoredAndTracksFollowTheStage) {
  auto t = MakeTestGame();
  Game& g = t->g();
  PlayMusic(g, "");
  EXPECT_TRUE(t->audio.music.empty());
  PlayMusic(g, "not");
  ASSERT_EQ(t->audio.music.size(), 1u);
  EXPECT_EQ(t->audio.music[0], "");
  g.my.stage() = 6;
  StageMusic(g);
  ASSERT_EQ(t->audio.music.size(), 2u);
  EXPECT_NE(t->audio.music[1].find("/dat/harmovienX byCorvane featHalvek.mp3"), std::string::npos);
  // The ticker and the title card are queued as effects.
  EXPECT_EQ(g.fx.ring[1].kind, 1);
  EXPECT_EQ(g.fx.ring[1].x, 640);
  EXPECT_EQ(g.fx.ring[1].y, 450);
  EXPECT_EQ(g.fx.ring[2].kind, 392);
  EXPECT_EQ(g.fx.ring[2].text, "< V >");
  g.my.stage() = 7;
  StageMusic(g);
  EXPECT_EQ(t->audio.music.size(), 2u);
}

}  // namespace
