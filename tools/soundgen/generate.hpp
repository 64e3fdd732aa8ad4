// Writing the finished sound files into the game's dat/ folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kv::soundgen {

// Writes `bytes` to `path` through a temporary file and a rename, so an
// interrupted run never leaves a half-written file under the real name.
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// The .wav image of one effect.
std::vector<uint8_t> EffectWav(const std::string& name);

// Writes every effect into `dir`; returns the number of files written.
int WriteEffects(const std::filesystem::path& dir);

struct TrackReport {
  std::string file;
  double seconds = 0;
  double render_seconds = 0;  // time spent synthesising
  double encode_seconds = 0;  // time spent in the MP3 encoder
  size_t bytes = 0;
};

// Renders and encodes the six stage tracks into `dir`, `threads` at a time.
std::vector<TrackReport> WriteTracks(const std::filesystem::path& dir, int threads);

}  // namespace kv::soundgen
