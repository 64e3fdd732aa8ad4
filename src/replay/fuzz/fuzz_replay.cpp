// Any bytes into the replay reader and the outline a server reads first:
// each refuses or reads them, never more, and the outline takes nothing the
// reader refuses.
// What it reads must write back to a file that reads the same.
//
// Inputs starting with an even byte go in as they are; the others are taken
// as an unpacked body (after 9 header bytes), packed into a file with a good
// CRC, so the fuzzer reaches the record reader behind the zlib layer.
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "replay/replay_file.h"

namespace {

void U32(std::string& o, uint32_t v) {
  for (int i = 0; i < 4; ++i) o += char(uint8_t(v >> (8 * i)));
}

std::string Pack(const uint8_t* d, size_t n) {
  if (n < 9) return {};
  std::string body(reinterpret_cast<const char*>(d + 9), n - 9);
  uLongf packed_size = compressBound(uLong(body.size()));
  std::string packed(packed_size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
            reinterpret_cast<const Bytef*>(body.data()), uLong(body.size()), 1);
  packed.resize(packed_size);
  std::string out = "KVRP";
  out += char(kReplayFormat);
  out += char(d[1] % 8);
  std::string version = kReplayGameVersion;
  out += char(version.size());
  out += version;
  out += char(d[2] % 3);
  uint32_t score, frames;
  std::memcpy(&score, d + 3, 4);
  frames = uint32_t(d[7]) * 1000 + d[8];
  U32(out, score);
  U32(out, frames);
  // The checksum count: the reader compares it with the records it finds.
  U32(out, d[8] % 4);
  U32(out, uint32_t(body.size()));
  U32(out, uint32_t(packed.size()));
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), uInt(out.size()));
  crc = crc32(crc, reinterpret_cast<const Bytef*>(packed.data()), uInt(packed.size()));
  U32(out, uint32_t(crc));
  return out + packed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string bytes = data[0] % 2 == 0 ? std::string(reinterpret_cast<const char*>(data), size)
                                       : Pack(data, size);
  Replay r;
  std::string error;
  // The server's outline is the stricter look: what it takes, the reader takes.
  ReplayOutline outline;
  const bool outlined = OutlineReplay(bytes, outline, &error);
  if (!outlined && error.empty()) std::abort();
  error.clear();
  if (!DecodeReplay(bytes, r, &error)) {
    if (error.empty() || outlined) std::abort();
    return 0;
  }
  if (outlined && (outline.frames != r.frames || outline.checks != r.CheckCount() ||
                   outline.records != int64_t(r.records.size())))
    std::abort();
  Replay again;
  if (!DecodeReplay(EncodeReplay(r), again, &error)) std::abort();
  if (again.records.size() != r.records.size() || again.start_state != r.start_state ||
      again.score != r.score || again.frames != r.frames || again.mode != r.mode)
    std::abort();
  for (size_t i = 0; i < r.records.size(); ++i)
    if (again.records[i].frame != r.records[i].frame || again.records[i].x != r.records[i].x ||
        again.records[i].y != r.records[i].y || again.records[i].text != r.records[i].text)
      std::abort();
  return 0;
}
