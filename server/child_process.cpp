#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

bool RanOutOfTime(const ChildEnd& end) {
  return end.out_of_time ||
         (WIFSIGNALED(end.status) && (WTERMSIG(end.status) == SIGXCPU || WTERMSIG(end.status) == SIGKILL));
}

void ChildGroup::KillAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  killing_ = true;
  for (pid_t group : running_) kill(-group, SIGKILL);
}

ChildEnd ChildGroup::Run(const ChildRun& run) {
  ChildEnd end;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    end.error = std::string("pipe: ") + std::strerror(errno);
    return end;
  }
  const int null_in = run.input < 0 ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
  const int null_out = run.keep_errors ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);

  // Everything the child needs is ready before the fork: between fork and
  // exec it only makes system calls.
  std::vector<std::string> args = run.args;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const ChildLimits& l = run.limits;
  const rlimit cpu{static_cast<rlim_t>(l.cpu_seconds), static_cast<rlim_t>(l.cpu_seconds + 1)};
  const rlimit memory{static_cast<rlim_t>(l.memory_mb) << 20, static_cast<rlim_t>(l.memory_mb) << 20};
  const rlimit no_core{0, 0};
  const int input = run.input >= 0 ? run.input : null_in;

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // its own group: a kill reaches whatever it started
    // It dies with the thread that started it, which lives as long as
    // kv-rankd: no child outlives the server, however the server ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    if (input >= 0) dup2(input, STDIN_FILENO);
    dup2(pipe_fds[1], STDOUT_FILENO);
    dup2(run.keep_errors ? pipe_fds[1] : null_out, STDERR_FILENO);
    close_range(3, ~0U, 0);
    if (l.nice > 0) setpriority(PRIO_PROCESS, 0, getpriority(PRIO_PROCESS, 0) + l.nice);
    setrlimit(RLIMIT_CPU, &cpu);
    setrlimit(RLIMIT_AS, &memory);
    setrlimit(RLIMIT_CORE, &no_core);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid > 0) {
    setpgid(pid, pid);  // whichever of the two runs first
    std::lock_guard<std::mutex> lock(mutex_);
    running_.insert(pid);
    if (killing_) kill(-pid, SIGKILL);
  }
  close(pipe_fds[1]);
  for (int fd : {null_in, null_out}) {
    if (fd >= 0) close(fd);
  }
  if (pid < 0) {
    close(pipe_fds[0]);
    end.error = std::string("fork: ") + std::strerror(errno);
    return end;
  }

  // Read its output until it closes it or its time is up.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(l.wall_seconds);
  auto asked = Clock::now();
  for (;;) {
    const auto now = Clock::now();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    if (left.count() <= 0 || (run.still_wanted && now - asked >= std::chrono::seconds(1) && !(asked = now, run.still_wanted()))) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      end.out_of_time = true;
      break;
    }
    pollfd p{pipe_fds[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    char buffer[1024];
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const std::size_t room = run.max_output - std::min(run.max_output, end.output.size());
    end.output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
  }
  close(pipe_fds[0]);
  // Out of the set before it is reaped, so no kill ever reaches a group id
  // that was handed on.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(pid);
    end.stopped = killing_;
    if (end.stopped) kill(-pid, SIGKILL);
  }
  rusage usage{};
  while (wait4(pid, &end.status, 0, &usage) < 0 && errno == EINTR) {
  }
  end.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  end.stopped = end.stopped && WIFSIGNALED(end.status) && WTERMSIG(end.status) == SIGKILL;
  return end;
}
