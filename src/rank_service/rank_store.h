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

// What became of a submitted record.
enum class SubmitOutcome {
  not_better,  // the stored best is at least as good: nothing changed
  kept,        // the player's new best
  pending,     // better than a verified best, which stays until this run's replay verifies
  other_key,   // the name and id belong to another player's key
  needs_key,   // unsigned, but a key holds the name and id (or the best is signed)
};

// One record to keep, and after SubmitBatch what became of it. `key` is the
// signer's public key (32 bytes), empty for an unsigned write. The first key
// whose record is kept under a name and id holds them from then on.
struct Submission {
  Submission() = default;
  Submission(int mode_number, WireRecord wire, bool kept_already = false, std::string signer = {},
             SubmitOutcome was = SubmitOutcome::not_better)
      : mode(mode_number), record(std::move(wire)), kept(kept_already), key(std::move(signer)), outcome(was) {}
  int mode = 0;
  WireRecord record;
  bool kept = false;
  std::string key;
  SubmitOutcome outcome = SubmitOutcome::not_better;
};

// The rule every store applies to one submission, from what it holds: the
// key bound to the name and id (empty: none), and the player's stored best
// for the mode and the pending run beside it, when there are such.
struct HeldRecord {
  int score = 0;
  bool verified = false;
  bool is_signed = false;
};
SubmitOutcome DecideSubmission(const Submission& s, std::string_view bound_key, const std::optional<HeldRecord>& best,
                               const std::optional<int>& pending_score);

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

  // The key that holds a name and id (not_found: none).
  virtual StoreStatus FindKey(std::string_view name, int id, std::string* key) = 0;
  // The run waiting beside the player's verified best, and its promotion once
  // its replay has verified: it becomes the best, verified, with the replay
  // (stale when the pending run no longer has that score).
  virtual StoreStatus FindPending(const RecordKey& key, WireRecord* out) = 0;
  virtual StoreStatus PromotePending(const RecordKey& key, std::string_view replay, int score) = 0;

  // Videos of ranked runs are made once however many servers share the
  // store: a server claims a video (its file name) for `seconds` before it
  // makes it and claims it again to keep it while it works. True when `owner`
  // holds the claim now (it was free, had expired, or was `owner`'s
  // already); nullopt when the store fails.
  virtual std::optional<bool> ClaimVideo(std::string_view video, std::string_view owner, int seconds) = 0;
  // Gives up `owner`'s claim on the video (another's stays); false when the store fails.
  virtual bool ReleaseVideo(std::string_view video, std::string_view owner) = 0;

  // One record; false only when the store fails.
  bool Submit(int mode, const WireRecord& record);
  // The reply body: one wire line per ranked record, CR LF after each.
  std::optional<std::string> RankingReplyBody(int mode);

 protected:
  RankStore() = default;
  RankStore(const RankStore&) = delete;
  RankStore& operator=(const RankStore&) = delete;
};
