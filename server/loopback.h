// For programs that talk to kv-rankd over loopback (tests, benches, fuzzers):
// start a server on a free port and stop it, connect, read one reply.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace loopback {

// A kv-rankd child process listening on 127.0.0.1:port.
class Rankd {
 public:
  Rankd() = default;
  Rankd(const Rankd&) = delete;
  Rankd& operator=(const Rankd&) = delete;
  ~Rankd() { Stop(); }

  // Runs `binary --listen 127.0.0.1:0 --access-log none args...` and waits for
  // the line in which it says its port. False when it does not start.
  // The server ends with the program that started it, even when that program
  // is killed (a test cut short by its time limit) and never gets to Stop.
  bool Start(const std::string& binary, const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return false;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      dup2(out[1], 1);
      close(out[0]);
      std::vector<std::string> all = {binary, "--listen", "127.0.0.1:0", "--access-log", "none"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // "kv-rankd: listening on 127.0.0.1:PORT, ..."
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const std::size_t at = line.find("127.0.0.1:");
    if (at == std::string::npos) return false;
    port_ = std::atoi(line.c_str() + at + 10);
    return port_ > 0;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  // Waits up to `timeout_ms` for the server to end: its wait status, or -1
  // while it still runs.
  int WaitExit(int timeout_ms) {
    for (int waited = 0; pid_ > 0; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      if (waited >= timeout_ms) break;
      usleep(10 * 1000);
    }
    return -1;
  }
  pid_t pid() const { return pid_; }
  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A connection to 127.0.0.1:port whose reads and writes give up after
// timeout_s seconds; -1 when it cannot connect.
inline int Connect(int port, int timeout_s = 5) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{timeout_s, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return fd;
}

// Reads one reply from fd: its headers, then as many bytes as its
// Content-Length says. What came before the connection ended or timed out
// when it is cut short.
inline std::string ReadReply(int fd) {
  std::string in;
  char buf[65536];
  std::size_t need = std::string::npos;
  while (need == std::string::npos || in.size() < need) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    in.append(buf, static_cast<std::size_t>(n));
    const std::size_t end = in.find("\r\n\r\n");
    if (need == std::string::npos && end != std::string::npos) {
      std::string head = in.substr(0, end);
      std::transform(head.begin(), head.end(), head.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
      const std::size_t cl = head.find("content-length:");
      need = end + 4 + (cl == std::string::npos ? 0 : std::strtoul(head.c_str() + cl + 15, nullptr, 10));
    }
  }
  return in;
}

}  // namespace loopback
