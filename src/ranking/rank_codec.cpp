#include "ranking/rank_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace {

enum class BadInput { kFail, kReplace };

// How many input bytes a character the target cannot hold takes at `at`, so a
// replacement can skip it; 0 when the input itself is malformed there.
using SkipRule = std::size_t (*)(std::string_view in, std::size_t at);

std::size_t SkipCp932Byte(std::string_view, std::size_t) { return 1; }

std::size_t SkipUtf16Char(std::string_view in, std::size_t at) {
  if (at + 2 > in.size()) return 0;
  const unsigned unit = static_cast<unsigned char>(in[at]) | (static_cast<unsigned char>(in[at + 1]) << 8);
  if (unit >= 0xDC00 && unit <= 0xDFFF) return 0;  // a lone low surrogate
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (at + 4 > in.size()) return 0;
    const unsigned next = static_cast<unsigned char>(in[at + 2]) | (static_cast<unsigned char>(in[at + 3]) << 8);
    if (next < 0xDC00 || next > 0xDFFF) return 0;
    return 4;
  }
  return 2;
}

// One iconv conversion, kept open so a batch of texts (a whole reply) does
// not open and close the converter, and load and unload its module, per text.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != kNoConverter) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in`, growing the output as needed, and flushes the converter
  // at the end (UTF-7 writes its closing "-" only then). With kReplace, a
  // character that cannot be converted becomes "?" when `skip` says how long
  // it is; malformed input always fails.
  std::optional<std::string> Run(std::string_view in, BadInput bad = BadInput::kFail, SkipRule skip = nullptr) {
    if (cd_ == kNoConverter) return std::nullopt;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    std::string out;
    out.resize(in.size() * 4 + 16);
    std::size_t used = 0;
    std::size_t pos = 0;
    auto grow = [&] { out.resize(out.size() * 2); };
    for (;;) {
      char* src = const_cast<char*>(in.data() + pos);
      std::size_t src_left = in.size() - pos;
      char* dst = out.data() + used;
      std::size_t dst_left = out.size() - used;
      const bool flushing = src_left == 0;
      const std::size_t r = flushing ? iconv(cd_, nullptr, nullptr, &dst, &dst_left)
                                     : iconv(cd_, &src, &src_left, &dst, &dst_left);
      used = static_cast<std::size_t>(dst - out.data());
      pos = in.size() - src_left;
      if (r != static_cast<std::size_t>(-1)) {
        if (flushing) break;
        continue;  // all input taken: go round once more to flush
      }
      if (errno == E2BIG) {
        grow();
        continue;
      }
      if (errno == EILSEQ && bad == BadInput::kReplace && skip != nullptr && !flushing) {
        const std::size_t n = skip(in, pos);
        if (n == 0) return std::nullopt;
        if (used + 1 > out.size()) grow();
        out[used++] = '?';
        pos += n;
        continue;
      }
      return std::nullopt;  // EILSEQ, or EINVAL: a sequence cut off at the end
    }
    out.resize(used);
    return out;
  }

 private:
  static inline const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
  iconv_t cd_;
};

std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
  Converter c(to, from);
  return c.Run(in);
}

// CP932 to UTF-8 with "?" for bytes that start no CP932 character.
std::string LossyUtf8(Converter& cp932_to_utf8, std::string_view cp932) {
  auto out = cp932_to_utf8.Run(cp932, BadInput::kReplace, SkipCp932Byte);
  if (out) return *out;
  // Only a lead byte cut off at the very end is left to fail.
  out = cp932_to_utf8.Run(cp932.substr(0, cp932.empty() ? 0 : cp932.size() - 1), BadInput::kReplace, SkipCp932Byte);
  return out ? *out + "?" : std::string();
}

bool IsCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// A decimal int: optional sign, digits, nothing else, within 32 bits.
std::optional<int> ParseInt(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::size_t start = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    start = 1;
  }
  if (start == text.size()) return std::nullopt;
  long long value = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > 2147483647LL || value < -2147483648LL) return std::nullopt;
  return static_cast<int>(value);
}

// Length of UTF-8 text in CP932 bytes, for texts CP932 holds: ASCII and
// half-width katakana take one byte, every other character two.
std::size_t Cp932Width(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    unsigned cp = c;
    if (len == 3 && i + 2 < utf8.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
    }
    width += (c < 0x80 || (len == 3 && cp >= 0xFF61 && cp <= 0xFF9F)) ? 1 : 2;
    i += len;
  }
  return width;
}

void PadTo(std::string& out, std::string_view column, std::size_t width) {
  out += column;
  for (std::size_t w = Cp932Width(column); w < width; ++w) out += ' ';
}

constexpr std::string_view kPortalName = "portal5529";

}  // namespace

// --- conversions -----------------------------------------------------------

namespace rank_text {

CodecModules::CodecModules()
    : utf7_(iconv_open("UTF-16LE", "UTF-7")), cp932_(iconv_open("UTF-16LE", "CP932")) {}

CodecModules::~CodecModules() {
  for (void* cd : {utf7_, cp932_}) {
    if (cd != reinterpret_cast<void*>(-1)) iconv_close(static_cast<iconv_t>(cd));
  }
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) { return Convert("CP932", "UTF-8", utf8); }
std::optional<std::string> Cp932ToUtf8(std::string_view cp932) { return Convert("UTF-8", "CP932", cp932); }
std::optional<std::string> Cp932ToUtf16(std::string_view cp932) { return Convert("UTF-16LE", "CP932", cp932); }
std::optional<std::string> Utf16ToCp932(std::string_view utf16le) { return Convert("CP932", "UTF-16LE", utf16le); }
std::optional<std::string> Utf16ToUtf7(std::string_view utf16le) { return Convert("UTF-7", "UTF-16LE", utf16le); }
std::optional<std::string> Utf7ToUtf16(std::string_view utf7) { return Convert("UTF-16LE", "UTF-7", utf7); }

std::optional<std::string> Utf16ToCp932Lossy(std::string_view utf16le) {
  if (utf16le.size() % 2 != 0) return std::nullopt;
  Converter c("CP932", "UTF-16LE");
  return c.Run(utf16le, BadInput::kReplace, SkipUtf16Char);
}

std::string Cp932ToUtf8Lossy(std::string_view cp932) {
  Converter c("UTF-8", "CP932");
  return LossyUtf8(c, cp932);
}

bool FitsCp932(std::string_view utf8) { return Utf8ToCp932(utf8).has_value(); }

std::optional<std::size_t> Cp932Length(std::string_view utf8) {
  auto cp = Utf8ToCp932(utf8);
  if (!cp) return std::nullopt;
  return cp->size();
}

}  // namespace rank_text

using namespace rank_text;

// --- the record ------------------------------------------------------------

// Byte by byte: in CP932 "#" is never part of a double-byte character, so
// this never splits one.
std::string EscapeSeparators(std::string_view cp932) {
  std::string out(cp932);
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i] == '#' && out[i + 1] == '{') out[i + 1] = '.';
  }
  return out;
}

std::optional<std::string> WireName(std::string_view utf8_name) {
  auto name = Utf8ToCp932(utf8_name == kPortalName ? std::string_view("GM") : utf8_name);
  if (!name) return std::nullopt;
  return EscapeSeparators(*name);
}

std::optional<std::string> BuildRecordText(const RankRecord& record) {
  auto name = WireName(record.name);
  auto comment = Utf8ToCp932(record.comment);
  if (!name || !comment) return std::nullopt;
  const long long score = std::min(record.score, kMaxSentScore);
  const std::string sep(kFieldSeparator);
  std::string r(kRecordHeader);
  r += *name + sep;
  r += std::to_string(record.player_id) + sep;
  r += std::to_string(score) + sep;
  r += "0" + sep;
  r += EscapeSeparators(*comment) + sep;
  r += "0" + sep;
  r += std::to_string(record.month) + "/" + std::to_string(record.day) + sep;
  r += "0" + sep;
  r += std::to_string(record.play_count) + sep;
  r += "0" + sep;
  r += "0" + sep;
  return r;
}

std::optional<std::string> EncodeWireLine(std::string_view record_cp932) {
  std::string framed(kFrameOpen);
  framed += record_cp932;
  framed += kFrameClose;
  auto utf16 = Cp932ToUtf16(framed);
  if (!utf16) return std::nullopt;
  auto utf7 = Utf16ToUtf7(*utf16);
  // The framing opens a base64 run, so the text starts with "+" and ends "-".
  if (!utf7 || utf7->size() < 2 || utf7->front() != '+' || utf7->back() != '-') return std::nullopt;
  return utf7->substr(1, utf7->size() - 2);
}

std::optional<std::string> DecodeWireLine(std::string_view line) {
  std::string utf7 = "+";
  utf7 += line;
  utf7 += "-";
  auto utf16 = Utf7ToUtf16(utf7);
  if (!utf16) return std::nullopt;
  return Utf16ToCp932(*utf16);
}

std::string PercentEncodeAll(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  return out;
}

std::optional<std::string> PercentDecodeStrict(std::string_view text) {
  if (text.size() % 3 != 0) return std::nullopt;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size() / 3);
  for (std::size_t i = 0; i < text.size(); i += 3) {
    const int hi = hex(text[i + 1]);
    const int lo = hex(text[i + 2]);
    if (text[i] != '%' || hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::optional<std::string> BuildSendBody(std::string_view record_cp932, int random_0_to_98) {
  if (random_0_to_98 < 0 || random_0_to_98 > 98) return std::nullopt;
  auto line = EncodeWireLine(record_cp932);
  if (!line) return std::nullopt;
  std::string raw = *line;
  raw += kBodyTailMark;
  raw += std::to_string(random_0_to_98);
  return PercentEncodeAll(raw);
}

// --- the reply -------------------------------------------------------------

namespace {

bool ParseLine(Converter& cp932_to_utf8, std::string_view d, RankEntry& entry) {
  if (d.find("k[") == std::string_view::npos || d.find("]k") == std::string_view::npos) return false;
  entry = RankEntry{};

  // Where "#{" occurs, searched byte by byte from the start.
  std::vector<std::size_t> seps;
  for (std::size_t at = d.find(kFieldSeparator); at != std::string_view::npos && seps.size() < 12;
       at = d.find(kFieldSeparator, at + kFieldSeparator.size())) {
    seps.push_back(at);
  }
  // A field without a closing separator runs to the 254th byte of the line,
  // moved back so it never ends inside a double-byte character.
  std::size_t limit = 0;
  while (limit < d.size() && limit < 254) {
    const std::size_t step = IsCp932Lead(static_cast<unsigned char>(d[limit])) ? 2 : 1;
    if (limit + step > std::min<std::size_t>(d.size(), 254)) break;
    limit += step;
  }
  auto field = [&](int n) -> std::string_view {  // n = 1..11
    if (static_cast<std::size_t>(n) > seps.size()) return {};
    const std::size_t start = seps[n - 1] + kFieldSeparator.size();
    const std::size_t end = static_cast<std::size_t>(n) < seps.size() ? seps[n] : limit;
    if (end <= start) return {};
    return d.substr(start, end - start);
  };
  auto text = [&](int n) { return LossyUtf8(cp932_to_utf8, field(n)); };

  entry.name = text(1);
  int* const numbers[] = {&entry.id, &entry.score, &entry.field4, nullptr, &entry.field6, nullptr,
                          &entry.field8, &entry.play_count, &entry.field10, &entry.field11};
  for (int n = 2; n <= 11; ++n) {
    if (n == 5) {
      entry.comment = text(5);
      continue;
    }
    if (n == 7) {
      entry.date = text(7);
      continue;
    }
    auto value = ParseInt(field(n));
    if (!value) break;  // the first bad number ends the work on this line
    *numbers[n - 2] = *value;
  }
  return true;
}

}  // namespace

bool ParseRankingLine(std::string_view line_cp932, RankEntry& entry) {
  Converter to_utf8("UTF-8", "CP932");
  return ParseLine(to_utf8, line_cp932, entry);
}

RankingReply ParseRankingReply(std::string_view body) {
  RankingReply reply;
  reply.table.resize(kRankEntries);
  body = body.substr(0, std::min(body.size(), kMaxReplyBytes));

  Converter from_utf7("UTF-16LE", "UTF-7");
  Converter to_cp932("CP932", "UTF-16LE");
  Converter to_utf8("UTF-8", "CP932");
  std::size_t lines = 0;
  std::size_t pos = 0;
  while (pos < body.size() && lines < kMaxReplyLines && reply.filled < kRankEntries) {
    std::size_t end = body.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view line = body.substr(pos, end - pos);
    pos = end + 1;
    if (end + 1 < body.size() && body[end] == '\r' && body[end + 1] == '\n') pos = end + 2;
    ++lines;

    if (line.size() >= 2 && line[0] == '[' && line[1] == 'm') reply.messages.push_back(LossyUtf8(to_utf8, line));
    std::string utf7 = "+";
    utf7 += line;
    utf7 += "-";
    auto utf16 = from_utf7.Run(utf7);
    if (!utf16 || utf16->size() % 2 != 0) continue;
    auto d = to_cp932.Run(*utf16, BadInput::kReplace, SkipUtf16Char);
    if (!d) continue;
    if (ParseLine(to_utf8, *d, reply.table[reply.filled])) ++reply.filled;
  }
  return reply;
}

int OwnRankIndex(const std::vector<RankEntry>& table, std::string_view name, int id) {
  if (name.empty()) return -1;
  int found = -1;
  const int n = static_cast<int>(std::min<std::size_t>(table.size(), kRankEntries));
  for (int i = 0; i < n; ++i) {
    if (table[i].name == name && table[i].id == id) found = i;
  }
  return found;
}

std::string FormatRankingLine(int index, const RankEntry& entry) {
  std::string out;
  PadTo(out, std::to_string(index + 1), 5);
  if (entry.name.empty()) return out + "--------";
  PadTo(out, std::to_string(entry.score), 10);
  PadTo(out, entry.name, 13);
  PadTo(out, std::to_string(entry.play_count) + "回", 7);
  PadTo(out, entry.date, 5);
  out += entry.comment;
  return out;
}

std::string RankingUrl(std::string_view host, bool write, int mode_number) {
  std::string url = "http://";
  url += host;
  url += write ? "/zrk/zrk_rank.exe?write&" : "/zrk/zrk_rank.exe?read&";
  url += std::to_string(mode_number);
  return url;
}

// --- the exchanges ---------------------------------------------------------

RankExchange ReadRankExchange(const HttpReply& http) {
  RankExchange out;
  if (!http.ok) {
    out.error = http.error.empty() ? "no reply" : http.error;
  } else if (http.status != 200) {
    out.error = "HTTP status " + std::to_string(http.status);
  } else {
    out.ok = true;
    out.reply = ParseRankingReply(http.body);
  }
  return out;
}

RankExchange SendRecordOver(Http& http, std::string_view host, int mode_number, const RankRecord& record,
                            int random_0_to_98) {
  auto text = BuildRecordText(record);
  auto body = text ? BuildSendBody(*text, random_0_to_98) : std::nullopt;
  if (!body) {
    RankExchange out;
    out.error = "the record cannot be written in CP932";
    return out;
  }
  return ReadRankExchange(http.Post(RankingUrl(host, true, mode_number), *body));
}

RankExchange ReadRankingOver(Http& http, std::string_view host, int mode_number) {
  return ReadRankExchange(http.Get(RankingUrl(host, false, mode_number)));
}

// --- replays ---------------------------------------------------------------

namespace {

std::optional<int> QueryNumber(std::string_view text, long long max) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace

std::optional<ReplayQuery> ParseReplayQuery(std::string_view query) {
  ReplayQuery q;
  std::size_t amp = query.find('&');
  const std::string_view mode = query.substr(0, amp);
  if (mode.size() != 1 || mode[0] < '1' || mode[0] > '7') return std::nullopt;
  q.mode = mode[0] - '0';
  bool has_name = false, has_id = false;
  while (amp != std::string_view::npos) {
    query = query.substr(amp + 1);
    amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view key = pair.substr(0, eq), value = pair.substr(eq + 1);
    if (key == "name" && !has_name) {
      auto name = PercentDecodeStrict(value);
      if (!name || name->empty() || name->size() > 12) return std::nullopt;
      q.name = std::move(*name);
      has_name = true;
    } else if (key == "id" && !has_id) {
      auto id = QueryNumber(value, 9999);
      if (!id) return std::nullopt;
      q.id = *id;
      has_id = true;
    } else if (key == "score" && q.score < 0) {
      auto score = QueryNumber(value, kMaxSentScore);
      if (!score) return std::nullopt;
      q.score = *score;
    } else {
      return std::nullopt;
    }
  }
  if (!has_name || !has_id) return std::nullopt;
  return q;
}

std::optional<std::string> BuildReplayQuery(int mode_number, std::string_view name_utf8, int id, long long score) {
  auto name = WireName(name_utf8);
  if (!name || mode_number < 1 || mode_number > 7) return std::nullopt;
  std::string q = std::to_string(mode_number) + "&name=" + PercentEncodeAll(*name) + "&id=" + std::to_string(id);
  if (score >= 0) q += "&score=" + std::to_string(std::min(score, kMaxSentScore));
  return q;
}

std::string ReplayUrl(std::string_view host, std::string_view query) {
  return "http://" + std::string(host) + std::string(kReplayPath) + "?" + std::string(query);
}
