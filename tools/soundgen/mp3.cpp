#include "mp3.hpp"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace kv::soundgen {

namespace {
struct LameCloser {
  void operator()(lame_global_flags* g) const { lame_close(g); }
};

short ToShort(float v) { return static_cast<short>(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f)); }
}  // namespace

std::vector<uint8_t> EncodeMp3(const std::vector<float>& left, const std::vector<float>& right, int sample_rate,
                               int kbps) {
  if (left.size() != right.size()) throw std::runtime_error("mp3: channel lengths differ");
  std::unique_ptr<lame_global_flags, LameCloser> gf(lame_init());
  if (!gf) throw std::runtime_error("mp3: lame_init failed");
  lame_global_flags* g = gf.get();
  lame_set_in_samplerate(g, sample_rate);
  lame_set_out_samplerate(g, sample_rate);
  lame_set_num_channels(g, 2);
  lame_set_mode(g, JOINT_STEREO);
  lame_set_VBR(g, vbr_off);
  lame_set_brate(g, kbps);
  lame_set_quality(g, 7);
  lame_set_bWriteVbrTag(g, 1);
  lame_set_write_id3tag_automatic(g, 0);
  if (lame_init_params(g) < 0) throw std::runtime_error("mp3: encoder settings refused");

  constexpr size_t kChunk = 8192;
  std::vector<short> l(kChunk), r(kChunk);
  std::vector<unsigned char> buf(kChunk * 5 / 4 + 7200);
  std::vector<uint8_t> out;
  out.reserve(left.size() / static_cast<size_t>(sample_rate) * static_cast<size_t>(kbps) * 125 + 8192);
  for (size_t pos = 0; pos < left.size(); pos += kChunk) {
    const size_t n = std::min(kChunk, left.size() - pos);
    for (size_t i = 0; i < n; ++i) {
      l[i] = ToShort(left[pos + i]);
      r[i] = ToShort(right[pos + i]);
    }
    const int got = lame_encode_buffer(g, l.data(), r.data(), static_cast<int>(n), buf.data(),
                                       static_cast<int>(buf.size()));
    if (got < 0) throw std::runtime_error("mp3: encoding failed");
    out.insert(out.end(), buf.begin(), buf.begin() + got);
  }
  const int tail = lame_encode_flush(g, buf.data(), static_cast<int>(buf.size()));
  if (tail < 0) throw std::runtime_error("mp3: flush failed");
  out.insert(out.end(), buf.begin(), buf.begin() + tail);

  // The placeholder first frame becomes the finished Info frame.
  std::vector<unsigned char> tag(2880);
  const size_t tag_size = lame_get_lametag_frame(g, tag.data(), tag.size());
  if (tag_size > 0 && tag_size <= out.size()) std::copy_n(tag.begin(), tag_size, out.begin());
  return out;
}

}  // namespace kv::soundgen
