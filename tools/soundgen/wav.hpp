// 16-bit PCM RIFF/WAVE encoding of the effect sounds.
#pragma once

#include <cstdint>
#include <vector>

namespace kv::soundgen {

// Interleaved samples (channels 1 or 2) to a complete .wav file image.
std::vector<uint8_t> EncodeWav(const std::vector<int16_t>& samples, int channels, int sample_rate);

}  // namespace kv::soundgen
