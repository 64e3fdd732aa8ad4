// Replay-verified ranking end to end on loopback: a bot's run recorded by
// kv-sim --record, its record sent to kv-rankd --require-replay the way the
// game sends it, its replay uploaded and checked by kv-verify; then the ways
// a cheat or a broken client would try it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "platform/files.h"
#include "platform/http.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_service.h"
#include "replay/replay_file.h"
#include "shell/replay_play.h"

namespace {

const std::string kGameDir = KV_GAME_DIR;
constexpr int kHell = 7;  // wire number

// A fresh folder; all of them go when the test program ends.
std::string TempDir() {
  static TempFolder root("kv-rank-upload");
  return root.NewFolder();
}
// kv-rankd from the game folder on a free loopback port, trusting loopback.
class Daemon : public loopback::Rankd {
 public:
  bool Start(std::vector<std::string> extra) {
    // No videos of the runs: these checks are of the uploads alone.
    extra.insert(extra.begin(), {"--trust-loopback", "--videos", "0"});
    return Rankd::Start(kGameDir + "/kv-rankd", extra);
  }
};

struct RecordedRun {
  std::string bytes;
  ReplayCheck check;  // what it replays to: score, name, id
};

// The bot's HELL run to its game over, recorded by kv-sim.
RecordedRun RecordRun(const std::string& dir) {
  RecordedRun r;
  const std::string path = dir + "/run.kvr";
  const std::string cmd = kGameDir + "/kv-sim --play HELL --seed 1 --data-dir " + dir + "/data --record " + path +
                          " > /dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  r.bytes = ReadWholeFile(path).value_or("");
  r.check = CheckReplayBytes(kGameDir, r.bytes);
  return r;
}

RankRecord RecordOf(const std::string& name, int id, long long score) {
  RankRecord rec;
  rec.name = name;
  rec.player_id = id;
  rec.score = score;
  rec.comment = "replay";
  rec.month = 12;
  rec.day = 8;
  rec.play_count = 1;
  return rec;
}

HttpReply Upload(Http& http, const std::string& host, int mode, const std::string& name, int id, long long score,
                 const std::string& body) {
  return http.Post(ReplayUrl(host, BuildReplayQuery(mode, name, id, score).value()), body);
}

// A golden run from the source tree and who played it.
struct Golden {
  std::string bytes;
  std::string name;  // as records carry it (CP932)
  int id = 0;
  int score = 0;
};
Golden GoldenRun(const std::string& mode) {
  Golden g;
  g.bytes = ReadWholeFile(std::string(KV_GOLDEN_DIR) + "/" + mode + ".kvr").value_or("");
  ReplayOutline o;
  std::string why;
  EXPECT_TRUE(OutlineReplay(g.bytes, o, &why)) << why;
  g.name = WireName(o.name).value_or("");
  g.id = o.player_id;
  g.score = o.score;
  return g;
}

// The same run claiming another score.
std::string Rescored(const std::string& bytes, int score) {
  Replay r;
  std::string why;
  EXPECT_TRUE(DecodeReplay(bytes, r, &why)) << why;
  r.score = score;
  return EncodeReplay(r);
}

// The entry of the player in the mode's ranking, or nullptr.
const RankEntry* Ranked(const RankExchange& x, const std::string& name, int id) {
  const int at = OwnRankIndex(x.reply.table, name, id);
  return at < 0 ? nullptr : &x.reply.table[static_cast<std::size_t>(at)];
}

TEST(RankUpload, OnlyVerifiedRunsAreRankedAndBadUploadsAreRefused) {
  const std::string dir = TempDir();
  const RecordedRun run = RecordRun(dir);
  ASSERT_EQ(run.check.outcome, ReplayCheckOutcome::kVerified) << run.check.line;
  ASSERT_GT(run.check.score, 0);
  const std::string& name = run.check.name;
  const int id = run.check.player_id;
  const int score = run.check.score;

  Daemon daemon;
  ASSERT_TRUE(daemon.Start({"--db", dir + "/rank.db", "--require-replay", "--verifier", kGameDir + "/kv-verify"}));
  auto http = MakeCurlHttp(30000);
  const std::string& host = daemon.host();

  // The record as the game sends it: kept, but not ranked until its replay is.
  RankExchange sent = SendRecordOver(*http, host, kHell, RecordOf(name, id, score), 7);
  ASSERT_TRUE(sent.ok) << sent.error;
  EXPECT_EQ(Ranked(sent, name, id), nullptr);

  // The replay of that run: verified, stored, ranked.
  HttpReply up = Upload(*http, host, kHell, name, id, score, run.bytes);
  ASSERT_TRUE(up.ok) << up.error;
  EXPECT_EQ(up.status, 200) << up.body;
  // Its reply is the ranking that now holds the record, as a read's.
  EXPECT_EQ(up.body.rfind(kReplayVerifiedNote, 0), 0u) << up.body;
  EXPECT_EQ(OwnRankIndex(ParseRankingReply(up.body).table, name, id), 0);
  RankExchange read = ReadRankingOver(*http, host, kHell);
  ASSERT_TRUE(read.ok);
  const RankEntry* mine = Ranked(read, name, id);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->score, score);
  EXPECT_EQ(mine->comment, "replay");  // no mark when only verified records are shown
  HttpReply fetched = http->Get(ReplayUrl(host, BuildReplayQuery(kHell, name, id, -1).value()));
  ASSERT_TRUE(fetched.ok);
  EXPECT_EQ(fetched.status, 200);
  EXPECT_EQ(fetched.body, run.bytes);

  // A higher score posted by hand, with no replay: kept, never ranked, and
  // nothing to hand out.
  ASSERT_TRUE(SendRecordOver(*http, host, kHell, RecordOf("cheat", 1, 9999999), 3).ok);
  read = ReadRankingOver(*http, host, kHell);
  EXPECT_EQ(Ranked(read, "cheat", 1), nullptr);
  EXPECT_EQ(read.reply.table[0].name, name);
  HttpReply none = http->Get(ReplayUrl(host, BuildReplayQuery(kHell, "cheat", 1, -1).value()));
  EXPECT_EQ(none.status, 404);

  // Uploads that must be refused, each with its reason.
  struct Refused {
    const char* what;
    int mode;
    std::string name;
    int id;
    long long score;
    std::string body;
    int status;
    const char* reason;
  };
  const std::string truncated = run.bytes.substr(0, run.bytes.size() / 2);
  const Golden golden = GoldenRun("EASY");  // no EASY record is sent before
  std::vector<Refused> cases = {
      {"truncated", kHell, name, id, score, truncated, 422, "malformed"},
      {"not a replay", kHell, name, id, score, std::string(3000, 'x'), 422, "malformed"},
      {"too large", kHell, name, id, score, std::string(kMaxReplayUpload + 1, 'x'), 413, "too large"},
      {"another player's name", kHell, "nobody", 5, score, run.bytes, 422, "another player"},
      {"score not the replay's", kHell, name, id, score + 1, run.bytes, 422, "score"},
      {"no record", 1, golden.name, golden.id, golden.score, golden.bytes, 404, "no such record"},
      {"score not the record's", kHell, name, id, score + 1, Rescored(run.bytes, score + 1), 409, "score"},
      {"another player's record", kHell, "cheat", 1, 9999999, run.bytes, 422, "another player"},
  };
  for (const Refused& c : cases) {
    HttpReply r = Upload(*http, host, c.mode, c.name, c.id, c.score, c.body);
    ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.body;
    EXPECT_NE(r.body.find(c.reason), std::string::npos) << c.what << ": " << r.body;
  }
  HttpReply bad_query = http->Post("http://" + host + "/zrk/replay?7&name=%41", run.bytes);
  EXPECT_EQ(bad_query.status, 400);

  // The same run under another mode's record.
  ASSERT_TRUE(SendRecordOver(*http, host, 1, RecordOf(name, id, score), 1).ok);
  HttpReply other_mode = Upload(*http, host, 1, name, id, score, run.bytes);
  EXPECT_EQ(other_mode.status, 422) << other_mode.body;
  EXPECT_NE(other_mode.body.find("another mode"), std::string::npos) << other_mode.body;

  // A replay whose header claims more than the run scores, for a record of
  // that claim: refused; the claim is not ranked, the verified run stays.
  Replay forged;
  std::string why;
  ASSERT_TRUE(DecodeReplay(run.bytes, forged, &why)) << why;
  forged.score += 1000;
  ASSERT_TRUE(SendRecordOver(*http, host, kHell, RecordOf(name, id, forged.score), 5).ok);
  HttpReply claim = Upload(*http, host, kHell, name, id, forged.score, EncodeReplay(forged));
  EXPECT_EQ(claim.status, 422) << claim.body;
  EXPECT_NE(claim.body.find("does not play as recorded"), std::string::npos) << claim.body;
  read = ReadRankingOver(*http, host, kHell);
  ASSERT_TRUE(read.ok);
  ASSERT_NE(Ranked(read, name, id), nullptr);
  EXPECT_EQ(Ranked(read, name, id)->score, score);

  // After all of it the server still answers.
  EXPECT_TRUE(ReadRankingOver(*http, host, kHell).ok);
  std::filesystem::remove_all(dir);
}

// The verifier is a process of its own: one that hangs is killed at the
// wall-clock limit, one that says nothing sensible is not believed, and the
// server answers all along.
TEST(RankUpload, AVerifierThatHangsIsKilledAndOneThatBabblesIsNotBelieved) {
  const std::string dir = TempDir();
  const std::string hang = dir + "/hang.sh", babble = dir + "/babble.sh";
  std::ofstream(hang) << "#!/bin/sh\nsleep 30\n";  // the shell waits on a child of its own
  std::ofstream(babble) << "#!/bin/sh\necho 'verify: mode=HELL score=5 verdict=verified'\nexit 3\n";
  ASSERT_EQ(std::system(("chmod +x " + hang + " " + babble).c_str()), 0);
  struct Case {
    std::string verifier;
    int status;
    const char* reason;
  };
  // A real run, so the file passes the checks made before a verifier starts.
  const Golden run = GoldenRun("HELL");
  for (const Case& c : {Case{hang, 422, "too long"}, Case{babble, 500, "could not be checked"}}) {
    Daemon daemon;
    ASSERT_TRUE(daemon.Start({"--db", dir + "/rank-" + std::to_string(c.status) + ".db", "--verifier", c.verifier,
                              "--verify-wall", "3", "--verify-jobs", "1", "--verify-queue", "0", "--allow-unverified"}));
    auto http = MakeCurlHttp(30000);
    ASSERT_TRUE(SendRecordOver(*http, daemon.host(), kHell, RecordOf(run.name, run.id, run.score), 1).ok);
    const auto start = std::chrono::steady_clock::now();
    HttpReply r, other;
    std::thread first([&] { r = Upload(*http, daemon.host(), kHell, run.name, run.id, run.score, run.bytes); });
    if (c.verifier == hang) {
      // One check at once and none waiting: of two at once, one is refused.
      auto http2 = MakeCurlHttp(30000);
      other = Upload(*http2, daemon.host(), kHell, run.name, run.id, run.score, run.bytes);
    }
    first.join();
    if (c.verifier == hang) {
      if (r.status == 429) std::swap(r, other);
      EXPECT_EQ(other.status, 429) << other.body;
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, c.status) << r.body;
    EXPECT_NE(r.body.find(c.reason), std::string::npos) << r.body;
    EXPECT_LT(took, 10.0);
    RankExchange read = ReadRankingOver(*http, daemon.host(), kHell);
    ASSERT_TRUE(read.ok);
    // Not verified, so marked in the ranking.
    const RankEntry* p = Ranked(read, run.name, run.id);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->comment, "?replay");
  }
  std::filesystem::remove_all(dir);
}

// One POST of a replay from a loopback address of the client's own (all of
// 127/8 is loopback), so the server sees two clients; the reply's status, or
// 0 when there is none.
int UploadFrom(const char* source, int port, const std::string& query, const std::string& body) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source, &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return 0;
  }
  const std::string request = "POST /zrk/replay?" + query + " HTTP/1.1\r\nHost: kv\r\nConnection: close\r\n" +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = write(fd, request.data() + sent, request.size() - sent);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  const std::string reply = loopback::ReadReply(fd);
  close(fd);
  return reply.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(reply.c_str() + 9) : 0;
}

std::string QueryOf(int mode, const Golden& g) { return BuildReplayQuery(mode, g.name, g.id, g.score).value(); }

// kv-verify processes kv-rankd runs now.
int RunningVerifiers(pid_t server) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos || stat.find("(kv-verify)") == std::string::npos) continue;
    // After ") S ": the parent's pid.
    if (std::atoi(stat.c_str() + close_paren + 4) == server) n += 1;
  }
  return n;
}

// One client uploads hostile replays as fast as it can, from four
// connections at once; an honest upload from another client beside it is
// answered within the game's 10 s, and the flood never holds more than one
// verifier, though the server runs three.
TEST(RankUpload, AFloodOfHostileReplaysHoldsOneVerifierAndAnotherClientIsAnsweredInTime) {
  const std::string dir = TempDir();
  const Golden hell = GoldenRun("HELL"), easy = GoldenRun("EASY");
  Daemon daemon;
  ASSERT_TRUE(daemon.Start({"--db", dir + "/rank.db", "--verifier", kGameDir + "/kv-verify", "--verify-jobs", "3"}));
  auto http = MakeCurlHttp(30000);
  ASSERT_TRUE(SendRecordOver(*http, daemon.host(), kHell, RecordOf(hell.name, hell.id, hell.score), 1).ok);
  ASSERT_TRUE(SendRecordOver(*http, daemon.host(), 1, RecordOf(easy.name, easy.id, easy.score), 1).ok);

  // What the flood sends, under the HELL record's name: refused unplayed
  // (random, cut, a zlib bomb, two million frames without a checksum), a
  // made-up long run that fails its first checksum, and the real run.
  Replay real;
  std::string why;
  ASSERT_TRUE(DecodeReplay(hell.bytes, real, &why)) << why;
  Replay bomb = real, unchecked = real, made_up = real;
  bomb.records.assign(3000000, ReplayRecord{});
  unchecked.records.clear();
  unchecked.frames = kReplayMaxFrames;
  made_up.records.clear();
  made_up.frames = 200000;
  for (int32_t f = kReplayCheckEvery; f <= made_up.frames; f += kReplayCheckEvery) {
    ReplayRecord c;
    c.type = ReplayRecord::kCheck;
    c.frame = f;
    made_up.records.push_back(c);
  }
  std::string random(60000, '\0');
  std::mt19937 rng(5);
  for (char& c : random) c = char(rng());
  const std::vector<std::string> hostile = {random, hell.bytes.substr(0, hell.bytes.size() / 2), EncodeReplay(bomb),
                                            EncodeReplay(unchecked), EncodeReplay(made_up), hell.bytes};
  const std::string hostile_query = QueryOf(kHell, hell);

  std::atomic<bool> flooding{true}, honest_in_flight{false};
  std::mutex m;
  std::map<int, int> statuses;
  std::vector<std::thread> flood;
  for (int t = 0; t < 4; ++t) {
    flood.emplace_back([&, t] {
      for (std::size_t i = t; flooding; ++i) {
        const int status = UploadFrom("127.0.0.2", daemon.port(), hostile_query, hostile[i % hostile.size()]);
        std::lock_guard<std::mutex> lock(m);
        statuses[status] += 1;
      }
    });
  }
  int most_alone = 0, most = 0;
  std::thread watch([&] {
    while (flooding) {
      const bool honest = honest_in_flight;
      const int n = RunningVerifiers(daemon.pid());
      most = std::max(most, n);
      if (!honest && !honest_in_flight) most_alone = std::max(most_alone, n);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });

  std::this_thread::sleep_for(std::chrono::seconds(2));
  honest_in_flight = true;
  const auto start = std::chrono::steady_clock::now();
  const int honest = UploadFrom("127.0.0.3", daemon.port(), QueryOf(1, easy), easy.bytes);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  honest_in_flight = false;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  flooding = false;
  for (std::thread& t : flood) t.join();
  watch.join();

  std::string seen;
  for (const auto& [status, count] : statuses) seen += " " + std::to_string(count) + "x" + std::to_string(status);
  std::printf("flood:%s; honest upload answered %d in %.2f s; verifiers at once: %d (flood alone %d)\n", seen.c_str(),
              honest, took, most, most_alone);
  EXPECT_EQ(honest, 200);
  EXPECT_LT(took, 10.0);
  EXPECT_LE(most_alone, 1);
  EXPECT_LE(most, 2);
  // Refused before a verifier, refused for holding its checks, or checked.
  for (const auto& [status, count] : statuses) EXPECT_TRUE(status == 422 || status == 429 || status == 200) << status;
  EXPECT_GT(statuses[422], 0);
  EXPECT_GT(statuses[429], 0);
  daemon.Stop();
  std::filesystem::remove_all(dir);
}

}  // namespace
