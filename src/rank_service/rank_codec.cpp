#include "rank_service/rank_codec.h"

#include <algorithm>
#include <cstdint>

#include "rank_service/player_key.h"

using text::Cp932ToUtf16;
using text::Utf16ToUtf7;
using text::Utf7ToUtf16;
using text::Utf16ToCp932;
using text::Utf8ToCp932;

namespace {

void PadTo(std::string& out, std::string_view column, std::size_t width) {
  out += column;
  for (std::size_t w = text::Cp932Width(column); w < width; ++w) out += ' ';
}

constexpr std::string_view kPortalName = "portal5529";

}  // namespace

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

std::optional<std::string_view> Unframe(std::string_view framed) {
  if (framed.size() < kFrameOpen.size() + kFrameClose.size() || framed.substr(0, kFrameOpen.size()) != kFrameOpen ||
      framed.substr(framed.size() - kFrameClose.size()) != kFrameClose) {
    return std::nullopt;
  }
  return framed.substr(kFrameOpen.size(), framed.size() - kFrameOpen.size() - kFrameClose.size());
}

std::optional<std::string> DecodeWireRecord(std::string_view line) {
  auto framed = DecodeWireLine(line);
  if (!framed) return std::nullopt;
  auto record = Unframe(*framed);
  if (!record) return std::nullopt;
  return std::string(*record);
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

// A numeric field: an optionally signed decimal within 32 bits.
std::optional<int> FieldNumber(std::string_view field) {
  auto value = text::ParseDecimal(field, INT32_MIN, INT32_MAX, true);
  if (!value) return std::nullopt;
  return static_cast<int>(*value);
}

bool ParseLine(text::Converter& cp932_to_utf8, std::string_view d, RankEntry& entry) {
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
    const std::size_t step = text::IsCp932Lead(static_cast<unsigned char>(d[limit])) ? 2 : 1;
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
  auto words = [&](int n) { return cp932_to_utf8.RunCp932Lossy(field(n), "?"); };

  entry.name = words(1);
  int* const numbers[] = {&entry.id, &entry.score, &entry.spare[0], nullptr, &entry.spare[1], nullptr,
                          &entry.spare[2], &entry.play_count, &entry.spare[3], &entry.spare[4]};
  for (int n = 2; n <= 11; ++n) {
    if (n == 5) {
      entry.comment = words(5);
      continue;
    }
    if (n == 7) {
      entry.date = words(7);
      continue;
    }
    auto value = FieldNumber(field(n));
    if (!value) break;  // the first bad number ends the work on this line
    *numbers[n - 2] = *value;
  }
  return true;
}

}  // namespace

RankingReply ParseRankingReply(std::string_view body) {
  RankingReply reply;
  reply.table.resize(kRankEntries);
  body = body.substr(0, std::min(body.size(), kMaxReplyBytes));

  text::Converter from_utf7("UTF-16LE", "UTF-7");
  text::Converter to_cp932("CP932", "UTF-16LE");
  text::Converter to_utf8("UTF-8", "CP932");
  std::size_t lines = 0;
  std::size_t pos = 0;
  while (pos < body.size() && lines < kMaxReplyLines && reply.filled < kRankEntries) {
    std::size_t end = body.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view line = body.substr(pos, end - pos);
    pos = end + 1;
    if (end + 1 < body.size() && body[end] == '\r' && body[end + 1] == '\n') pos = end + 2;
    ++lines;

    if (line.size() >= 2 && line[0] == '[' && line[1] == 'm') reply.messages.push_back(to_utf8.RunCp932Lossy(line, "?"));
    std::string utf7 = "+";
    utf7 += line;
    utf7 += "-";
    auto utf16 = from_utf7.Run(utf7);
    if (!utf16 || utf16->size() % 2 != 0) continue;
    auto d = to_cp932.RunUtf16Lossy(*utf16);
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
  url += kRankPath;
  url += write ? "?write&" : "?read&";
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
                            int random_0_to_98, const PlayerKey* key, long long unix_time) {
  auto text = BuildRecordText(record);
  auto body = text ? BuildSendBody(*text, random_0_to_98) : std::nullopt;
  if (!body) {
    RankExchange out;
    out.error = "the record cannot be written in CP932";
    return out;
  }
  const std::string query = "write&" + std::to_string(mode_number);
  const HttpHeaders headers = key != nullptr ? SignRequest(*key, "POST", kRankPath, query, *body, unix_time) : HttpHeaders{};
  return ReadRankExchange(http.Post(RankingUrl(host, true, mode_number), *body, headers));
}

RankExchange ReadRankingOver(Http& http, std::string_view host, int mode_number) {
  return ReadRankExchange(http.Get(RankingUrl(host, false, mode_number)));
}

// --- replays ---------------------------------------------------------------

namespace {

std::optional<int> QueryNumber(std::string_view digits, long long max) {
  if (digits.size() > 9) return std::nullopt;
  auto value = text::ParseDecimal(digits, 0, max);
  if (!value) return std::nullopt;
  return static_cast<int>(*value);
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
