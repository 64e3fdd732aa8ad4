#include "rank_service/rank_record.h"

#include <vector>

#include "platform/text.h"
#include "rank_service/rank_codec.h"

namespace {

constexpr std::size_t kMaxNameBytes = 12;
constexpr std::size_t kMaxCommentBytes = 30;
constexpr int kMaxId = 9999;

bool Refuse(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

// Plain decimal digits only (no sign, no spaces), at most `max`.
std::optional<long long> Digits(std::string_view digits, long long max) {
  if (digits.size() > 10) return std::nullopt;
  return text::ParseDecimal(digits, 0, max);
}

// Texts must be valid CP932 without control characters.
bool CleanText(std::string_view cp932) {
  for (unsigned char c : cp932) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return text::Cp932ToUtf8(cp932).has_value();
}

bool ValidDate(std::string_view date) {
  const std::size_t slash = date.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view m = date.substr(0, slash);
  const std::string_view d = date.substr(slash + 1);
  if (m.size() > 2 || d.size() > 2 || (m.size() == 2 && m[0] == '0') || (d.size() == 2 && d[0] == '0')) return false;
  auto month = Digits(m, 12);
  auto day = Digits(d, 31);
  return month && day && *month >= 1 && *day >= 1;
}

}  // namespace

std::optional<WireRecord> ParseWireRecord(std::string_view r, std::string* why) {
  if (r.substr(0, kRecordHeader.size()) != kRecordHeader) return Refuse(why, "no record header"), std::nullopt;
  std::string_view rest = r.substr(kRecordHeader.size());
  std::vector<std::string_view> fields;
  while (!rest.empty()) {
    const std::size_t at = rest.find(kFieldSeparator);
    if (at == std::string_view::npos) return Refuse(why, "text after the last field"), std::nullopt;
    fields.push_back(rest.substr(0, at));
    rest = rest.substr(at + kFieldSeparator.size());
    if (fields.size() > 11) return Refuse(why, "too many fields"), std::nullopt;
  }
  if (fields.size() != 11) return Refuse(why, "too few fields"), std::nullopt;

  WireRecord rec;
  if (fields[0].empty() || fields[0].size() > kMaxNameBytes || !CleanText(fields[0])) {
    return Refuse(why, "bad name"), std::nullopt;
  }
  rec.name = fields[0];
  if (fields[4].size() > kMaxCommentBytes || !CleanText(fields[4])) return Refuse(why, "bad comment"), std::nullopt;
  rec.comment = fields[4];
  if (!ValidDate(fields[6])) return Refuse(why, "bad date"), std::nullopt;
  rec.date = fields[6];

  auto id = Digits(fields[1], kMaxId);
  auto score = Digits(fields[2], kMaxSentScore);
  if (!id) return Refuse(why, "bad id"), std::nullopt;
  if (!score) return Refuse(why, "bad score"), std::nullopt;
  rec.id = static_cast<int>(*id);
  rec.score = static_cast<int>(*score);
  struct {
    int index;
    int* out;
  } const numbers[] = {{3, &rec.spare[0]}, {5, &rec.spare[1]}, {7, &rec.spare[2]},
                       {8, &rec.play_count}, {9, &rec.spare[3]}, {10, &rec.spare[4]}};
  for (const auto& n : numbers) {
    auto v = Digits(fields[n.index], 2147483647LL);
    if (!v) return Refuse(why, "bad number field"), std::nullopt;
    *n.out = static_cast<int>(*v);
  }
  return rec;
}

std::optional<WireRecord> DecodeSendBody(std::string_view body, std::string* why) {
  if (body.size() > kMaxRequestBody) return Refuse(why, "body too large"), std::nullopt;
  auto raw = PercentDecodeStrict(body);
  if (!raw) return Refuse(why, "body is not percent-encoded"), std::nullopt;

  // "あ" and one or two digits (0..98) end the body; UTF-7 is pure ASCII, so
  // the last 82 A0 is the mark.
  const std::size_t mark = raw->rfind(kBodyTailMark);
  if (mark == std::string::npos) return Refuse(why, "no tail mark"), std::nullopt;
  const std::string_view digits = std::string_view(*raw).substr(mark + kBodyTailMark.size());
  if (digits.empty() || digits.size() > 2 || !Digits(digits, 98)) return Refuse(why, "bad tail number"), std::nullopt;

  auto framed = DecodeWireLine(std::string_view(*raw).substr(0, mark));
  if (!framed) return Refuse(why, "bad UTF-7 text"), std::nullopt;
  auto record = Unframe(*framed);
  if (!record) return Refuse(why, "no framing"), std::nullopt;
  return ParseWireRecord(*record, why);
}

std::string RecordText(const WireRecord& r) {
  const std::string sep(kFieldSeparator);
  std::string t(kRecordHeader);
  t += r.name + sep + std::to_string(r.id) + sep + std::to_string(r.score) + sep + std::to_string(r.spare[0]) + sep;
  t += r.comment + sep + std::to_string(r.spare[1]) + sep + r.date + sep + std::to_string(r.spare[2]) + sep;
  t += std::to_string(r.play_count) + sep + std::to_string(r.spare[3]) + sep + std::to_string(r.spare[4]) + sep;
  return t;
}

std::optional<std::string> ReplyLine(const WireRecord& record) { return EncodeWireLine(RecordText(record)); }
