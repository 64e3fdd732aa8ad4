// Load check for kv-rankd on loopback: a bounded number of concurrent clients
// send records and read rankings through libcurl, then every accepted record
// is looked for in the rankings read back.
//   kv-rank-load [--clients N] [--requests M] [--server HOST:PORT]
// Without --server an in-process server on 127.0.0.1 with a scratch database
// is used. Prints requests per second; exits 1 if a record was lost.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/http.h"
#include "rank_board.h"
#include "rank_http_server.h"
#include "rank_routes.h"
#include "rank_service/rank_service.h"
#include "rank_service/rank_codec.h"

namespace {

struct Accepted {
  int mode;
  std::string name;
  int id;
  bool operator<(const Accepted& o) const { return std::tie(mode, name, id) < std::tie(o.mode, o.name, o.id); }
};

}  // namespace

int main(int argc, char** argv) {
  text::CodecModules codec_modules;
  int clients = 8;
  int requests = 50;
  std::string server;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--clients") clients = std::clamp(std::atoi(argv[i + 1]), 1, 64);
    else if (arg == "--requests") requests = std::clamp(std::atoi(argv[i + 1]), 1, 2000);
    else if (arg == "--server") server = argv[i + 1];
  }

  std::unique_ptr<RankStore> store;
  std::unique_ptr<RankBoard> board;
  std::unique_ptr<RankHttpServer> http_server;
  std::filesystem::path db;
  if (server.empty()) {
    db = std::filesystem::temp_directory_path() / ("kv-rank-load-" + std::to_string(::getpid()) + ".db");
    std::string error;
    store = RankStore::Open(db.string(), &error);
    if (!store) {
      std::fprintf(stderr, "cannot open %s: %s\n", db.c_str(), error.c_str());
      return 1;
    }
    board = std::make_unique<RankBoard>(*store);
    if (!board->Start(&error)) return 1;
    HttpRouter router;
    AddRankingRoutes(router, *board);
    HttpLimits limits;
    limits.trust_loopback = true;
    http_server = std::make_unique<RankHttpServer>(std::move(router), limits);
    const int port = http_server->Start("127.0.0.1", 0);
    if (port < 0) return 1;
    server = "127.0.0.1:" + std::to_string(port);
  }

  std::mutex mutex;
  std::set<Accepted> accepted;
  std::atomic<int> writes_ok{0}, reads_ok{0}, failures{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      auto http = MakeCurlHttp(10000);
      for (int i = 0; i < requests; ++i) {
        const int mode = 1 + (c + i) % 7;
        if (i % 4 == 3) {
          HttpReply r = http->Get(RankingUrl(server, false, mode));
          (r.ok && r.status == 200 ? reads_ok : failures)++;
          continue;
        }
        RankRecord rec;
        rec.name = "L" + std::to_string(c) + "_" + std::to_string(i);
        rec.player_id = (c * 131 + i) % 10000;
        rec.score = (c * 7919 + i * 104729) % 20000000;
        rec.comment = "負荷 " + std::to_string(i);
        rec.month = 1 + i % 12;
        rec.day = 1 + i % 28;
        rec.play_count = i;
        auto text = BuildRecordText(rec);
        auto body = text ? BuildSendBody(*text, i % 99) : std::nullopt;
        if (!body) {
          failures++;
          continue;
        }
        HttpReply r = http->Post(RankingUrl(server, true, mode), *body);
        if (r.ok && r.status == 200) {
          writes_ok++;
          std::lock_guard<std::mutex> lock(mutex);
          accepted.insert({mode, rec.name, rec.player_id});
        } else {
          failures++;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int total = writes_ok + reads_ok + failures;

  // Every accepted record must be in its mode's ranking.
  auto http = MakeCurlHttp(10000);
  std::set<Accepted> seen;
  for (int mode = 1; mode <= 7; ++mode) {
    HttpReply r = http->Get(RankingUrl(server, false, mode));
    if (!r.ok || r.status != 200) {
      std::fprintf(stderr, "reading mode %d failed: %s\n", mode, r.error.c_str());
      return 1;
    }
    RankingReply reply = ParseRankingReply(r.body);
    for (int i = 0; i < reply.filled; ++i) seen.insert({mode, reply.table[i].name, reply.table[i].id});
  }
  int lost = 0;
  for (const auto& a : accepted) lost += seen.count(a) == 0 ? 1 : 0;

  std::printf("clients %d, requests %d (writes ok %d, reads ok %d, failed %d) in %.2f s: %.0f requests/s\n", clients,
              total, writes_ok.load(), reads_ok.load(), failures.load(), seconds, total / seconds);
  std::printf("accepted records %zu, found in rankings %zu, lost %d\n", accepted.size(), accepted.size() - lost, lost);

  if (http_server) http_server->Stop();
  if (board) board->Stop();
  store.reset();
  if (!db.empty()) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db.string() + suffix, ec);
  }
  return lost == 0 && failures == 0 ? 0 : 1;
}
