// kv-rankd: the game's ranking server. `kv-rankd --help` lists every option
// with its default. SIGTERM or SIGINT: stop taking connections, answer the
// requests in flight (writes once committed; replay checks running are
// stopped), exit 0; a second one, or the --drain deadline, stops at once
// (exit 1). SIGHUP: reopen the access log (after rotation).
#include <getopt.h>
#include <signal.h>
#include <sys/resource.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

#include "rank_board.h"
#include "rank_pages.h"
#include "rank_http_server.h"
#include "rank_routes.h"
#include "rank_store_pg.h"
#include "replay_verifier.h"
#include "run_videos.h"
#include "rank_service/rank_service.h"

namespace {

struct Options {
  std::string host = "127.0.0.1";
  int port = 8765;
  std::string db = "ranking.db";
  std::string access_log = "-";
  int drain_seconds = 8;
  bool sync_every_commit = true;
  int pool = 4;
  HttpLimits limits;
  // Replays: the verifier's path ("" = kv-verify beside kv-rankd, used when
  // it is there; "none" = replays are not taken).
  std::string verifier;
  VerifierOptions verify;
  // Only verified records are ranked unless --allow-unverified (closed groups).
  bool require_replay = true;
  // Videos of the first places of each mode: how many places (0: none), the
  // renderer ("" = kv-sim beside kv-rankd or installed with the game, used
  // when it is there) and the folder ("" = beside the SQLite file).
  int video_places = 10;
  std::string video_renderer;
  std::string videos_dir;
  // Tests only: this player's records are answered as stored but never stored.
  std::string test_lose_write;
};

// kv-verify beside this program (the build folder), or the one of the installed
// kv-rankd package (PREFIX/lib/kv-rankd beside PREFIX/sbin).
std::string DefaultVerifier() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "kv-verify";
  std::string self(path, static_cast<std::size_t>(n));
  const std::size_t slash = self.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : self.substr(0, slash);
  const std::string beside = dir + "/kv-verify";
  const std::string installed = dir + "/../lib/kv-rankd/kv-verify";  // PREFIX/sbin/kv-rankd
  return access(beside.c_str(), X_OK) != 0 && access(installed.c_str(), X_OK) == 0 ? installed : beside;
}

// kv-sim beside this program (the build folder), or the game's own when the
// game is installed (PREFIX/games/kv-sim beside PREFIX/sbin/kv-rankd).
std::string DefaultRenderer() {
  const std::string verifier = DefaultVerifier();
  const std::string dir = verifier.substr(0, verifier.rfind('/') + 1);
  const std::string beside = dir + "kv-sim";
  for (const std::string& path : {beside, dir + "../../games/kv-sim", dir + "../games/kv-sim"}) {
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return beside;
}

// The folder of the videos beside an SQLite file: ranking.db -> ranking-videos.
std::string VideosBeside(const std::string& db) {
  const std::size_t slash = db.rfind('/');
  const std::size_t dot = db.rfind('.');
  const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) ? db.substr(0, dot) : db;
  return stem + "-videos";
}

void Help(std::FILE* out, const char* self) {
  const Options d;
  std::fprintf(out,
               "usage: %s [options]\n"
               "The ranking server of K.V.\n\n"
               "  --listen HOST:PORT       address to serve on (default %s:%d; [::1]:PORT for IPv6)\n"
               "  --bind HOST              only the host part (default %s)\n"
               "  --port PORT              only the port, 0 picks a free one (default %d)\n"
               "  --db FILE|URL            SQLite database, created when missing, or a PostgreSQL database\n"
               "                           (postgresql://user@host/dbname) shared with other instances\n"
               "                           (default %s)\n"
               "  --pool N                 PostgreSQL connections per instance (default %d)\n"
               "  --sync full|normal       SQLite: every commit waits for the disk (full), or only checkpoints\n"
               "                           do and a commit survives a killed process but maybe not a power\n"
               "                           loss (normal) (default full)\n"
               "  --access-log FILE        one line per request; '-' is stderr, 'none' is off (default %s)\n"
               "  --threads N              event loop threads (default %d)\n"
               "  --max-connections N      open connections in all (default %d)\n"
               "  --per-address N          connections per client address; beyond N its requests get 429,\n"
               "                           beyond twice N it is refused (default %d)\n"
               "  --writes-per-minute R    records a client address may send per minute (default %g)\n"
               "  --write-burst N          records it may send at once before the rate holds (default %g)\n"
               "  --trust-loopback         loopback clients skip the per-address limits (tests, benchmarks)\n"
               "  --trusted-proxy CIDR     connections from this network are our proxies (load balancers):\n"
               "                           the client is the address their Forwarded or X-Forwarded-For\n"
               "                           header names; from anywhere else those headers are ignored\n"
               "                           (repeatable; IPv6 clients count by their /64 everywhere)\n"
               "  --idle-timeout S         a kept-alive connection may wait S seconds for its next request\n"
               "                           (default %d)\n"
               "  --header-timeout MS      a new connection's request, or a request line, to the end of its\n"
               "                           headers, in all (default %d)\n"
               "  --body-timeout MS        end of the headers to the end of the body, in all (default %d)\n"
               "  --reply-timeout MS       reply queued to reply sent, in all (default %d)\n"
               "  --drain S                on SIGTERM, wait up to S seconds for requests in flight, then stop\n"
               "                           at once (default %d)\n"
               "\nReplays (POST/GET /zrk/replay):\n"
               "  --verifier PATH|none     the replay checker (default: kv-verify beside kv-rankd, or in\n"
               "                           ../lib/kv-rankd when installed, when it is there); 'none'\n"
               "                           takes no replays\n"
               "  --allow-unverified       rank records whose replay was not verified too, with '%c' before\n"
               "                           their comment (closed groups); by default only verified records\n"
               "                           are ranked, and a verifier is needed\n"
               "  --require-replay         the default: rank only records whose replay was verified\n"
               "  --verify-jobs N          checks at once (default %d)\n"
               "  --verify-queue N         uploads waiting for a check, from all clients; beyond, 429; each\n"
               "                           client address (IPv6: /64) and each player key holds at most 1\n"
               "                           running and 2 waiting checks (default %d)\n"
               "  --verify-cpu S           CPU seconds of one check beyond %d us a frame the replay claims\n"
               "                           (default %d)\n"
               "  --verify-memory MB       address space of one check (default %lld)\n"
               "  --verify-wall S          wall-clock seconds of one check beyond twice its frames' CPU time,\n"
               "                           then it is killed (default %d)\n"
               "\nVideos of the ranked runs (GET /video/NAME, shown on the pages):\n"
               "  --videos N               the first N places of each mode get a video of their verified\n"
               "                           run, made by kv-sim one at a time at low priority; 0 makes none\n"
               "                           (default %d)\n"
               "  --videos-dir DIR         where they are kept (default: beside the SQLite file, NAME-videos;\n"
               "                           with PostgreSQL, a folder every instance shares; none: no videos)\n"
               "  --video-renderer PATH    kv-sim (default: beside kv-rankd, or the installed game's)\n"
               "  --help                   this text\n"
               "\nTests only:\n"
               "  --test-lose-write NAME   answer NAME's records as stored but store none of them, so a test\n"
               "                           can see its check for lost writes fail\n",
               self, d.host.c_str(), d.port, d.host.c_str(), d.port, d.db.c_str(), d.pool, d.access_log.c_str(),
               d.limits.threads, d.limits.max_connections, d.limits.per_address_connections,
               d.limits.writes_per_minute, d.limits.write_burst, d.limits.idle_seconds, d.limits.header_ms,
               d.limits.body_ms, d.limits.reply_ms, d.drain_seconds, kUnverifiedMark, d.verify.workers,
               d.verify.queue, d.verify.cpu_us_per_frame, d.verify.cpu_seconds, d.verify.memory_mb, d.verify.wall_seconds,
               d.video_places);
}

bool ParseInt(const char* text, long min, long max, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < min || value > max) return false;
  out = static_cast<int>(value);
  return true;
}

bool ParseDouble(const char* text, double min, double max, double& out) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*text == '\0' || *end != '\0' || !(value >= min && value <= max)) return false;
  out = value;
  return true;
}

// --test-lose-write: ahead of the real write route, one that answers `name`'s
// records as if stored (the note and the mode's ranking) without storing them
// and hands every other record to the real route.
void AddLosingWriteRoute(HttpRouter& router, RankBoard& board, const std::string& name) {
  HttpRouter real;
  AddRankingRoutes(real, board);
  HttpRoute lose = *real.Find("POST", kRankPath, "write&1", nullptr);
  lose.handler = [&board, name, write = lose.handler](const HttpRequest& req, Responder reply) {
    const auto q = ParseRankQuery(req.query);
    const auto record = DecodeSendBody(req.body);
    const RankBoard::Body ranking = q ? board.Read(q->mode) : nullptr;
    if (!record || record->name != name || !ranking) return write(req, std::move(reply));
    HttpAnswer a;
    a.body = std::make_shared<const std::string>(std::string(kWriteNote) + *ranking);
    reply(std::move(a));
  };
  router.Add(std::move(lose));
}

// Returns -1 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options& opt) {
  enum {
    kListen = 1000, kBind, kPort, kDb, kLog, kThreads, kMaxConn, kPerAddress, kRate, kBurst, kTrust, kIdle,
    kProxy, kHeader, kBody, kReply, kDrain, kSync, kPool, kVerifier, kRequire, kAllow, kJobs, kQueue, kCpu, kMemory, kWall,
    kLose, kVideos, kVideosDir, kRenderer, kHelp
  };
  static const option longs[] = {
      {"listen", required_argument, nullptr, kListen},
      {"bind", required_argument, nullptr, kBind},
      {"port", required_argument, nullptr, kPort},
      {"db", required_argument, nullptr, kDb},
      {"access-log", required_argument, nullptr, kLog},
      {"threads", required_argument, nullptr, kThreads},
      {"max-connections", required_argument, nullptr, kMaxConn},
      {"per-address", required_argument, nullptr, kPerAddress},
      {"writes-per-minute", required_argument, nullptr, kRate},
      {"write-burst", required_argument, nullptr, kBurst},
      {"trust-loopback", no_argument, nullptr, kTrust},
      {"trusted-proxy", required_argument, nullptr, kProxy},
      {"idle-timeout", required_argument, nullptr, kIdle},
      {"header-timeout", required_argument, nullptr, kHeader},
      {"body-timeout", required_argument, nullptr, kBody},
      {"reply-timeout", required_argument, nullptr, kReply},
      {"drain", required_argument, nullptr, kDrain},
      {"sync", required_argument, nullptr, kSync},
      {"pool", required_argument, nullptr, kPool},
      {"verifier", required_argument, nullptr, kVerifier},
      {"require-replay", no_argument, nullptr, kRequire},
      {"allow-unverified", no_argument, nullptr, kAllow},
      {"verify-jobs", required_argument, nullptr, kJobs},
      {"verify-queue", required_argument, nullptr, kQueue},
      {"verify-cpu", required_argument, nullptr, kCpu},
      {"verify-memory", required_argument, nullptr, kMemory},
      {"verify-wall", required_argument, nullptr, kWall},
      {"test-lose-write", required_argument, nullptr, kLose},
      {"videos", required_argument, nullptr, kVideos},
      {"videos-dir", required_argument, nullptr, kVideosDir},
      {"video-renderer", required_argument, nullptr, kRenderer},
      {"help", no_argument, nullptr, kHelp},
      {nullptr, 0, nullptr, 0},
  };
  auto bad = [&](const char* what) {
    std::fprintf(stderr, "%s: bad value for --%s: %s (see --help)\n", argv[0], what, optarg);
    return 2;
  };
  // The options that take a whole number: the field each sets and the values it may take.
  struct WholeOption {
    int code;
    long min, max;
    int* field;
  };
  const WholeOption wholes[] = {
      {kPort, 0, 65535, &opt.port},
      {kThreads, 1, 64, &opt.limits.threads},
      {kMaxConn, 1, 1000000, &opt.limits.max_connections},
      {kPerAddress, 1, 1000000, &opt.limits.per_address_connections},
      {kIdle, 1, 86400, &opt.limits.idle_seconds},
      {kHeader, 10, 600000, &opt.limits.header_ms},
      {kBody, 10, 600000, &opt.limits.body_ms},
      {kReply, 10, 600000, &opt.limits.reply_ms},
      {kDrain, 0, 3600, &opt.drain_seconds},
      {kPool, 1, 64, &opt.pool},
      {kJobs, 1, 64, &opt.verify.workers},
      {kQueue, 0, 100000, &opt.verify.queue},
      {kCpu, 1, 3600, &opt.verify.cpu_seconds},
      {kWall, 1, 3600, &opt.verify.wall_seconds},
      {kVideos, 0, kMaxRankingLines, &opt.video_places},
  };
  // The options that name a program, a file or a folder (never empty).
  const std::pair<int, std::string*> paths[] = {
      {kVerifier, &opt.verifier},
      {kLose, &opt.test_lose_write},
      {kVideosDir, &opt.videos_dir},
      {kRenderer, &opt.video_renderer},
  };
  int c;
  while ((c = getopt_long(argc, argv, "h", longs, nullptr)) != -1) {
    auto named = [&] {
      return std::find_if(std::begin(longs), std::end(longs), [&](const option& o) { return o.val == c; })->name;
    };
    const auto whole = std::find_if(std::begin(wholes), std::end(wholes), [&](const WholeOption& w) { return w.code == c; });
    if (whole != std::end(wholes)) {
      if (!ParseInt(optarg, whole->min, whole->max, *whole->field)) return bad(named());
      continue;
    }
    const auto path = std::find_if(std::begin(paths), std::end(paths), [&](const auto& p) { return p.first == c; });
    if (path != std::end(paths)) {
      *path->second = optarg;
      if (path->second->empty()) return bad(named());
      continue;
    }
    switch (c) {
      case kListen: {
        const std::string value = optarg;
        const std::size_t colon = value.rfind(':');
        if (colon == std::string::npos || !ParseInt(value.c_str() + colon + 1, 0, 65535, opt.port)) return bad("listen");
        opt.host = value.substr(0, colon);
        break;
      }
      case kBind: opt.host = optarg; break;
      case kDb: opt.db = optarg; break;
      case kLog: opt.access_log = std::string(optarg) == "none" ? "" : optarg; break;
      case kRate:
        if (!ParseDouble(optarg, 0, 1e9, opt.limits.writes_per_minute)) return bad("writes-per-minute");
        break;
      case kBurst:
        if (!ParseDouble(optarg, 1, 1e9, opt.limits.write_burst)) return bad("write-burst");
        break;
      case kTrust: opt.limits.trust_loopback = true; break;
      case kProxy: {
        const auto network = ParseNetwork(optarg);
        if (!network) return bad("trusted-proxy");
        opt.limits.trusted_proxies.push_back(*network);
        break;
      }
      case kSync:
        if (std::string(optarg) != "full" && std::string(optarg) != "normal") return bad("sync");
        opt.sync_every_commit = std::string(optarg) == "full";
        break;
      case kRequire: opt.require_replay = true; break;
      case kAllow: opt.require_replay = false; break;
      case kMemory: {
        int mb = 0;
        if (!ParseInt(optarg, 64, 1 << 20, mb)) return bad("verify-memory");
        opt.verify.memory_mb = mb;
        break;
      }
      case kHelp:
      case 'h': Help(stdout, argv[0]); return 0;
      default: Help(stderr, argv[0]); return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "%s: unexpected argument %s (see --help)\n", argv[0], argv[optind]);
    return 2;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (const int code = ParseOptions(argc, argv, opt); code >= 0) return code;

  // Every thread started from here on inherits a mask without these; this
  // thread waits for them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Idle connections cost a descriptor each: allow as many as we may.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  AccessLog log(opt.access_log);
  std::string error;
  if (!log.Reopen(&error)) {
    std::fprintf(stderr, "kv-rankd: cannot open the access log %s\n", error.c_str());
    return 1;
  }
  const bool shared = IsPostgresUrl(opt.db);
  auto store = shared ? OpenPgRankStore(opt.db, &error, opt.pool) : RankStore::Open(opt.db, &error, opt.sync_every_commit);
  if (!store) {
    std::fprintf(stderr, "kv-rankd: cannot open %s: %s\n", opt.db.c_str(), error.c_str());
    return 1;
  }
  // Replays are checked when a verifier is there to check them.
  std::unique_ptr<ReplayVerifier> verifier;
  if (opt.verifier != "none") {
    const bool chosen = !opt.verifier.empty();
    opt.verify.program = chosen ? opt.verifier : DefaultVerifier();
    verifier = std::make_unique<ReplayVerifier>(opt.verify);
    if (!verifier->Start(&error)) {
      if (chosen || opt.require_replay) {
        std::fprintf(stderr, "kv-rankd: %s\n", error.c_str());
        return 1;
      }
      std::fprintf(stderr, "kv-rankd: no %s: replays are not taken\n", opt.verify.program.c_str());
      verifier.reset();
    }
  }
  if (opt.require_replay && !verifier) {
    std::fprintf(stderr,
                 "kv-rankd: ranking only verified records needs the replay checker (kv-verify); "
                 "--allow-unverified ranks records unchecked\n");
    return 2;
  }
  RankPolicy policy;
  policy.verifying = verifier != nullptr;
  policy.require_replay = opt.require_replay;
  TaskPool fetches;
  fetches.Start(2, 256);
  RankBoard board(*store, std::chrono::milliseconds(20), policy);
  if (!board.Start(&error)) {
    std::fprintf(stderr, "kv-rankd: %s: %s\n", opt.db.c_str(), error.c_str());
    return 1;
  }
  // Other instances' writes reach this one's replies through the store.
  std::unique_ptr<RankChangeListener> listener;
  if (shared) listener = std::make_unique<RankChangeListener>(opt.db, board);
  HttpRouter router;
  if (!opt.test_lose_write.empty()) AddLosingWriteRoute(router, board, opt.test_lose_write);
  AddRankingRoutes(router, board);
  AddReplayRoutes(router, board, *store, verifier.get(), fetches);
  // The pages link the videos there are; the videos outlive no page.
  const RunVideos* shown = nullptr;
  RankPages pages(board, [&shown](int mode, const RankSnapshot::Place& place) {
    const std::string name = shown != nullptr ? shown->VideoOf(mode, place.record) : std::string();
    return name.empty() ? name : "/video/" + name;
  });
  AddPageRoutes(router, pages);
  // Videos of the first places, when there is a renderer and a folder.
  std::unique_ptr<RunVideos> videos;
  if (opt.video_places > 0 && opt.videos_dir != "none" && (!shared || !opt.videos_dir.empty())) {
    VideoOptions v;
    v.places = opt.video_places;
    v.program = opt.video_renderer.empty() ? DefaultRenderer() : opt.video_renderer;
    v.folder = opt.videos_dir.empty() ? VideosBeside(opt.db) : opt.videos_dir;
    videos = std::make_unique<RunVideos>(v, *store, board);
    videos->OnChange([&pages] { pages.VideosChanged(); });
    if (!videos->Start(&error)) {
      if (!opt.video_renderer.empty() || !opt.videos_dir.empty()) {
        std::fprintf(stderr, "kv-rankd: %s\n", error.c_str());
        return 1;
      }
      std::fprintf(stderr, "kv-rankd: %s: no videos\n", error.c_str());
      videos.reset();
    }
  } else if (opt.video_places > 0 && shared && opt.videos_dir.empty()) {
    std::fprintf(stderr, "kv-rankd: no videos: with PostgreSQL they need --videos-dir (a folder the instances share)\n");
  }
  if (videos) {
    shown = videos.get();
    AddVideoRoute(router, videos->folder());
  }
  RankHttpServer server(std::move(router), opt.limits, opt.access_log.empty() ? nullptr : &log);
  const int port = server.Start(opt.host, opt.port, &error);
  if (port < 0) {
    std::fprintf(stderr, "kv-rankd: %s\n", error.c_str());
    return 1;
  }
  std::printf("kv-rankd: listening on %s:%d, database %s, replays %s, videos %s\n", opt.host.c_str(), port,
              shared ? "postgresql" : opt.db.c_str(),
              !verifier ? "not taken" : opt.require_replay ? "required" : "verified",
              videos ? videos->folder().c_str() : "none");
  std::fflush(stdout);

  for (;;) {
    int signal_number = 0;
    sigwait(&signals, &signal_number);
    if (signal_number == SIGHUP) {
      if (!log.Reopen(&error)) std::fprintf(stderr, "kv-rankd: cannot reopen the access log %s\n", error.c_str());
      continue;
    }
    break;
  }
  // The stop. A second SIGTERM (or SIGINT), or requests still open at the
  // deadline, end the process at once: every record acknowledged is
  // committed already, and a commit is all or nothing, so the store stays
  // whole.
  std::atomic<bool> stopped{false};
  std::thread impatient([&] {
    const timespec tick{0, 100 * 1000 * 1000};
    while (!stopped) {
      const int s = sigtimedwait(&signals, nullptr, &tick);
      if (s == SIGTERM || s == SIGINT) {
        std::fprintf(stderr, "kv-rankd: stopped at once\n");
        _exit(1);
      }
    }
  });
  // Checks running are killed and their uploads told to come back later;
  // every other request is answered, parked writes once committed. A video
  // being made is dropped (made again by whoever runs next).
  if (verifier) verifier->StopAll();
  if (videos) videos->Stop();
  if (!server.Drain(std::chrono::seconds(opt.drain_seconds))) {
    std::fprintf(stderr, "kv-rankd: requests still open after %d s; stopped at once\n", opt.drain_seconds);
    _exit(1);
  }
  fetches.Stop();
  if (verifier) verifier->Stop();
  server.Stop();
  listener.reset();
  board.Stop();
  stopped = true;
  impatient.join();
  std::printf("kv-rankd: stopped\n");
  return 0;
}
