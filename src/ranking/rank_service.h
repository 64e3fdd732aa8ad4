// The ranking service behind kv-rankd: decodes the game's record bodies,
// validates them, keeps each player's best record per mode in a store and
// answers with the mode's ranking in the reply format the game reads.
//
// Nothing here knows about sockets: kv-rankd puts it behind HTTP, and the game
// can call it in-process (LocalRankHttp) when no server is configured.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ranking/rank_codec.h"

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

// Where a record lives: its mode and the player (name in CP932, as on the
// wire, and id). Each player keeps one best record per mode.
struct RecordKey {
  int mode = 0;
  std::string name;
  int id = 0;
};

// One record to keep, and after SubmitBatch whether it became the player's
// best (false when the stored one is at least as good).
struct Submission {
  int mode = 0;
  WireRecord record;
  bool kept = false;
};

// A stored record with what the replay checks attach to it.
struct StoredRecord {
  WireRecord record;
  bool verified = false;
  bool has_replay = false;
};

enum class StoreStatus { ok, not_found, stale, failed };

// The ranking's store. Implementations: SQLite (embedded, the default, and
// the game's local ranking) and PostgreSQL (shared by several servers). Every
// method may be called from any thread; every accepted write is committed
// before the call returns.
class RankStore {
 public:
  // Opens or creates an SQLite database; nullptr (and `error`) on failure.
  // With `sync_every_commit` each commit waits for the disk (survives a power
  // loss); without, only the log's checkpoints do, and a commit survives the
  // process being killed but maybe not the machine losing power.
  static std::unique_ptr<RankStore> Open(const std::string& path, std::string* error = nullptr,
                                         bool sync_every_commit = true);
  virtual ~RankStore() = default;

  // Keeps every record that beats its player's stored best for the mode (or
  // is the first), all in one transaction, and sets `kept` on each. Returns
  // false, having kept nothing, when the store fails.
  virtual bool SubmitBatch(std::vector<Submission>& batch) = 0;
  // The mode's ranking as reply lines (without line breaks): best score
  // first, equal scores by earlier submission, at most `limit`.
  virtual std::optional<std::vector<std::string>> TopLines(int mode, int limit) = 0;
  // Number of records kept for the mode.
  virtual std::optional<long long> Count(int mode) = 0;
  // The mode's ranking as TopLines orders it, each line with its record's
  // verified flag; with `verified_only` the unverified records are left out
  // (and do not count toward `limit`).
  struct RankedLine {
    std::string line;
    bool verified = false;
  };
  virtual std::optional<std::vector<RankedLine>> TopRanked(int mode, int limit, bool verified_only) = 0;

  // Replays and their checks belong to a player's current best: a better
  // record drops the replay and clears `verified`. With `for_score` the call
  // only applies while the stored best has that score (stale otherwise).
  virtual StoreStatus FindRecord(const RecordKey& key, StoredRecord* out) = 0;
  virtual StoreStatus PutReplay(const RecordKey& key, std::string_view blob, std::optional<int> for_score = {}) = 0;
  virtual StoreStatus GetReplay(const RecordKey& key, std::string* blob) = 0;
  virtual StoreStatus SetVerified(const RecordKey& key, bool verified, std::optional<int> for_score = {}) = 0;
  // Records that carry a replay and are not verified yet, oldest first.
  virtual std::optional<std::vector<RecordKey>> Unverified(int limit) = 0;

  // One record; false only when the store fails.
  bool Submit(int mode, const WireRecord& record);
  // The reply body: one wire line per ranked record, CR LF after each.
  std::optional<std::string> RankingReplyBody(int mode);

 protected:
  RankStore() = default;
  RankStore(const RankStore&) = delete;
  RankStore& operator=(const RankStore&) = delete;
};

// "[m" + "ランキングに登録しました" and CR LF: the note a write reply begins with,
// for the game's message log.
inline constexpr std::string_view kWriteNote{
    "[m\x83\x89\x83\x93\x83\x4C\x83\x93\x83\x4F\x82\xC9\x93\x6F\x98\x5E\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n"};

// "[m" + "リプレイを確認しました" and CR LF: the note an upload's reply begins
// with on kv-rankd (the mode's ranking follows); the local ranking, which
// checks nothing, says "リプレイを保存しました" instead.
inline constexpr std::string_view kReplayVerifiedNote{
    "[m\x83\x8A\x83\x76\x83\x8C\x83\x43\x82\xF0\x8A\x6D\x94\x46\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n"};
inline constexpr std::string_view kReplayKeptNote{
    "[m\x83\x8A\x83\x76\x83\x8C\x83\x43\x82\xF0\x95\xDB\x91\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n"};

// The reply line of a record (the dropped-ends UTF-7 text the game decodes).
std::optional<std::string> ReplyLine(const WireRecord& record);

// Answers one request: method "GET" or "POST", path "/zrk/zrk_rank.exe",
// query "write&N" (POST, with the record body) or "read&N" (GET). A refused
// request gets 400 and changes nothing.
ServiceReply HandleRankRequest(RankStore& store, std::string_view method, std::string_view path,
                               std::string_view query, std::string_view body);

// Same, from a full URL or request target ("http://host/zrk/...?read&1" or
// "/zrk/...?read&1").
ServiceReply HandleRankUrl(RankStore& store, std::string_view method, std::string_view url, std::string_view body);
