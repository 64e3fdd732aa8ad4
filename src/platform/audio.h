// Sound output: named wave effects that overlap freely, and one music track.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Audio {
 public:
  virtual ~Audio() = default;
  // Loads a PCM wave file; returns a handle >= 0, or -1 when it cannot be read.
  virtual int LoadWave(const std::string& path) = 0;
  // Starts a loaded wave from the beginning at a volume in hundredths of a
  // decibel (0 = full, negative = quieter). Earlier starts keep sounding.
  virtual void PlayWave(int handle, int volume_mb) = 0;
  // Plays a compressed music file once; false when it cannot be opened.
  virtual bool PlayMusic(const std::string& path) = 0;
  virtual void StopMusic() = 0;
  // Silences the music, the track playing and those to come, or lets it sound
  // again; the effects keep their volume.
  virtual void SetMusicMuted(bool muted) = 0;
};

// SDL2_mixer output; falls back to silent output when no device can be opened.
std::unique_ptr<Audio> MakeSdlAudio();

// Silent output that remembers what it was asked to do (headless runs, tests).
class RecordingAudio : public Audio {
 public:
  struct Play {
    std::string path;
    int volume_mb;
  };
  // One thing the output was asked to do, at the frame set in `frame` by
  // whoever runs the frames: a video of a run places each sound by it.
  struct Cue {
    enum Kind { kWave, kMusic, kMusicStop, kMusicMuted, kMusicOn };
    Kind kind = kWave;
    int frame = 0;
    std::string path;   // the wave or the music file
    int volume_mb = 0;  // a wave's volume
  };
  int LoadWave(const std::string& path) override;
  void PlayWave(int handle, int volume_mb) override;
  bool PlayMusic(const std::string& path) override;
  void StopMusic() override;
  void SetMusicMuted(bool muted) override;

  std::vector<std::string> loads;   // every load attempt, in order
  std::vector<Play> plays;          // every wave start
  std::vector<std::string> music;   // every music start ("" for a stop)
  bool music_playing = false;
  bool music_muted = false;
  int frame = 0;                    // stamped on each cue
  bool keep_cues = false;           // cues are kept only when asked for
  std::vector<Cue> cues;

 private:
  void Note(Cue::Kind kind, const std::string& path, int volume_mb = 0);
  std::vector<std::string> waves_;  // handle -> path
};

// Converts hundredths of a decibel to a linear gain 0..1.
double VolumeToGain(int volume_mb);
