// The rankings kv-rankd serves: each mode's reply is built once after a
// change and handed out as is to every reader. Writes go through one writer
// thread that commits whatever has queued up in one transaction and then
// rebuilds the touched modes once, so a flood of writes costs one rebuild
// per batch rather than one per record, and a write is answered only after
// its record is committed and in the reply.
#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ranking/rank_service.h"

class RankBoard {
 public:
  using Body = std::shared_ptr<const std::string>;
  // Called on the writer thread: whether the record was committed, and the
  // write reply (the note, then the mode's ranking); nullptr when it failed.
  using WriteDone = std::function<void(Body reply)>;

  // `settle`: how long a change announced by another server (Invalidate) may
  // wait for more before the mode is rebuilt.
  explicit RankBoard(RankStore& store, std::chrono::milliseconds settle = std::chrono::milliseconds(20));
  ~RankBoard();
  RankBoard(const RankBoard&) = delete;
  RankBoard& operator=(const RankBoard&) = delete;

  // Builds every mode's reply and starts the writer; false when the store
  // cannot be read.
  bool Start(std::string* error = nullptr);
  // The mode's read reply (mode 1..7).
  Body Read(int mode) const;
  // Queues a checked record; `done` is called once, from the writer thread.
  void Write(int mode, WireRecord record, WriteDone done);
  // The store changed behind this board's back (another server wrote): the
  // mode (0: every mode) is rebuilt within `settle`.
  void Invalidate(int mode);
  // Commits and answers every queued write, then stops the writer.
  void Stop();

  struct Stats {
    std::uint64_t writes = 0, batches = 0, rebuilds = 0;
  };
  Stats stats() const;

 private:
  struct Pending {
    int mode;
    WireRecord record;
    WriteDone done;
  };
  // One place of a mode's ranking as this board holds it.
  struct Place {
    int score;
    std::string name;  // CP932
    int id;
    std::string line;
  };
  void Run();
  // Reads the mode from the store and replaces its replies; false on failure.
  bool Rebuild(int mode);
  // Puts this board's own kept records into the mode's places (no store
  // read); false when the places are unknown and the store must be read.
  bool Merge(int mode, const std::vector<Submission>& kept);
  void Publish(int mode);

  RankStore& store_;
  const std::chrono::milliseconds settle_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::array<Body, 8> read_{};
  std::array<Body, 8> write_{};
  std::array<std::vector<Place>, 8> places_{};  // writer thread only
  std::bitset<8> places_known_;                 // writer thread only
  std::vector<Pending> queue_;
  std::bitset<8> stale_;
  std::chrono::steady_clock::time_point stale_since_{};
  bool stopping_ = false;
  bool running_ = false;  // the writer takes records
  Stats stats_;
  std::thread thread_;
};
