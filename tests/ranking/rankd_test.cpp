// kv-rankd as a program, on loopback: what a public server started with its
// defaults does with strangers, and how it stops.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "platform/files.h"
#include "rank_service/player_key.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_service.h"
#include "rank_service/rank_store.h"

namespace {

using namespace std::chrono_literals;

const std::string kGameDir = KV_GAME_DIR;

std::string TempDir() {
  static TempFolder root("kv-rankd-test");
  return root.NewFolder();
}

// A connection to the server from the loopback address `from` (any of
// 127.0.0.0/8 is this machine): to the server, another client address.
int ConnectFrom(const std::string& from, int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in me{};
  me.sin_family = AF_INET;
  inet_pton(AF_INET, from.c_str(), &me.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&me), sizeof me) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  return fd;
}

std::string RecordBody(const std::string& name, int id, int score) {
  RankRecord r;
  r.name = name;
  r.player_id = id;
  r.score = score;
  r.comment = "best";
  r.month = 5;
  r.day = 6;
  r.play_count = 1;
  return BuildSendBody(BuildRecordText(r).value(), 3).value();
}

// A write of the game's form; signed with `key` when there is one.
std::string WriteRequest(int mode, const std::string& body, const PlayerKey* key) {
  const std::string query = "write&" + std::to_string(mode);
  std::string headers;
  if (key != nullptr) {
    for (const auto& [name, value] : SignRequest(*key, "POST", kRankPath, query, body, std::time(nullptr))) {
      headers += name + ": " + value + "\r\n";
    }
  }
  return "POST " + std::string(kRankPath) + "?" + query + " HTTP/1.1\r\nHost: t\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

int Status(const std::string& reply) { return reply.size() > 12 ? std::atoi(reply.c_str() + 9) : 0; }

std::string BodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? "" : reply.substr(end + 4);
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A golden run: its bytes and what kv-verify says it is.
struct Golden {
  std::string bytes, name;
  int id = 0, score = 0;
};
Golden ReadGolden(const std::string& path) {
  Golden g;
  g.bytes = ReadFileText(path);
  const std::string command = kGameDir + "/kv-verify --game-dir " + kGameDir + " " + path;
  FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return g;
  char line[1024] = "";
  if (std::fgets(line, sizeof line, out) == nullptr) line[0] = 0;
  pclose(out);
  // verify: mode=EASY score=N frames=F verdict=verified claimed=N id=N name=%XX..
  const std::string text = line;
  auto field = [&](const std::string& key) {
    const std::size_t at = text.find(" " + key + "=");
    return at == std::string::npos ? std::string() : text.substr(at + key.size() + 2, text.find_first_of(" \n", at + 1) - at - key.size() - 2);
  };
  g.score = std::atoi(field("score").c_str());
  g.id = std::atoi(field("id").c_str());
  g.name = PercentDecodeStrict(field("name")).value_or("");  // ASCII: CP932 and UTF-8 alike
  return g;
}

int Filled(const RankingReply& reply) {
  int n = 0;
  for (const RankEntry& e : reply.table) n += e.name.empty() ? 0 : 1;
  return n;
}

// 500 client addresses each send three made-up records (half of them signed
// with keys of their own) to kv-rankd started with its defaults: each is
// taken and answered, and none of them shows in the ranking, since no replay
// backs them.
TEST(Rankd, FiveHundredAddressesOfMadeUpRecordsShowNone) {
  const std::string dir = TempDir();
  loopback::Rankd daemon;
  ASSERT_TRUE(daemon.Start(kGameDir + "/kv-rankd", {"--db", dir + "/rank.db"}));
  constexpr int kAddresses = 500, kEach = 3, kMode = 3;
  std::atomic<int> taken{0}, refused{0};
  std::vector<std::thread> bots;
  for (int t = 0; t < 4; ++t) {
    bots.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      for (int a = t; a < kAddresses; a += 4) {
        const std::string from = "127.0." + std::to_string(1 + a / 250) + "." + std::to_string(1 + a % 250);
        const int fd = ConnectFrom(from, daemon.port());
        if (fd < 0) {
          refused += kEach;
          continue;
        }
        const auto key = a % 2 == 0 ? NewPlayerKey() : std::nullopt;
        for (int r = 0; r < kEach; ++r) {
          const std::string name = "bot" + std::to_string(a) + "x" + std::to_string(r);
          const std::string request = WriteRequest(
              kMode, RecordBody(name, a % 10000, 1000000 + static_cast<int>(random() % 9000000)), key ? &*key : nullptr);
          std::string reply;
          if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            reply = loopback::ReadReply(fd);
          }
          (Status(reply) == 200 ? taken : refused)++;
        }
        close(fd);
      }
    });
  }
  for (std::thread& b : bots) b.join();
  EXPECT_EQ(taken, kAddresses * kEach);
  EXPECT_EQ(refused, 0);

  const int fd = loopback::Connect(daemon.port());
  ASSERT_GE(fd, 0);
  const std::string read = "GET " + std::string(kRankPath) + "?read&" + std::to_string(kMode) + " HTTP/1.1\r\nHost: t\r\n\r\n";
  ASSERT_EQ(write(fd, read.data(), read.size()), static_cast<ssize_t>(read.size()));
  const std::string reply = loopback::ReadReply(fd);
  close(fd);
  ASSERT_EQ(Status(reply), 200);
  EXPECT_EQ(Filled(ParseRankingReply(BodyOf(reply))), 0);
  daemon.Stop();
  std::filesystem::remove_all(dir);
}

// SIGTERM while eight clients write as fast as they can over kept-alive
// connections and a replay is being checked: kv-rankd stops within 10 s with
// exit status 0, every request it took is answered (the last ones with
// Connection: close), every record it acknowledged is in the store, and the
// check it was running does not outlive it.
TEST(Rankd, SigtermUnderWriteLoadAnswersEverythingAndExitsCleanly) {
  const std::string dir = TempDir();
  const std::string checker = dir + "/slow-check.sh", pid_file = dir + "/check.pid";
  std::ofstream(checker) << "#!/bin/sh\necho $$ > " << pid_file << "\nexec sleep 30\n";
  ASSERT_EQ(chmod(checker.c_str(), 0700), 0);
  loopback::Rankd daemon;
  ASSERT_TRUE(daemon.Start(kGameDir + "/kv-rankd", {"--db", dir + "/rank.db", "--trust-loopback", "--allow-unverified",
                                                    "--verifier", checker}));
  constexpr int kMode = 2;
  auto exchange = [&](int fd, const std::string& request) {
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return std::string();
    return loopback::ReadReply(fd);
  };
  // A real run's record, and its replay in a check that would take 30 s.
  const Golden run = ReadGolden(std::string(KV_SOURCE_DIR) + "/tests/replay/golden/EASY.kvr");
  ASSERT_GT(run.score, 0) << "kv-verify could not read the golden run";
  int fd = loopback::Connect(daemon.port());
  ASSERT_EQ(Status(exchange(fd, WriteRequest(1, RecordBody(run.name, run.id, run.score), nullptr))), 200);
  close(fd);
  std::string upload_reply;
  std::thread upload([&] {
    const int u = loopback::Connect(daemon.port(), 20);
    const std::string query = BuildReplayQuery(1, run.name, run.id, run.score).value();
    upload_reply = exchange(u, "POST /zrk/replay?" + query + " HTTP/1.1\r\nHost: t\r\nContent-Length: " +
                                   std::to_string(run.bytes.size()) + "\r\n\r\n" + run.bytes);
    close(u);
  });
  for (int i = 0; i < 500 && !std::filesystem::exists(pid_file); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(std::filesystem::exists(pid_file));

  struct Writer {
    std::vector<std::pair<std::string, int>> acked;  // name, score
    int sent = 0, unanswered = 0, other = 0;
    bool closed = false;  // the server ended the connection with its answer
  };
  std::vector<Writer> writers(8);
  std::atomic<bool> stopping{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      Writer& w = writers[static_cast<std::size_t>(t)];
      int c = loopback::Connect(daemon.port());
      for (int n = 0; c >= 0 && n < 100000; ++n) {
        const std::string name = "w" + std::to_string(t) + "x" + std::to_string(n);
        const std::string reply = exchange(c, WriteRequest(kMode, RecordBody(name, t, n + 1), nullptr));
        w.sent++;
        if (reply.empty()) {
          w.unanswered++;
          break;
        }
        if (Status(reply) == 200) {
          w.acked.emplace_back(name, n + 1);
        } else {
          w.other++;
        }
        std::string head = reply.substr(0, reply.find("\r\n\r\n"));
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
        if (head.find("connection: close") != std::string::npos) {
          close(c);
          // Until the stop a client may come back; after it, none does.
          c = stopping ? -1 : loopback::Connect(daemon.port());
          w.closed = stopping;
        }
      }
      if (c >= 0) close(c);
    });
  }
  std::this_thread::sleep_for(700ms);
  stopping = true;
  const auto signalled = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(daemon.pid(), SIGTERM), 0);
  const int status = daemon.WaitExit(15000);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
  for (std::thread& t : threads) t.join();
  upload.join();
  ASSERT_NE(status, -1) << "still running after 15 s";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_LT(took, 10.0);

  // Every request answered; the upload told to come back later.
  int acked = 0;
  for (const Writer& w : writers) {
    EXPECT_EQ(w.unanswered, 0);
    EXPECT_EQ(w.other, 0);
    EXPECT_TRUE(w.closed);
    acked += static_cast<int>(w.acked.size());
  }
  EXPECT_GT(acked, 8);
  EXPECT_NE(Status(upload_reply), 0) << upload_reply;
  EXPECT_NE(Status(upload_reply), 200) << upload_reply;
  // The check's process went with the server.
  const int check = std::atoi(ReadFileText(pid_file).c_str());
  ASSERT_GT(check, 0);
  EXPECT_TRUE(kill(check, 0) != 0 && errno == ESRCH) << "the check " << check << " outlived kv-rankd";
  if (kill(check, 0) == 0) kill(check, SIGKILL);

  // Every acknowledged record is in the store.
  auto store = RankStore::Open(dir + "/rank.db");
  ASSERT_TRUE(store);
  int missing = 0;
  for (int t = 0; t < 8; ++t) {
    for (const auto& [name, score] : writers[static_cast<std::size_t>(t)].acked) {
      StoredRecord found;
      if (store->FindRecord({kMode, name, t}, &found) != StoreStatus::ok || found.record.score != score) missing++;
    }
  }
  EXPECT_EQ(missing, 0) << "of " << acked << " acknowledged";
  std::printf("stopped in %.2f s under load: %d records acknowledged, all stored; the upload: %.40s\n", took, acked,
              BodyOf(upload_reply).c_str());
  std::filesystem::remove_all(dir);
}

}  // namespace
