// MP3 encoding of the stage tracks through libmp3lame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::soundgen {

inline constexpr int kMp3Kbps = 112;

// Constant-bitrate MP3 of a stereo float signal (-1..1). The first frame is
// the encoder's "Info" frame carrying the exact length for gapless players.
// Throws std::runtime_error when the encoder refuses the settings.
std::vector<uint8_t> EncodeMp3(const std::vector<float>& left, const std::vector<float>& right, int sample_rate,
                               int kbps = kMp3Kbps);

}  // namespace kv::soundgen
