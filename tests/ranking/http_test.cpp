// The libcurl client against kv-rankd's server code on loopback, and against
// servers that misbehave.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/http.h"
#include "rank_board.h"
#include "rank_http_server.h"
#include "rank_routes.h"
#include "rank_service/rank_service.h"
#include "rank_service/rank_codec.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Body(const std::string& name, int id, long long score, const std::string& comment) {
  RankRecord r;
  r.name = name;
  r.player_id = id;
  r.score = score;
  r.comment = comment;
  r.month = 11;
  r.day = 2;
  r.play_count = 4;
  return BuildSendBody(BuildRecordText(r).value(), 33).value();
}

// A plain httplib server on an ephemeral loopback port, for the misbehaving
// cases. Handlers that block wait on `release` so the test can end them.
class TestServer {
 public:
  TestServer() = default;
  ~TestServer() { Stop(); }
  int Start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port_;
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      released = true;
    }
    cv.notify_all();
    if (thread_.joinable()) {
      server.stop();
      thread_.join();
    }
  }
  void WaitForRelease() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait_for(lock, std::chrono::seconds(20), [this] { return released; });
  }
  std::string Url(const std::string& path = "/zrk/zrk_rank.exe?read&1") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  httplib::Server server;
  std::mutex mutex;
  std::condition_variable cv;
  bool released = false;

 private:
  int port_ = -1;
  std::thread thread_;
};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace

TEST(RankHttp, TwoPlayersSendAndReadThroughKvRankd) {
  auto store = RankStore::Open(":memory:");
  ASSERT_TRUE(store);
  RankBoard board(*store);
  ASSERT_TRUE(board.Start());
  HttpRouter router;
  AddRankingRoutes(router, board);
  HttpLimits limits;
  limits.trust_loopback = true;
  RankHttpServer server(std::move(router), limits);
  const int port = server.Start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  const std::string host = "127.0.0.1:" + std::to_string(port);
  auto http = MakeCurlHttp(5000);

  HttpReply first = http->Post(RankingUrl(host, true, 1), Body("ほろぐ", 12, 3000, "一番乗り"));
  ASSERT_TRUE(first.ok) << first.error;
  ASSERT_EQ(first.status, 200) << first.body;
  EXPECT_EQ(ParseRankingReply(first.body).filled, 1);

  HttpReply second = http->Post(RankingUrl(host, true, 1), Body("ABC", 42, 5000, "hi #{ there"));
  ASSERT_TRUE(second.ok) << second.error;
  ASSERT_EQ(second.status, 200);
  RankingReply sent = ParseRankingReply(second.body);
  ASSERT_EQ(sent.filled, 2);
  EXPECT_EQ(OwnRankIndex(sent.table, "ABC", 42), 0);

  HttpReply read = http->Get(RankingUrl(host, false, 1));
  ASSERT_TRUE(read.ok);
  ASSERT_EQ(read.status, 200);
  RankingReply reply = ParseRankingReply(read.body);
  ASSERT_EQ(reply.filled, 2);
  EXPECT_EQ(reply.table[0].name, "ABC");
  EXPECT_EQ(reply.table[0].comment, "hi #. there");
  EXPECT_EQ(reply.table[0].date, "11/2");
  EXPECT_EQ(reply.table[1].name, "ほろぐ");
  EXPECT_EQ(reply.table[1].comment, "一番乗り");
  EXPECT_EQ(OwnRankIndex(reply.table, "ほろぐ", 12), 1);
  EXPECT_EQ(FormatRankingLine(1, reply.table[1]), std::string("2    ") + "3000      " + "ほろぐ       " + "4回    " + "11/2 " + "一番乗り");

  // A refused record is an answer, not a transport failure; the game treats
  // any status but 200 as a failed exchange.
  HttpReply refused = http->Post(RankingUrl(host, true, 1), "%41%42");
  ASSERT_TRUE(refused.ok);
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(http->Get(RankingUrl(host, false, 9)).status, 400);
  EXPECT_EQ(store->Count(1), 2);

  // Many clients at once: every record kept.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      auto client = MakeCurlHttp(5000);
      for (int i = 0; i < 10; ++i) {
        HttpReply r = client->Post(RankingUrl(host, true, 2), Body("C" + std::to_string(t * 10 + i), t, i, "x"));
        EXPECT_EQ(r.status, 200);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ParseRankingReply(http->Get(RankingUrl(host, false, 2)).body).filled, 40);
  server.Stop();
}

TEST(RankHttp, RequestCarriesOnlyTheBodyAndAsksForGzip) {
  TestServer ts;
  std::string content_type, user_agent, expect, body, target, accept_encoding;
  ts.server.Post(".*", [&](const httplib::Request& req, httplib::Response& res) {
    content_type = req.get_header_value("Content-Type");
    user_agent = req.get_header_value("User-Agent");
    expect = req.get_header_value("Expect");
    accept_encoding = req.get_header_value("Accept-Encoding");
    body = req.body;
    target = req.target;
    res.set_content("ok", "text/plain");
  });
  ts.Start();
  auto http = MakeCurlHttp(5000);
  const std::string big(3000, 'A');  // larger bodies would otherwise ask "Expect: 100-continue"
  HttpReply r = http->Post(ts.Url("/zrk/zrk_rank.exe?write&3"), big);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, "ok");
  EXPECT_EQ(target, "/zrk/zrk_rank.exe?write&3");
  EXPECT_EQ(body, big);
  EXPECT_EQ(content_type, "application/x-www-form-urlencoded");
  EXPECT_EQ(user_agent, "");
  EXPECT_EQ(expect, "");
  EXPECT_EQ(accept_encoding, "gzip");
}

TEST(RankHttp, ServerThatNeverAnswersIsCutOff) {
  TestServer ts;
  ts.server.Get(".*", [&](const httplib::Request&, httplib::Response& res) {
    ts.WaitForRelease();
    res.set_content("late", "text/plain");
  });
  ts.Start();
  auto http = MakeCurlHttp(300);
  const auto start = Clock::now();
  HttpReply r = http->Get(ts.Url());
  const double took = Seconds(start);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
  EXPECT_TRUE(r.body.empty());
  EXPECT_LT(took, 5.0);
  std::printf("silent server cut off after %.2f s (limit 0.3 s per phase)\n", took);
}

TEST(RankHttp, ServerThatStallsMidReplyIsCutOff) {
  TestServer ts;
  ts.server.Get(".*", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [&](size_t offset, httplib::DataSink& sink) {
      if (offset == 0) {
        sink.write("partial", 7);
        return true;
      }
      ts.WaitForRelease();
      sink.done();
      return true;
    });
  });
  ts.Start();
  auto http = MakeCurlHttp(300);
  const auto start = Clock::now();
  HttpReply r = http->Get(ts.Url());
  EXPECT_FALSE(r.ok);
  EXPECT_LT(Seconds(start), 5.0);
}

TEST(RankHttp, NothingListeningFailsQuickly) {
  TestServer ts;
  const int port = ts.Start();
  ts.Stop();  // the port is free again: connections are refused
  auto http = MakeCurlHttp(2000);
  const auto start = Clock::now();
  HttpReply r = http->Post("http://127.0.0.1:" + std::to_string(port) + "/zrk/zrk_rank.exe?write&1", "%41");
  EXPECT_FALSE(r.ok);
  EXPECT_LT(Seconds(start), 3.0);
  EXPECT_FALSE(MakeCurlHttp(1000)->Get("ftp://127.0.0.1/x").ok);  // only HTTP is spoken
}

TEST(RankHttp, OversizedReplyIsReadOnlyUpToTheCap) {
  TestServer ts;
  ts.server.Get(".*", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(3 * 1024 * 1024, 'z'), "text/plain");
  });
  ts.server.Post(".*", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
    res.set_content("busy", "text/plain");
  });
  ts.Start();
  auto http = MakeCurlHttp(5000, 64 * 1024);
  HttpReply r = http->Get(ts.Url());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(r.truncated);
  EXPECT_EQ(r.body.size(), 64u * 1024);

  HttpReply busy = http->Post(ts.Url(), "%41");
  ASSERT_TRUE(busy.ok);
  EXPECT_EQ(busy.status, 503);
  EXPECT_FALSE(busy.truncated);
}
