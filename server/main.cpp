// kv-rankd: the game's ranking server.
//   kv-rankd [--listen HOST:PORT] [--bind HOST] [--port PORT] [--db FILE]
// Defaults: 127.0.0.1:8765 and ranking.db in the current folder. Stops
// cleanly on SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "rank_http_server.h"
#include "ranking/rank_service.h"

namespace {

struct Options {
  std::string host = "127.0.0.1";
  int port = 8765;
  std::string db = "ranking.db";
};

bool ParsePort(const std::string& text, int& port) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

int Usage(const char* self) {
  std::fprintf(stderr, "usage: %s [--listen HOST:PORT] [--bind HOST] [--port PORT] [--db FILE]\n", self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      Usage(argv[0]);
      return 0;
    } else if (arg == "--listen" && has_value) {
      const std::string value = argv[++i];
      const std::size_t colon = value.rfind(':');
      if (colon == std::string::npos || !ParsePort(value.substr(colon + 1), opt.port)) return Usage(argv[0]);
      opt.host = value.substr(0, colon);
      if (opt.host.size() >= 2 && opt.host.front() == '[' && opt.host.back() == ']') {
        opt.host = opt.host.substr(1, opt.host.size() - 2);
      }
    } else if (arg == "--bind" && has_value) {
      opt.host = argv[++i];
    } else if (arg == "--port" && has_value) {
      if (!ParsePort(argv[++i], opt.port)) return Usage(argv[0]);
    } else if (arg == "--db" && has_value) {
      opt.db = argv[++i];
    } else {
      return Usage(argv[0]);
    }
  }

  // The serving threads inherit a mask without SIGINT/SIGTERM; this thread
  // waits for them and shuts the server down in order.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  auto store = RankStore::Open(opt.db, &error);
  if (!store) {
    std::fprintf(stderr, "kv-rankd: cannot open %s: %s\n", opt.db.c_str(), error.c_str());
    return 1;
  }
  RankHttpServer server(*store);
  const int port = server.Start(opt.host, opt.port);
  if (port < 0) {
    std::fprintf(stderr, "kv-rankd: cannot listen on %s:%d\n", opt.host.c_str(), opt.port);
    return 1;
  }
  std::printf("kv-rankd: listening on %s:%d, database %s\n", opt.host.c_str(), port, opt.db.c_str());
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  std::printf("kv-rankd: stopped\n");
  return 0;
}
