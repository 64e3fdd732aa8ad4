// Replay checks for kv-rankd. The check itself is the game's: kv-verify plays
// the replay headless in a process of its own, so the server links no game
// code and a replay that makes the game misbehave costs one child process.
//
// What a stranger can make it cost is bounded three ways:
// - PrecheckUpload reads the file without playing it (header, version, start,
//   every record as the body unpacks) and refuses a file that is damaged or
//   does not fit the frames it claims, before any verifier starts. A file that
//   passes carries a checksum every 250 frames, so a made-up run fails its
//   check within 250 frames of play.
// - Each check runs under a CPU-time allowance that grows with the frames the
//   file claims, an address-space limit and a wall-clock limit, in a process
//   group of its own that dies with kv-rankd.
// - Each client (address) and each player key holds at most one running and
//   two waiting checks; a worker takes the oldest waiting check whose client
//   and key have none running, so one client's flood never stands in front
//   of another client's upload.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "child_process.h"

struct VerifierOptions {
  std::string program;        // kv-verify
  std::string game_dir;       // its --game-dir; empty: its own folder
  int workers = 2;            // checks at once
  int queue = 16;             // checks waiting beyond those, from all clients
  int cpu_seconds = 2;        // CPU time of a check beyond cpu_us_per_frame
  int cpu_us_per_frame = 330; // CPU time per frame the replay claims (a run plays ~110 us a frame)
  long long memory_mb = 1024; // address space of one check
  int wall_seconds = 20;      // wall clock of a check beyond twice its frames' CPU time
};

// What one check of a replay claiming `frames` frames may take: CPU seconds
// (the child's RLIMIT_CPU) and wall-clock seconds (then it is killed).
struct CheckAllowance {
  int cpu_seconds = 0;
  int wall_seconds = 0;
};
CheckAllowance AllowanceFor(const VerifierOptions& options, long long frames);

// The record an upload claims to be the run of: mode (wire number), name as
// records carry it (CP932), id and score.
struct UploadClaim {
  int mode = 0;
  std::string name;
  int id = 0;
  long long score = 0;
};
// Why an upload is refused before any verifier starts ("malformed replay:
// ..."); nullopt when it may be checked. Reads the file without playing it.
std::optional<std::string> PrecheckUpload(const std::string& replay, const UploadClaim& claim);

// Whose check it is: the client (its address, an IPv6 client by its /64) and
// the player key that signed the upload (empty when unsigned).
struct CheckOwner {
  std::string client;
  std::string key;
};
// How many checks one client or one key may hold.
inline constexpr int kRunningPerOwner = 1;
inline constexpr int kWaitingPerOwner = 2;

struct VerifyResult {
  enum class Verdict { verified, mismatch, malformed, other_version, too_long, stopped, failed };
  Verdict verdict = Verdict::failed;
  int mode = 0;           // wire number 1..7, 0 when the replay names none
  int score = 0;          // what the replayed game scored
  int claimed = 0;        // what the replay's header claims
  int frames = 0;
  int id = 0;             // the player id in the replay's start
  std::string name;       // the player's name as records carry it (CP932)
  std::string why;        // the verifier's reason, or what went wrong running it
  double cpu_seconds = 0; // CPU time the check took
};

// The verifier's output line read back; false when it is none.
bool ParseVerifyLine(const std::string& line, VerifyResult& out);

// A few worker threads and a bounded queue of tasks for them. A task is
// called once: with true on a worker, or with false when the pool stops
// before it ran (it should then only answer that it was not done).
using PoolTask = std::function<void(bool run)>;
class TaskPool {
 public:
  TaskPool() = default;
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void Start(int workers, int queue);
  // Queues a task; false, queuing nothing, when the queue is full or the
  // pool is stopped.
  bool Post(PoolTask task);
  // Cancels what is queued, waits for the running tasks, stops the workers.
  void Stop();

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<PoolTask> tasks_;
  std::size_t capacity_ = 0;  // tasks that may wait for a busy worker
  std::size_t busy_ = 0;      // workers running a task
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

class ReplayVerifier {
 public:
  explicit ReplayVerifier(VerifierOptions options);
  ~ReplayVerifier();
  ReplayVerifier(const ReplayVerifier&) = delete;
  ReplayVerifier& operator=(const ReplayVerifier&) = delete;

  // Checks that the program can be run and starts the workers.
  bool Start(std::string* error);

  enum class Admission { queued, busy, stopped };
  // Queues a task for a worker (the task calls Check); `busy`, queuing
  // nothing, when the owner already holds its waiting checks or all waiting
  // places are taken, `stopped` once the verifier stops. A task is called
  // once: with true on a worker, or with false when the verifier stops
  // before it ran.
  Admission Post(const CheckOwner& owner, PoolTask task);
  // Runs one check on the calling thread and waits for it.
  VerifyResult Check(const std::string& replay) const;
  // Takes no more checks, fails those waiting, waits for those running and
  // stops the workers.
  void Stop();
  // The same, but kills the running checks at once (they end as `stopped`):
  // for a server that is shutting down.
  void StopAll();

  struct Load {
    int running = 0, waiting = 0;
  };
  // What an owner's client and key hold now (the larger of the two).
  Load LoadOf(const CheckOwner& owner) const;

  const VerifierOptions& options() const { return options_; }

 private:
  struct Waiting {
    CheckOwner owner;
    PoolTask task;
  };
  struct Held {
    int running = 0, waiting = 0;
  };
  void Work();
  void Finish(bool kill_running);
  // Whether a waiting check may start now: its client and key run none.
  bool Runnable(const CheckOwner& owner) const;
  Held& HeldBy(std::map<std::string, Held>& m, const std::string& who) { return m[who]; }
  void Count(const CheckOwner& owner, int running, int waiting);

  VerifierOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Waiting> handed_;   // taken at once, for a free worker
  std::deque<Waiting> waiting_;  // for a worker, in the order they came
  std::map<std::string, Held> clients_, keys_;
  int busy_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
  // The checks running now, for StopAll.
  mutable ChildGroup children_;
};
