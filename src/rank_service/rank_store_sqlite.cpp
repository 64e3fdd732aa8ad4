// The embedded store: one SQLite file in WAL mode, one connection guarded by
// a mutex. Writes stay O(log n) however many rows are kept: the player's row
// is found through the primary key, the next submission number through the
// index on seq, and the ranking is read off the (mode, score, seq) index.
#include <sqlite3.h>

#include <chrono>
#include <mutex>

#include "platform/text.h"
#include "rank_service/rank_store.h"

using text::Cp932ToUtf8;
using text::Utf8ToCp932;

namespace {

constexpr int kSchemaVersion = 3;

// Version 1 had no version table, no verified flag and no replays; its
// records table is otherwise the same, so it is upgraded in place.
constexpr const char* kCreateRecords =
    "CREATE TABLE IF NOT EXISTS records("
    " mode INTEGER NOT NULL, name TEXT NOT NULL, id INTEGER NOT NULL,"
    " score INTEGER NOT NULL, field4 INTEGER NOT NULL, comment TEXT NOT NULL,"
    " field6 INTEGER NOT NULL, date TEXT NOT NULL, field8 INTEGER NOT NULL,"
    " play_count INTEGER NOT NULL, field10 INTEGER NOT NULL, field11 INTEGER NOT NULL,"
    " seq INTEGER NOT NULL, line TEXT NOT NULL,"
    " PRIMARY KEY(mode, name, id));";
constexpr const char* kVersion2 =
    "ALTER TABLE records ADD COLUMN verified INTEGER NOT NULL DEFAULT 0;"
    "CREATE INDEX IF NOT EXISTS records_rank ON records(mode, score DESC, seq);"
    "CREATE INDEX IF NOT EXISTS records_seq ON records(seq);"
    "CREATE TABLE IF NOT EXISTS replays(mode INTEGER NOT NULL, name TEXT NOT NULL, id INTEGER NOT NULL,"
    " data BLOB NOT NULL, PRIMARY KEY(mode, name, id));"
    // A new best is another run: the old run's replay no longer belongs to it.
    "CREATE TRIGGER IF NOT EXISTS records_new_best AFTER UPDATE OF score ON records BEGIN"
    " DELETE FROM replays WHERE mode = old.mode AND name = old.name AND id = old.id; END;";
// Version 3: player keys (the first key that ranks under a name and id holds
// them), the signed flag, and the runs waiting beside a verified best.
constexpr const char* kVersion3 =
    "ALTER TABLE records ADD COLUMN signed INTEGER NOT NULL DEFAULT 0;"
    "CREATE TABLE IF NOT EXISTS player_keys(name TEXT NOT NULL, id INTEGER NOT NULL, key BLOB NOT NULL,"
    " PRIMARY KEY(name, id));"
    "CREATE TABLE IF NOT EXISTS pending(mode INTEGER NOT NULL, name TEXT NOT NULL, id INTEGER NOT NULL,"
    " score INTEGER NOT NULL, record BLOB NOT NULL, key BLOB NOT NULL, PRIMARY KEY(mode, name, id));";

constexpr const char* kCreateClaims =
    "CREATE TABLE IF NOT EXISTS video_claims(video TEXT PRIMARY KEY, owner TEXT NOT NULL, expires INTEGER NOT NULL)";

// A record into its place; the submission's statement keeps only a better
// one, the promotion of a verified pending run replaces whatever is there.
constexpr const char* kUpsert =
    "INSERT INTO records(mode, name, id, score, field4, comment, field6, date, field8, play_count,"
    " field10, field11, seq, line, signed)"
    " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12,"
    " (SELECT COALESCE(MAX(seq), 0) + 1 FROM records), ?13, ?14)"
    " ON CONFLICT(mode, name, id) DO UPDATE SET score = excluded.score, field4 = excluded.field4,"
    " comment = excluded.comment, field6 = excluded.field6, date = excluded.date,"
    " field8 = excluded.field8, play_count = excluded.play_count, field10 = excluded.field10,"
    " field11 = excluded.field11, seq = excluded.seq, line = excluded.line, verified = 0, signed = excluded.signed";

std::string ColumnText(sqlite3_stmt* st, int col) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
  return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
}

// Steps a lookup: ok with its row at hand, not_found when there is none.
StoreStatus StepFind(sqlite3_stmt* st) {
  const int rc = sqlite3_step(st);
  return rc == SQLITE_ROW ? StoreStatus::ok : rc == SQLITE_DONE ? StoreStatus::not_found : StoreStatus::failed;
}

// A prepared statement, reset and cleared whenever it is handed out again.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Prepare(sqlite3* db, const char* sql) { return sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) == SQLITE_OK; }
  sqlite3_stmt* Fresh() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
    return st_;
  }

 private:
  sqlite3_stmt* st_ = nullptr;
};

void BindText(sqlite3_stmt* st, int index, std::string_view text) {
  sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

class SqliteRankStore final : public RankStore {
 public:
  explicit SqliteRankStore(sqlite3* db) : db_(db) {}
  ~SqliteRankStore() override {
    // Statements go before the connection they belong to.
    statements_.clear();
    sqlite3_close(db_);
  }

  bool Prepare(std::string* error, bool sync_every_commit);

  bool SubmitBatch(std::vector<Submission>& batch) override;
  std::optional<std::vector<std::string>> TopLines(int mode, int limit) override;
  std::optional<long long> Count(int mode) override;
  std::optional<std::vector<RankedLine>> TopRanked(int mode, int limit, bool verified_only) override;
  StoreStatus FindRecord(const RecordKey& key, StoredRecord* out) override;
  StoreStatus PutReplay(const RecordKey& key, std::string_view blob, std::optional<int> for_score) override;
  StoreStatus GetReplay(const RecordKey& key, std::string* blob) override;
  StoreStatus SetVerified(const RecordKey& key, bool verified, std::optional<int> for_score) override;
  StoreStatus FindKey(std::string_view name, int id, std::string* key) override;
  StoreStatus FindPending(const RecordKey& key, WireRecord* out) override;
  StoreStatus PromotePending(const RecordKey& key, std::string_view replay, int score) override;
  std::optional<bool> ClaimVideo(std::string_view video, std::string_view owner, int seconds) override;
  bool ReleaseVideo(std::string_view video, std::string_view owner) override;

 private:
  bool Exec(const char* sql, std::string* error = nullptr);
  bool Migrate(std::string* error);
  // Binds mode, name (converted to UTF-8) and id as parameters 1..3.
  bool BindKey(sqlite3_stmt* st, const RecordKey& key);
  // The stored best's score, for the for_score checks; not_found or failed.
  StoreStatus CheckScore(const RecordKey& key, std::optional<int> for_score);
  // One submission inside SubmitBatch's transaction; false when the store fails.
  bool SubmitOne(Submission& s, const std::string& name_utf8, const std::string& comment_utf8,
                 const std::string& line);
  // Writes a record into its place with `statement` (upsert_ or promote_).
  bool PutRecord(Statement& statement, int mode, const WireRecord& r, const std::string& name_utf8,
                 const std::string& comment_utf8, const std::string& line, bool is_signed);

  Statement& Add(Statement** slot) {
    statements_.push_back(std::make_unique<Statement>());
    *slot = statements_.back().get();
    return **slot;
  }

  text::CodecModules codec_modules_;  // conversions stay cheap for every request
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::vector<std::unique_ptr<Statement>> statements_;
  Statement* upsert_ = nullptr;
  Statement* top_ = nullptr;
  Statement* count_ = nullptr;
  Statement* ranked_ = nullptr;
  Statement* find_ = nullptr;
  Statement* put_replay_ = nullptr;
  Statement* get_replay_ = nullptr;
  Statement* set_verified_ = nullptr;
  Statement* promote_ = nullptr;
  Statement* best_ = nullptr;
  Statement* key_find_ = nullptr;
  Statement* key_bind_ = nullptr;
  Statement* pending_find_ = nullptr;
  Statement* pending_put_ = nullptr;
  Statement* pending_drop_ = nullptr;
  Statement* claim_ = nullptr;
  Statement* release_ = nullptr;
};

bool SqliteRankStore::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  if (error != nullptr) *error = message != nullptr ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

bool SqliteRankStore::Migrate(std::string* error) {
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  auto fail = [&] {
    Exec("ROLLBACK");
    return false;
  };
  if (!Exec("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)", error)) return fail();
  int version = 0;
  {
    Statement st;
    if (!st.Prepare(db_, "SELECT version FROM schema_version")) return fail();
    sqlite3_stmt* s = st.Fresh();
    if (sqlite3_step(s) == SQLITE_ROW) version = sqlite3_column_int(s, 0);
  }
  if (version > kSchemaVersion) {
    if (error != nullptr) *error = "the database was written by a newer kv-rankd (schema " + std::to_string(version) + ")";
    return fail();
  }
  if (version < 2 && (!Exec(kCreateRecords, error) || !Exec(kVersion2, error))) return fail();
  if (version < 3 && !Exec(kVersion3, error)) return fail();
  if (version < kSchemaVersion && !Exec("DELETE FROM schema_version; INSERT INTO schema_version VALUES(3)", error)) {
    return fail();
  }
  return Exec("COMMIT", error) || fail();
}

bool SqliteRankStore::Prepare(std::string* error, bool sync_every_commit) {
  sqlite3_busy_timeout(db_, 5000);
  const char* pragmas = sync_every_commit ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                                          : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;";
  // A page cache large enough for the upper levels of the indexes of a
  // million rows keeps writes off the disk's read path.
  if (!Exec(pragmas, error) || !Exec("PRAGMA cache_size=-65536", error) || !Migrate(error)) return false;
  // Claims on videos being made are passing state, not records: the table
  // is made when missing and an older kv-rankd opening the file ignores it.
  if (!Exec(kCreateClaims, error)) return false;
  struct {
    Statement** slot;
    std::string sql;
  } const statements[] = {
      {&upsert_, std::string(kUpsert) + " WHERE excluded.score > records.score"},
      {&promote_, kUpsert},
      {&top_, "SELECT line FROM records WHERE mode = ?1 ORDER BY score DESC, seq ASC LIMIT ?2"},
      {&count_, "SELECT COUNT(*) FROM records WHERE mode = ?1"},
      {&ranked_,
       "SELECT line, verified FROM records WHERE mode = ?1 AND (?3 = 0 OR verified = 1)"
       " ORDER BY score DESC, seq ASC LIMIT ?2"},
      {&find_,
       "SELECT name, id, score, field4, comment, field6, date, field8, play_count, field10, field11, verified,"
       " EXISTS(SELECT 1 FROM replays p WHERE p.mode = r.mode AND p.name = r.name AND p.id = r.id)"
       " FROM records r WHERE mode = ?1 AND name = ?2 AND id = ?3"},
      {&put_replay_, "INSERT OR REPLACE INTO replays(mode, name, id, data) VALUES(?1, ?2, ?3, ?4)"},
      {&get_replay_, "SELECT data FROM replays WHERE mode = ?1 AND name = ?2 AND id = ?3"},
      {&set_verified_, "UPDATE records SET verified = ?4 WHERE mode = ?1 AND name = ?2 AND id = ?3"},
      {&best_, "SELECT score, verified, signed FROM records WHERE mode = ?1 AND name = ?2 AND id = ?3"},
      {&key_find_, "SELECT key FROM player_keys WHERE name = ?1 AND id = ?2"},
      {&key_bind_, "INSERT OR IGNORE INTO player_keys(name, id, key) VALUES(?1, ?2, ?3)"},
      {&pending_find_, "SELECT score, record, key FROM pending WHERE mode = ?1 AND name = ?2 AND id = ?3"},
      {&pending_put_, "INSERT OR REPLACE INTO pending(mode, name, id, score, record, key) VALUES(?1, ?2, ?3, ?4, ?5, ?6)"},
      {&pending_drop_, "DELETE FROM pending WHERE mode = ?1 AND name = ?2 AND id = ?3"},
      {&claim_,
       "INSERT INTO video_claims(video, owner, expires) VALUES(?1, ?2, ?3) ON CONFLICT(video) DO UPDATE SET"
       " owner = excluded.owner, expires = excluded.expires"
       " WHERE video_claims.owner = excluded.owner OR video_claims.expires <= ?4"},
      {&release_, "DELETE FROM video_claims WHERE video = ?1 AND owner = ?2"},
  };
  for (const auto& s : statements) {
    if (!Add(s.slot).Prepare(db_, s.sql.c_str())) {
      if (error != nullptr) *error = sqlite3_errmsg(db_);
      return false;
    }
  }
  return true;
}

bool SqliteRankStore::PutRecord(Statement& statement, int mode, const WireRecord& r, const std::string& name_utf8,
                                const std::string& comment_utf8, const std::string& line, bool is_signed) {
  sqlite3_stmt* st = statement.Fresh();
  sqlite3_bind_int(st, 1, mode);
  BindText(st, 2, name_utf8);
  sqlite3_bind_int(st, 3, r.id);
  sqlite3_bind_int(st, 4, r.score);
  sqlite3_bind_int(st, 5, r.spare[0]);
  BindText(st, 6, comment_utf8);
  sqlite3_bind_int(st, 7, r.spare[1]);
  BindText(st, 8, r.date);
  sqlite3_bind_int(st, 9, r.spare[2]);
  sqlite3_bind_int(st, 10, r.play_count);
  sqlite3_bind_int(st, 11, r.spare[3]);
  sqlite3_bind_int(st, 12, r.spare[4]);
  BindText(st, 13, line);
  sqlite3_bind_int(st, 14, is_signed ? 1 : 0);
  const bool ok = sqlite3_step(st) == SQLITE_DONE;
  statement.Fresh();
  return ok;
}

bool SqliteRankStore::SubmitOne(Submission& s, const std::string& name, const std::string& comment,
                                const std::string& line) {
  const WireRecord& r = s.record;
  auto bind_player = [&](Statement& statement) {
    sqlite3_stmt* st = statement.Fresh();
    sqlite3_bind_int(st, 1, s.mode);
    BindText(st, 2, name);
    sqlite3_bind_int(st, 3, r.id);
    return st;
  };
  std::string bound;
  {
    sqlite3_stmt* st = key_find_->Fresh();
    BindText(st, 1, name);
    sqlite3_bind_int(st, 2, r.id);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) bound = ColumnText(st, 0);
    key_find_->Fresh();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
  }
  std::optional<HeldRecord> best;
  {
    sqlite3_stmt* st = bind_player(*best_);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      best = HeldRecord{sqlite3_column_int(st, 0), sqlite3_column_int(st, 1) != 0, sqlite3_column_int(st, 2) != 0};
    }
    best_->Fresh();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
  }
  std::optional<int> pending;
  {
    sqlite3_stmt* st = bind_player(*pending_find_);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) pending = sqlite3_column_int(st, 0);
    pending_find_->Fresh();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return false;
  }
  s.outcome = DecideSubmission(s, bound, best, pending);
  s.kept = s.outcome == SubmitOutcome::kept;
  if (s.outcome == SubmitOutcome::pending) {
    const std::string text = RecordText(r);
    sqlite3_stmt* st = bind_player(*pending_put_);
    sqlite3_bind_int(st, 4, r.score);
    sqlite3_bind_blob(st, 5, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, 6, s.key.data(), static_cast<int>(s.key.size()), SQLITE_TRANSIENT);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    pending_put_->Fresh();
    return ok;
  }
  if (!s.kept) return true;
  if (!PutRecord(*upsert_, s.mode, r, name, comment, line, !s.key.empty())) return false;
  if (!s.key.empty() && bound.empty()) {
    sqlite3_stmt* st = key_bind_->Fresh();
    BindText(st, 1, name);
    sqlite3_bind_int(st, 2, r.id);
    sqlite3_bind_blob(st, 3, s.key.data(), static_cast<int>(s.key.size()), SQLITE_TRANSIENT);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    key_bind_->Fresh();
    if (!ok) return false;
  }
  if (pending) {
    sqlite3_step(bind_player(*pending_drop_));
    pending_drop_->Fresh();
  }
  return true;
}

bool SqliteRankStore::SubmitBatch(std::vector<Submission>& batch) {
  struct Prepared {
    std::string name, comment, line;
  };
  std::vector<Prepared> texts;
  texts.reserve(batch.size());
  for (Submission& s : batch) {
    auto name = Cp932ToUtf8(s.record.name);
    auto comment = Cp932ToUtf8(s.record.comment);
    auto line = ReplyLine(s.record);
    if (!name || !comment || !line) return false;
    texts.push_back({std::move(*name), std::move(*comment), std::move(*line)});
    s.kept = false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exec("BEGIN IMMEDIATE")) return false;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (!SubmitOne(batch[i], texts[i].name, texts[i].comment, texts[i].line)) {
      Exec("ROLLBACK");
      for (Submission& s : batch) s.kept = false;
      return false;
    }
  }
  if (Exec("COMMIT")) return true;
  Exec("ROLLBACK");
  for (Submission& s : batch) s.kept = false;
  return false;
}

std::optional<std::vector<std::string>> SqliteRankStore::TopLines(int mode, int limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = top_->Fresh();
  sqlite3_bind_int(st, 1, mode);
  sqlite3_bind_int(st, 2, limit);
  std::vector<std::string> lines;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) lines.push_back(ColumnText(st, 0));
  top_->Fresh();
  if (rc != SQLITE_DONE) return std::nullopt;
  return lines;
}

std::optional<std::vector<RankStore::RankedLine>> SqliteRankStore::TopRanked(int mode, int limit, bool verified_only) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = ranked_->Fresh();
  sqlite3_bind_int(st, 1, mode);
  sqlite3_bind_int(st, 2, limit);
  sqlite3_bind_int(st, 3, verified_only ? 1 : 0);
  std::vector<RankedLine> lines;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) lines.push_back({ColumnText(st, 0), sqlite3_column_int(st, 1) != 0});
  ranked_->Fresh();
  if (rc != SQLITE_DONE) return std::nullopt;
  return lines;
}

std::optional<long long> SqliteRankStore::Count(int mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = count_->Fresh();
  sqlite3_bind_int(st, 1, mode);
  std::optional<long long> n;
  if (sqlite3_step(st) == SQLITE_ROW) n = sqlite3_column_int64(st, 0);
  count_->Fresh();
  return n;
}

bool SqliteRankStore::BindKey(sqlite3_stmt* st, const RecordKey& key) {
  auto name = Cp932ToUtf8(key.name);
  if (!name) return false;
  sqlite3_bind_int(st, 1, key.mode);
  BindText(st, 2, *name);
  sqlite3_bind_int(st, 3, key.id);
  return true;
}

StoreStatus SqliteRankStore::FindRecord(const RecordKey& key, StoredRecord* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = find_->Fresh();
  StoreStatus status = BindKey(st, key) ? StepFind(st) : StoreStatus::not_found;
  if (status == StoreStatus::ok && out != nullptr) {
    WireRecord& r = out->record;
    auto name = Utf8ToCp932(ColumnText(st, 0));
    auto comment = Utf8ToCp932(ColumnText(st, 4));
    r.name = name.value_or("");
    r.id = sqlite3_column_int(st, 1);
    r.score = sqlite3_column_int(st, 2);
    r.spare[0] = sqlite3_column_int(st, 3);
    r.comment = comment.value_or("");
    r.spare[1] = sqlite3_column_int(st, 5);
    r.date = ColumnText(st, 6);
    r.spare[2] = sqlite3_column_int(st, 7);
    r.play_count = sqlite3_column_int(st, 8);
    r.spare[3] = sqlite3_column_int(st, 9);
    r.spare[4] = sqlite3_column_int(st, 10);
    out->verified = sqlite3_column_int(st, 11) != 0;
    out->has_replay = sqlite3_column_int(st, 12) != 0;
  }
  find_->Fresh();
  return status;
}

StoreStatus SqliteRankStore::CheckScore(const RecordKey& key, std::optional<int> for_score) {
  sqlite3_stmt* st = find_->Fresh();
  StoreStatus status = BindKey(st, key) ? StepFind(st) : StoreStatus::not_found;
  if (status == StoreStatus::ok && for_score && sqlite3_column_int(st, 2) != *for_score) status = StoreStatus::stale;
  find_->Fresh();
  return status;
}

StoreStatus SqliteRankStore::PutReplay(const RecordKey& key, std::string_view blob, std::optional<int> for_score) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exec("BEGIN IMMEDIATE")) return StoreStatus::failed;
  StoreStatus status = CheckScore(key, for_score);
  if (status == StoreStatus::ok) {
    sqlite3_stmt* st = put_replay_->Fresh();
    BindKey(st, key);
    sqlite3_bind_blob(st, 4, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_DONE) status = StoreStatus::failed;
    put_replay_->Fresh();
  }
  if (status == StoreStatus::ok && Exec("COMMIT")) return status;
  Exec("ROLLBACK");
  return status == StoreStatus::ok ? StoreStatus::failed : status;
}

StoreStatus SqliteRankStore::GetReplay(const RecordKey& key, std::string* blob) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = get_replay_->Fresh();
  StoreStatus status = BindKey(st, key) ? StepFind(st) : StoreStatus::not_found;
  if (status == StoreStatus::ok && blob != nullptr) {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(st, 0));
    blob->assign(data == nullptr ? "" : data, data == nullptr ? 0 : static_cast<std::size_t>(sqlite3_column_bytes(st, 0)));
  }
  get_replay_->Fresh();
  return status;
}

StoreStatus SqliteRankStore::SetVerified(const RecordKey& key, bool verified, std::optional<int> for_score) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exec("BEGIN IMMEDIATE")) return StoreStatus::failed;
  StoreStatus status = CheckScore(key, for_score);
  if (status == StoreStatus::ok) {
    sqlite3_stmt* st = set_verified_->Fresh();
    BindKey(st, key);
    sqlite3_bind_int(st, 4, verified ? 1 : 0);
    if (sqlite3_step(st) != SQLITE_DONE) status = StoreStatus::failed;
    set_verified_->Fresh();
  }
  if (status == StoreStatus::ok && Exec("COMMIT")) return status;
  Exec("ROLLBACK");
  return status == StoreStatus::ok ? StoreStatus::failed : status;
}

StoreStatus SqliteRankStore::FindKey(std::string_view name_cp932, int id, std::string* key) {
  auto name = Cp932ToUtf8(name_cp932);
  if (!name) return StoreStatus::not_found;
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = key_find_->Fresh();
  BindText(st, 1, *name);
  sqlite3_bind_int(st, 2, id);
  StoreStatus status = StepFind(st);
  if (status == StoreStatus::ok && key != nullptr) *key = ColumnText(st, 0);
  key_find_->Fresh();
  return status;
}

StoreStatus SqliteRankStore::FindPending(const RecordKey& key, WireRecord* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = pending_find_->Fresh();
  StoreStatus status = BindKey(st, key) ? StepFind(st) : StoreStatus::not_found;
  if (status == StoreStatus::ok && out != nullptr) {
    auto record = ParseWireRecord(ColumnText(st, 1));
    if (record) *out = std::move(*record);
    else status = StoreStatus::failed;
  }
  pending_find_->Fresh();
  return status;
}

StoreStatus SqliteRankStore::PromotePending(const RecordKey& key, std::string_view replay, int score) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Exec("BEGIN IMMEDIATE")) return StoreStatus::failed;
  StoreStatus status = StoreStatus::failed;
  std::optional<WireRecord> record;
  std::string signer;
  {
    sqlite3_stmt* st = pending_find_->Fresh();
    if (!BindKey(st, key)) {
      pending_find_->Fresh();
      Exec("ROLLBACK");
      return StoreStatus::not_found;
    }
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) status = StoreStatus::not_found;
    if (rc == SQLITE_ROW) {
      record = ParseWireRecord(ColumnText(st, 1));
      signer = ColumnText(st, 2);
      status = !record ? StoreStatus::failed : record->score != score ? StoreStatus::stale : StoreStatus::ok;
    }
    pending_find_->Fresh();
  }
  auto name = Cp932ToUtf8(key.name);
  auto comment = record ? Cp932ToUtf8(record->comment) : std::nullopt;
  auto line = record ? ReplyLine(*record) : std::nullopt;
  if (status == StoreStatus::ok && (!name || !comment || !line)) status = StoreStatus::failed;
  auto step = [&](Statement& statement, bool with_blob) {
    sqlite3_stmt* st = statement.Fresh();
    BindKey(st, key);
    if (with_blob) sqlite3_bind_blob(st, 4, replay.data(), static_cast<int>(replay.size()), SQLITE_TRANSIENT);
    else sqlite3_bind_int(st, 4, 1);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    statement.Fresh();
    return ok;
  };
  if (status == StoreStatus::ok) {
    // The new best first (its score change drops the old run's replay), then
    // this run's replay and the verified flag.
    const bool ok = PutRecord(*promote_, key.mode, *record, *name, *comment, *line, !signer.empty()) &&
                    step(*put_replay_, true) && step(*set_verified_, false);
    sqlite3_stmt* st = pending_drop_->Fresh();
    BindKey(st, key);
    const bool dropped = sqlite3_step(st) == SQLITE_DONE;
    pending_drop_->Fresh();
    if (!ok || !dropped) status = StoreStatus::failed;
  }
  if (status == StoreStatus::ok && Exec("COMMIT")) return status;
  Exec("ROLLBACK");
  return status == StoreStatus::ok ? StoreStatus::failed : status;
}

std::optional<bool> SqliteRankStore::ClaimVideo(std::string_view video, std::string_view owner, int seconds) {
  // One machine's clock: the servers sharing an SQLite file share the machine.
  const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = claim_->Fresh();
  BindText(st, 1, video);
  BindText(st, 2, owner);
  sqlite3_bind_int64(st, 3, now + 1000LL * seconds);
  sqlite3_bind_int64(st, 4, now);
  const int rc = sqlite3_step(st);
  const bool held = sqlite3_changes(db_) > 0;
  claim_->Fresh();
  if (rc != SQLITE_DONE) return std::nullopt;
  return held;
}

bool SqliteRankStore::ReleaseVideo(std::string_view video, std::string_view owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* st = release_->Fresh();
  BindText(st, 1, video);
  BindText(st, 2, owner);
  const bool ok = sqlite3_step(st) == SQLITE_DONE;
  release_->Fresh();
  return ok;
}

}  // namespace

std::unique_ptr<RankStore> RankStore::Open(const std::string& path, std::string* error, bool sync_every_commit) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
  auto store = std::make_unique<SqliteRankStore>(db);
  if (rc != SQLITE_OK) {
    if (error != nullptr) *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    return nullptr;
  }
  if (!store->Prepare(error, sync_every_commit)) return nullptr;
  return store;
}
