// kv-rankd's HTTP front against clients that do not play fair: tricklers,
// floods, too many connections, huge bodies; and the drain, the routes a
// later endpoint plugs in, and the access log.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "loopback.h"
#include "rank_board.h"
#include "rank_http_server.h"
#include "rank_routes.h"
#include "rank_service/player_key.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_service.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int Connect(int port) { return loopback::Connect(port); }

// Sends a request and reads one reply (headers and Content-Length bytes).
std::string Exchange(int fd, const std::string& request) {
  if (!request.empty() && write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return "";
  return loopback::ReadReply(fd);
}

std::string Get(const std::string& query) {
  return "GET /zrk/zrk_rank.exe?" + query + " HTTP/1.1\r\nHost: t\r\n\r\n";
}

std::string Post(const std::string& query, const std::string& body) {
  return "POST /zrk/zrk_rank.exe?" + query + " HTTP/1.1\r\nHost: t\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string RecordBody(const std::string& name, int id, int score) {
  RankRecord r;
  r.name = name;
  r.player_id = id;
  r.score = score;
  r.comment = "c";
  r.month = 5;
  r.day = 6;
  return BuildSendBody(BuildRecordText(r).value(), 3).value();
}

int Status(const std::string& reply) { return reply.size() > 12 ? std::atoi(reply.c_str() + 9) : 0; }

std::string BodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? "" : reply.substr(end + 4);
}

// Whether the server has closed the connection (EOF within `wait`).
bool ClosedWithin(int fd, std::chrono::milliseconds wait) {
  timeval tv{0, static_cast<suseconds_t>(wait.count() * 1000)};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char buf[256];
  const ssize_t n = read(fd, buf, sizeof buf);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

struct Front {
  explicit Front(HttpLimits limits, AccessLog* log = nullptr, std::function<void(HttpRouter&)> extra = {}) {
    store = RankStore::Open(":memory:");
    board = std::make_unique<RankBoard>(*store);
    EXPECT_TRUE(board->Start());
    HttpRouter router;
    AddRankingRoutes(router, *board);
    if (extra) extra(router);
    server = std::make_unique<RankHttpServer>(std::move(router), limits, log);
    port = server->Start("127.0.0.1", 0);
    EXPECT_GT(port, 0);
  }
  ~Front() {
    server->Stop();
    board->Stop();
  }
  std::unique_ptr<RankStore> store;
  std::unique_ptr<RankBoard> board;
  std::unique_ptr<RankHttpServer> server;
  int port = -1;
};

}  // namespace

TEST(RankFront, TricklersAreCutOffWhileOthersAreServed) {
  HttpLimits limits;
  limits.header_ms = 400;
  limits.body_ms = 400;
  Front f(limits);
  const std::string request = Get("read&1");
  // One trickles its request line on a new connection, one its headers, one
  // its body; a byte every 50 ms keeps each from ever being idle.
  const int line = Connect(f.port);
  const int head = Connect(f.port);
  const int body = Connect(f.port);
  ASSERT_EQ(write(head, "GET /zrk/zrk_rank.exe?read&1 HTTP/1.1\r\n", 39), 39);
  const std::string post = "POST /zrk/zrk_rank.exe?write&1 HTTP/1.1\r\nHost: t\r\nContent-Length: 500\r\n\r\n";
  ASSERT_EQ(write(body, post.data(), post.size()), static_cast<ssize_t>(post.size()));
  const auto start = Clock::now();
  bool line_open = true, head_open = true, body_open = true;
  while (Clock::now() - start < 3s && (line_open || head_open || body_open)) {
    for (auto [fd, open] : {std::pair{line, &line_open}, {head, &head_open}, {body, &body_open}}) {
      if (*open && (send(fd, "X", 1, MSG_NOSIGNAL) != 1 || ClosedWithin(fd, 50ms))) *open = false;
    }
  }
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_FALSE(line_open);
  EXPECT_FALSE(head_open);
  EXPECT_FALSE(body_open);
  EXPECT_LT(took, 2.0);
  // Meanwhile a fair client is answered, and a kept-alive one may idle
  // between requests longer than a request may take.
  const int fair = Connect(f.port);
  EXPECT_EQ(Status(Exchange(fair, request)), 200);
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(Status(Exchange(fair, request)), 200);
  for (int fd : {line, head, body, fair}) close(fd);
  EXPECT_GE(f.server->stats().cut_off, 3);
}

TEST(RankFront, OneAddressGetsItsWriteAllowanceAndThen429) {
  HttpLimits limits;
  limits.write_burst = 3;
  limits.writes_per_minute = 0.01;
  Front f(limits);
  const int fd = Connect(f.port);
  int accepted = 0, limited = 0;
  std::string refusal;
  for (int i = 0; i < 10; ++i) {
    const std::string reply = Exchange(fd, Post("write&2", RecordBody("F" + std::to_string(i), i, 100 + i)));
    if (Status(reply) == 200) accepted++;
    if (Status(reply) == 429) {
      limited++;
      refusal = BodyOf(reply);
    }
  }
  EXPECT_EQ(accepted, 3);
  EXPECT_EQ(limited, 7);
  EXPECT_NE(refusal.find("too many records"), std::string::npos);
  // Reads are not limited, and the ranking holds only the allowance.
  const std::string read = Exchange(fd, Get("read&2"));
  ASSERT_EQ(Status(read), 200);
  EXPECT_EQ(ParseRankingReply(BodyOf(read)).filled, 3);
  close(fd);

  // With --trust-loopback the same flood is all kept.
  limits.trust_loopback = true;
  Front trusted(limits);
  const int t = Connect(trusted.port);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Status(Exchange(t, Post("write&2", RecordBody("T", i, 5)))), 200);
  close(t);
}

TEST(RankFront, ConnectionsPerAddressAreCapped) {
  HttpLimits limits;
  limits.per_address_connections = 2;
  Front f(limits);
  // One after the other: the event loops may take connections made at
  // once in any order.
  std::vector<int> fds;
  for (int i = 0; i < 2; ++i) {
    fds.push_back(Connect(f.port));
    EXPECT_EQ(Status(Exchange(fds.back(), Get("read&1"))), 200);
  }
  fds.push_back(Connect(f.port));
  const std::string over = Exchange(fds[2], Get("read&1"));
  EXPECT_EQ(Status(over), 429);
  EXPECT_TRUE(ClosedWithin(fds[2], 1000ms));
  close(fds[2]);
  fds.pop_back();
  // Twice the cap is not even accepted.
  for (int i = 0; i < 2; ++i) fds.push_back(Connect(f.port));
  std::this_thread::sleep_for(100ms);  // counted by the loops that took them
  const int refused = Connect(f.port);
  EXPECT_TRUE(refused < 0 || ClosedWithin(refused, 1000ms));
  if (refused >= 0) close(refused);
  for (int fd : fds) close(fd);
  // Once they are gone the address is welcome again.
  std::this_thread::sleep_for(100ms);
  const int again = Connect(f.port);
  EXPECT_EQ(Status(Exchange(again, Get("read&1"))), 200);
  close(again);
}

TEST(RankFront, GarbageGets400AndHugeBodiesAreNotRead) {
  Front f(HttpLimits{});
  for (const auto& [request, status] : {std::pair{Post("write&1", "%41%42"), 400}, {Get("read&0"), 400},
                                        {Post("read&1", ""), 400}, {Get("write&1"), 400},
                                        {std::string("GET /elsewhere HTTP/1.1\r\nHost: t\r\n\r\n"), 404}}) {
    const int fd = Connect(f.port);
    EXPECT_EQ(Status(Exchange(fd, request)), status) << request;
    close(fd);
  }
  // A body announced far over the limit is refused before it is sent.
  const int big = Connect(f.port);
  const std::string head = "POST /zrk/zrk_rank.exe?write&1 HTTP/1.1\r\nHost: t\r\nContent-Length: 100000000\r\n\r\n";
  const std::string reply = Exchange(big, head);
  EXPECT_EQ(Status(reply), 400);
  EXPECT_NE(BodyOf(reply).find("too large"), std::string::npos);
  close(big);
  // Chunked, with no length to check first.
  const int chunked = Connect(f.port);
  std::string req = "POST /zrk/zrk_rank.exe?write&1 HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 3; ++i) req += "800\r\n" + std::string(0x800, 'A') + "\r\n";
  req += "0\r\n\r\n";
  EXPECT_EQ(Status(Exchange(chunked, req)), 400);
  close(chunked);
  EXPECT_EQ(f.store->Count(1), 0);
}

TEST(RankFront, DrainAnswersRequestsInFlightAndAddedRoutesServe) {
  // A route that answers later from another thread, as a slow store would.
  std::vector<std::thread> late;
  auto extra = [&](HttpRouter& router) {
    HttpRoute slow;
    slow.method = "GET";
    slow.path = "/slow";
    slow.handler = [&](const HttpRequest& req, Responder reply) {
      std::string query(req.query);
      late.emplace_back([reply, query] {
        std::this_thread::sleep_for(300ms);
        reply(TextAnswer(200, "late " + query));
      });
    };
    router.Add(std::move(slow));
  };
  auto f = std::make_unique<Front>(HttpLimits{}, nullptr, extra);
  const int fd = Connect(f->port);
  ASSERT_EQ(write(fd, "GET /slow?x HTTP/1.1\r\nHost: t\r\n\r\n", 33), 33);
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  f->server->Drain(5s);
  EXPECT_LT(Clock::now() - start, 2s);
  const std::string reply = Exchange(fd, "");
  EXPECT_EQ(Status(reply), 200);
  EXPECT_EQ(BodyOf(reply), "late x\r\n");
  close(fd);
  // No new connections after the drain.
  EXPECT_LT(Connect(f->port), 0);
  f.reset();
  for (auto& t : late) t.join();
}

TEST(RankFront, AccessLogHasALinePerRequestAndReopens) {
  const auto dir = std::filesystem::temp_directory_path() / ("kv-front-log-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  const auto path = dir / "access.log";
  {
    AccessLog log(path.string());
    Front f(HttpLimits{}, &log);
    const int fd = Connect(f.port);
    Exchange(fd, Get("read&3"));
    std::this_thread::sleep_for(100ms);  // the line is written once the reply is out
    // Rotated away: the next lines go to a new file once reopened.
    std::filesystem::rename(path, dir / "access.log.1");
    ASSERT_TRUE(log.Reopen());
    Exchange(fd, Post("write&3", "bad"));
    close(fd);
    f.server->Stop();
  }
  auto read_all = [](const std::filesystem::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string first = read_all(dir / "access.log.1");
  const std::string second = read_all(path);
  EXPECT_NE(first.find(" 127.0.0.1 GET /zrk/zrk_rank.exe?read&3 200 0 "), std::string::npos) << first;
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1) << second;
  EXPECT_NE(second.find(" 127.0.0.1 POST /zrk/zrk_rank.exe?write&3 400 "), std::string::npos) << second;
  std::filesystem::remove_all(dir);
}

// The attack of a stranger who copies a ranked player's name and id from the
// public list: signed with another key or not signed at all, and replaying the
// player's own signed request, all get 403 and the record stays.
TEST(RankFront, KeysHoldNamesAndIdsAgainstStrangers) {
  HttpLimits limits;
  limits.trust_loopback = true;
  Front f(limits);
  const PlayerKey alice = NewPlayerKey().value(), mallory = NewPlayerKey().value();
  auto post = [&](const std::string& body, const PlayerKey* key, long long time = std::time(nullptr)) {
    std::string headers;
    if (key != nullptr) {
      for (const auto& [name, value] : SignRequest(*key, "POST", kRankPath, "write&3", body, time)) {
        headers += name + ": " + value + "\r\n";
      }
    }
    return "POST /zrk/zrk_rank.exe?write&3 HTTP/1.1\r\nHost: t\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  auto send = [&](const std::string& request) {
    const int fd = Connect(f.port);
    const std::string reply = Exchange(fd, request);
    close(fd);
    return reply;
  };
  const std::string owned = post(RecordBody("Alice", 1234, 50000), &alice);
  EXPECT_EQ(Status(send(owned)), 200);
  EXPECT_EQ(Status(send(owned)), 403);  // the same signature again
  const std::string taken = send(post(RecordBody("Alice", 1234, 19999999), &mallory));
  EXPECT_EQ(Status(taken), 403);
  EXPECT_NE(BodyOf(taken).find("another player's key"), std::string::npos);
  EXPECT_EQ(Status(send(post(RecordBody("Alice", 1234, 19999999), nullptr))), 403);
  EXPECT_EQ(Status(send(post(RecordBody("Alice", 1234, 60000), &alice, std::time(nullptr) - 301))), 403);
  StoredRecord found;
  ASSERT_EQ(f.store->FindRecord({3, "Alice", 1234}, &found), StoreStatus::ok);
  EXPECT_EQ(found.record.score, 50000);

  // Unsigned (older) games still rank under names nobody's key holds; the
  // name rules hold for everyone.
  EXPECT_EQ(Status(send(post(RecordBody("Bob", 7, 10), nullptr))), 200);
  EXPECT_EQ(Status(send(post(RecordBody("GM", 7, 10), &mallory))), 403);
  EXPECT_EQ(Status(send(post(RecordBody("ＧＭ", 7, 10), nullptr))), 403);
  EXPECT_EQ(Status(send(post(RecordBody("a?b", 7, 10), nullptr))), 400);
  EXPECT_EQ(Status(send(post(RecordBody("はな", 7, 10), nullptr))), 400);
}

// Limits count an IPv6 client by its /64: one subscriber's many addresses
// share one allowance; IPv4 addresses stay themselves.
TEST(RankFront, ClientKeysCountIpv6ByItsSlash64) {
  EXPECT_EQ(ClientKey("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
  EXPECT_EQ(ClientKey("2001:db8:1:2::1"), ClientKey("2001:db8:1:2:ffff:ffff:ffff:ffff"));
  EXPECT_NE(ClientKey("2001:db8:1:2::1"), ClientKey("2001:db8:1:3::1"));
  EXPECT_EQ(ClientKey("::1"), "::/64");
  EXPECT_EQ(ClientKey("203.0.113.9"), "203.0.113.9");
  EXPECT_EQ(ClientKey("::ffff:203.0.113.9"), "203.0.113.9");  // IPv4 over IPv6 is still the one address
  WriteBuckets buckets(6, 2);
  const auto now = std::chrono::steady_clock::now();
  EXPECT_TRUE(buckets.Take(ClientKey("2001:db8::1"), now));
  EXPECT_TRUE(buckets.Take(ClientKey("2001:db8::2"), now));
  EXPECT_FALSE(buckets.Take(ClientKey("2001:db8::3"), now));  // the same /64's allowance is spent
  EXPECT_TRUE(buckets.Take(ClientKey("2001:db8:0:1::3"), now));
}

// Only our own proxies are believed about the client, and only as far as the
// hops they added: what a client writes into the headers itself lies to the
// left of its own address and is never reached.
TEST(RankFront, ForwardedHeadersAreBelievedOnlyFromTrustedProxies) {
  std::vector<IpNetwork> proxies = {ParseNetwork("10.0.0.0/8").value(), ParseNetwork("2001:db8:ff::/48").value()};
  EXPECT_FALSE(ParseNetwork("10.0.0.0/33"));
  EXPECT_FALSE(ParseNetwork("10.0.0/8"));
  EXPECT_FALSE(ParseNetwork("2001:db8::/129"));
  EXPECT_TRUE(InNetworks(proxies, "10.255.1.2"));
  EXPECT_FALSE(InNetworks(proxies, "11.0.0.1"));
  EXPECT_TRUE(InNetworks(proxies, "2001:db8:ff:7::1"));
  EXPECT_FALSE(InNetworks(proxies, "2001:db8:fe::1"));
  EXPECT_TRUE(InNetworks({ParseNetwork("192.0.2.7").value()}, "192.0.2.7"));
  EXPECT_FALSE(InNetworks({ParseNetwork("192.0.2.7").value()}, "192.0.2.8"));

  struct Case {
    const char* peer;
    const char* forwarded;
    const char* forwarded_for;
    const char* client;
  };
  const Case cases[] = {
      {"203.0.113.5", "", "198.51.100.1", "203.0.113.5"},   // a stranger's header is ignored
      {"10.0.0.1", "", "198.51.100.1", "198.51.100.1"},
      {"10.0.0.1", "", "6.6.6.6, 198.51.100.1", "198.51.100.1"},  // the client's own forgery
      {"10.0.0.1", "", "198.51.100.1, 10.0.0.9", "198.51.100.1"},  // past our second proxy
      {"10.0.0.1", "", "198.51.100.1:5555", "198.51.100.1"},
      {"10.0.0.1", "", "[2001:db8:1::7]:443", "2001:db8:1::7"},
      {"10.0.0.1", "", "6.6.6.6, garbage", "10.0.0.1"},       // no address: the proxy itself
      {"10.0.0.1", "", "10.0.0.2", "10.0.0.2"},               // only proxies: the farthest
      {"10.0.0.1", "for=198.51.100.1;proto=http", "", "198.51.100.1"},
      {"10.0.0.1", "for=6.6.6.6, For=\"[2001:db8:1::7]:80\";by=10.0.0.1", "", "2001:db8:1::7"},
      {"10.0.0.1", "for=\"198.51.100.1:80\"", "", "198.51.100.1"},
      {"10.0.0.1", "for=unknown", "", "10.0.0.1"},
      {"10.0.0.1", "for=_hidden, for=198.51.100.1", "", "198.51.100.1"},
      {"10.0.0.1", "proto=https", "", "10.0.0.1"},
      {"10.0.0.1", "for=198.51.100.1", "198.51.100.1", "198.51.100.1"},   // both, agreeing
      {"10.0.0.1", "for=198.51.100.1", "198.51.100.99", "10.0.0.1"},      // both, one forged
      {"2001:db8:ff::1", "", "2001:db8:1:2::3", "2001:db8:1:2::3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ForwardedClient(c.peer, c.forwarded, c.forwarded_for, proxies), c.client)
        << c.peer << " / " << c.forwarded << " / " << c.forwarded_for;
  }

  // Through the server: behind a trusted proxy each client named has its own
  // write allowance; the same header from elsewhere changes nothing.
  HttpLimits limits;
  limits.write_burst = 1;
  limits.writes_per_minute = 0.01;
  limits.trusted_proxies = {ParseNetwork("127.0.0.0/8").value()};
  Front f(limits);
  auto write_as = [&](const std::string& client, int n) {
    const std::string body = RecordBody("P" + std::to_string(n), n, 100);
    const int fd = Connect(f.port);
    const std::string reply = Exchange(fd, "POST /zrk/zrk_rank.exe?write&2 HTTP/1.1\r\nHost: t\r\nX-Forwarded-For: " +
                                               client + "\r\nContent-Length: " + std::to_string(body.size()) +
                                               "\r\n\r\n" + body);
    close(fd);
    return Status(reply);
  };
  EXPECT_EQ(write_as("198.51.100.1", 1), 200);
  EXPECT_EQ(write_as("198.51.100.2", 2), 200);
  EXPECT_EQ(write_as("198.51.100.1", 3), 429);
  EXPECT_EQ(write_as("2001:db8:1:2::1", 4), 200);
  EXPECT_EQ(write_as("2001:db8:1:2::2", 5), 429);  // the same /64
  limits.trusted_proxies = {ParseNetwork("10.0.0.0/8").value()};
  Front direct(limits);
  const std::string body = RecordBody("Q", 1, 100);
  int status[2] = {};
  for (int i = 0; i < 2; ++i) {
    const int fd = Connect(direct.port);
    const std::string reply = Exchange(fd, "POST /zrk/zrk_rank.exe?write&2 HTTP/1.1\r\nHost: t\r\nX-Forwarded-For: 198.51.100." +
                                               std::to_string(i + 1) + "\r\nContent-Length: " +
                                               std::to_string(body.size()) + "\r\n\r\n" + body);
    close(fd);
    status[i] = Status(reply);
  }
  EXPECT_EQ(status[0], 200);
  EXPECT_EQ(status[1], 429);  // one allowance: 127.0.0.1's
}
