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

#include "cached_reply.h"
#include "rank_service/rank_service.h"

// Which records a ranking shows, once replays are verified: all of them, the
// unverified ones with kUnverifiedMark before their comment, or (with
// require_replay) only the verified ones. Without verification every record
// is shown as it came.
struct RankPolicy {
  bool verifying = false;
  bool require_replay = false;
};

// Put before an unverified record's comment in the replies when replays are
// verified but not required.
inline constexpr char kUnverifiedMark = '?';

// One mode's ranking at one moment, as every read of it sees it: the wire
// reply and the places it was made from.
struct RankSnapshot {
  struct Place {
    WireRecord record;      // CP932 texts
    bool parsed = false;    // false: a stored line this server cannot read
    bool verified = false;  // its replay was checked
  };
  RankSnapshot(int mode, std::uint64_t generation, std::vector<Place> places, std::shared_ptr<const std::string> wire)
      : mode(mode), generation(generation), places(std::move(places)), wire(std::move(wire), kWireContentType) {}
  static constexpr const char* kWireContentType = "text/plain; charset=Shift_JIS";
  const int mode;
  const std::uint64_t generation;  // grows with every change of any mode
  const std::vector<Place> places;
  const CachedReply wire;
};

class RankBoard {
 public:
  using Body = std::shared_ptr<const std::string>;
  // Called on the writer thread: whether the record was committed, and the
  // write reply (the note, then the mode's ranking); nullptr when it failed.
  using WriteDone = std::function<void(Body reply)>;
  // The same for a write, with what became of its record.
  using SubmitDone = std::function<void(Body reply, SubmitOutcome outcome)>;

  // `settle`: how long a change announced by another server (Invalidate) may
  // wait for more before the mode is rebuilt.
  explicit RankBoard(RankStore& store, std::chrono::milliseconds settle = std::chrono::milliseconds(20),
                     RankPolicy policy = {});
  ~RankBoard();
  RankBoard(const RankBoard&) = delete;
  RankBoard& operator=(const RankBoard&) = delete;

  // Builds every mode's reply and starts the writer; false when the store
  // cannot be read.
  bool Start(std::string* error = nullptr);
  // The mode's read reply (mode 1..7).
  Body Read(int mode) const;
  // The same with its places and its gzip copy; null before Start.
  std::shared_ptr<const RankSnapshot> Snapshot(int mode) const;
  // Queues a checked record; `done` is called once, from the writer thread.
  void Write(int mode, WireRecord record, WriteDone done);
  // A signed (key: the signer's public key) or unsigned (key empty) record.
  void Submit(int mode, WireRecord record, std::string key, SubmitDone done);
  // A record's verified flag changed in the store: the mode is read again,
  // then `done` gets the mode's read reply (nullptr when it failed).
  void Refresh(int mode, WriteDone done);
  const RankPolicy& policy() const { return policy_; }
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
    SubmitDone done;
    bool refresh = false;  // no record: read the mode again
    std::string key;
  };
  // One place of a mode's ranking as this board holds it.
  struct Place {
    int score;
    std::string name;  // CP932
    int id;
    std::string line;  // as the replies show it (marked when unverified)
    RankSnapshot::Place shown;
  };
  // The reply line of a record as the policy shows it.
  std::optional<std::string> ShownLine(const WireRecord& record, bool verified) const;
  void Run();
  // Reads the mode from the store and replaces its replies; false on failure.
  bool Rebuild(int mode);
  // Puts this board's own kept records into the mode's places (no store
  // read); false when the places are unknown and the store must be read.
  bool Merge(int mode, const std::vector<Submission>& kept);
  void Publish(int mode);

  RankStore& store_;
  const std::chrono::milliseconds settle_;
  const RankPolicy policy_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::array<Body, 8> read_{};
  std::array<Body, 8> write_{};
  std::array<std::shared_ptr<const RankSnapshot>, 8> snapshots_{};
  std::uint64_t generation_ = 0;
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
