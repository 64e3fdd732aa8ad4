#include "ranking/rank_service.h"

#include <sqlite3.h>

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

std::string ColumnText(sqlite3_stmt* st, int col) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
  return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
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

RankStore::RankStore(sqlite3* db) : db_(db) {}

RankStore::~RankStore() {
  sqlite3_finalize(upsert_);
  sqlite3_finalize(select_);
  sqlite3_finalize(count_);
  sqlite3_close(db_);
}

std::unique_ptr<RankStore> RankStore::Open(const std::string& path, std::string* error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
  std::unique_ptr<RankStore> store(new RankStore(db));
  if (rc != SQLITE_OK) {
    if (error != nullptr) *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    return nullptr;
  }
  if (!store->Prepare(error)) return nullptr;
  return store;
}

bool RankStore::Prepare(std::string* error) {
  sqlite3_busy_timeout(db_, 5000);
  const char* schema =
      "PRAGMA journal_mode=WAL;"
      "PRAGMA synchronous=FULL;"
      "CREATE TABLE IF NOT EXISTS records("
      " mode INTEGER NOT NULL, name TEXT NOT NULL, id INTEGER NOT NULL,"
      " score INTEGER NOT NULL, field4 INTEGER NOT NULL, comment TEXT NOT NULL,"
      " field6 INTEGER NOT NULL, date TEXT NOT NULL, field8 INTEGER NOT NULL,"
      " play_count INTEGER NOT NULL, field10 INTEGER NOT NULL, field11 INTEGER NOT NULL,"
      " seq INTEGER NOT NULL, line TEXT NOT NULL,"
      " PRIMARY KEY(mode, name, id));"
      "CREATE INDEX IF NOT EXISTS records_rank ON records(mode, score DESC, seq);";
  char* message = nullptr;
  if (sqlite3_exec(db_, schema, nullptr, nullptr, &message) != SQLITE_OK) {
    if (error != nullptr) *error = message != nullptr ? message : "schema failed";
    sqlite3_free(message);
    return false;
  }
  const char* upsert =
      "INSERT INTO records(mode, name, id, score, field4, comment, field6, date, field8, play_count,"
      " field10, field11, seq, line)"
      " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12,"
      " (SELECT COALESCE(MAX(seq), 0) + 1 FROM records), ?13)"
      " ON CONFLICT(mode, name, id) DO UPDATE SET score = excluded.score, field4 = excluded.field4,"
      " comment = excluded.comment, field6 = excluded.field6, date = excluded.date,"
      " field8 = excluded.field8, play_count = excluded.play_count, field10 = excluded.field10,"
      " field11 = excluded.field11, seq = excluded.seq, line = excluded.line"
      " WHERE excluded.score > records.score";
  const char* select =
      "SELECT name, id, score, field4, comment, field6, date, field8, play_count, field10, field11, line"
      " FROM records WHERE mode = ?1 ORDER BY score DESC, seq ASC LIMIT ?2";
  const char* count = "SELECT COUNT(*) FROM records WHERE mode = ?1";
  if (sqlite3_prepare_v2(db_, upsert, -1, &upsert_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, select, -1, &select_, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db_, count, -1, &count_, nullptr) != SQLITE_OK) {
    if (error != nullptr) *error = sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool RankStore::Submit(int mode, const WireRecord& r) {
  auto name = Cp932ToUtf8(r.name);
  auto comment = Cp932ToUtf8(r.comment);
  auto line = EncodeWireLine(RecordText(r));
  if (!name || !comment || !line) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = upsert_;
  sqlite3_reset(st);
  sqlite3_bind_int(st, 1, mode);
  sqlite3_bind_text(st, 2, name->data(), static_cast<int>(name->size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 3, r.id);
  sqlite3_bind_int(st, 4, r.score);
  sqlite3_bind_int(st, 5, r.field4);
  sqlite3_bind_text(st, 6, comment->data(), static_cast<int>(comment->size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 7, r.field6);
  sqlite3_bind_text(st, 8, r.date.data(), static_cast<int>(r.date.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(st, 9, r.field8);
  sqlite3_bind_int(st, 10, r.play_count);
  sqlite3_bind_int(st, 11, r.field10);
  sqlite3_bind_int(st, 12, r.field11);
  sqlite3_bind_text(st, 13, line->data(), static_cast<int>(line->size()), SQLITE_TRANSIENT);
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return rc == SQLITE_DONE;
}

std::optional<std::vector<WireRecord>> RankStore::Ranking(int mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = select_;
  sqlite3_reset(st);
  sqlite3_bind_int(st, 1, mode);
  sqlite3_bind_int(st, 2, kMaxRankingLines);
  std::vector<WireRecord> out;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    WireRecord r;
    auto name = Utf8ToCp932(ColumnText(st, 0));
    auto comment = Utf8ToCp932(ColumnText(st, 4));
    if (!name || !comment) continue;
    r.name = *name;
    r.id = sqlite3_column_int(st, 1);
    r.score = sqlite3_column_int(st, 2);
    r.field4 = sqlite3_column_int(st, 3);
    r.comment = *comment;
    r.field6 = sqlite3_column_int(st, 5);
    r.date = ColumnText(st, 6);
    r.field8 = sqlite3_column_int(st, 7);
    r.play_count = sqlite3_column_int(st, 8);
    r.field10 = sqlite3_column_int(st, 9);
    r.field11 = sqlite3_column_int(st, 10);
    out.push_back(std::move(r));
  }
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return std::nullopt;
  return out;
}

std::optional<std::string> RankStore::RankingReplyBody(int mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = select_;
  sqlite3_reset(st);
  sqlite3_bind_int(st, 1, mode);
  sqlite3_bind_int(st, 2, kMaxRankingLines);
  std::string body;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    body += ColumnText(st, 11);
    body += "\r\n";
  }
  sqlite3_reset(st);
  if (rc != SQLITE_DONE) return std::nullopt;
  return body;
}

std::optional<long long> RankStore::Count(int mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_reset(count_);
  sqlite3_bind_int(count_, 1, mode);
  std::optional<long long> n;
  if (sqlite3_step(count_) == SQLITE_ROW) n = sqlite3_column_int64(count_, 0);
  sqlite3_reset(count_);
  return n;
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
    // "[m" + "ランキングに登録しました": a note for the game's message log.
    reply.body = "[m\x83\x89\x83\x93\x83\x4C\x83\x93\x83\x4F\x82\xC9\x93\x6F\x98\x5E\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n";
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
