#include "replay/replay_file.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr char kMagic[4] = {'K', 'V', 'R', 'P'};

void PutU8(std::string& o, uint32_t v) { o += char(uint8_t(v)); }
void PutU32(std::string& o, uint32_t v) {
  for (int i = 0; i < 4; ++i) o += char(uint8_t(v >> (8 * i)));
}
void PutVar(std::string& o, uint64_t v) {
  while (v >= 0x80) {
    o += char(uint8_t(v | 0x80));
    v >>= 7;
  }
  o += char(uint8_t(v));
}
void PutSigned(std::string& o, int64_t v) { PutVar(o, (uint64_t(v) << 1) ^ uint64_t(v >> 63)); }
void PutBytes(std::string& o, const std::string& s) {
  PutVar(o, s.size());
  o += s;
}

// Reads from a byte range; every read checks the bounds and fails for good
// once anything was missing or out of range.
class Reader {
 public:
  Reader(const char* p, size_t n) : p_(reinterpret_cast<const uint8_t*>(p)), n_(n) {}
  bool ok() const { return ok_; }
  size_t left() const { return n_ - at_; }
  size_t at() const { return at_; }
  uint32_t U8() {
    if (!Need(1)) return 0;
    return p_[at_++];
  }
  uint32_t U32() {
    if (!Need(4)) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(p_[at_++]) << (8 * i);
    return v;
  }
  uint64_t Var() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (!Need(1)) return 0;
      uint8_t b = p_[at_++];
      v |= uint64_t(b & 0x7f) << shift;
      if (!(b & 0x80)) return v;
    }
    ok_ = false;
    return 0;
  }
  int64_t Signed() {
    uint64_t v = Var();
    return int64_t(v >> 1) ^ -int64_t(v & 1);
  }
  // A signed value that must fit an int32.
  int32_t I32() {
    int64_t v = Signed();
    if (v < INT32_MIN || v > INT32_MAX) ok_ = false;
    return ok_ ? int32_t(v) : 0;
  }
  std::string Bytes(size_t limit) {
    uint64_t n = Var();
    if (n > limit) ok_ = false;
    if (!ok_ || !Need(size_t(n))) return {};
    std::string s(reinterpret_cast<const char*>(p_ + at_), size_t(n));
    at_ += size_t(n);
    return s;
  }
  void Fail() { ok_ = false; }

 private:
  bool Need(size_t k) {
    if (!ok_ || n_ - at_ < k) ok_ = false;
    return ok_;
  }
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

bool HasXY(ReplayRecord::Type t) {
  return t == ReplayRecord::kMouseDown || t == ReplayRecord::kMouseUp || t == ReplayRecord::kWheel;
}

// The fixed part of the header up to and including the CRC: its size for a
// version string of length n.
size_t HeaderSize(size_t n) { return 4 + 3 + n + 1 + 4 * 6; }

}  // namespace

int Replay::CheckCount() const {
  int n = 0;
  for (const ReplayRecord& r : records) n += r.type == ReplayRecord::kCheck;
  return n;
}

std::string EncodeReplay(const Replay& r) {
  std::string body;
  PutBytes(body, r.start_state);
  PutVar(body, r.records.size());
  int32_t last_frame = 0, mx = 0, my = 0;
  for (const ReplayRecord& e : r.records) {
    PutU8(body, e.type);
    PutVar(body, uint32_t(e.frame - last_frame));
    last_frame = e.frame;
    switch (e.type) {
      case ReplayRecord::kMouseDown:
      case ReplayRecord::kMouseUp:
        PutU8(body, uint32_t(e.button));
        PutSigned(body, e.x);
        PutSigned(body, e.y);
        break;
      case ReplayRecord::kWheel:
        PutSigned(body, e.wheel);
        PutSigned(body, e.x);
        PutSigned(body, e.y);
        break;
      case ReplayRecord::kMouseMove:
        // Moves are small steps from the previous one.
        PutSigned(body, int64_t(e.x) - mx);
        PutSigned(body, int64_t(e.y) - my);
        mx = e.x;
        my = e.y;
        break;
      case ReplayRecord::kKeyDown:
      case ReplayRecord::kAnswer:
        PutSigned(body, e.key);
        break;
      case ReplayRecord::kText:
      case ReplayRecord::kTextEditing:
        PutBytes(body, e.text);
        break;
      case ReplayRecord::kCheck:
        PutU32(body, e.checksum);
        break;
      case ReplayRecord::kClose:
        break;
    }
  }

  uLongf packed_size = compressBound(uLong(body.size()));
  std::string packed(packed_size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
                reinterpret_cast<const Bytef*>(body.data()), uLong(body.size()), 9) != Z_OK)
    return {};
  packed.resize(packed_size);

  std::string out(kMagic, 4);
  PutU8(out, kReplayFormat);
  PutU8(out, uint32_t(r.mode));
  std::string version = r.version.substr(0, 255);
  PutU8(out, uint32_t(version.size()));
  out += version;
  PutU8(out, uint32_t(r.end));
  PutU32(out, uint32_t(r.score));
  PutU32(out, uint32_t(r.frames));
  PutU32(out, uint32_t(r.CheckCount()));
  PutU32(out, uint32_t(body.size()));
  PutU32(out, uint32_t(packed.size()));
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), uInt(out.size()));
  crc = crc32(crc, reinterpret_cast<const Bytef*>(packed.data()), uInt(packed.size()));
  PutU32(out, uint32_t(crc));
  out += packed;
  return out;
}

namespace {

struct Header {
  uint32_t checks = 0, unpacked = 0, packed = 0, crc = 0;
  size_t size = 0;
};

bool ReadHeader(const std::string& bytes, Replay& out, Header& h, std::string* error) {
  if (bytes.size() < 7 || std::memcmp(bytes.data(), kMagic, 4) != 0)
    return Fail(error, "not a replay file");
  Reader in(bytes.data() + 4, bytes.size() - 4);
  uint32_t format = in.U8();
  if (format != uint32_t(kReplayFormat))
    return Fail(error, "replay format " + std::to_string(format) + " is not the format " +
                           std::to_string(kReplayFormat) + " this game reads");
  out.mode = int32_t(in.U8());
  uint32_t n = in.U8();
  if (!in.ok() || in.left() < n) return Fail(error, "replay header is cut short");
  out.version.assign(bytes.data() + 4 + in.at(), n);
  if (bytes.size() < HeaderSize(n)) return Fail(error, "replay header is cut short");
  Reader rest(bytes.data() + HeaderSize(n) - 25, 25);
  uint32_t end = rest.U8();
  out.score = int32_t(rest.U32());
  uint32_t frames = rest.U32();
  h.checks = rest.U32();
  h.unpacked = rest.U32();
  h.packed = rest.U32();
  h.crc = rest.U32();
  h.size = HeaderSize(n);
  if (out.mode < 0 || out.mode > 6) return Fail(error, "replay names no known mode");
  if (end != uint32_t(ReplayEnd::kGameEnded) && end != uint32_t(ReplayEnd::kCut))
    return Fail(error, "replay header is damaged (end mark)");
  out.end = ReplayEnd(end);
  if (frames > uint32_t(kReplayMaxFrames)) return Fail(error, "replay is too long (frames)");
  out.frames = int32_t(frames);
  return true;
}

}  // namespace

bool PeekReplayHeader(const std::string& bytes, Replay& out, std::string* error) {
  Header h;
  return ReadHeader(bytes, out, h, error);
}

bool DecodeReplay(const std::string& bytes, Replay& out, std::string* error, bool check_version) {
  out = Replay{};
  Header h;
  if (!ReadHeader(bytes, out, h, error)) return false;
  if (check_version && out.version != kReplayGameVersion)
    return Fail(error, "replay was recorded by another game version (" + out.version +
                           "); this is " + kReplayGameVersion);
  if (h.packed > kReplayMaxPacked || h.unpacked > kReplayMaxUnpacked)
    return Fail(error, "replay is too large");
  if (bytes.size() - h.size < h.packed) return Fail(error, "replay is cut short");
  if (bytes.size() - h.size > h.packed) return Fail(error, "replay has bytes after its end");
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(h.size - 4));
  crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + h.size), uInt(h.packed));
  if (uint32_t(crc) != h.crc) return Fail(error, "replay is damaged (checksum of the file)");

  std::string body(h.unpacked, '\0');
  uLongf got = h.unpacked;
  if (uncompress(reinterpret_cast<Bytef*>(body.data()), &got,
                 reinterpret_cast<const Bytef*>(bytes.data() + h.size), h.packed) != Z_OK ||
      got != h.unpacked)
    return Fail(error, "replay is damaged (its records do not unpack)");

  Reader in(body.data(), body.size());
  out.start_state = in.Bytes(body.size());
  uint64_t count = in.Var();
  // Every record takes at least two bytes.
  if (!in.ok() || count > in.left() / 2) return Fail(error, "replay is damaged (record count)");
  out.records.reserve(size_t(count));
  int64_t frame = 0;
  int32_t mx = 0, my = 0;
  uint32_t checks = 0;
  for (uint64_t i = 0; i < count && in.ok(); ++i) {
    ReplayRecord e;
    uint32_t type = in.U8();
    if (type < ReplayRecord::kMouseDown || type > ReplayRecord::kCheck)
      return Fail(error, "replay is damaged (unknown record " + std::to_string(type) + ")");
    e.type = ReplayRecord::Type(type);
    frame += int64_t(in.Var());
    if (frame > out.frames) return Fail(error, "replay is damaged (a record after its last frame)");
    e.frame = int32_t(frame);
    if (e.type == ReplayRecord::kMouseDown || e.type == ReplayRecord::kMouseUp) {
      e.button = int32_t(in.U8());
      if (e.button > 2) in.Fail();
    }
    if (e.type == ReplayRecord::kWheel) e.wheel = in.I32();
    if (HasXY(e.type)) {
      e.x = in.I32();
      e.y = in.I32();
    }
    switch (e.type) {
      case ReplayRecord::kMouseMove: {
        int64_t x = mx + in.Signed(), y = my + in.Signed();
        if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) in.Fail();
        mx = e.x = int32_t(x);
        my = e.y = int32_t(y);
        break;
      }
      case ReplayRecord::kKeyDown:
      case ReplayRecord::kAnswer:
        e.key = in.I32();
        break;
      case ReplayRecord::kText:
      case ReplayRecord::kTextEditing:
        e.text = in.Bytes(kReplayMaxText);
        break;
      case ReplayRecord::kCheck:
        e.checksum = in.U32();
        ++checks;
        break;
      default:
        break;
    }
    out.records.push_back(std::move(e));
  }
  if (!in.ok()) return Fail(error, "replay is damaged (a record is cut short)");
  if (in.left() != 0) return Fail(error, "replay is damaged (bytes after the last record)");
  if (checks != h.checks) return Fail(error, "replay is damaged (checksum count)");
  return true;
}
