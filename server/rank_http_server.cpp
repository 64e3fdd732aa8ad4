#include "rank_http_server.h"

#include <httplib.h>

#include <chrono>

namespace {

void Answer(RankStore& store, const httplib::Request& req, httplib::Response& res) {
  // The query is taken raw ("write&3"): it is no list of name=value pairs.
  const std::size_t mark = req.target.find('?');
  const std::string query = mark == std::string::npos ? std::string() : req.target.substr(mark + 1);
  const ServiceReply reply = HandleRankRequest(store, req.method, req.path, query, req.body);
  res.status = reply.status;
  res.set_content(reply.body, reply.content_type.c_str());
}

}  // namespace

RankHttpServer::RankHttpServer(RankStore& store) : store_(store), server_(std::make_unique<httplib::Server>()) {
  // Each phase of a request is bounded, so a slow client cannot hold a worker.
  server_->set_read_timeout(10, 0);
  server_->set_write_timeout(10, 0);
  server_->set_keep_alive_max_count(20);
  server_->set_keep_alive_timeout(2);  // idle connections do not hold workers long
  // Bodies over the limit are refused by the service with 400; far larger
  // ones are not even read.
  server_->set_payload_max_length(64 * 1024);
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { Answer(store_, req, res); };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  server_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 500;
    res.set_content("server error\r\n", "text/plain");
  });
}

RankHttpServer::~RankHttpServer() { Stop(); }

int RankHttpServer::Start(const std::string& host, int port) {
  if (thread_.joinable()) return -1;
  int bound = -1;
  if (port == 0) {
    bound = server_->bind_to_any_port(host);
  } else if (server_->bind_to_port(host, port)) {
    bound = port;
  }
  if (bound <= 0) return -1;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // Return once the accept loop runs, so an early Stop() cannot miss it.
  for (int waited = 0; !server_->is_running() && waited < 5000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!server_->is_running()) {
    server_->stop();
    thread_.join();
    return -1;
  }
  return bound;
}

void RankHttpServer::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}
