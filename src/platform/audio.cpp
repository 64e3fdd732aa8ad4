#include "platform/audio.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cmath>
#include <cstdio>

double VolumeToGain(int volume_mb) {
  if (volume_mb >= 0) return 1.0;
  if (volume_mb <= -10000) return 0.0;
  return std::pow(10.0, volume_mb / 2000.0);
}

int RecordingAudio::LoadWave(const std::string& path) {
  loads.push_back(path);
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  char riff[12] = {};
  size_t n = std::fread(riff, 1, sizeof riff, f);
  std::fclose(f);
  if (n < 12 || std::string(riff, 4) != "RIFF" || std::string(riff + 8, 4) != "WAVE") return -1;
  waves_.push_back(path);
  return int(waves_.size()) - 1;
}

void RecordingAudio::Note(Cue::Kind kind, const std::string& path, int volume_mb) {
  if (keep_cues) cues.push_back({kind, frame, path, volume_mb});
}

void RecordingAudio::PlayWave(int handle, int volume_mb) {
  if (handle < 0 || handle >= int(waves_.size())) return;
  plays.push_back({waves_[size_t(handle)], volume_mb});
  Note(Cue::kWave, waves_[size_t(handle)], volume_mb);
}

void RecordingAudio::SetMusicMuted(bool muted) {
  music_muted = muted;
  Note(muted ? Cue::kMusicMuted : Cue::kMusicOn, "");
}

bool RecordingAudio::PlayMusic(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  music.push_back(path);
  Note(Cue::kMusic, path);
  if (!f) {
    music_playing = false;
    return false;
  }
  std::fclose(f);
  music_playing = true;
  return true;
}

void RecordingAudio::StopMusic() {
  music.push_back("");
  Note(Cue::kMusicStop, "");
  music_playing = false;
}

namespace {

class SdlAudio : public Audio {
 public:
  ~SdlAudio() override {
    Mix_HaltChannel(-1);
    Mix_HaltMusic();
    if (music_) Mix_FreeMusic(music_);
    for (Mix_Chunk* c : chunks_)
      if (c) Mix_FreeChunk(c);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool Open() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    Mix_Init(MIX_INIT_MP3);
    if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 1024) != 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return false;
    }
    channels_ = Mix_AllocateChannels(32);
    return true;
  }

  int LoadWave(const std::string& path) override {
    Mix_Chunk* c = Mix_LoadWAV(path.c_str());
    if (!c) return -1;
    chunks_.push_back(c);
    return int(chunks_.size()) - 1;
  }

  void PlayWave(int handle, int volume_mb) override {
    if (handle < 0 || handle >= int(chunks_.size())) return;
    int ch = FreeChannel();
    if (ch < 0) return;
    Mix_Volume(ch, int(std::lround(VolumeToGain(volume_mb) * MIX_MAX_VOLUME)));
    Mix_PlayChannel(ch, chunks_[size_t(handle)], 0);
  }

  bool PlayMusic(const std::string& path) override {
    Mix_HaltMusic();
    if (music_) {
      Mix_FreeMusic(music_);
      music_ = nullptr;
    }
    music_ = Mix_LoadMUS(path.c_str());
    if (!music_) return false;
    const bool ok = Mix_PlayMusic(music_, 1) == 0;
    ApplyMusicVolume();
    return ok;
  }

  void StopMusic() override { Mix_HaltMusic(); }

  void SetMusicMuted(bool muted) override {
    music_muted_ = muted;
    ApplyMusicVolume();
  }

 private:
  // Any voice that has finished is reused; when all are busy the mixer grows,
  // so overlapping starts are never cut off.
  int FreeChannel() {
    for (int i = 0; i < channels_; ++i)
      if (!Mix_Playing(i)) return i;
    if (channels_ >= 4096) return -1;
    int old = channels_;
    channels_ = Mix_AllocateChannels(channels_ * 2);
    return channels_ > old ? old : -1;
  }

  void ApplyMusicVolume() { Mix_VolumeMusic(music_muted_ ? 0 : MIX_MAX_VOLUME); }

  std::vector<Mix_Chunk*> chunks_;
  Mix_Music* music_ = nullptr;
  bool music_muted_ = false;
  int channels_ = 0;
};

}  // namespace

std::unique_ptr<Audio> MakeSdlAudio() {
  auto a = std::make_unique<SdlAudio>();
  if (a->Open()) return a;
  std::fprintf(stderr, "kv: no sound device (%s); playing silently\n", SDL_GetError());
  return std::make_unique<RecordingAudio>();
}
