// The ranking service behind kv-rankd: decodes the game's record bodies,
// validates them, keeps each player's best record per mode in SQLite and
// answers with the mode's ranking in the reply format the game reads.
//
// Nothing here knows about sockets: kv-rankd puts it behind HTTP, and the game
// can call it in-process (LocalRankHttp) when no server is configured.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ranking/rank_codec.h"

struct sqlite3;
struct sqlite3_stmt;

inline constexpr std::size_t kMaxRequestBody = 4096;
inline constexpr int kMaxRankingLines = 1000;

// A record as it travels, checked. Texts are CP932 bytes.
struct WireRecord {
  std::string name;  // 1..12 bytes
  int id = 0;        // 0..9999
  int score = 0;     // 0..19999999
  int field4 = 0;
  std::string comment;  // 0..30 bytes
  int field6 = 0;
  std::string date;  // "M/D"
  int field8 = 0;
  int play_count = 0;
  int field10 = 0;
  int field11 = 0;
};

// Parses and checks a record text (CP932, header included, no framing).
// On refusal returns nullopt and, when `why` is given, says why.
std::optional<WireRecord> ParseWireRecord(std::string_view record_cp932, std::string* why = nullptr);

// Undoes everything the game does to a record for sending: percent-decoding,
// the trailing "あ" and random number, the dropped "+"/"-" of the UTF-7,
// the UTF-7 itself and the "＊　"/"　＊" framing; then ParseWireRecord.
std::optional<WireRecord> DecodeSendBody(std::string_view body, std::string* why = nullptr);

// The record text of a stored record (CP932), as the game builds it.
std::string RecordText(const WireRecord& record);

// The mode number of a "write&N" / "read&N" query; nullopt unless N is 1..7.
struct RankQuery {
  bool write = false;
  int mode = 0;
};
std::optional<RankQuery> ParseRankQuery(std::string_view query);

struct ServiceReply {
  int status = 200;
  std::string body;
  std::string content_type = "text/plain; charset=Shift_JIS";
};

// SQLite-backed store (WAL, one connection guarded by a mutex, so any number
// of threads may call it). Every accepted record is committed before the
// call returns.
class RankStore {
 public:
  // Opens or creates the database; nullptr (and `error`) on failure.
  static std::unique_ptr<RankStore> Open(const std::string& path, std::string* error = nullptr);
  ~RankStore();
  RankStore(const RankStore&) = delete;
  RankStore& operator=(const RankStore&) = delete;

  // Keeps the record when it beats the player's stored score for the mode
  // (or is the first). Returns false only when the database fails.
  bool Submit(int mode, const WireRecord& record);
  // The mode's ranking: best score first, equal scores by earlier
  // submission, at most kMaxRankingLines. nullopt when the database fails.
  std::optional<std::vector<WireRecord>> Ranking(int mode);
  // The reply body: one wire line per ranked record, CR LF after each.
  std::optional<std::string> RankingReplyBody(int mode);
  // Number of records kept for the mode.
  std::optional<long long> Count(int mode);

 private:
  explicit RankStore(sqlite3* db);
  bool Prepare(std::string* error);

  rank_text::CodecModules codec_modules_;  // conversions stay cheap for every request
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* count_ = nullptr;
};

// Answers one request: method "GET" or "POST", path "/zrk/zrk_rank.exe",
// query "write&N" (POST, with the record body) or "read&N" (GET). A refused
// request gets 400 and changes nothing.
ServiceReply HandleRankRequest(RankStore& store, std::string_view method, std::string_view path,
                               std::string_view query, std::string_view body);

// Same, from a full URL or request target ("http://host/zrk/...?read&1" or
// "/zrk/...?read&1").
ServiceReply HandleRankUrl(RankStore& store, std::string_view method, std::string_view url, std::string_view body);
