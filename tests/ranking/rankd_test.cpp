// kv-rankd as a program, on loopback: what a public server started with its
// defaults does with strangers.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "platform/files.h"
#include "rank_service/player_key.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_service.h"

namespace {

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

}  // namespace
