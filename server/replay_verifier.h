// Replay checks for kv-rankd. The check itself is the game's: kv-verify plays
// the replay headless in a process of its own, so the server links no game
// code and a replay that makes the game misbehave costs one child process.
// Each child runs under a CPU-time and an address-space limit and is killed
// when it outlasts a wall-clock limit. A fixed number of worker threads run
// checks (at most that many children at once); what waits for them is held in
// a bounded queue, so a flood of uploads is refused instead of piling up.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct VerifierOptions {
  std::string program;        // kv-verify
  std::string game_dir;       // its --game-dir; empty: its own folder
  int workers = 2;            // checks at once
  int queue = 16;             // checks waiting beyond those
  int cpu_seconds = 30;       // CPU time of one check
  long long memory_mb = 1024; // address space of one check
  int wall_seconds = 60;      // wall clock of one check, then it is killed
};

struct VerifyResult {
  enum class Verdict { verified, mismatch, malformed, other_version, too_long, failed };
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
  // Queues a task for a worker (the task calls Check); false, queuing nothing,
  // when the queue is full or the verifier is stopped.
  bool Post(PoolTask task) { return pool_.Post(std::move(task)); }
  // Runs one check on the calling thread and waits for it.
  VerifyResult Check(const std::string& replay) const;
  // Cancels the checks waiting, waits for those running, stops the workers.
  void Stop() { pool_.Stop(); }
  // The same, but kills the running checks at once (they fail: "the server
  // is stopping"): for a server that is shutting down.
  void StopAll();

  const VerifierOptions& options() const { return options_; }

 private:
  VerifierOptions options_;
  TaskPool pool_;
  mutable std::mutex children_mutex_;
  mutable std::vector<int> children_;  // the checks running now (process groups)
  mutable bool killing_ = false;
};
