#include "replay/replay_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

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

// The body's numbers past the fixed-size ones: variable-length, zigzag for
// signed values, read a byte at a time through the reader's own U8. A fault
// makes the reader fail for good.
template <class ByteSource>
class NumberReader {
 public:
  bool ok() const { return ok_; }
  void Fail() { ok_ = false; }
  uint64_t Var() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      uint8_t b = uint8_t(static_cast<ByteSource&>(*this).U8());
      if (!ok_) return 0;
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

 protected:
  bool ok_ = true;
};

// Reads from a byte range; every read checks the bounds and fails for good
// once anything was missing or out of range.
class Reader : public NumberReader<Reader> {
 public:
  Reader(const char* p, size_t n) : p_(reinterpret_cast<const uint8_t*>(p)), n_(n) {}
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
  std::string Bytes(size_t limit) {
    uint64_t n = Var();
    if (n > limit) ok_ = false;
    if (!ok_ || !Need(size_t(n))) return {};
    std::string s(reinterpret_cast<const char*>(p_ + at_), size_t(n));
    at_ += size_t(n);
    return s;
  }

 private:
  bool Need(size_t k) {
    if (!ok_ || n_ - at_ < k) ok_ = false;
    return ok_;
  }
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
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

// What carries from one record to the next.
struct RecordCursor {
  uint32_t format = 1;  // the file's: music records came with format 2
  int64_t frame = 0;
  int32_t mx = 0, my = 0;
  uint32_t checks = 0;
};

// One record from `in` (a Reader or an InflateReader); false with a reason
// when it is damaged or lies beyond the run's last frame.
template <class In>
bool ReadRecord(In& in, int32_t frames, RecordCursor& at, ReplayRecord& e, std::string* error) {
  uint32_t type = in.U8();
  if (!in.ok()) return Fail(error, "replay is damaged (a record is cut short)");
  const uint32_t last_type = at.format >= 2 ? ReplayRecord::kMusic : ReplayRecord::kCheck;
  if (type < ReplayRecord::kMouseDown || type > last_type)
    return Fail(error, "replay is damaged (unknown record " + std::to_string(type) + ")");
  e.type = ReplayRecord::Type(type);
  at.frame += int64_t(in.Var());
  if (at.frame > frames) return Fail(error, "replay is damaged (a record after its last frame)");
  e.frame = int32_t(at.frame);
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
      int64_t x = at.mx + in.Signed(), y = at.my + in.Signed();
      if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) in.Fail();
      at.mx = e.x = int32_t(x);
      at.my = e.y = int32_t(y);
      break;
    }
    case ReplayRecord::kKeyDown:
    case ReplayRecord::kAnswer:
    case ReplayRecord::kMusic:
      e.key = in.I32();
      break;
    case ReplayRecord::kText:
    case ReplayRecord::kTextEditing:
      e.text = in.Bytes(kReplayMaxText);
      break;
    case ReplayRecord::kCheck:
      e.checksum = in.U32();
      ++at.checks;
      break;
    default:
      break;
  }
  if (!in.ok()) return Fail(error, "replay is damaged (a record is cut short)");
  return true;
}

// The packed body read as it unpacks, a window at a time, so a file is
// looked through without ever holding its body: what it inflates to costs
// time, not memory, and the look ends at the first fault. Reads like Reader.
class InflateReader : public NumberReader<InflateReader> {
 public:
  InflateReader(const char* packed, size_t n, size_t unpacked) : unpacked_(unpacked) {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed));
    z_.avail_in = uInt(n);
    ok_ = inflateInit(&z_) == Z_OK;
    open_ = ok_;
  }
  ~InflateReader() {
    if (open_) inflateEnd(&z_);
  }
  InflateReader(const InflateReader&) = delete;
  InflateReader& operator=(const InflateReader&) = delete;

  // Bytes the body still holds by its header.
  size_t left() const { return unpacked_ - given_; }
  uint32_t U8() {
    if (!Need(1)) return 0;
    given_ += 1;
    return buffer_[at_++];
  }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= U8() << (8 * i);
    return ok_ ? v : 0;
  }
  // Text is read past, never kept: a record's text is not looked at here.
  std::string Bytes(size_t limit) {
    uint64_t n = Var();
    if (n > limit) ok_ = false;
    Skip(ok_ ? n : 0);
    return {};
  }
  void Skip(uint64_t n) {
    while (ok_ && n > 0) {
      if (!Need(1)) return;
      size_t k = size_t(std::min<uint64_t>(n, filled_ - at_));
      at_ += k;
      given_ += k;
      n -= k;
    }
  }
  // The whole body was read: exactly the size its header gives, and the
  // packed stream ends there with nothing after it.
  bool Finished() {
    if (!ok_ || at_ != filled_ || given_ != unpacked_) return false;
    if (!ended_) {
      Bytef spare;
      z_.next_out = &spare;
      z_.avail_out = 1;
      int r = inflate(&z_, Z_NO_FLUSH);
      if (r != Z_STREAM_END || z_.avail_out != 1) return false;
      ended_ = true;
    }
    return z_.avail_in == 0;
  }

 private:
  bool Need(size_t k) {
    if (ok_ && filled_ - at_ >= k) return true;
    // Only ever asked for one byte at a time beyond what is buffered.
    if (!ok_ || k != 1 || given_ >= unpacked_ || ended_) return ok_ = false;
    z_.next_out = buffer_.get();
    z_.avail_out = uInt(std::min<size_t>(kWindow, unpacked_ - given_));
    int r = inflate(&z_, Z_NO_FLUSH);
    if (r == Z_STREAM_END) ended_ = true;
    else if (r != Z_OK) return ok_ = false;
    filled_ = size_t(z_.next_out - buffer_.get());
    at_ = 0;
    if (filled_ == 0) return ok_ = false;
    return true;
  }

  z_stream z_{};
  static constexpr size_t kWindow = 64 * 1024;
  std::unique_ptr<Bytef[]> buffer_ = std::make_unique<Bytef[]>(kWindow);
  size_t filled_ = 0, at_ = 0;
  size_t unpacked_;
  size_t given_ = 0;
  bool open_ = false, ended_ = false;
};

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
      case ReplayRecord::kMusic:
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

  const bool music = std::any_of(r.records.begin(), r.records.end(),
                                 [](const ReplayRecord& e) { return e.type == ReplayRecord::kMusic; });
  std::string out(kMagic, 4);
  PutU8(out, music ? 2 : 1);
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
  uint32_t format = 0;
  uint32_t checks = 0, unpacked = 0, packed = 0, crc = 0;
  size_t size = 0;
};

bool ReadHeader(const std::string& bytes, Replay& out, Header& h, std::string* error) {
  if (bytes.size() < 7 || std::memcmp(bytes.data(), kMagic, 4) != 0)
    return Fail(error, "not a replay file");
  Reader in(bytes.data() + 4, bytes.size() - 4);
  uint32_t format = in.U8();
  if (!ReplayFormatKnown(int(format)))
    return Fail(error, "replay format " + std::to_string(format) + " is not a format (1 to " +
                           std::to_string(kReplayFormat) + ") this game reads");
  h.format = format;
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
  RecordCursor at;
  at.format = h.format;
  for (uint64_t i = 0; i < count; ++i) {
    ReplayRecord e;
    if (!ReadRecord(in, out.frames, at, e, error)) return false;
    out.records.push_back(std::move(e));
  }
  if (in.left() != 0) return Fail(error, "replay is damaged (bytes after the last record)");
  if (at.checks != h.checks) return Fail(error, "replay is damaged (checksum count)");
  return true;
}

namespace {

// The start's player record, read from the start state's first bytes; the
// rest of the state is read past.
bool ReadStartPlayer(InflateReader& in, uint64_t size, ReplayOutline& out, std::string* error) {
  const size_t before = in.left();
  auto used = [&] { return uint64_t(before - in.left()); };
  for (int i = 0; i < kStartStrings; ++i) {
    const int32_t n = int32_t(in.U32());
    if (!in.ok() || n < 0 || uint64_t(n) > size - used() || size_t(n) > kReplayMaxText)
      return Fail(error, "replay is damaged (start state)");
    if (i == kStartStrings - 1) {
      for (int32_t k = 0; k < n; ++k) out.name += char(in.U8());
    } else {
      in.Skip(uint64_t(n));
    }
  }
  int32_t fields[kStartFields];
  for (int32_t& f : fields) f = int32_t(in.U32());
  for (int i = 0; i < kStartValues; ++i) {
    const int32_t v = int32_t(in.U32());
    if (i == kStartIdValue) out.player_id = v;
    if (i == kStartScoreValue) out.start_score = v;
    if (i == kStartStageValue) out.start_stage = v;
  }
  if (!in.ok() || used() > size) return Fail(error, "replay is damaged (start state)");
  out.start_level = fields[kStartLevelField];
  out.start_mode = fields[kStartModeField];
  out.start_lives = fields[kStartLivesField];
  in.Skip(size - used());
  return in.ok() || Fail(error, "replay is damaged (start state)");
}

}  // namespace

bool OutlineReplay(const std::string& bytes, ReplayOutline& out, std::string* error) {
  out = ReplayOutline{};
  Replay head;
  Header h;
  if (!ReadHeader(bytes, head, h, error)) return false;
  out.mode = head.mode;
  out.end = head.end;
  out.score = head.score;
  out.frames = head.frames;
  if (head.version != kReplayGameVersion)
    return Fail(error, "replay was recorded by another game version (" + head.version + ")");
  // A run carries a checksum every kReplayCheckEvery frames; the header
  // alone tells a file that claims frames without them.
  if (h.checks < uint32_t(head.frames / kReplayCheckEvery))
    return Fail(error, "replay claims " + std::to_string(head.frames) + " frames with only " +
                           std::to_string(h.checks) + " checksums");
  if (h.packed > kReplayMaxPacked || h.unpacked > kReplayMaxUnpacked) return Fail(error, "replay is too large");
  if (bytes.size() - h.size < h.packed) return Fail(error, "replay is cut short");
  if (bytes.size() - h.size > h.packed) return Fail(error, "replay has bytes after its end");
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(h.size - 4));
  crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + h.size), uInt(h.packed));
  if (uint32_t(crc) != h.crc) return Fail(error, "replay is damaged (checksum of the file)");

  InflateReader in(bytes.data() + h.size, h.packed, h.unpacked);
  const uint64_t start = in.Var();
  if (!in.ok() || start > in.left()) return Fail(error, "replay is damaged (start state)");
  if (!ReadStartPlayer(in, start, out, error)) return false;
  if (out.start_mode != head.mode) return Fail(error, "the replay's header and its start name different modes");
  if (out.start_score != 0 || out.start_lives != 3 || out.start_level != 0 || out.start_stage != 0)
    return Fail(error, "the replay does not start as a new game does");

  const uint64_t count = in.Var();
  if (!in.ok() || count > in.left() / 2) return Fail(error, "replay is damaged (record count)");
  if (count > uint64_t(kReplayMaxRecordsPerFrame) * (uint64_t(head.frames) + 1))
    return Fail(error, "replay has " + std::to_string(count) + " records for " + std::to_string(head.frames) +
                           " frames");
  RecordCursor at;
  at.format = h.format;
  int64_t checked = 0;  // frame of the last checksum
  auto gap = [&](int64_t frame) {
    return Fail(error, "replay has no checksum between frames " + std::to_string(checked) + " and " +
                           std::to_string(frame));
  };
  for (uint64_t i = 0; i < count; ++i) {
    ReplayRecord e;
    if (!ReadRecord(in, head.frames, at, e, error)) return false;
    if (e.frame - checked > kReplayCheckEvery) return gap(e.frame);
    if (e.type == ReplayRecord::kCheck) checked = e.frame;
  }
  if (head.frames - checked >= kReplayCheckEvery) return gap(head.frames);
  if (!in.Finished()) return Fail(error, "replay is damaged (bytes after the last record)");
  if (at.checks != h.checks) return Fail(error, "replay is damaged (checksum count)");
  out.checks = int32_t(at.checks);
  out.records = int64_t(count);
  return true;
}
