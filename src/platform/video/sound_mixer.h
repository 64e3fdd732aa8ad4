// Mixes the game's sound as its sound output plays it: effects overlap freely,
// each at the volume it was started with; one music track plays once and can
// be muted while it goes on. Output is interleaved stereo float.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/video/sound_file.h"

class SoundMixer {
 public:
  explicit SoundMixer(int rate) : rate_(rate) {}

  // Each takes effect at the start of the next Mix.
  void PlayWave(const std::string& path, int volume_mb);
  void PlayMusic(const std::string& path);
  void StopMusic();
  void SetMusicMuted(bool muted) { music_muted_ = muted; }

  // The next `frames` stereo frames.
  void Mix(float* out, int frames);

  int Voices() const { return int(voices_.size()); }
  bool MusicPlaying() const { return music_ != nullptr; }

 private:
  struct Voice {
    std::shared_ptr<const std::vector<float>> samples;  // stereo
    size_t at = 0;                                      // next frame
    float gain = 1;
  };
  int rate_;
  // Each wave is decoded once; one that cannot be read stays silent.
  std::map<std::string, std::shared_ptr<const std::vector<float>>> waves_;
  std::vector<Voice> voices_;
  std::unique_ptr<SoundFileReader> music_;
  bool music_muted_ = false;
  std::vector<float> piece_;
};
