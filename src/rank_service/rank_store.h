// Where the ranking's records live. Implementations: SQLite (embedded, the
// default, and the game's local ranking) and PostgreSQL (kv-rankd, shared by
// several servers).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rank_service/rank_record.h"

inline constexpr int kMaxRankingLines = 1000;

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

// Every method may be called from any thread; every accepted write is
// committed before the call returns.
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

  // One record; false only when the store fails.
  bool Submit(int mode, const WireRecord& record);
  // The reply body: one wire line per ranked record, CR LF after each.
  std::optional<std::string> RankingReplyBody(int mode);

 protected:
  RankStore() = default;
  RankStore(const RankStore&) = delete;
  RankStore& operator=(const RankStore&) = delete;
};
