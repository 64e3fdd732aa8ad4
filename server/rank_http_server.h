// kv-rankd's HTTP front: cpp-httplib serving a RankStore on its own thread.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "ranking/rank_service.h"

namespace httplib {
class Server;
}

class RankHttpServer {
 public:
  explicit RankHttpServer(RankStore& store);
  ~RankHttpServer();
  RankHttpServer(const RankHttpServer&) = delete;
  RankHttpServer& operator=(const RankHttpServer&) = delete;

  // Binds host:port (port 0 picks a free one) and serves on a thread.
  // Returns the port, or -1 when the address cannot be bound.
  int Start(const std::string& host, int port);
  // Stops serving and waits for the thread; safe to call twice.
  void Stop();

 private:
  RankStore& store_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};
