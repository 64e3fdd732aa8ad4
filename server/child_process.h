// The game-side programs kv-rankd runs (kv-verify for a replay check, kv-sim
// for a run's video), each in a child process under limits: a CPU-time
// allowance and an address-space limit the kernel enforces, a wall clock after
// which it is killed, a niceness, and a process group of its own that dies
// with kv-rankd (PR_SET_PDEATHSIG), so nothing it starts outlives the server.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <sys/types.h>

struct ChildLimits {
  int cpu_seconds = 2;         // RLIMIT_CPU (SIGXCPU, then SIGKILL a second later)
  long long memory_mb = 1024;  // RLIMIT_AS
  int wall_seconds = 20;       // then the whole group is killed
  int nice = 0;                // added to kv-rankd's own
};

struct ChildRun {
  std::vector<std::string> args;  // the program first
  int input = -1;                 // its standard input; -1: /dev/null
  bool keep_errors = false;       // its standard error goes with its output (else /dev/null)
  std::size_t max_output = 4096;  // what is kept of its output
  ChildLimits limits;
  // Called about once a second while it runs; false kills it (counted as
  // out of time).
  std::function<bool()> still_wanted;
};

struct ChildEnd {
  std::string error;         // it could not be started (fork, pipe); the rest is empty
  int status = 0;            // as wait() gives it
  bool out_of_time = false;  // killed at its wall clock (or no longer wanted)
  bool stopped = false;      // killed by KillAll
  std::string output;
  double cpu_seconds = 0;
};

// The children running now, so that a stop reaches all of them at once.
class ChildGroup {
 public:
  // Runs one child and waits for it (on the calling thread).
  ChildEnd Run(const ChildRun& run);
  // Kills every child running now and every one started from now on: for a
  // server that is stopping.
  void KillAll();

 private:
  std::mutex mutex_;
  std::set<pid_t> running_;  // their process groups
  bool killing_ = false;
};

// Whether a child ended by being killed for its CPU time or its wall clock.
bool RanOutOfTime(const ChildEnd& end);
