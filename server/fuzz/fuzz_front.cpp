// Feeds arbitrary bytes to kv-rankd's HTTP front as a client would send them:
// request line, headers, body, pipelined requests, cut off anywhere. The
// server runs in this process on loopback with an in-memory store; every
// input is one connection that ends with the client closing its side, coming
// from what the server takes for its own proxy, so the client addresses the
// headers name are read too. The server must never crash, answer only HTTP,
// and stay able to serve.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loopback.h"
#include "rank_board.h"
#include "rank_http_server.h"
#include "rank_routes.h"
#include "rank_service/rank_service.h"

namespace {

struct Harness {
  Harness() {
    store = RankStore::Open(":memory:");
    board = std::make_unique<RankBoard>(*store);
    if (!store || !board->Start()) std::abort();
    HttpRouter router;
    AddRankingRoutes(router, *board);
    // Replays without a verifier (uploads answer 503); fetches are served.
    fetches.Start(1, 16);
    AddReplayRoutes(router, *board, *store, nullptr, fetches);
    HttpLimits limits;
    limits.trust_loopback = true;
    // Every connection comes from "our proxy": its Forwarded and
    // X-Forwarded-For headers name the client.
    limits.trusted_proxies = {*ParseNetwork("127.0.0.0/8"), *ParseNetwork("::1")};
    limits.header_ms = 1000;
    limits.body_ms = 1000;
    server = std::make_unique<RankHttpServer>(std::move(router), limits);
    port = server->Start("127.0.0.1", 0);
    if (port <= 0) std::abort();
  }
  std::unique_ptr<RankStore> store;
  std::unique_ptr<RankBoard> board;
  TaskPool fetches;
  std::unique_ptr<RankHttpServer> server;
  int port = 0;
};

// libFuzzer's timer signal can interrupt a connect (EINTR): a few tries, each
// said, before giving up.
int Connect(int port) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int fd = loopback::Connect(port);
    if (fd >= 0) return fd;
    std::fprintf(stderr, "connect to the server failed: %s\n", std::strerror(errno));
    usleep(100 * 1000);
  }
  std::abort();
}

// Sends the bytes, closes the sending side and reads until the server closes
// or stays silent for `quiet_ms` (a kept-alive connection is not closed on
// the client's half-close; the server's idle deadline ends it later).
std::string Send(int port, std::string_view bytes, int quiet_ms) {
  const int fd = Connect(port);
  timeval quiet{quiet_ms / 1000, (quiet_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof quiet);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the server may close early (refused): fine
    sent += static_cast<std::size_t>(n);
  }
  shutdown(fd, SHUT_WR);
  std::string reply;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    reply.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* harness = new Harness;  // one server for the whole run
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  // The routing on its own, with the input split as a target would be.
  HttpRouter router;
  AddRankingRoutes(router, *harness->board);
  const std::size_t mark = in.find('?');
  HttpAnswer refusal;
  router.Find(in.substr(0, 4), in.substr(0, mark), mark == std::string_view::npos ? "" : in.substr(mark + 1), &refusal);
  // The client behind our proxies, from either header, both, or a forged one.
  const std::vector<IpNetwork> proxies = {*ParseNetwork("10.0.0.0/8"), *ParseNetwork("2001:db8::/32")};
  const std::size_t half = in.size() / 2;
  for (const std::string& client : {ForwardedClient("10.1.2.3", in, "", proxies),
                                    ForwardedClient("2001:db8::1", "", in, proxies),
                                    ForwardedClient("10.1.2.3", in.substr(0, half), in.substr(half), proxies)}) {
    if (client.empty() || ClientKey(client).empty()) std::abort();
  }

  const std::string reply = Send(harness->port, in, 30);
  if (!reply.empty() && reply.rfind("HTTP/1.", 0) != 0) std::abort();  // only HTTP comes back
  // Whatever came before, a fair request is still served.
  const std::string fair = "GET /zrk/zrk_rank.exe?read&1 HTTP/1.1\r\nHost: f\r\nConnection: close\r\n\r\n";
  const std::string answer = Send(harness->port, fair, 5000);
  if (answer.rfind("HTTP/1.1 200", 0) != 0) {
    std::fprintf(stderr, "a fair request was answered %zu bytes: %.100s\n", answer.size(), answer.c_str());
    std::abort();
  }
  return 0;
}
