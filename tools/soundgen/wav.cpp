#include "wav.hpp"

#include <cstring>

namespace kv::soundgen {

namespace {
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutTag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }
}  // namespace

std::vector<uint8_t> EncodeWav(const std::vector<int16_t>& samples, int channels, int sample_rate) {
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
  const uint16_t block_align = static_cast<uint16_t>(channels * 2);
  std::vector<uint8_t> out;
  out.reserve(44 + data_bytes + 1);
  PutTag(out, "RIFF");
  Put32(out, 36 + data_bytes + (data_bytes & 1));
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  Put32(out, 16);
  Put16(out, 1);  // PCM
  Put16(out, static_cast<uint16_t>(channels));
  Put32(out, static_cast<uint32_t>(sample_rate));
  Put32(out, static_cast<uint32_t>(sample_rate) * block_align);
  Put16(out, block_align);
  Put16(out, 16);
  PutTag(out, "data");
  Put32(out, data_bytes);
  for (int16_t s : samples) Put16(out, static_cast<uint16_t>(s));
  if (data_bytes & 1) out.push_back(0);  // chunks are word aligned
  return out;
}

}  // namespace kv::soundgen
