#include "platform/video/sound_mixer.h"

#include <algorithm>
#include <cmath>

#include "platform/audio.h"

namespace {
// A wave longer than this is cut: effects are short.
constexpr double kMaxWaveSeconds = 120;
}  // namespace

void SoundMixer::PlayWave(const std::string& path, int volume_mb) {
  auto it = waves_.find(path);
  if (it == waves_.end())
    it = waves_.emplace(path, std::make_shared<std::vector<float>>(
                                  ReadWholeSoundFile(path, rate_, kMaxWaveSeconds))).first;
  if (it->second->empty()) return;
  // The sound output takes volumes in 128 steps.
  const float gain = float(std::lround(VolumeToGain(volume_mb) * 128)) / 128.0f;
  voices_.push_back({it->second, 0, gain});
}

void SoundMixer::PlayMusic(const std::string& path) {
  // The track before stops, whether or not this one opens.
  music_ = OpenSoundFile(path, rate_, nullptr);
}

void SoundMixer::StopMusic() { music_.reset(); }

void SoundMixer::Mix(float* out, int frames) {
  std::fill(out, out + 2 * frames, 0.0f);
  if (music_) {
    const int ch = music_->Channels();
    piece_.resize(size_t(frames) * size_t(ch));
    int done = 0;
    while (done < frames) {
      const int got = music_->Read(piece_.data(), frames - done);
      if (got <= 0) {
        music_.reset();  // played once to its end
        break;
      }
      // A muted track goes on playing unheard.
      if (!music_muted_) {
        for (int i = 0; i < got; ++i) {
          const float l = piece_[size_t(i * ch)];
          out[2 * (done + i)] += l;
          out[2 * (done + i) + 1] += ch == 1 ? l : piece_[size_t(i * ch + 1)];
        }
      }
      done += got;
    }
  }
  for (Voice& v : voices_) {
    const std::vector<float>& s = *v.samples;
    const size_t left = s.size() / 2 - v.at;
    const size_t n = std::min(left, size_t(frames));
    const float* src = s.data() + 2 * v.at;
    for (size_t i = 0; i < 2 * n; ++i) out[i] += src[i] * v.gain;
    v.at += n;
  }
  voices_.erase(std::remove_if(voices_.begin(), voices_.end(),
                               [](const Voice& v) { return v.at * 2 >= v.samples->size(); }),
                voices_.end());
  for (int i = 0; i < 2 * frames; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
}
