#include "rank_store_pg.h"

#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <tuple>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/text.h"

using text::Cp932ToUtf8;
using text::Utf8ToCp932;

namespace {

constexpr int kSchemaVersion = 3;  // the same layout as the SQLite store's version 3

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS records("
    " mode integer NOT NULL, name text NOT NULL, id integer NOT NULL,"
    " score integer NOT NULL, field4 integer NOT NULL, comment text NOT NULL,"
    " field6 integer NOT NULL, date text NOT NULL, field8 integer NOT NULL,"
    " play_count integer NOT NULL, field10 integer NOT NULL, field11 integer NOT NULL,"
    " seq bigint NOT NULL, line text NOT NULL, verified boolean NOT NULL DEFAULT false,"
    " PRIMARY KEY(mode, name, id));"
    "CREATE SEQUENCE IF NOT EXISTS records_seq;"
    "CREATE SEQUENCE IF NOT EXISTS ranking_change;"
    "CREATE INDEX IF NOT EXISTS records_rank ON records(mode, score DESC, seq);"
    "CREATE TABLE IF NOT EXISTS replays(mode integer NOT NULL, name text NOT NULL, id integer NOT NULL,"
    " data bytea NOT NULL, PRIMARY KEY(mode, name, id));"
    // A new best is another run: the old run's replay no longer belongs to it.
    "CREATE OR REPLACE FUNCTION records_new_best() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " DELETE FROM replays WHERE mode = OLD.mode AND name = OLD.name AND id = OLD.id; RETURN NEW; END $$;"
    "DROP TRIGGER IF EXISTS records_new_best ON records;"
    "CREATE TRIGGER records_new_best AFTER UPDATE OF score ON records FOR EACH ROW"
    " EXECUTE FUNCTION records_new_best();";
// Version 3: player keys, the signed flag and the runs waiting beside a
// verified best.
constexpr const char* kVersion3 =
    "ALTER TABLE records ADD COLUMN IF NOT EXISTS signed boolean NOT NULL DEFAULT false;"
    "CREATE TABLE IF NOT EXISTS player_keys(name text NOT NULL, id integer NOT NULL, key bytea NOT NULL,"
    " PRIMARY KEY(name, id));"
    "CREATE TABLE IF NOT EXISTS pending(mode integer NOT NULL, name text NOT NULL, id integer NOT NULL,"
    " score integer NOT NULL, record bytea NOT NULL, key bytea NOT NULL, PRIMARY KEY(mode, name, id));";
constexpr const char* kCreateClaims =
    "CREATE TABLE IF NOT EXISTS video_claims(video text PRIMARY KEY, owner text NOT NULL, expires timestamptz NOT NULL)";
#define KV_PG_UPSERT                                                                                     \
  "INSERT INTO records(mode, name, id, score, field4, comment, field6, date, field8, play_count,"          \
  " field10, field11, seq, line, signed)"                                                                  \
  " VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, nextval('records_seq'), $13, $14 = '1')"    \
  " ON CONFLICT(mode, name, id) DO UPDATE SET score = excluded.score, field4 = excluded.field4,"            \
  " comment = excluded.comment, field6 = excluded.field6, date = excluded.date,"                           \
  " field8 = excluded.field8, play_count = excluded.play_count, field10 = excluded.field10,"               \
  " field11 = excluded.field11, seq = excluded.seq, line = excluded.line, verified = false,"               \
  " signed = excluded.signed"

struct Statement {
  const char* name;
  const char* sql;
};
constexpr Statement kStatements[] = {
    {"upsert", KV_PG_UPSERT " WHERE excluded.score > records.score RETURNING 1"},
    {"promote", KV_PG_UPSERT},
    // Submissions for one player, from any instance, take turns.
    {"lock_player", "SELECT pg_advisory_xact_lock(hashtext($1), $2::int)"},
    {"best", "SELECT score, verified::int, signed::int FROM records WHERE mode = $1 AND name = $2 AND id = $3"},
    {"key_find", "SELECT key FROM player_keys WHERE name = $1 AND id = $2"},
    {"key_bind", "INSERT INTO player_keys(name, id, key) VALUES($1, $2, $3) ON CONFLICT DO NOTHING"},
    {"pending_find", "SELECT score, record, key FROM pending WHERE mode = $1 AND name = $2 AND id = $3"},
    {"pending_put",
     "INSERT INTO pending(mode, name, id, score, record, key) VALUES($1, $2, $3, $4, $5, $6)"
     " ON CONFLICT(mode, name, id) DO UPDATE SET score = excluded.score, record = excluded.record, key = excluded.key"},
    {"pending_drop", "DELETE FROM pending WHERE mode = $1 AND name = $2 AND id = $3"},
    {"changed", "SELECT pg_notify('kv_ranking', $1), nextval('ranking_change')"},
    {"top", "SELECT line FROM records WHERE mode = $1 ORDER BY score DESC, seq ASC LIMIT $2"},
    {"count", "SELECT COUNT(*) FROM records WHERE mode = $1"},
    {"ranked",
     "SELECT line, verified::int FROM records WHERE mode = $1 AND ($3::int = 0 OR verified)"
     " ORDER BY score DESC, seq ASC LIMIT $2"},
    {"find",
     "SELECT name, id, score, field4, comment, field6, date, field8, play_count, field10, field11,"
     " verified::int, EXISTS(SELECT 1 FROM replays p WHERE p.mode = r.mode AND p.name = r.name AND p.id = r.id)::int"
     " FROM records r WHERE mode = $1 AND name = $2 AND id = $3"},
    {"score_for_update", "SELECT score FROM records WHERE mode = $1 AND name = $2 AND id = $3 FOR UPDATE"},
    {"put_replay",
     "INSERT INTO replays(mode, name, id, data) VALUES($1, $2, $3, $4)"
     " ON CONFLICT(mode, name, id) DO UPDATE SET data = excluded.data"},
    {"get_replay", "SELECT data FROM replays WHERE mode = $1 AND name = $2 AND id = $3"},
    {"set_verified", "UPDATE records SET verified = ($4 = '1') WHERE mode = $1 AND name = $2 AND id = $3"},
    // The database's clock, the one clock every instance shares.
    {"claim_video",
     "INSERT INTO video_claims(video, owner, expires) VALUES($1, $2, now() + make_interval(secs => $3::int))"
     " ON CONFLICT(video) DO UPDATE SET owner = excluded.owner, expires = excluded.expires"
     " WHERE video_claims.owner = excluded.owner OR video_claims.expires <= now() RETURNING 1"},
    {"release_video", "DELETE FROM video_claims WHERE video = $1 AND owner = $2"},
};

class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    const auto s = PQresultStatus(r_);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int Rows() const { return PQntuples(r_); }
  std::string Text(int row, int col) const {
    return std::string(PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col)));
  }
  int Int(int row, int col) const { return std::atoi(PQgetvalue(r_, row, col)); }
  // A bytea column read as text.
  std::string Bytes(int row, int col) const {
    std::size_t n = 0;
    unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r_, row, col)), &n);
    std::string out = raw != nullptr ? std::string(reinterpret_cast<const char*>(raw), n) : std::string();
    PQfreemem(raw);
    return out;
  }

 private:
  PGresult* r_;
};

// Runs a prepared statement with text parameters (and one binary one, when
// `binary_at` >= 0, and another at `binary_too`); `binary_result` asks for the
// columns in binary.
PGresult* Run(PGconn* c, const char* name, const std::vector<std::string>& params, int binary_at = -1,
              int binary_too = -1,
              bool binary_result = false) {
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (std::size_t i = 0; i < params.size(); ++i) {
    values.push_back(params[i].data());
    lengths.push_back(static_cast<int>(params[i].size()));
    formats.push_back(static_cast<int>(i) == binary_at || static_cast<int>(i) == binary_too ? 1 : 0);
  }
  return PQexecPrepared(c, name, static_cast<int>(params.size()), values.data(), lengths.data(), formats.data(),
                        binary_result ? 1 : 0);
}

bool Exec(PGconn* c, const char* sql, std::string* error = nullptr) {
  Result r(PQexec(c, sql));
  if (r.Ok()) return true;
  if (error != nullptr) *error = PQerrorMessage(c);
  return false;
}

class PgRankStore final : public RankStore {
 public:
  ~PgRankStore() override {
    for (PGconn* c : all_) PQfinish(c);
  }

  bool Connect(const std::string& url, int pool, std::string* error) {
    for (int i = 0; i < pool; ++i) {
      PGconn* c = PQconnectdb(url.c_str());
      all_.push_back(c);
      if (PQstatus(c) != CONNECTION_OK) {
        if (error != nullptr) *error = PQerrorMessage(c);
        return false;
      }
      Exec(c, "SET client_min_messages = warning");
      if (i == 0 && !Migrate(c, error)) return false;
      for (const Statement& s : kStatements) {
        Result r(PQprepare(c, s.name, s.sql, 0, nullptr));
        if (!r.Ok()) {
          if (error != nullptr) *error = std::string(s.name) + ": " + PQerrorMessage(c);
          return false;
        }
      }
      free_.push_back(c);
    }
    url_ = url;
    return true;
  }

  bool SubmitBatch(std::vector<Submission>& batch) override {
    std::vector<std::vector<std::string>> rows;
    for (Submission& s : batch) {
      auto name = Cp932ToUtf8(s.record.name);
      auto comment = Cp932ToUtf8(s.record.comment);
      auto line = ReplyLine(s.record);
      if (!name || !comment || !line) return false;
      const WireRecord& r = s.record;
      rows.push_back({std::to_string(s.mode), *name, std::to_string(r.id), std::to_string(r.score),
                      std::to_string(r.spare[0]), *comment, std::to_string(r.spare[1]), r.date,
                      std::to_string(r.spare[2]), std::to_string(r.play_count), std::to_string(r.spare[3]),
                      std::to_string(r.spare[4]), *line, s.key.empty() ? "0" : "1"});
      s.kept = false;
    }
    // Players are locked in one order, so two instances never wait on each other.
    std::vector<std::size_t> order(batch.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::tie(rows[a][1], batch[a].record.id) < std::tie(rows[b][1], batch[b].record.id);
    });
    Lease c(*this);
    if (!c) return false;
    bool ok = Exec(c.get(), "BEGIN");
    bool modes[8] = {};
    for (std::size_t k = 0; ok && k < order.size(); ++k) {
      const std::size_t i = order[k];
      ok = SubmitOne(c.get(), batch[i], rows[i]);
      if (ok && batch[i].kept) modes[batch[i].mode] = true;
    }
    for (int m = 1; ok && m <= 7; ++m) {
      if (modes[m]) ok = Result(Run(c.get(), "changed", {std::to_string(m)})).Ok();
    }
    ok = ok && Exec(c.get(), "COMMIT");
    if (!ok) {
      Exec(c.get(), "ROLLBACK");
      for (Submission& s : batch) s.kept = false;
    }
    return ok;
  }

  std::optional<std::vector<std::string>> TopLines(int mode, int limit) override {
    Lease c(*this);
    if (!c) return std::nullopt;
    Result r(Run(c.get(), "top", {std::to_string(mode), std::to_string(limit)}));
    if (!r.Ok()) return std::nullopt;
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) lines.push_back(r.Text(i, 0));
    return lines;
  }

  std::optional<std::vector<RankedLine>> TopRanked(int mode, int limit, bool verified_only) override {
    Lease c(*this);
    if (!c) return std::nullopt;
    Result r(Run(c.get(), "ranked", {std::to_string(mode), std::to_string(limit), verified_only ? "1" : "0"}));
    if (!r.Ok()) return std::nullopt;
    std::vector<RankedLine> lines;
    lines.reserve(static_cast<std::size_t>(r.Rows()));
    for (int i = 0; i < r.Rows(); ++i) lines.push_back({r.Text(i, 0), r.Int(i, 1) != 0});
    return lines;
  }

  std::optional<long long> Count(int mode) override {
    Lease c(*this);
    if (!c) return std::nullopt;
    Result r(Run(c.get(), "count", {std::to_string(mode)}));
    if (!r.Ok() || r.Rows() != 1) return std::nullopt;
    return std::atoll(r.Text(0, 0).c_str());
  }

  StoreStatus FindRecord(const RecordKey& key, StoredRecord* out) override {
    std::optional<Result> found;
    const StoreStatus status = FindRow("find", key, found);
    if (status != StoreStatus::ok) return status;
    if (out != nullptr) {
      const Result& r = *found;
      WireRecord& w = out->record;
      w.name = Utf8ToCp932(r.Text(0, 0)).value_or("");
      w.id = r.Int(0, 1);
      w.score = r.Int(0, 2);
      w.spare[0] = r.Int(0, 3);
      w.comment = Utf8ToCp932(r.Text(0, 4)).value_or("");
      w.spare[1] = r.Int(0, 5);
      w.date = r.Text(0, 6);
      w.spare[2] = r.Int(0, 7);
      w.play_count = r.Int(0, 8);
      w.spare[3] = r.Int(0, 9);
      w.spare[4] = r.Int(0, 10);
      out->verified = r.Int(0, 11) != 0;
      out->has_replay = r.Int(0, 12) != 0;
    }
    return StoreStatus::ok;
  }

  StoreStatus PutReplay(const RecordKey& key, std::string_view blob, std::optional<int> for_score) override {
    return Guarded(key, for_score, [&](PGconn* c, std::vector<std::string> params) {
      params.emplace_back(blob);
      return Result(Run(c, "put_replay", params, 3)).Ok();
    });
  }

  StoreStatus GetReplay(const RecordKey& key, std::string* blob) override {
    std::optional<Result> found;
    const StoreStatus status = FindRow("get_replay", key, found, true);
    if (status == StoreStatus::ok && blob != nullptr) *blob = found->Text(0, 0);
    return status;
  }

  StoreStatus SetVerified(const RecordKey& key, bool verified, std::optional<int> for_score) override {
    return Guarded(key, for_score, [&](PGconn* c, std::vector<std::string> params) {
      params.push_back(verified ? "1" : "0");
      // Other instances rank by the flag too: tell them as for a write.
      return Result(Run(c, "set_verified", params)).Ok() && Result(Run(c, "changed", {params[0]})).Ok();
    });
  }

  StoreStatus FindKey(std::string_view name_cp932, int id, std::string* key) override {
    auto name = Cp932ToUtf8(name_cp932);
    if (!name) return StoreStatus::not_found;
    std::optional<Result> found;
    const StoreStatus status = FindRow("key_find", {*name, std::to_string(id)}, found);
    if (status == StoreStatus::ok && key != nullptr) *key = found->Bytes(0, 0);
    return status;
  }

  StoreStatus FindPending(const RecordKey& key, WireRecord* out) override {
    std::optional<Result> found;
    const StoreStatus status = FindRow("pending_find", key, found);
    if (status != StoreStatus::ok) return status;
    auto record = ParseWireRecord(found->Bytes(0, 1));
    if (!record) return StoreStatus::failed;
    if (out != nullptr) *out = std::move(*record);
    return StoreStatus::ok;
  }

  StoreStatus PromotePending(const RecordKey& key, std::string_view replay, int score) override {
    auto params = Key(key);
    if (!params) return StoreStatus::not_found;
    Lease c(*this);
    if (!c || !Exec(c.get(), "BEGIN")) return StoreStatus::failed;
    StoreStatus status = StoreStatus::failed;
    std::optional<WireRecord> record;
    std::string signer;
    if (Result(Run(c.get(), "lock_player", {(*params)[1], (*params)[2]})).Ok()) {
      Result r(Run(c.get(), "pending_find", *params));
      if (r.Ok()) {
        if (r.Rows() == 0) {
          status = StoreStatus::not_found;
        } else {
          record = ParseWireRecord(r.Bytes(0, 1));
          signer = r.Bytes(0, 2);
          status = !record ? StoreStatus::failed : record->score != score ? StoreStatus::stale : StoreStatus::ok;
        }
      }
    }
    auto comment = record ? Cp932ToUtf8(record->comment) : std::nullopt;
    auto line = record ? ReplyLine(*record) : std::nullopt;
    if (status == StoreStatus::ok && (!comment || !line)) status = StoreStatus::failed;
    if (status == StoreStatus::ok) {
      const WireRecord& w = *record;
      std::vector<std::string> row = {(*params)[0], (*params)[1], std::to_string(w.id), std::to_string(w.score),
                                      std::to_string(w.spare[0]), *comment, std::to_string(w.spare[1]), w.date,
                                      std::to_string(w.spare[2]), std::to_string(w.play_count),
                                      std::to_string(w.spare[3]), std::to_string(w.spare[4]), *line,
                                      signer.empty() ? "0" : "1"};
      std::vector<std::string> with_replay = *params;
      with_replay.emplace_back(replay);
      std::vector<std::string> verified = *params;
      verified.push_back("1");
      // The new best first (its score change drops the old run's replay),
      // then this run's replay and the verified flag.
      const bool ok = Result(Run(c.get(), "promote", row)).Ok() &&
                      Result(Run(c.get(), "put_replay", with_replay, 3)).Ok() &&
                      Result(Run(c.get(), "set_verified", verified)).Ok() &&
                      Result(Run(c.get(), "pending_drop", *params)).Ok() &&
                      Result(Run(c.get(), "changed", {(*params)[0]})).Ok();
      if (!ok) status = StoreStatus::failed;
    }
    if (status == StoreStatus::ok && Exec(c.get(), "COMMIT")) return status;
    Exec(c.get(), "ROLLBACK");
    return status == StoreStatus::ok ? StoreStatus::failed : status;
  }

  std::optional<bool> ClaimVideo(std::string_view video, std::string_view owner, int seconds) override {
    Lease c(*this);
    if (!c) return std::nullopt;
    Result r(Run(c.get(), "claim_video", {std::string(video), std::string(owner), std::to_string(seconds)}));
    if (!r.Ok()) return std::nullopt;
    return r.Rows() > 0;
  }

  bool ReleaseVideo(std::string_view video, std::string_view owner) override {
    Lease c(*this);
    return c && Result(Run(c.get(), "release_video", {std::string(video), std::string(owner)})).Ok();
  }

 private:
  // One submission inside SubmitBatch's transaction; false when the store fails.
  static bool SubmitOne(PGconn* c, Submission& s, const std::vector<std::string>& row) {
    const std::vector<std::string> player = {row[0], row[1], row[2]};
    if (!Result(Run(c, "lock_player", {row[1], row[2]})).Ok()) return false;
    std::string bound;
    {
      Result r(Run(c, "key_find", {row[1], row[2]}));
      if (!r.Ok()) return false;
      if (r.Rows() > 0) bound = r.Bytes(0, 0);
    }
    std::optional<HeldRecord> best;
    {
      Result r(Run(c, "best", player));
      if (!r.Ok()) return false;
      if (r.Rows() > 0) best = HeldRecord{r.Int(0, 0), r.Int(0, 1) != 0, r.Int(0, 2) != 0};
    }
    std::optional<int> pending;
    {
      Result r(Run(c, "pending_find", player));
      if (!r.Ok()) return false;
      if (r.Rows() > 0) pending = r.Int(0, 0);
    }
    s.outcome = DecideSubmission(s, bound, best, pending);
    s.kept = s.outcome == SubmitOutcome::kept;
    if (s.outcome == SubmitOutcome::pending) {
      return Result(Run(c, "pending_put", {row[0], row[1], row[2], row[3], RecordText(s.record), s.key}, 4, 5)).Ok();
    }
    if (!s.kept) return true;
    Result put(Run(c, "upsert", row));
    if (!put.Ok()) return false;
    if (!s.key.empty() && bound.empty() && !Result(Run(c, "key_bind", {row[1], row[2], s.key}, 2)).Ok()) return false;
    return !pending || Result(Run(c, "pending_drop", player)).Ok();
  }

  // Looks up one row with a prepared statement: ok with the row in `found`,
  // not_found when there is none, failed when the database cannot answer.
  StoreStatus FindRow(const char* statement, const std::vector<std::string>& params, std::optional<Result>& found,
                      bool binary_result = false) {
    Lease c(*this);
    if (!c) return StoreStatus::failed;
    found.emplace(Run(c.get(), statement, params, -1, -1, binary_result));
    if (!found->Ok()) return StoreStatus::failed;
    return found->Rows() == 0 ? StoreStatus::not_found : StoreStatus::ok;
  }

  // The same, for the record a key names (not_found when the name cannot be stored).
  StoreStatus FindRow(const char* statement, const RecordKey& key, std::optional<Result>& found,
                      bool binary_result = false) {
    auto params = Key(key);
    if (!params) return StoreStatus::not_found;
    return FindRow(statement, *params, found, binary_result);
  }

  // A pooled connection for the length of one call; a broken one is reset.
  class Lease {
   public:
    explicit Lease(PgRankStore& s) : s_(s) {
      std::unique_lock<std::mutex> lock(s_.mutex_);
      s_.returned_.wait(lock, [&] { return !s_.free_.empty(); });
      c_ = s_.free_.back();
      s_.free_.pop_back();
      lock.unlock();
      if (PQstatus(c_) != CONNECTION_OK) {
        PQreset(c_);
        if (PQstatus(c_) == CONNECTION_OK) {
          for (const Statement& st : kStatements) Result(PQprepare(c_, st.name, st.sql, 0, nullptr));
        }
      }
    }
    ~Lease() {
      std::lock_guard<std::mutex> lock(s_.mutex_);
      s_.free_.push_back(c_);
      s_.returned_.notify_one();
    }
    explicit operator bool() const { return PQstatus(c_) == CONNECTION_OK; }
    PGconn* get() const { return c_; }

   private:
    PgRankStore& s_;
    PGconn* c_;
  };

  static std::optional<std::vector<std::string>> Key(const RecordKey& key) {
    auto name = Cp932ToUtf8(key.name);
    if (!name) return std::nullopt;
    return std::vector<std::string>{std::to_string(key.mode), *name, std::to_string(key.id)};
  }

  // Runs `change` in a transaction that holds the record's row, when the
  // record exists (and has the score asked for).
  template <typename F>
  StoreStatus Guarded(const RecordKey& key, std::optional<int> for_score, F change) {
    auto params = Key(key);
    if (!params) return StoreStatus::not_found;
    Lease c(*this);
    if (!c || !Exec(c.get(), "BEGIN")) return StoreStatus::failed;
    StoreStatus status = StoreStatus::failed;
    {
      Result r(Run(c.get(), "score_for_update", *params));
      if (r.Ok()) {
        status = r.Rows() == 0                       ? StoreStatus::not_found
                 : for_score && r.Int(0, 0) != *for_score ? StoreStatus::stale
                                                           : StoreStatus::ok;
      }
    }
    if (status == StoreStatus::ok && !change(c.get(), *params)) status = StoreStatus::failed;
    if (status == StoreStatus::ok && Exec(c.get(), "COMMIT")) return status;
    Exec(c.get(), "ROLLBACK");
    return status == StoreStatus::ok ? StoreStatus::failed : status;
  }

  static bool Migrate(PGconn* c, std::string* error) {
    if (!Exec(c, "BEGIN", error)) return false;
    // Instances starting at once take turns here.
    bool ok = Exec(c, "SELECT pg_advisory_xact_lock(7311)", error) &&
              Exec(c, "CREATE TABLE IF NOT EXISTS schema_version(version integer NOT NULL)", error);
    int version = 0;
    if (ok) {
      Result r(PQexec(c, "SELECT version FROM schema_version"));
      ok = r.Ok();
      if (ok && r.Rows() > 0) version = r.Int(0, 0);
    }
    if (ok && version > kSchemaVersion) {
      if (error != nullptr) *error = "the database was written by a newer kv-rankd (schema " + std::to_string(version) + ")";
      ok = false;
    }
    if (ok && version < 2) ok = Exec(c, kSchema, error);
    if (ok && version < 3) ok = Exec(c, kVersion3, error);
    if (ok && version < kSchemaVersion) {
      ok = Exec(c, "DELETE FROM schema_version; INSERT INTO schema_version VALUES(3)", error);
    }
    // Claims on videos being made are passing state, not records: the table
    // is made when missing and an older kv-rankd ignores it.
    if (ok) ok = Exec(c, kCreateClaims, error);
    if (ok && Exec(c, "COMMIT", error)) return true;
    Exec(c, "ROLLBACK");
    return false;
  }

  text::CodecModules codec_modules_;
  std::string url_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<PGconn*> all_;
  std::vector<PGconn*> free_;
};

}  // namespace

bool IsPostgresUrl(const std::string& db) {
  return db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0;
}

std::unique_ptr<RankStore> OpenPgRankStore(const std::string& url, std::string* error, int pool) {
  auto store = std::make_unique<PgRankStore>();
  if (!store->Connect(url, std::max(1, pool), error)) return nullptr;
  return store;
}

// --- listening for the other instances ----------------------------------------

RankChangeListener::RankChangeListener(std::string url, RankBoard& board, int poll_ms)
    : url_(std::move(url)), board_(board), poll_ms_(poll_ms) {
  if (pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
  thread_ = std::thread([this] { Run(); });
}

RankChangeListener::~RankChangeListener() {
  running_ = false;
  if (wake_[1] >= 0 && write(wake_[1], "x", 1) < 0) {
  }
  thread_.join();
  for (int fd : wake_) {
    if (fd >= 0) close(fd);
  }
}

void RankChangeListener::Run() {
  long long seen = -1;
  while (running_) {
    PGconn* c = PQconnectdb(url_.c_str());
    if (PQstatus(c) != CONNECTION_OK || !Exec(c, "LISTEN kv_ranking")) {
      PQfinish(c);
      pollfd p{wake_[0], POLLIN, 0};
      poll(&p, 1, poll_ms_);
      continue;
    }
    // Whatever happened while not listening counts as a change.
    if (seen >= 0) board_.Invalidate(0);
    while (running_ && PQstatus(c) == CONNECTION_OK) {
      {
        Result r(PQexec(c, "SELECT last_value FROM ranking_change"));
        if (r.Ok() && r.Rows() == 1) {
          const long long now = std::atoll(r.Text(0, 0).c_str());
          if (seen >= 0 && now != seen) board_.Invalidate(0);  // a notification went missing
          seen = now;
        }
      }
      pollfd p[2] = {{PQsocket(c), POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(p, 2, poll_ms_) > 0 && (p[0].revents & POLLIN)) {
        if (!PQconsumeInput(c)) break;
        while (PGnotify* n = PQnotifies(c)) {
          const int mode = std::atoi(n->extra);
          board_.Invalidate(mode >= 1 && mode <= 7 ? mode : 0);
          PQfreemem(n);
        }
        // Our own writes notify us too; the sequence moved with them.
        Result r(PQexec(c, "SELECT last_value FROM ranking_change"));
        if (r.Ok() && r.Rows() == 1) seen = std::atoll(r.Text(0, 0).c_str());
      }
    }
    PQfinish(c);
  }
}
