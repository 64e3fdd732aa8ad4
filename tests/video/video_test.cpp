// Videos of runs: the mixer plays the game's sounds as its sound output does,
// and a replay carries the music setting to the frame the player changed it.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "autoplay.h"
#include "platform/files.h"
#include "platform/video/sound_mixer.h"
#include "platform/window.h"
#include "replay/recorder.h"
#include "replay/replay_file.h"
#include "shell/replay_play.h"
#include "shell/settings.h"
#include "simlib.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = kRate / 25;  // one frame of sound

// A 16-bit PCM wave of `seconds` holding one constant value on every channel.
void WriteWave(const std::string& path, int channels, int rate, double seconds, int16_t value) {
  const uint32_t frames = uint32_t(seconds * rate);
  const uint32_t data = frames * uint32_t(channels) * 2;
  std::string b = "RIFF";
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b += char(v >> (8 * i));
  };
  auto u16 = [&](uint16_t v) {
    b += char(v);
    b += char(v >> 8);
  };
  u32(36 + data);
  b += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(uint16_t(channels));
  u32(uint32_t(rate));
  u32(uint32_t(rate * channels * 2));
  u16(uint16_t(channels * 2));
  u16(16);
  b += "data";
  u32(data);
  for (uint32_t i = 0; i < frames * uint32_t(channels); ++i) u16(uint16_t(value));
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

// One frame of sound; returns the left and right sample in its middle.
std::pair<float, float> MixBlock(SoundMixer& m, std::vector<float>* all = nullptr) {
  std::vector<float> out(2 * kBlock);
  m.Mix(out.data(), kBlock);
  if (all) all->insert(all->end(), out.begin(), out.end());
  return {out[kBlock], out[kBlock + 1]};
}

}  // namespace

TEST(VideoSound, EffectsOverlapAtTheirVolumeAndEndOnTheirOwn) {
  TempFolder dir("kv-video-test");
  const std::string half = dir.path() + "/half.wav";
  WriteWave(half, 1, 44100, 0.1, 16384);  // mono, 0.5, 4800 frames at 48 kHz
  SoundMixer m(kRate);
  // Mono sounds on both sides at full level, as the game's output plays it.
  m.PlayWave(half, 0);
  auto [l, r] = MixBlock(m);
  EXPECT_NEAR(l, 0.5, 0.01);
  EXPECT_NEAR(r, 0.5, 0.01);
  // A second start overlaps the first at its own volume: -6 dB is half.
  m.PlayWave(half, -600);
  l = MixBlock(m).first;
  EXPECT_NEAR(l, 0.5 + 0.25, 0.01);
  EXPECT_EQ(m.Voices(), 2);
  // The first ends after 0.1 s (2.5 frames), the second half a block later.
  MixBlock(m);
  EXPECT_EQ(m.Voices(), 1);
  MixBlock(m);
  EXPECT_EQ(m.Voices(), 0);
  EXPECT_EQ(MixBlock(m).first, 0.0f);
  // Too loud together: clipped, never wrapped.
  for (int i = 0; i < 3; ++i) m.PlayWave(half, 0);
  EXPECT_FLOAT_EQ(MixBlock(m).first, 1.0f);
  // A file that is missing or not a sound stays silent.
  SoundMixer quiet(kRate);
  quiet.PlayWave(dir.path() + "/none.wav", 0);
  FILE* f = std::fopen((dir.path() + "/bad.wav").c_str(), "wb");
  std::fputs("RIFF....WAVEnot a wave", f);
  std::fclose(f);
  quiet.PlayWave(dir.path() + "/bad.wav", 0);
  EXPECT_EQ(quiet.Voices(), 0);
  EXPECT_EQ(MixBlock(quiet).first, 0.0f);
}

TEST(VideoSound, MusicPlaysOnceGoesOnWhileMutedAndStops) {
  TempFolder dir("kv-video-test");
  const std::string track = dir.path() + "/track.wav";
  WriteWave(track, 2, 44100, 0.2, 8192);  // 0.25 for 5 frames
  SoundMixer m(kRate);
  m.SetMusicMuted(true);
  m.PlayMusic(track);
  EXPECT_TRUE(m.MusicPlaying());
  EXPECT_EQ(MixBlock(m).first, 0.0f);  // muted: unheard, but it goes on
  m.SetMusicMuted(false);
  EXPECT_NEAR(MixBlock(m).first, 0.25, 0.01);
  std::vector<float> rest;
  for (int i = 0; i < 4; ++i) MixBlock(m, &rest);
  // 2 of its 5 frames were played before: it ended after 3 more, for good.
  EXPECT_FALSE(m.MusicPlaying());
  EXPECT_NEAR(rest[2 * kBlock * 2 + 10], 0.25, 0.01);
  EXPECT_EQ(rest[2 * kBlock * 3 + 10], 0.0f);
  // A new track replaces the old; a stop or a track that cannot be opened
  // leaves silence.
  m.PlayMusic(track);
  EXPECT_NEAR(MixBlock(m).second, 0.25, 0.01);
  m.StopMusic();
  EXPECT_EQ(MixBlock(m).first, 0.0f);
  m.PlayMusic(track);
  m.PlayMusic(dir.path() + "/missing.mp3");
  EXPECT_FALSE(m.MusicPlaying());
  EXPECT_EQ(MixBlock(m).first, 0.0f);
}

TEST(VideoSound, MusicSettingIsRecordedAndPlayedBackAtItsFrame) {
  TempFolder dir("kv-video-test");
  const std::string path = dir.path() + "/run.kvr";
  Simulator sim(KV_GAME_DIR, 1, dir.path());
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  sim.game().settings.music_muted = true;  // the player had the music off
  EnableRecording(sim.game(), path);
  AutoplayBot bot(sim, LIGHT);
  bot.Unlock();
  for (int f = 0; f < 300 && !bot.done(); ++f) {
    if (f == 200) ToggleMusic(sim.game());  // and switched it on mid-run
    bot.Decide();
    bot.Frame();
  }
  StopRecording(sim.game());
  const std::string bytes = ReadWholeFile(path).value_or("");
  ASSERT_GT(bytes.size(), 5u);
  EXPECT_EQ(bytes[4], 2) << "a run with music records is format 2";
  Replay r;
  std::string err;
  ASSERT_TRUE(DecodeReplay(bytes, r, &err)) << err;
  std::vector<ReplayRecord> music;
  for (const ReplayRecord& e : r.records)
    if (e.type == ReplayRecord::kMusic) music.push_back(e);
  ASSERT_EQ(music.size(), 2u);
  EXPECT_EQ(music[0].frame, 0);
  EXPECT_EQ(music[0].key, 1);
  EXPECT_GT(music[1].frame, 0);
  EXPECT_EQ(music[1].key, 0);

  // Played back for a video, the sound output hears each change at its frame;
  // watched in the window, the watcher's own setting stays.
  for (bool follow : {true, false}) {
    Platform pf;
    pf.game_dir = KV_GAME_DIR;
    pf.fonts = std::make_shared<FontSet>(std::string(KV_GAME_DIR) + "/dat/ipagp.ttf");
    VirtualClock clock;
    pf.clock = &clock;
    RecordingAudio audio;
    audio.keep_cues = true;
    auto p = StartPlayback(pf, bytes, &audio, &err, true);
    ASSERT_TRUE(p) << err;
    p->follow_music_setting = follow;
    const int volume = p->game->my.se_volume;
    for (audio.frame = 0; StepPlayback(*p); audio.frame = p->frames) {
    }
    std::vector<std::pair<int, bool>> mutes;
    int tracks = 0, waves = 0;
    for (const auto& c : audio.cues) {
      if (c.kind == RecordingAudio::Cue::kMusicMuted) mutes.push_back({c.frame, true});
      if (c.kind == RecordingAudio::Cue::kMusicOn) mutes.push_back({c.frame, false});
      if (c.kind == RecordingAudio::Cue::kMusic) tracks += 1;
      if (c.kind == RecordingAudio::Cue::kWave) {
        waves += 1;
        EXPECT_EQ(c.volume_mb, volume);
      }
    }
    EXPECT_EQ(tracks, 1);  // stage 1's
    EXPECT_GT(waves, 0);
    if (follow) {
      EXPECT_EQ(mutes, (std::vector<std::pair<int, bool>>{{0, true}, {music[1].frame, false}}));
    } else {
      EXPECT_TRUE(mutes.empty());
    }
  }

  // A run with the music on throughout is written as before (format 1), so
  // older readers keep reading it.
  r.records.erase(std::remove_if(r.records.begin(), r.records.end(),
                                 [](const ReplayRecord& e) { return e.type == ReplayRecord::kMusic; }),
                  r.records.end());
  EXPECT_EQ(EncodeReplay(r)[4], 1);
}
