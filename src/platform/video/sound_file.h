// Reading a sound file (WAV, MP3, anything FFmpeg decodes) as float samples at
// a chosen rate, a piece at a time: music streams, effects are read whole.
#pragma once

#include <memory>
#include <string>
#include <vector>

class SoundFileReader {
 public:
  virtual ~SoundFileReader() = default;
  // 1 for a mono file, else 2 (more channels are mixed down to two).
  virtual int Channels() const = 0;
  // Up to `frames` frames of interleaved samples (Channels() per frame);
  // returns how many, 0 at the end of the file or on a damaged one.
  virtual int Read(float* out, int frames) = 0;
};

// Null with a reason when the file cannot be opened or holds no sound.
std::unique_ptr<SoundFileReader> OpenSoundFile(const std::string& path, int rate,
                                               std::string* error);

// A whole file as interleaved stereo (mono doubled to both sides, as the
// game's sound output does), at most `max_seconds` of it; empty when the file
// cannot be read.
std::vector<float> ReadWholeSoundFile(const std::string& path, int rate, double max_seconds);
