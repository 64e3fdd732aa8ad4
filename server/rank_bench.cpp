// Benchmark of kv-rankd on loopback. Starts kv-rankd (from the folder of this
// program) on a scratch database and prints, each as the median of the runs:
//   reads of a mode holding 1000 entries at 64 and at 1 connection (wrk),
//   plain, asking for gzip, and conditional on an unchanged ranking (304),
//   with the bytes of a plain and a gzip reply,
//   writes at 8 keep-alive connections, every request a player of its own;
//   afterwards every write answered 200 is looked up in the store by mode,
//   name and id, and must be there with at least its score (also with many
//   rows already stored),
//   a legitimate read's latency while idle and trickling clients are held
//   open, with kv-rankd's resident memory,
//   one address posting as fast as it can without --trust-loopback,
//   replays: the CPU time kv-verify takes for a six-stage run (LIGHT, seed 1,
//   recorded by kv-sim), and a read's latency while 50 uploads of it are
//   checked at once (kv-rankd's default verifier pool and queue).
//   kv-rank-bench --replays runs only the replay figures.
//   kv-rank-bench --lose-write: one write run with kv-rankd dropping one
//   acknowledged write on purpose; passes when exactly that one is reported.
//   kv-rank-bench [--short] [--runs N] [--seconds S] [--rows N] [--idle N] [--tricklers N]
//   kv-rank-bench --postgresql URL [--short]: two instances on one PostgreSQL
//   database instead (scripts/ranking-cluster.sh --check provides one)
// --short is the bounded version CI runs: it checks the outcomes (nothing
// lost, 429 after the bucket) and prints the figures without judging them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "rank_service/rank_codec.h"
#include "rank_store_pg.h"
#include "rank_service/rank_service.h"
#include "replay_verifier.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Settings {
  bool short_run = false;
  int runs = 3;
  int seconds = 5;
  int rows = 1000000;
  int idle = 2000;
  int tricklers = 200;
  std::string postgresql;  // a database URL: the several-instances run instead
  bool replays_only = false;
  bool lose_write = false;  // only the check of the write runs, seen failing
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

long ProcessKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

WireRecord Player(int n, int score) {
  WireRecord w;
  w.name = "P" + std::to_string(n % 100000000);
  w.id = n % 10000;
  w.score = score;
  w.comment = "bench";
  w.date = "12/8";
  w.play_count = 1 + n % 50;
  return w;
}

// Fills modes with records straight into the store, before kv-rankd opens it.
bool Preload(const std::string& db, int mode_first, int mode_last, int per_mode, int offset) {
  auto store = RankStore::Open(db);
  if (!store) return false;
  std::vector<Submission> batch;
  for (int mode = mode_first; mode <= mode_last; ++mode) {
    for (int i = 0; i < per_mode; ++i) {
      batch.push_back({mode, Player(offset + i, (i * 7919) % 19999999), false});
      if (batch.size() == 20000) {
        if (!store->SubmitBatch(batch)) return false;
        batch.clear();
      }
    }
  }
  return batch.empty() || store->SubmitBatch(batch);
}

long long Rows(const std::string& db) {
  auto store = RankStore::Open(db);
  long long n = 0;
  for (int mode = 1; mode <= 7; ++mode) n += store ? store->Count(mode).value_or(0) : 0;
  return n;
}

// A kv-rankd on a free loopback port, over the database `db`.
class Daemon : public loopback::Rankd {
 public:
  bool Start(const fs::path& binary, const std::string& db, std::vector<std::string> extra) {
    // Every record ranked, as a server for a closed group: the figures are of
    // the full lists, with no video being made beside them.
    extra.insert(extra.begin(), {"--db", db, "--allow-unverified", "--videos", "0"});
    return Rankd::Start(binary.string(), extra);
  }
  std::string Url(const std::string& query) const {
    return "http://" + host() + "/zrk/zrk_rank.exe?" + query;
  }
};

struct WrkResult {
  double rps = 0, p50_ms = 0, p99_ms = 0;
  long long requests = 0, non2xx = 0, errors = 0;
  bool ok = false;
};

double Millis(const std::string& value) {
  const double v = std::atof(value.c_str());
  if (value.find("us") != std::string::npos) return v / 1000;
  if (value.find("ms") != std::string::npos) return v;
  if (value.find('s') != std::string::npos) return v * 1000;
  return v;
}

WrkResult Wrk(int connections, int seconds, const std::string& url, const std::string& script = "",
              const std::vector<std::string>& headers = {}) {
  const int threads = std::min(2, connections);
  std::string cmd = "wrk --latency -t" + std::to_string(threads) + " -c" + std::to_string(connections) + " -d" +
                    std::to_string(seconds) + "s";
  if (!script.empty()) cmd += " -s '" + script + "'";
  for (const std::string& h : headers) cmd += " -H '" + h + "'";
  cmd += " '" + url + "' 2>&1";
  WrkResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[512];
  bool in_distribution = false;
  while (std::fgets(buf, sizeof buf, p) != nullptr) {
    std::string line = buf;
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (line.find("Latency Distribution") != std::string::npos) in_distribution = true;
    if (in_distribution && first == "50%") {
      std::string v;
      words >> v;
      r.p50_ms = Millis(v);
    }
    if (in_distribution && first == "99%") {
      std::string v;
      words >> v;
      r.p99_ms = Millis(v);
      in_distribution = false;
    }
    if (first == "Requests/sec:") {
      words >> r.rps;
      r.ok = true;
    }
    if (line.find("requests in") != std::string::npos) r.requests = std::atoll(first.c_str());
    if (line.find("Non-2xx") != std::string::npos) r.non2xx = std::atoll(line.substr(line.find(':') + 1).c_str());
    if (line.find("Socket errors") != std::string::npos) r.errors = 1;
  }
  pclose(p);
  return r;
}

// Writes at `connections` keep-alive connections, each from a writer thread
// of its own. Every request carries a player no other request of the run
// carries (writer t sends players base + t * kWriterPlayers + k, k = 0, 1,
// ...), so every write answered 200 must leave its record in the store.
constexpr int kWriterPlayers = 5000000;

// An acknowledged write: the player, the mode and the score it carried; for
// a lost one, what the store holds (-1: nothing).
struct Acked {
  int mode = 0;
  std::string name;
  int id = 0;
  int score = 0;
  int stored = -1;
};

std::string Describe(const Acked& a) {
  return "mode " + std::to_string(a.mode) + " " + a.name + " id " + std::to_string(a.id) + " score " +
         std::to_string(a.score) +
         (a.stored < 0 ? ", not stored" : ", stored with score " + std::to_string(a.stored));
}

struct WriteLoad {
  double rps = 0, p50_ms = 0, p99_ms = 0;
  long long requests = 0, refused = 0, errors = 0;
  bool ran_out = false;  // a writer sent all its players before the time was up
  std::vector<Acked> acked;
};

WireRecord WriterRecord(int base, int writer, int k) { return Player(base + writer * kWriterPlayers + k, 1000 + k); }
int WriterMode(int writer, int k) { return 1 + (writer + k) % 7; }

WriteLoad Write(int port, int connections, int seconds, int base) {
  struct Out {
    std::vector<double> ms;
    std::vector<Acked> acked;
    long long refused = 0, errors = 0;
    bool ran_out = false;
  };
  std::vector<Out> outs(static_cast<std::size_t>(connections));
  const auto start = Clock::now();
  const auto until = start + std::chrono::seconds(seconds);
  std::vector<std::thread> writers;
  for (int t = 0; t < connections; ++t) {
    writers.emplace_back([&, t] {
      Out& out = outs[static_cast<std::size_t>(t)];
      int fd = -1;
      int k = 0;
      for (; k < kWriterPlayers && Clock::now() < until; ++k) {
        const WireRecord w = WriterRecord(base, t, k);
        const int mode = WriterMode(t, k);
        const std::string body = BuildSendBody(RecordText(w), k % 99).value();
        const std::string req = "POST /zrk/zrk_rank.exe?write&" + std::to_string(mode) +
                                " HTTP/1.1\r\nHost: b\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n\r\n" + body;
        if (fd < 0) fd = loopback::Connect(port, 10);
        const auto t0 = Clock::now();
        const bool sent = fd >= 0 && write(fd, req.data(), req.size()) == static_cast<ssize_t>(req.size());
        const std::string in = sent ? loopback::ReadReply(fd) : std::string();
        const int status = in.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(in.c_str() + 9) : 0;
        if (status == 0) {  // not answered: the record may or may not be stored
          out.errors++;
          if (fd >= 0) close(fd);
          fd = -1;
          continue;
        }
        out.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (status == 200) out.acked.push_back({mode, w.name, w.id, w.score});
        else out.refused++;
      }
      out.ran_out = k == kWriterPlayers;
      if (fd >= 0) close(fd);
    });
  }
  for (std::thread& t : writers) t.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  WriteLoad r;
  std::vector<double> ms;
  for (Out& o : outs) {
    ms.insert(ms.end(), o.ms.begin(), o.ms.end());
    r.acked.insert(r.acked.end(), std::make_move_iterator(o.acked.begin()), std::make_move_iterator(o.acked.end()));
    r.refused += o.refused;
    r.errors += o.errors;
    r.ran_out = r.ran_out || o.ran_out;
  }
  r.requests = static_cast<long long>(ms.size());
  r.rps = static_cast<double>(ms.size()) / took;
  r.p50_ms = Percentile(ms, 0.5);
  r.p99_ms = Percentile(ms, 0.99);
  return r;
}

// The acknowledged writes the store does not hold with at least their score,
// looked up one by one by mode, name and id.
std::vector<Acked> Lost(RankStore* store, const std::vector<Acked>& acked) {
  std::vector<Acked> lost;
  for (const Acked& a : acked) {
    StoredRecord r;
    const StoreStatus st = store ? store->FindRecord({a.mode, a.name, a.id}, &r) : StoreStatus::failed;
    if (st != StoreStatus::ok || r.record.score < a.score) {
      lost.push_back(a);
      lost.back().stored = st == StoreStatus::ok ? r.record.score : -1;
    }
  }
  return lost;
}

void PrintLost(const std::vector<Acked>& lost) {
  for (std::size_t i = 0; i < lost.size() && i < 10; ++i) std::printf("  lost: %s\n", Describe(lost[i]).c_str());
  if (lost.size() > 10) std::printf("  ... and %zu more\n", lost.size() - 10);
}

int Connect(int port, bool blocking) {
  const int fd = socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// One read on a fresh connection; the time to the whole reply, or -1.
double ProbeRead(int port, int mode) {
  const auto start = Clock::now();
  const int fd = Connect(port, true);
  if (fd < 0) return -1;
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const std::string req = "GET /zrk/zrk_rank.exe?read&" + std::to_string(mode) + " HTTP/1.1\r\nHost: b\r\nConnection: close\r\n\r\n";
  if (write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) {
    close(fd);
    return -1;
  }
  char buf[65536];
  std::string head;
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) {
    if (head.size() < 16) head.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  if (n < 0 || head.rfind("HTTP/1.1 200", 0) != 0) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One read of a mode with extra request headers: status, body bytes and the
// ETag it came with.
struct OneRead {
  int status = 0;
  std::size_t bytes = 0;
  std::string etag;
};
OneRead ReadOnce(int port, int mode, const std::string& headers) {
  OneRead r;
  const int fd = Connect(port, true);
  if (fd < 0) return r;
  const std::string req = "GET /zrk/zrk_rank.exe?read&" + std::to_string(mode) + " HTTP/1.1\r\nHost: b\r\n" + headers +
                          "Connection: close\r\n\r\n";
  std::string in;
  if (write(fd, req.data(), req.size()) == static_cast<ssize_t>(req.size())) {
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) in.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  const std::size_t end = in.find("\r\n\r\n");
  if (in.size() < 12 || end == std::string::npos) return r;
  r.status = std::atoi(in.c_str() + 9);
  r.bytes = in.size() - end - 4;
  const std::size_t tag = in.find("\r\nETag: ");
  if (tag != std::string::npos && tag < end) r.etag = in.substr(tag + 8, in.find("\r\n", tag + 8) - tag - 8);
  return r;
}

struct HeldResult {
  double p50 = 0, p99 = 0;
  int failed = 0, probes = 0;
  long rss_kb = 0;
  int idle_open = 0, trickler_drops = 0;
};

// Holds `idle` kept-alive connections (each made one request first) and
// `tricklers` connections sending a request a byte every 0.5 s, while a
// prober reads the 1000-entry mode on fresh connections.
HeldResult HoldAndProbe(const Daemon& d, const Settings& s) {
  HeldResult r;
  std::vector<int> idle;
  const std::string small = "GET /zrk/zrk_rank.exe?read&2 HTTP/1.1\r\nHost: b\r\n\r\n";
  for (int i = 0; i < s.idle; ++i) {
    const int fd = Connect(d.port(), true);
    if (fd < 0) break;
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (write(fd, small.data(), small.size()) < 0) {
      close(fd);
      continue;
    }
    char buf[4096];
    if (read(fd, buf, sizeof buf) <= 0) {
      close(fd);
      continue;
    }
    idle.push_back(fd);
  }
  std::atomic<bool> done{false};
  std::atomic<int> drops{0};
  std::thread trickle([&] {
    const std::string req = "GET /zrk/zrk_rank.exe?read&1 HTTP/1.1\r\nHost: slow.example\r\nX-Pad: " +
                            std::string(200, 'z') + "\r\n\r\n";
    struct T {
      int fd;
      std::size_t at;
    };
    std::vector<T> ts;
    for (int i = 0; i < s.tricklers; ++i) ts.push_back({Connect(d.port(), false), 0});
    while (!done) {
      for (T& t : ts) {
        char c = req[t.at % req.size()];
        if (t.fd < 0 || send(t.fd, &c, 1, MSG_NOSIGNAL) != 1) {
          if (t.fd >= 0 && errno != EAGAIN && errno != ENOTCONN) {
            drops++;
            close(t.fd);
            t.fd = -1;
          }
          if (t.fd < 0) t = {Connect(d.port(), false), 0};
          continue;
        }
        t.at++;
        char sink[256];
        if (recv(t.fd, sink, sizeof sink, MSG_DONTWAIT) == 0) {  // closed by the server
          drops++;
          close(t.fd);
          t = {Connect(d.port(), false), 0};
        }
      }
      for (int i = 0; i < 5 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (T& t : ts) {
      if (t.fd >= 0) close(t.fd);
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<double> times;
  const auto until = Clock::now() + std::chrono::seconds(s.short_run ? 2 : std::max(6, s.seconds));
  while (Clock::now() < until) {
    const double t = ProbeRead(d.port(), 1);
    if (t < 0) {
      r.failed++;
    } else {
      times.push_back(t);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  r.rss_kb = ProcessKb(d.pid(), "VmRSS:");
  done = true;
  trickle.join();
  // How many of the idle ones the server still holds (none answers EOF).
  for (int fd : idle) {
    char c;
    const ssize_t n = recv(fd, &c, 1, MSG_DONTWAIT);
    if (n < 0 && errno == EAGAIN) r.idle_open++;
    close(fd);
  }
  r.probes = static_cast<int>(times.size()) + r.failed;
  r.p50 = Percentile(times, 0.5);
  r.p99 = Percentile(times, 0.99);
  r.trickler_drops = drops;
  return r;
}

// Posts records from one connection as fast as it can, without the loopback
// exemption; returns {accepted, refused with 429, entries in the ranking}.
struct FloodResult {
  int accepted = 0, limited = 0, other = 0, ranked = 0;
};
FloodResult Flood(const Daemon& d, int posts) {
  FloodResult r;
  const int fd = Connect(d.port(), true);
  if (fd < 0) return r;
  timeval tv{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  for (int i = 0; i < posts; ++i) {
    const std::string body = BuildSendBody(RecordText(Player(900000 + i, 500 + i)), 1).value();
    const std::string req = "POST /zrk/zrk_rank.exe?write&4 HTTP/1.1\r\nHost: b\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body;
    if (write(fd, req.data(), req.size()) < 0) break;
    const std::string in = loopback::ReadReply(fd);
    if (in.rfind("HTTP/1.1 200", 0) == 0) r.accepted++;
    else if (in.rfind("HTTP/1.1 429", 0) == 0) r.limited++;
    else r.other++;
  }
  close(fd);
  // The ranking as the game reads it.
  const int rfd = Connect(d.port(), true);
  const std::string req = "GET /zrk/zrk_rank.exe?read&4 HTTP/1.1\r\nHost: b\r\nConnection: close\r\n\r\n";
  std::string in;
  if (rfd >= 0 && write(rfd, req.data(), req.size()) > 0) {
    char buf[65536];
    ssize_t n;
    while ((n = read(rfd, buf, sizeof buf)) > 0) in.append(buf, static_cast<std::size_t>(n));
  }
  if (rfd >= 0) close(rfd);
  const std::size_t end = in.find("\r\n\r\n");
  if (end != std::string::npos) r.ranked = ParseRankingReply(std::string_view(in).substr(end + 4)).filled;
  return r;
}

// One POST of `body` to `target` on a fresh connection, waiting up to
// `wait_s` for the answer; the HTTP status, or 0 when it failed.
int PostOnce(int port, const std::string& target, const std::string& body, int wait_s) {
  const int fd = Connect(port, true);
  if (fd < 0) return 0;
  timeval tv{wait_s, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const std::string req = "POST " + target + " HTTP/1.1\r\nHost: b\r\nConnection: close\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body;
  std::size_t sent = 0;
  while (sent < req.size()) {
    const ssize_t n = write(fd, req.data() + sent, req.size() - sent);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  std::string in;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) {
    if (in.size() < 16) in.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return in.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(in.c_str() + 9) : 0;
}

// One record sent with the game's write request.
int WriteOnce(int port, int mode, const std::string& body) {
  return PostOnce(port, "/zrk/zrk_rank.exe?write&" + std::to_string(mode), body, 10);
}

// Several kv-rankd on one PostgreSQL database: reads spread over them,
// writers spread over them (players sending ever better scores), one
// instance killed with SIGKILL halfway; afterwards every acknowledged record
// must be there, once per player and mode.
int Cluster(const fs::path& binary, const std::string& url, const Settings& s) {
  bool ok = true;
  std::vector<std::unique_ptr<Daemon>> ds;
  for (int i = 0; i < 2; ++i) {
    ds.push_back(std::make_unique<Daemon>());
    if (!ds.back()->Start(binary, url, {"--trust-loopback"})) return 1;
  }
  std::printf("kv-rank-bench: 2 instances on PostgreSQL, load average %s\n", LoadAverage().c_str());
  {
    auto store = OpenPgRankStore(url);
    std::vector<Submission> batch;
    for (int i = 0; i < 1000; ++i) batch.push_back({1, Player(i, i * 3), false});
    if (!store || !store->SubmitBatch(batch)) return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // both rebuilt mode 1
  std::vector<double> rps, p99;
  for (int run = 0; run < s.runs; ++run) {
    WrkResult w[2];
    std::thread other([&] { w[1] = Wrk(32, s.seconds, ds[1]->Url("read&1")); });
    w[0] = Wrk(32, s.seconds, ds[0]->Url("read&1"));
    other.join();
    rps.push_back(w[0].rps + w[1].rps);
    p99.push_back(std::max(w[0].p99_ms, w[1].p99_ms));
  }
  std::printf("reads, 1000 entries, 64 connections over 2 instances: %.0f requests/s, p99 %.2f ms\n", Median(rps),
              Median(p99));

  // Writers: 8 at once, alternating instances; each player improves.
  const int seconds = s.short_run ? 3 : 20;
  std::mutex mutex;
  std::map<std::tuple<int, std::string, int>, int> acked;
  std::atomic<long long> writes{0}, failures{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  const auto start = Clock::now();
  for (int w = 0; w < 8; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; !stop; ++i) {
        const int mode = 2 + (i % 6);
        const WireRecord rec = Player(w * 1000 + i % 50, 100 + i);  // 50 players per writer, scores rising
        const int port = ds[static_cast<std::size_t>((w + i) % 2)]->port();
        const int status = WriteOnce(port, mode, BuildSendBody(RecordText(rec), 1).value());
        if (status == 200) {
          writes++;
          std::lock_guard<std::mutex> lock(mutex);
          int& best = acked[{mode, rec.name, rec.id}];
          best = std::max(best, rec.score);
        } else {
          failures++;
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds) / 2);
  kill(ds[0]->pid(), SIGKILL);  // mid-load; its writers' requests fail from now on
  const long long before_kill = writes;
  std::this_thread::sleep_for(std::chrono::seconds(seconds) / 2);
  stop = true;
  for (auto& t : writers) t.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("writes, 8 writers over 2 instances for %.0f s (one killed with SIGKILL after %d s, %lld acknowledged "
              "by then): %.0f acknowledged/s, %lld failed requests\n",
              took, seconds / 2, before_kill, static_cast<double>(writes) / took, failures.load());
  std::vector<Acked> best;
  for (const auto& [key, score] : acked) best.push_back({std::get<0>(key), std::get<1>(key), std::get<2>(key), score});
  auto store = OpenPgRankStore(url);
  const std::vector<Acked> lost_records = Lost(store.get(), best);
  long long lost = 0, worse = 0;
  for (const Acked& a : lost_records) (a.stored < 0 ? lost : worse)++;
  PrintLost(lost_records);
  long long rows = 0;
  for (int mode = 2; mode <= 7; ++mode) rows += store ? store->Count(mode).value_or(-1) : -1;
  std::printf("acknowledged players/modes %zu, rows %lld, missing %lld, below their acknowledged best %lld\n",
              acked.size(), rows, lost, worse);
  // The primary key holds one row per player and mode; rows beyond the
  // acknowledged ones are writes committed as the killed instance died.
  if (lost || worse || rows < static_cast<long long>(acked.size())) ok = false;
  ds[1]->Stop();
  std::printf("%s\n", ok ? "kv-rank-bench: all outcomes as expected" : "kv-rank-bench: FAILED (see above)");
  return ok ? 0 : 1;
}

// One upload of a replay on a fresh connection (a check may take minutes).
int UploadOnce(int port, const std::string& query, const std::string& replay) {
  return PostOnce(port, "/zrk/replay?" + query, replay, 300);
}

// Replays: what a check costs and what a flood of uploads does to reads.
bool ReplayFigures(const fs::path& self, const fs::path& dir, const Settings& s) {
  bool ok = true;
  // A six-stage run (LIGHT, seed 1, played by the bot) or, for the short
  // run, the HELL bot's short game.
  const char* mode = s.short_run ? "HELL" : "LIGHT";
  const fs::path replay_path = dir / "run.kvr";
  const std::string record = (self / "kv-sim").string() + " --play " + mode + " --seed 1 --data-dir " +
                             (dir / "sim").string() + " --record " + replay_path.string() + " > /dev/null";
  if (std::system(record.c_str()) != 0) {
    std::printf("replays: kv-sim could not record the run\n");
    return false;
  }
  std::ifstream in(replay_path, std::ios::binary);
  const std::string replay((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  VerifierOptions vo;
  vo.program = (self / "kv-verify").string();
  ReplayVerifier verifier(vo);
  std::vector<double> cpu;
  VerifyResult v;
  for (int run = 0; run < s.runs; ++run) {
    v = verifier.Check(replay);
    if (v.verdict != VerifyResult::Verdict::verified) {
      std::printf("replays: the recorded run does not verify (%s)\n", v.why.c_str());
      return false;
    }
    cpu.push_back(v.cpu_seconds);
  }
  std::printf("replays: verifying a %s run (%s, %d frames, %.0f KB, score %d): CPU %.2f s (median of %d)\n",
              s.short_run ? "short" : "six-stage", mode, v.frames, static_cast<double>(replay.size()) / 1024.0,
              v.score, Median(cpu), s.runs);

  // The run's record, then uploads of its replay all at once while a reader
  // reads a mode of 1000 entries.
  const std::string db = (dir / "replays.db").string();
  if (!Preload(db, 1, 1, 1000, 0)) return false;
  Daemon d;
  if (!d.Start(self / "kv-rankd", db, {"--trust-loopback", "--verifier", vo.program})) return false;
  WireRecord w = Player(1, v.score);
  w.name = v.name;
  w.id = v.id;
  if (WriteOnce(d.port(), v.mode, BuildSendBody(RecordText(w), 1).value()) != 200) {
    std::printf("replays: the run's record was not taken\n");
    return false;
  }
  const std::string query = std::to_string(v.mode) + "&name=" + PercentEncodeAll(v.name) + "&id=" +
                            std::to_string(v.id) + "&score=" + std::to_string(v.score);
  const int uploads = s.short_run ? 10 : 50;
  std::atomic<int> running{uploads};
  std::mutex m;
  std::map<int, int> statuses;
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int i = 0; i < uploads; ++i) {
    threads.emplace_back([&] {
      const int status = UploadOnce(d.port(), query, replay);
      std::lock_guard<std::mutex> lock(m);
      statuses[status]++;
      running--;
    });
  }
  std::vector<double> times;
  int failed = 0;
  while (running > 0) {
    const double t = ProbeRead(d.port(), 1);
    if (t < 0) failed++;
    else times.push_back(t);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (std::thread& t : threads) t.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  d.Stop();
  std::string outcome;
  for (const auto& [status, count] : statuses) {
    outcome += (outcome.empty() ? "" : ", ") + std::to_string(count) + " x " + std::to_string(status);
  }
  std::printf("replays: read while %d uploads from one client are checked (1 at once, 2 waiting): p50 %.2f ms  p99 %.2f ms over %zu "
              "reads, %d failed (goal p99 < 100 ms); uploads answered in %.1f s: %s\n",
              uploads, Percentile(times, 0.5), Percentile(times, 0.99), times.size(), failed, took, outcome.c_str());
  // Each upload is verified or, beyond the queue, refused with 429; nothing else.
  if (failed > 0 || statuses[200] == 0) ok = false;
  for (const auto& [status, count] : statuses) {
    if (status != 200 && status != 429) ok = false;
  }
  return ok;
}

// The check of the write runs, seen failing: kv-rankd is told to answer one
// player's write without storing it (--test-lose-write), and the run must
// report exactly that record lost.
bool LoseOneWrite(const fs::path& binary, const fs::path& dir, const Settings& s) {
  const WireRecord dropped = WriterRecord(20000000, 0, 1);  // the first writer's second request
  const std::string db = (dir / "lose.db").string();
  Daemon d;
  if (!d.Start(binary, db, {"--trust-loopback", "--test-lose-write", dropped.name})) return false;
  WriteLoad w = Write(d.port(), 8, s.seconds, 20000000);
  d.Stop();
  auto store = RankStore::Open(db);
  const std::vector<Acked> lost = Lost(store.get(), w.acked);
  PrintLost(lost);
  std::printf("writes with kv-rankd dropping %s's: acknowledged %zu, lost %zu\n", dropped.name.c_str(), w.acked.size(),
              lost.size());
  const bool caught = lost.size() == 1 && lost[0].name == dropped.name && lost[0].id == dropped.id &&
                      lost[0].mode == WriterMode(0, 1) && lost[0].score == dropped.score && lost[0].stored < 0;
  std::printf("%s\n", caught ? "the dropped write is reported lost, and nothing else"
                             : "the check did not report exactly the dropped write");
  return caught && w.errors == 0 && w.refused == 0;
}

// The figures of one kv-rankd on SQLite; false when an outcome is wrong.
bool Bench(const fs::path& self, const fs::path& binary, const fs::path& dir, const Settings& s) {
  bool ok = true;
  std::printf("kv-rank-bench: %d run(s) each, %d s per run, load average %s, %u cores\n", s.runs, s.seconds,
              LoadAverage().c_str(), std::thread::hardware_concurrency());
  if (s.replays_only) return ReplayFigures(self, dir, s);

  // Reads.
  {
    const std::string db = (dir / "reads.db").string();
    if (!Preload(db, 1, 1, 1000, 0)) return false;
    Daemon d;
    if (!d.Start(binary, db, {"--trust-loopback"})) return false;
    // Today's plain reads, the gzip copy, and a client that holds the
    // ranking already (304), run after one another in each round.
    const OneRead plain = ReadOnce(d.port(), 1, "");
    const OneRead packed = ReadOnce(d.port(), 1, "Accept-Encoding: gzip\r\n");
    const OneRead same = ReadOnce(d.port(), 1, "If-None-Match: " + plain.etag + "\r\n");
    std::printf("read reply, mode of 1000 entries: %zu bytes plain, %zu bytes gzip (%.1f %%); "
                "If-None-Match of the same: status %d, %zu bytes\n",
                plain.bytes, packed.bytes, plain.bytes ? 100.0 * double(packed.bytes) / double(plain.bytes) : 0.0,
                same.status, same.bytes);
    if (plain.status != 200 || packed.status != 200 || packed.bytes * 10 > plain.bytes || same.status != 304) ok = false;
    struct Kind {
      const char* name;
      std::vector<std::string> headers;
    };
    const Kind kinds[] = {{"plain", {}},
                          {"gzip ", {"Accept-Encoding: gzip"}},
                          {"304  ", {"If-None-Match: " + plain.etag}}};
    for (int conns : {64, 1}) {
      std::vector<double> rps[3], p50[3], p99[3];
      long long non2xx = 0;
      for (int run = 0; run < s.runs; ++run) {
        for (int k = 0; k < 3; ++k) {
          WrkResult w = Wrk(conns, s.seconds, d.Url("read&1"), "", kinds[k].headers);
          if (!w.ok) ok = false;
          rps[k].push_back(w.rps);
          p50[k].push_back(w.p50_ms);
          p99[k].push_back(w.p99_ms);
          non2xx += w.non2xx;
        }
      }
      for (int k = 0; k < 3; ++k) {
        std::printf("reads %s, mode of 1000 entries, %2d connection(s): %8.0f requests/s  p50 %.2f ms  p99 %.2f ms%s\n",
                    kinds[k].name, conns, Median(rps[k]), Median(p50[k]), Median(p99[k]),
                    non2xx ? "  (NON-200 ANSWERS)" : "");
      }
      if (non2xx) ok = false;
    }
    const HeldResult h = HoldAndProbe(d, s);
    std::printf("read while %d idle (%d still held) and %d trickling connections (%d cut off): p50 %.2f ms  "
                "p99 %.2f ms over %d reads, %d failed; kv-rankd RSS %.1f MB\n",
                s.idle, h.idle_open, s.tricklers, h.trickler_drops, h.p50, h.p99, h.probes, h.failed,
                static_cast<double>(h.rss_kb) / 1024.0);
    if (h.failed > 0 || h.probes == 0) ok = false;
    d.Stop();
  }

  // Writes, on an empty store and on one holding many rows, with each
  // commit waiting for the disk and without.
  const std::string many = (dir / "many.db").string();
  if (s.rows > 0 && !Preload(many, 2, 7, s.rows / 6, 10000000)) return false;
  for (int preload : {0, s.rows}) {
    for (const char* sync : {"full", "normal"}) {
      std::vector<double> rps, p50, p99;
      long long lost = 0, acked = 0, rows_total = 0;
      for (int run = 0; run < s.runs; ++run) {
        const std::string db = (dir / ("writes-" + std::to_string(run) + ".db")).string();
        if (preload > 0) fs::copy_file(many, db, fs::copy_options::overwrite_existing);
        const long long before = Rows(db);
        Daemon d;
        if (!d.Start(binary, db, {"--trust-loopback", "--sync", sync})) return false;
        WriteLoad w = Write(d.port(), 8, s.seconds, 20000000);
        d.Stop();
        const long long stored = Rows(db) - before;
        auto store = RankStore::Open(db);
        const std::vector<Acked> lost_records = Lost(store.get(), w.acked);
        store.reset();
        PrintLost(lost_records);
        acked += static_cast<long long>(w.acked.size());
        rows_total += stored;
        lost += static_cast<long long>(lost_records.size());
        if (w.errors || w.refused || w.acked.empty()) ok = false;
        if (w.errors || w.refused) std::printf("(%lld writes refused, %lld not answered)\n", w.refused, w.errors);
        if (w.ran_out) std::printf("(a writer sent all of its %d players)\n", kWriterPlayers);
        rps.push_back(w.rps);
        p50.push_back(w.p50_ms);
        p99.push_back(w.p99_ms);
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db + suffix, ec);
      }
      std::printf("writes, 8 connections, --sync %-6s, %7lld rows stored before: %6.0f requests/s  p50 %.2f ms  "
                  "p99 %.2f ms; acknowledged %lld, new rows %lld, lost %lld\n",
                  sync, preload > 0 ? Rows(many) : 0LL, Median(rps), Median(p50), Median(p99), acked, rows_total, lost);
      if (lost > 0) ok = false;
    }
  }

  // One address flooding writes, limits on (the defaults).
  {
    const std::string db = (dir / "flood.db").string();
    Daemon d;
    if (!d.Start(binary, db, {})) return false;
    const FloodResult f = Flood(d, s.short_run ? 20 : 100);
    std::printf("one address posting as fast as it can: %d accepted, %d refused with 429, %d other; ranking holds %d\n",
                f.accepted, f.limited, f.other, f.ranked);
    if (f.limited == 0 || f.other != 0 || f.ranked != f.accepted) ok = false;
    d.Stop();
  }

  if (!ReplayFigures(self, dir, s)) ok = false;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  text::CodecModules codec_modules;
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
    if (a == "--short") {
      s.short_run = true;
      s.runs = 1;
      s.seconds = 1;
      s.rows = 20000;
      s.idle = 200;
      s.tricklers = 20;
    } else if (a == "--runs") s.runs = std::clamp(next(), 1, 9);
    else if (a == "--seconds") s.seconds = std::clamp(next(), 1, 60);
    else if (a == "--rows") s.rows = std::clamp(next(), 0, 5000000);
    else if (a == "--idle") s.idle = std::clamp(next(), 0, 20000);
    else if (a == "--tricklers") s.tricklers = std::clamp(next(), 0, 5000);
    else if (a == "--postgresql" && i + 1 < argc) s.postgresql = argv[++i];
    else if (a == "--replays") s.replays_only = true;
    else if (a == "--lose-write") s.lose_write = true;
    else {
      std::fprintf(stderr, "usage: %s [--short] [--runs N] [--seconds S] [--rows N] [--idle N] [--tricklers N] [--postgresql URL] [--replays] [--lose-write]\n", argv[0]);
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  const fs::path self = fs::canonical("/proc/self/exe").parent_path();
  const fs::path binary = self / "kv-rankd";
  if (system("wrk --version >/dev/null 2>&1; test $? -le 1") != 0) {
    std::fprintf(stderr, "wrk is not installed (scripts/install-deps.sh installs it)\n");
    return 1;
  }
  if (!s.postgresql.empty()) return Cluster(binary, s.postgresql, s);
  // Everything the runs make goes in one folder, removed however they end.
  std::string templ = (fs::temp_directory_path() / "kv-rank-bench.XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) {
    std::fprintf(stderr, "kv-rank-bench: cannot create a folder in %s\n", fs::temp_directory_path().c_str());
    return 1;
  }
  const fs::path dir = templ;
  const bool ok = s.lose_write ? LoseOneWrite(binary, dir, s) : Bench(self, binary, dir, s);
  std::error_code ec;
  fs::remove_all(dir, ec);
  std::printf("%s\n", ok ? "kv-rank-bench: all outcomes as expected" : "kv-rank-bench: FAILED (see above)");
  return ok ? 0 : 1;
}
