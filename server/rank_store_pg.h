// The shared store: PostgreSQL through libpq, for several kv-rankd behind one
// balancer. Same contract as the SQLite store; replays live in the database
// (bytea), so any instance can hand them out. Each commit that changes a
// mode's ranking notifies the channel "kv_ranking" with the mode number and
// advances the sequence ranking_change; RankChangeListener turns both into
// RankBoard::Invalidate calls.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "rank_board.h"
#include "rank_service/rank_service.h"

// Whether a --db value names a PostgreSQL database rather than a file.
bool IsPostgresUrl(const std::string& db);

// Connects `pool` connections, creates or upgrades the schema (version
// table, under an advisory lock so instances starting together agree) and
// prepares the statements. nullptr (and `error`) on failure.
std::unique_ptr<RankStore> OpenPgRankStore(const std::string& url, std::string* error = nullptr, int pool = 4);

// Keeps a board in step with the other instances' writes: LISTEN on
// "kv_ranking" (rebuilt within the board's settle time), and, should a
// notification be lost (reconnect, overflow), a look at ranking_change every
// `poll_ms`: the staleness is bounded by poll_ms plus the settle time.
class RankChangeListener {
 public:
  RankChangeListener(std::string url, RankBoard& board, int poll_ms = 1000);
  ~RankChangeListener();
  RankChangeListener(const RankChangeListener&) = delete;
  RankChangeListener& operator=(const RankChangeListener&) = delete;

 private:
  void Run();
  std::string url_;
  RankBoard& board_;
  int poll_ms_;
  std::atomic<bool> running_{true};
  int wake_[2] = {-1, -1};
  std::thread thread_;
};
