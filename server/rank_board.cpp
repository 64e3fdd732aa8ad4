#include "rank_board.h"

#include <algorithm>

#include "rank_service/rank_codec.h"

namespace {

constexpr int kModes = 7;
// A batch holds at most this many records, so one slow commit cannot grow
// without bound while a flood queues up.
constexpr std::size_t kMaxBatch = 512;

}  // namespace

RankBoard::RankBoard(RankStore& store, std::chrono::milliseconds settle, RankPolicy policy)
    : store_(store), settle_(settle), policy_(policy) {}

std::optional<std::string> RankBoard::ShownLine(const WireRecord& record, bool verified) const {
  if (!policy_.verifying || policy_.require_replay || verified) return ReplyLine(record);
  WireRecord marked = record;
  marked.comment.insert(marked.comment.begin(), kUnverifiedMark);
  return ReplyLine(marked);
}

RankBoard::~RankBoard() { Stop(); }

bool RankBoard::Start(std::string* error) {
  for (int mode = 1; mode <= kModes; ++mode) {
    if (!Rebuild(mode)) {
      if (error != nullptr) *error = "cannot read the ranking of mode " + std::to_string(mode);
      return false;
    }
  }
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

RankBoard::Body RankBoard::Read(int mode) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return read_[static_cast<std::size_t>(mode)];
}

std::shared_ptr<const RankSnapshot> RankBoard::Snapshot(int mode) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshots_[static_cast<std::size_t>(mode)];
}

void RankBoard::Write(int mode, WireRecord record, WriteDone done) {
  Submit(mode, std::move(record), {}, [done = std::move(done)](Body reply, SubmitOutcome) { done(std::move(reply)); });
}

void RankBoard::Submit(int mode, WireRecord record, std::string key, SubmitDone done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) {
      queue_.push_back({mode, std::move(record), std::move(done), false, std::move(key)});
      wake_.notify_one();
      return;
    }
  }
  done(nullptr, SubmitOutcome::not_better);  // stopped for good: nothing will commit it
}

void RankBoard::Refresh(int mode, WriteDone done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) {
      queue_.push_back({mode, WireRecord{}, [done = std::move(done)](Body reply, SubmitOutcome) { done(std::move(reply)); },
                        true, {}});
      wake_.notify_one();
      return;
    }
  }
  done(nullptr);
}

void RankBoard::Invalidate(int mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stale_.none()) stale_since_ = std::chrono::steady_clock::now();
  if (mode == 0) {
    for (int m = 1; m <= kModes; ++m) stale_.set(static_cast<std::size_t>(m));
  } else {
    stale_.set(static_cast<std::size_t>(mode));
  }
  wake_.notify_one();
}

void RankBoard::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

RankBoard::Stats RankBoard::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

bool RankBoard::Rebuild(int mode) {
  auto lines = store_.TopRanked(mode, kMaxRankingLines, policy_.require_replay);
  if (!lines) return false;
  // The places are kept so that this board's own writes merge in without
  // reading the store again.
  std::vector<Place>& places = places_[static_cast<std::size_t>(mode)];
  places.clear();
  bool known = true;
  for (RankStore::RankedLine& ranked : *lines) {
    std::optional<WireRecord> r;
    if (auto text = DecodeWireRecord(ranked.line)) r = ParseWireRecord(*text);
    if (!r) known = false;
    std::optional<std::string> shown = r ? ShownLine(*r, ranked.verified) : std::nullopt;
    places.push_back({r ? r->score : 0, r ? r->name : std::string(), r ? r->id : 0,
                      shown ? std::move(*shown) : std::move(ranked.line),
                      {r ? std::move(*r) : WireRecord{}, r.has_value(), ranked.verified}});
  }
  places_known_.set(static_cast<std::size_t>(mode), known);
  Publish(mode);
  return true;
}

bool RankBoard::Merge(int mode, const std::vector<Submission>& batch) {
  if (!places_known_.test(static_cast<std::size_t>(mode))) return false;
  std::vector<Place>& places = places_[static_cast<std::size_t>(mode)];
  for (const Submission& s : batch) {
    if (s.mode != mode || !s.kept) continue;
    // A new best is not verified yet.
    auto line = ShownLine(s.record, false);
    if (!line) return false;
    // The player's earlier best leaves; the new one goes after every equal
    // score, being the latest submission (unless only verified ones count).
    std::erase_if(places, [&](const Place& p) { return p.id == s.record.id && p.name == s.record.name; });
    if (policy_.require_replay) continue;
    auto at = std::upper_bound(places.begin(), places.end(), s.record.score,
                               [](int score, const Place& p) { return score > p.score; });
    if (at - places.begin() < kMaxRankingLines) places.insert(at, {s.record.score, s.record.name, s.record.id, *line, {s.record, true, false}});
    if (places.size() > static_cast<std::size_t>(kMaxRankingLines)) places.resize(kMaxRankingLines);
  }
  Publish(mode);
  return true;
}

void RankBoard::Publish(int mode) {
  const std::vector<Place>& places = places_[static_cast<std::size_t>(mode)];
  std::size_t size = 0;
  for (const Place& p : places) size += p.line.size() + 2;
  auto read = std::make_shared<std::string>();
  read->reserve(size);
  for (const Place& p : places) {
    read->append(p.line);
    read->append("\r\n");
  }
  auto write = std::make_shared<std::string>();
  write->reserve(kWriteNote.size() + size);
  write->append(kWriteNote);
  write->append(*read);
  std::vector<RankSnapshot::Place> shown;
  shown.reserve(places.size());
  for (const Place& p : places) shown.push_back(p.shown);
  std::lock_guard<std::mutex> lock(mutex_);
  snapshots_[static_cast<std::size_t>(mode)] = std::make_shared<const RankSnapshot>(mode, ++generation_, std::move(shown), read);
  read_[static_cast<std::size_t>(mode)] = std::move(read);
  write_[static_cast<std::size_t>(mode)] = std::move(write);
  stats_.rebuilds++;
}

void RankBoard::Run() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (queue_.empty() && stopping_) break;
    if (queue_.empty()) {
      if (stale_.none()) {
        wake_.wait(lock);
        continue;
      }
      // Changes from elsewhere settle first, so a burst costs one rebuild.
      const auto due = stale_since_ + settle_;
      if (!stopping_ && Clock::now() < due) {
        wake_.wait_until(lock, due);
        continue;
      }
    }
    std::vector<Pending> work;
    if (queue_.size() <= kMaxBatch) {
      work.swap(queue_);
    } else {
      work.assign(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.begin() + kMaxBatch));
      queue_.erase(queue_.begin(), queue_.begin() + kMaxBatch);
    }
    std::bitset<8> rebuild, merge;
    if (work.empty() || Clock::now() >= stale_since_ + settle_) {
      rebuild = stale_;
      stale_.reset();
    }
    lock.unlock();

    std::vector<Submission> batch;
    batch.reserve(work.size());
    for (Pending& p : work) {
      if (p.refresh) {
        rebuild.set(static_cast<std::size_t>(p.mode));
      } else {
        batch.push_back({p.mode, std::move(p.record), false, std::move(p.key), SubmitOutcome::not_better});
      }
    }
    const bool stored = batch.empty() || store_.SubmitBatch(batch);
    if (stored) {
      for (const Submission& s : batch) {
        if (s.kept) merge.set(static_cast<std::size_t>(s.mode));
      }
    }
    std::bitset<8> failed;
    for (int mode = 1; mode <= kModes; ++mode) {
      const auto m = static_cast<std::size_t>(mode);
      // Changes from elsewhere need the store; this board's own only a merge.
      if (merge.test(m) && !rebuild.test(m) && !Merge(mode, batch)) rebuild.set(m);
      if (rebuild.test(m) && !Rebuild(mode)) failed.set(m);
    }

    lock.lock();
    if (failed.any()) {
      // Try again a little later; readers keep the last good reply.
      if (stale_.none()) stale_since_ = Clock::now() + std::chrono::seconds(1);
      stale_ |= failed;
    }
    stats_.writes += batch.size();
    if (!batch.empty()) stats_.batches++;
    std::array<Body, 8> replies = write_;
    std::array<Body, 8> reads = read_;
    lock.unlock();
    std::size_t at = 0;  // the work's records are the batch's, in order
    for (Pending& p : work) {
      const auto m = static_cast<std::size_t>(p.mode);
      if (p.refresh) {
        p.done(failed.test(m) ? nullptr : reads[m], SubmitOutcome::not_better);
        continue;
      }
      // A committed record is answered even when its mode could not be
      // rebuilt: the reply is then the last good one.
      const SubmitOutcome outcome = batch[at++].outcome;
      p.done(stored ? replies[m] : nullptr, outcome);
    }
    lock.lock();
  }
  running_ = false;
}
