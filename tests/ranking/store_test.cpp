// The same store tests against SQLite and against a real PostgreSQL that the
// suite starts itself (initdb and pg_ctl in a temporary folder, as nobody
// when run as root), and the PostgreSQL-only cases of several instances
// sharing one database.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "rank_board.h"
#include "rank_store_pg.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_service.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

fs::path PgBin() {
  fs::path best;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    if (fs::exists(e.path() / "bin" / "initdb") && e.path() > best) best = e.path();
  }
  return best.empty() ? best : best / "bin";
}

// A throw-away PostgreSQL cluster for the whole suite.
class PgCluster {
 public:
  bool Start(std::string* why) {
    const fs::path bin = PgBin();
    if (bin.empty()) return *why = "no PostgreSQL server installed", false;
    const std::string as = geteuid() == 0 ? "runuser -u nobody -- " : "";
    // As root the server runs as nobody, who must reach its folder: when it
    // cannot reach $TMPDIR (a private one), the folder goes in /tmp.
    for (const fs::path& base : {fs::temp_directory_path(), fs::path("/tmp")}) {
      std::error_code ec;
      if (!dir_.empty()) fs::remove(dir_, ec);
      dir_ = base / ("kv-pg-" + std::to_string(getpid()) + "-" + std::to_string(std::random_device{}()));
      fs::create_directories(dir_);
      if (geteuid() != 0) break;
      const std::string d = "'" + dir_.string() + "'";
      if (std::system(("chown nobody " + d).c_str()) != 0) return *why = "chown failed", false;
      if (std::system((as + "test -w " + d).c_str()) == 0) break;
    }
    port_ = FreePort();
    const std::string d = dir_.string();
    if (std::system((as + "'" + (bin / "initdb").string() + "' -D '" + d + "/data' -E UTF8 --no-locale -A trust -U kv >'" +
                     d + "/initdb.log' 2>&1").c_str()) != 0) {
      return *why = "initdb failed (see " + d + "/initdb.log)", false;
    }
    started_ = std::system((as + "'" + (bin / "pg_ctl").string() + "' -D '" + d + "/data' -w -l '" + d +
                            "/server.log' -o \"-p " + std::to_string(port_) + " -k '" + d +
                            "' -c listen_addresses=127.0.0.1 -c fsync=off\" start >/dev/null 2>&1").c_str()) == 0;
    if (!started_) *why = "pg_ctl start failed (see " + d + "/server.log)";
    pg_ctl_ = as + "'" + (bin / "pg_ctl").string() + "' -D '" + d + "/data' -m immediate stop >/dev/null 2>&1";
    return started_;
  }
  ~PgCluster() {
    if (started_ && std::system(pg_ctl_.c_str()) != 0) std::fprintf(stderr, "pg_ctl stop failed\n");
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  // A fresh database of its own for each test.
  std::string NewDatabase() {
    const std::string name = "t" + std::to_string(++databases_);
    PGconn* c = PQconnectdb(Url("postgres").c_str());
    PQclear(PQexec(c, ("CREATE DATABASE " + name).c_str()));
    PQfinish(c);
    return Url(name);
  }
  std::string Url(const std::string& db) const {
    return "postgresql://kv@127.0.0.1:" + std::to_string(port_) + "/" + db;
  }

 private:
  fs::path dir_;
  int port_ = 0;
  bool started_ = false;
  int databases_ = 0;
  std::string pg_ctl_;
};

PgCluster* cluster = nullptr;
std::string cluster_failure;

WireRecord Wire(const std::string& name, int id, int score, const std::string& comment = "c") {
  WireRecord w;
  w.name = name;
  w.id = id;
  w.score = score;
  w.comment = comment;
  w.date = "1/2";
  w.play_count = 3;
  return w;
}

std::string Body(const std::string& name, int id, int score) {
  return BuildSendBody(RecordText(Wire(name, id, score)), 5).value();
}

std::vector<std::string> Names(RankStore& store, int mode) {
  ServiceReply r = HandleRankRequest(store, "GET", "/zrk/zrk_rank.exe", "read&" + std::to_string(mode), "");
  RankingReply reply = ParseRankingReply(r.body);
  std::vector<std::string> out;
  for (int i = 0; i < reply.filled; ++i) out.push_back(reply.table[i].name + ":" + std::to_string(reply.table[i].score));
  return out;
}

class RankStoreTest : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() {
    if (cluster == nullptr && cluster_failure.empty()) {
      cluster = new PgCluster;
      if (!cluster->Start(&cluster_failure)) {
        delete cluster;
        cluster = nullptr;
      }
    }
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
  }
  void SetUp() override {
    if (GetParam() == "postgresql") {
      // Only a machine without the server may skip; a failed start fails.
      if (cluster == nullptr && PgBin().empty()) GTEST_SKIP() << cluster_failure;
      ASSERT_NE(cluster, nullptr) << cluster_failure;
      url_ = cluster->NewDatabase();
    } else {
      url_ = (fs::temp_directory_path() / ("kv-store-" + std::to_string(std::random_device{}()) + ".db")).string();
    }
  }
  void TearDown() override {
    if (GetParam() != "postgresql") {
      std::error_code ec;
      for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(url_ + suffix, ec);
    }
  }
  std::unique_ptr<RankStore> Open() {
    std::string error;
    auto s = GetParam() == "postgresql" ? OpenPgRankStore(url_, &error, 3) : RankStore::Open(url_, &error);
    EXPECT_TRUE(s) << error;
    return s;
  }
  text::CodecModules keep_converters_loaded_;
  std::string url_;
};

}  // namespace

TEST_P(RankStoreTest, KeepsEachPlayersBestInOrderAndRefusesGarbage) {
  auto store = Open();
  ASSERT_TRUE(store);
  auto post = [&](const std::string& body) {
    return HandleRankRequest(*store, "POST", "/zrk/zrk_rank.exe", "write&3", body).status;
  };
  EXPECT_EQ(post(Body("A", 1, 500)), 200);
  EXPECT_EQ(post(Body("B", 2, 500)), 200);
  EXPECT_EQ(post(Body("A", 1, 300)), 200);  // accepted, not kept
  EXPECT_EQ(post(Body("C", 3, 700)), 200);
  EXPECT_EQ(post(Body("A", 9, 900)), 200);  // same name, another player
  EXPECT_EQ(post("%41%42"), 400);
  EXPECT_EQ(Names(*store, 3), (std::vector<std::string>{"A:900", "C:700", "A:500", "B:500"}));
  EXPECT_EQ(store->Count(3), 4);
  EXPECT_EQ(store->Count(4), 0);

  // A batch says which records became a best, and the ranking is capped.
  std::vector<Submission> batch;
  for (int i = 0; i < 1005; ++i) batch.push_back({5, Wire("P" + std::to_string(i), i, i), false, {}, SubmitOutcome::not_better});
  batch.push_back({5, Wire("P3", 3, 1), false, {}, SubmitOutcome::not_better});  // worse than its own best in the same batch
  ASSERT_TRUE(store->SubmitBatch(batch));
  EXPECT_TRUE(batch[0].kept);
  EXPECT_FALSE(batch.back().kept);
  auto top = store->TopLines(5, kMaxRankingLines);
  ASSERT_TRUE(top);
  EXPECT_EQ(top->size(), 1000u);
  // Survives reopening.
  store.reset();
  store = Open();
  EXPECT_EQ(store->Count(5), 1005);
}

TEST_P(RankStoreTest, ReplaysAndChecksBelongToThePlayersCurrentBest) {
  auto store = Open();
  ASSERT_TRUE(store);
  const RecordKey key{2, "\x82\xD9\x82\xEB", 7};  // "ほろ" in CP932
  EXPECT_EQ(store->PutReplay(key, "nothing yet"), StoreStatus::not_found);
  ASSERT_TRUE(store->Submit(2, Wire(key.name, 7, 1000)));
  const std::string blob("\x00\x01\xFFreplay\x00", 10);  // binary, zeros included
  EXPECT_EQ(store->PutReplay(key, blob, 999), StoreStatus::stale);
  EXPECT_EQ(store->PutReplay(key, blob, 1000), StoreStatus::ok);
  std::string got;
  ASSERT_EQ(store->GetReplay(key, &got), StoreStatus::ok);
  EXPECT_EQ(got, blob);
  StoredRecord found;
  ASSERT_EQ(store->FindRecord(key, &found), StoreStatus::ok);
  EXPECT_FALSE(found.verified);
  EXPECT_EQ(store->SetVerified(key, true, 1000), StoreStatus::ok);
  ASSERT_EQ(store->FindRecord(key, &found), StoreStatus::ok);
  EXPECT_TRUE(found.verified);
  EXPECT_TRUE(found.has_replay);
  EXPECT_EQ(found.record.score, 1000);

  // A worse run changes nothing; a better one of an unverified best is
  // another run: its replay and check are still to come.
  ASSERT_TRUE(store->Submit(2, Wire(key.name, 7, 10)));
  ASSERT_EQ(store->FindRecord(key, &found), StoreStatus::ok);
  EXPECT_TRUE(found.verified);
  ASSERT_EQ(store->SetVerified(key, false, 1000), StoreStatus::ok);
  ASSERT_TRUE(store->Submit(2, Wire(key.name, 7, 2000)));
  ASSERT_EQ(store->FindRecord(key, &found), StoreStatus::ok);
  EXPECT_FALSE(found.verified);
  EXPECT_FALSE(found.has_replay);
  EXPECT_EQ(store->GetReplay(key, &got), StoreStatus::not_found);
  EXPECT_EQ(store->SetVerified(key, true, 1000), StoreStatus::stale);
  EXPECT_EQ(store->FindRecord({2, key.name, 8}, nullptr), StoreStatus::not_found);
}

// "name:score:comment" for each place of a board's reply.
std::vector<std::string> Shown(const RankBoard::Body& body) {
  RankingReply reply = ParseRankingReply(body ? *body : std::string());
  std::vector<std::string> out;
  for (int i = 0; i < reply.filled; ++i) {
    out.push_back(reply.table[i].name + ":" + std::to_string(reply.table[i].score) + ":" + reply.table[i].comment);
  }
  return out;
}

void WriteAndWait(RankBoard& board, int mode, const WireRecord& w) {
  std::promise<void> done;
  board.Write(mode, w, [&](RankBoard::Body) { done.set_value(); });
  done.get_future().wait();
}

void RefreshAndWait(RankBoard& board, int mode) {
  std::promise<void> done;
  board.Refresh(mode, [&](RankBoard::Body) { done.set_value(); });
  done.get_future().wait();
}

TEST_P(RankStoreTest, VerifiedRankingsMarkOrLeaveOutUnverifiedRecords) {
  auto store = Open();
  ASSERT_TRUE(store);
  RankBoard marking(*store, 20ms, RankPolicy{true, false});
  RankBoard strict(*store, 20ms, RankPolicy{true, true});
  RankBoard plain(*store);
  ASSERT_TRUE(marking.Start() && strict.Start() && plain.Start());
  WriteAndWait(marking, 4, Wire("A", 1, 500, "first"));
  WriteAndWait(strict, 4, Wire("B", 2, 300, ""));
  RefreshAndWait(marking, 4);
  RefreshAndWait(plain, 4);
  EXPECT_EQ(Shown(marking.Read(4)), (std::vector<std::string>{"A:500:?first", "B:300:?"}));
  EXPECT_TRUE(Shown(strict.Read(4)).empty());
  EXPECT_EQ(Shown(plain.Read(4)), (std::vector<std::string>{"A:500:first", "B:300:"}));

  ASSERT_EQ(store->SetVerified({4, "A", 1}, true, 500), StoreStatus::ok);
  RefreshAndWait(marking, 4);
  RefreshAndWait(strict, 4);
  EXPECT_EQ(Shown(marking.Read(4)), (std::vector<std::string>{"A:500:first", "B:300:?"}));
  EXPECT_EQ(Shown(strict.Read(4)), (std::vector<std::string>{"A:500:first"}));

  // A better run of a verified best waits beside it: both rankings keep
  // the verified record. An unverified best is replaced and marked.
  WriteAndWait(strict, 4, Wire("A", 1, 900, "again"));
  WriteAndWait(marking, 4, Wire("B", 2, 400, "x"));
  EXPECT_EQ(Shown(strict.Read(4)), (std::vector<std::string>{"A:500:first"}));
  RefreshAndWait(marking, 4);
  EXPECT_EQ(Shown(marking.Read(4)), (std::vector<std::string>{"A:500:first", "B:400:?x"}));
  // A comment of the full 30 bytes still reads back with its mark.
  const std::string full(30, 'c');
  WriteAndWait(marking, 4, Wire("C", 3, 100, full));
  EXPECT_EQ(Shown(marking.Read(4)).back(), "C:100:?" + full);
  marking.Stop();
  strict.Stop();
  plain.Stop();
}

TEST_P(RankStoreTest, WritersRacingForOnePlayerLeaveOneBest) {
  // Two stores on the same database, as two servers would have.
  auto a = Open();
  auto b = Open();
  ASSERT_TRUE(a && b);
  std::vector<std::thread> writers;
  std::atomic<int> failed{0};
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      RankStore& s = t % 2 ? *a : *b;
      for (int i = 0; i < 50; ++i) {
        std::vector<Submission> batch{{1, Wire("SAME", 1, t * 1000 + i), false, {}, SubmitOutcome::not_better}, {1, Wire("W" + std::to_string(t), t, i), false, {}, SubmitOutcome::not_better}};
        if (!s.SubmitBatch(batch)) failed++;
      }
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(a->Count(1), 5);
  StoredRecord best;
  ASSERT_EQ(b->FindRecord({1, "SAME", 1}, &best), StoreStatus::ok);
  EXPECT_EQ(best.record.score, 3049);
}

TEST_P(RankStoreTest, AVideoIsClaimedByOneServerUntilReleasedOrExpired) {
  // Two stores on the same database, as two servers would have.
  auto a = Open();
  auto b = Open();
  ASSERT_TRUE(a && b);
  const std::string video = "EASY-41-1-500.webm";
  EXPECT_EQ(a->ClaimVideo(video, "a", 60), true);
  EXPECT_EQ(b->ClaimVideo(video, "b", 60), false);  // held
  EXPECT_EQ(a->ClaimVideo(video, "a", 60), true);   // renewed by its holder
  EXPECT_EQ(b->ClaimVideo("HELL-41-1-500.webm", "b", 60), true);  // another video is free
  EXPECT_TRUE(b->ReleaseVideo(video, "b"));  // not b's to give up
  EXPECT_EQ(b->ClaimVideo(video, "b", 60), false);
  // A holder that stops renewing (it died) loses the claim when it runs out.
  EXPECT_EQ(a->ClaimVideo(video, "a", 0), true);
  EXPECT_EQ(b->ClaimVideo(video, "b", 60), true);
  EXPECT_EQ(a->ClaimVideo(video, "a", 60), false);
  EXPECT_TRUE(b->ReleaseVideo(video, "b"));
  EXPECT_EQ(a->ClaimVideo(video, "a", 60), true);
}

INSTANTIATE_TEST_SUITE_P(Stores, RankStoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

TEST_P(RankStoreTest, AnotherInstancesWriteReachesThisOnesReplySoon) {
  if (GetParam() != "postgresql") GTEST_SKIP() << "one SQLite file has one server";
  auto store_a = Open();
  auto store_b = Open();
  ASSERT_TRUE(store_a && store_b);
  RankBoard a(*store_a), b(*store_b);
  ASSERT_TRUE(a.Start() && b.Start());
  RankChangeListener listen_b(url_, b, 1000);
  std::this_thread::sleep_for(300ms);  // listening
  double worst = 0;
  for (int i = 0; i < 5; ++i) {
    std::atomic<bool> done{false};
    const auto start = std::chrono::steady_clock::now();
    a.Write(6, Wire("N" + std::to_string(i), i, 100 + i), [&](RankBoard::Body body) { done = body != nullptr; });
    const std::string want = ReplyLine(Wire("N" + std::to_string(i), i, 100 + i)).value();
    while (b.Read(6)->find(want) == std::string::npos && std::chrono::steady_clock::now() - start < 3s) {
      std::this_thread::sleep_for(2ms);
    }
    const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    worst = std::max(worst, took);
    EXPECT_TRUE(done);
    EXPECT_LT(took, 1100) << "write " << i;
  }
  std::printf("another instance's write seen after at most %.1f ms (bound: 1000 ms poll + 20 ms settle)\n", worst);
  a.Stop();
  b.Stop();
}

// A player's key holds their name and id; a stranger, signed or not, changes
// nothing, and a better run waits beside the verified best until its own
// replay verifies.
TEST_P(RankStoreTest, KeysHoldNamesAndVerifiedRecordsStay) {
  auto store = Open();
  ASSERT_TRUE(store);
  const std::string alice_key(32, 'A'), mallory_key(32, 'M');
  auto submit = [&](int score, const std::string& key, const std::string& comment = "mine") {
    WireRecord w = Wire("Alice", 1234, score);
    w.comment = comment;
    std::vector<Submission> one{{3, w, false, key, SubmitOutcome::not_better}};
    EXPECT_TRUE(store->SubmitBatch(one));
    return one[0].outcome;
  };
  const RecordKey alice{3, "Alice", 1234};
  EXPECT_EQ(submit(50000, alice_key), SubmitOutcome::kept);
  std::string bound;
  ASSERT_EQ(store->FindKey("Alice", 1234, &bound), StoreStatus::ok);
  EXPECT_EQ(bound, alice_key);
  ASSERT_EQ(store->PutReplay(alice, "alice's run", 50000), StoreStatus::ok);
  ASSERT_EQ(store->SetVerified(alice, true, 50000), StoreStatus::ok);

  EXPECT_EQ(submit(19999999, mallory_key, "?I cheat lol"), SubmitOutcome::other_key);
  EXPECT_EQ(submit(19999999, "", "?I cheat lol"), SubmitOutcome::needs_key);
  StoredRecord found;
  ASSERT_EQ(store->FindRecord(alice, &found), StoreStatus::ok);
  EXPECT_EQ(found.record.score, 50000);
  EXPECT_EQ(found.record.comment, "mine");
  EXPECT_TRUE(found.verified);
  std::string replay;
  ASSERT_EQ(store->GetReplay(alice, &replay), StoreStatus::ok);
  EXPECT_EQ(replay, "alice's run");

  // Alice's own better run waits: the verified best, its comment and replay stay.
  EXPECT_EQ(submit(60000, alice_key, "better"), SubmitOutcome::pending);
  EXPECT_EQ(submit(55000, alice_key), SubmitOutcome::not_better);  // below the waiting run
  ASSERT_EQ(store->FindRecord(alice, &found), StoreStatus::ok);
  EXPECT_EQ(found.record.score, 50000);
  EXPECT_TRUE(found.verified);
  WireRecord waiting;
  ASSERT_EQ(store->FindPending(alice, &waiting), StoreStatus::ok);
  EXPECT_EQ(waiting.score, 60000);
  EXPECT_EQ(store->PromotePending(alice, "better run", 59999), StoreStatus::stale);
  ASSERT_EQ(store->FindRecord(alice, &found), StoreStatus::ok);
  EXPECT_EQ(found.record.score, 50000);  // a failed upload leaves the verified best ranked

  ASSERT_EQ(store->PromotePending(alice, "better run", 60000), StoreStatus::ok);
  ASSERT_EQ(store->FindRecord(alice, &found), StoreStatus::ok);
  EXPECT_EQ(found.record.score, 60000);
  EXPECT_EQ(found.record.comment, "better");
  EXPECT_TRUE(found.verified);
  ASSERT_EQ(store->GetReplay(alice, &replay), StoreStatus::ok);
  EXPECT_EQ(replay, "better run");
  EXPECT_EQ(store->FindPending(alice, nullptr), StoreStatus::not_found);

  // Unsigned writes (older games) still rank under names no key holds.
  std::vector<Submission> old{{3, Wire("Bob", 7, 10), false, {}, SubmitOutcome::not_better}};
  ASSERT_TRUE(store->SubmitBatch(old));
  EXPECT_EQ(old[0].outcome, SubmitOutcome::kept);
}
