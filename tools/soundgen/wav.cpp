#include "wav.hpp"

#include <cstddef>

namespace kv::soundgen {

namespace {
void Put32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void PutTag(uint8_t* at, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(tag[i]);
}
}  // namespace

std::vector<uint8_t> EncodeWav(const std::vector<int16_t>& samples, int channels, int sample_rate) {
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  const uint16_t block_align = static_cast<uint16_t>(channels * 2);
  std::vector<uint8_t> out(44 + data_bytes);  // 16-bit data is always word aligned
  uint8_t* h = out.data();
  PutTag(h, "RIFF");
  Put32(h + 4, 36 + data_bytes);
  PutTag(h + 8, "WAVE");
  PutTag(h + 12, "fmt ");
  Put32(h + 16, 16);
  Put16(h + 20, 1);  // PCM
  Put16(h + 22, static_cast<uint16_t>(channels));
  Put32(h + 24, static_cast<uint32_t>(sample_rate));
  Put32(h + 28, static_cast<uint32_t>(sample_rate) * block_align);
  Put16(h + 32, block_align);
  Put16(h + 34, 16);
  PutTag(h + 36, "data");
  Put32(h + 40, data_bytes);
  for (size_t i = 0; i < samples.size(); ++i) Put16(h + 44 + 2 * i, static_cast<uint16_t>(samples[i]));
  return out;
}

}  // namespace kv::soundgen
