#include "ranking/rank_service.h"

#include <algorithm>

#include "ranking/rank_codec.h"

using namespace rank_text;

namespace {

constexpr std::string_view kRankPath = "/zrk/zrk_rank.exe";
constexpr int kMaxNameBytes = 12;
constexpr int kMaxCommentBytes = 30;
constexpr int kMaxId = 9999;
constexpr long long kMaxScore = 19999999;

bool Refuse(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

// Plain decimal digits only (no sign, no spaces), at most `max`.
std::optional<long long> Digits(std::string_view text, long long max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

// Texts must be valid CP932 without control characters.
bool CleanText(std::string_view cp932) {
  for (unsigned char c : cp932) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return Cp932ToUtf8(cp932).has_value();
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

// --- decoding --------------------------------------------------------------

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
  if (fields[0].empty() || fields[0].size() > static_cast<std::size_t>(kMaxNameBytes) || !CleanText(fields[0])) {
    return Refuse(why, "bad name"), std::nullopt;
  }
  rec.name = fields[0];
  if (fields[4].size() > static_cast<std::size_t>(kMaxCommentBytes) || !CleanText(fields[4])) {
    return Refuse(why, "bad comment"), std::nullopt;
  }
  rec.comment = fields[4];
  if (!ValidDate(fields[6])) return Refuse(why, "bad date"), std::nullopt;
  rec.date = fields[6];

  auto id = Digits(fields[1], kMaxId);
  auto score = Digits(fields[2], kMaxScore);
  if (!id) return Refuse(why, "bad id"), std::nullopt;
  if (!score) return Refuse(why, "bad score"), std::nullopt;
  rec.id = static_cast<int>(*id);
  rec.score = static_cast<int>(*score);
  struct {
    int index;
    int* out;
  } const numbers[] = {{3, &rec.field4}, {5, &rec.field6}, {7, &rec.field8},
                       {8, &rec.play_count}, {9, &rec.field10}, {10, &rec.field11}};
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
  std::string_view text = *framed;
  if (text.size() < kFrameOpen.size() + kFrameClose.size() || text.substr(0, kFrameOpen.size()) != kFrameOpen ||
      text.substr(text.size() - kFrameClose.size()) != kFrameClose) {
    return Refuse(why, "no framing"), std::nullopt;
  }
  text = text.substr(kFrameOpen.size(), text.size() - kFrameOpen.size() - kFrameClose.size());
  return ParseWireRecord(text, why);
}

std::string RecordText(const WireRecord& r) {
  const std::string sep(kFieldSeparator);
  std::string t(kRecordHeader);
  t += r.name + sep + std::to_string(r.id) + sep + std::to_string(r.score) + sep + std::to_string(r.field4) + sep;
  t += r.comment + sep + std::to_string(r.field6) + sep + r.date + sep + std::to_string(r.field8) + sep;
  t += std::to_string(r.play_count) + sep + std::to_string(r.field10) + sep + std::to_string(r.field11) + sep;
  return t;
}

std::optional<RankQuery> ParseRankQuery(std::string_view query) {
  RankQuery q;
  std::string_view number;
  if (query.substr(0, 6) == "write&") {
    q.write = true;
    number = query.substr(6);
  } else if (query.substr(0, 5) == "read&") {
    number = query.substr(5);
  } else {
    return std::nullopt;
  }
  if (number.size() != 1 || number[0] < '1' || number[0] > '7') return std::nullopt;
  q.mode = number[0] - '0';
  return q;
}

// --- the store -------------------------------------------------------------

std::optional<std::string> ReplyLine(const WireRecord& record) { return EncodeWireLine(RecordText(record)); }

bool RankStore::Submit(int mode, const WireRecord& record) {
  std::vector<Submission> one{{mode, record, false}};
  return SubmitBatch(one);
}

std::optional<std::string> RankStore::RankingReplyBody(int mode) {
  auto lines = TopLines(mode, kMaxRankingLines);
  if (!lines) return std::nullopt;
  std::string body;
  for (const std::string& line : *lines) {
    body += line;
    body += "\r\n";
  }
  return body;
}

// --- requests --------------------------------------------------------------

ServiceReply HandleRankRequest(RankStore& store, std::string_view method, std::string_view path,
                               std::string_view query, std::string_view body) {
  auto refuse = [](int status, std::string text) {
    ServiceReply reply;
    reply.status = status;
    reply.body = std::move(text) + "\r\n";
    return reply;
  };
  if (path == kReplayPath) {
    // The local ranking keeps the replay of each best run as it comes: there
    // is nobody to cheat but oneself, and no verifier in the game.
    auto rq = ParseReplayQuery(query);
    if (!rq) return refuse(400, "refused: bad replay query");
    const RecordKey key{rq->mode, rq->name, rq->id};
    if (method == "POST") {
      if (rq->score < 0 || body.empty() || body.size() > kMaxReplayUpload) return refuse(400, "refused: bad replay");
      const StoreStatus s = store.PutReplay(key, body, rq->score);
      if (s == StoreStatus::not_found) return refuse(404, "refused: no such record");
      if (s == StoreStatus::stale) return refuse(409, "refused: the record's score is another");
      if (s != StoreStatus::ok) return refuse(500, "store failed");
      auto ranking = store.RankingReplyBody(rq->mode);
      if (!ranking) return refuse(500, "store failed");
      ServiceReply reply;
      reply.body = std::string(kReplayKeptNote) + *ranking;
      return reply;
    }
    if (method != "GET" || rq->score >= 0) return refuse(400, "refused: wrong method");
    ServiceReply reply;
    const StoreStatus s = store.GetReplay(key, &reply.body);
    if (s == StoreStatus::not_found) return refuse(404, "no replay for this record");
    if (s != StoreStatus::ok) return refuse(500, "store failed");
    reply.content_type = "application/octet-stream";
    return reply;
  }
  if (path != kRankPath) return refuse(404, "not found");
  auto q = ParseRankQuery(query);
  if (!q) return refuse(400, "refused: unknown query");
  if (method != (q->write ? "POST" : "GET")) return refuse(400, "refused: wrong method");

  std::string message;
  if (q->write) {
    std::string why;
    auto record = DecodeSendBody(body, &why);
    if (!record) return refuse(400, "refused: " + why);
    if (!store.Submit(q->mode, *record)) return refuse(500, "store failed");
  }
  auto ranking = store.RankingReplyBody(q->mode);
  if (!ranking) return refuse(500, "store failed");
  ServiceReply reply;
  if (q->write) {
    reply.body = kWriteNote;
  }
  reply.body += *ranking;
  return reply;
}

ServiceReply HandleRankUrl(RankStore& store, std::string_view method, std::string_view url, std::string_view body) {
  std::string_view target = url;
  for (std::string_view scheme : {"http://", "https://"}) {
    if (target.substr(0, scheme.size()) == scheme) {
      target = target.substr(scheme.size());
      const std::size_t slash = target.find('/');
      target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
      break;
    }
  }
  const std::size_t mark = target.find('?');
  const std::string_view path = target.substr(0, mark);
  const std::string_view query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
  return HandleRankRequest(store, method, path, query, body);
}
