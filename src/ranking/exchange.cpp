#include "ranking/exchange.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "effects/log.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/http.h"
#include "rank_service/local_rank_http.h"
#include "rank_service/player_key.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_service.h"
#include "ranking/key_file.h"
#include "state/game.h"

// One exchange. The main thread fills the first part before the worker
// starts; the worker writes only the outcome, under the mutex. Both hold the
// job, so whichever lets go last frees it (the game may close mid-exchange).
struct RankJob {
  enum Kind { kRead, kWrite, kUpload, kFetch };
  Kind kind = kRead;
  bool write = false;
  int mode_number = 0;
  RankContinuation then = nullptr;
  std::string host;
  RankRecord record;
  int random = 0;
  std::string replay_query;          // upload and fetch
  std::string replay_path;           // upload: the file, read by the worker
  std::string store_path;            // the local ranking: opened by the worker if not open yet
  std::shared_ptr<RankStore> store;  // declared before http: the local client refers to it
  std::shared_ptr<Http> http;        // null for the local ranking until the store is open
  std::string setup_error;           // no request can be made (e.g. a bad server.txt)
  double deadline = 0;               // days on the game's clock: the game stops waiting then (0: never)
  bool shares_store = false;         // store is the game's open local ranking
  std::shared_ptr<const PlayerKey> key;  // signs writes and uploads (none: unsigned)

  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  RankExchange outcome;
  long status = 0;     // upload and fetch: the reply's status (0 when none came)
  std::string body;    // and its body
};

namespace {

constexpr const char* kServerFile = "server.txt";
constexpr const char* kLocalRankingFile = "ranking.db";
constexpr double kMsPerDay = 24.0 * 3600.0 * 1000.0;

// The request itself, on the worker thread: touches nothing but the job.
void RunJob(const std::shared_ptr<RankJob>& job) {
  RankExchange out;
  long status = 0;
  std::string body;
  if (!job->setup_error.empty()) {
    out.error = job->setup_error;
  } else {
    if (!job->http && !job->store_path.empty()) {
      std::string why;
      std::unique_ptr<RankStore> opened = RankStore::Open(job->store_path, &why);
      if (opened) {
        job->store = std::shared_ptr<RankStore>(std::move(opened));
        job->http = MakeLocalRankHttp(*job->store);
      } else {
        out.error = "the local ranking cannot be opened: " + why;
      }
    }
    if (job->http && (job->kind == RankJob::kRead || job->kind == RankJob::kWrite)) {
      out = job->write ? SendRecordOver(*job->http, job->host, job->mode_number, job->record, job->random,
                                        job->key.get(), std::time(nullptr))
                       : ReadRankingOver(*job->http, job->host, job->mode_number);
    } else if (job->http) {
      HttpReply reply;
      const std::string url = ReplayUrl(job->host, job->replay_query);
      if (job->kind == RankJob::kFetch) {
        reply = job->http->Get(url);
      } else if (auto bytes = ReadWholeFile(job->replay_path); !bytes) {
        reply.error = "no replay file " + job->replay_path;
      } else if (bytes->empty() || bytes->size() > kMaxReplayUpload) {
        reply.error = "the replay file " + job->replay_path + " is empty or too large to send";
      } else {
        const HttpHeaders signature =
            job->key ? SignRequest(*job->key, "POST", kReplayPath, job->replay_query, *bytes, std::time(nullptr))
                     : HttpHeaders{};
        reply = job->http->Post(url, *bytes, signature);
      }
      status = reply.ok ? reply.status : 0;
      body = std::move(reply.body);
      if (job->kind == RankJob::kUpload && status == 200) {
        out = ReadRankExchange(HttpReply{true, 200, body, false, {}});
      } else {
        out.ok = status == 200 && !reply.truncated;
        out.error = reply.error;
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(job->mutex);
    job->outcome = std::move(out);
    job->status = status;
    job->body = std::move(body);
    job->done = true;
  }
  job->cv.notify_all();
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  if (s.substr(0, 3) == "\xEF\xBB\xBF") b = 3;  // a byte-order mark from a Windows editor
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return std::string(s.substr(b, e - b));
}

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Makes the job's client: the one given to the game, a server's, or the
// local ranking's (opened on the worker when it is not open yet).
void ChooseClient(Game& g, RankJob& job) {
  std::optional<std::string> host = ReadServerHost(g);
  if (g.pf.http) {
    job.http = g.pf.http;
    job.host = host && !host->empty() ? *host : "localhost";
    return;
  }
  if (host) {
    if (host->empty()) {
      job.setup_error = "server.txt does not hold a host or host:port";
      return;
    }
    job.host = *host;
    job.http = std::shared_ptr<Http>(MakeCurlHttp(kRankStepMs, kHttpMaxBodyBytes, kRankStepMs));
    return;
  }
  job.host = "localhost";
  if (g.ranking.store) {
    job.store = g.ranking.store;
    job.shares_store = true;
    job.http = MakeLocalRankHttp(*job.store);
  } else {
    job.store_path = g.pf.data_dir + "/" + kLocalRankingFile;
  }
}

// Starts the worker; when no thread can be started the exchange fails at once.
void Launch(const std::shared_ptr<RankJob>& job) {
  try {
    std::thread(RunJob, job).detach();
  } catch (const std::system_error&) {
    job->setup_error = "no worker thread";
    std::shared_ptr<RankJob> same = job;
    RunJob(same);
  }
}

std::shared_ptr<RankJob> Start(Game& g, RankJob::Kind kind, int mode_number, int score, RankContinuation then,
                               std::string replay_query = {}, std::string replay_path = {}) {
  const bool write = kind == RankJob::kWrite;
  if (g.ranking.busy || g.ranking.job || mode_number < 1 || mode_number > kModeCount) return nullptr;
  auto job = std::make_shared<RankJob>();
  job->kind = kind;
  job->write = write;
  job->replay_query = std::move(replay_query);
  job->replay_path = std::move(replay_path);
  g.ranking.refusal.clear();
  job->mode_number = mode_number;
  job->then = then;

  g.ranking.busy = true;
  ChooseClient(g, *job);
  if (!job->http && job->store_path.empty() && job->setup_error.empty()) {
    // No client at all: a send says so in a box, a read fails quietly.
    if (write && g.pf.dialogs) g.pf.dialogs->Message(kRankNoClient);
    g.ranking.busy = false;
    if (then) then(g, -1, mode_number);
    return job;
  }
  if (write || kind == RankJob::kUpload) job->key = EnsurePlayerKey(g);
  if (write) {
    const int m = mode_number - 1;
    job->record.name = g.my.name();
    job->record.player_id = g.my.player_id();
    job->record.score = score;
    job->record.comment = g.my.comment(m);
    job->record.play_count = g.my.play_count(m);
    if (g.pf.clock) g.pf.clock->Today(job->record.month, job->record.day);
    job->random = Random(g, 99);
  }
  if (g.pf.clock) job->deadline = g.pf.clock->NowDays() + kRankStepMs / kMsPerDay;
  g.ranking.job = job;
  Launch(job);
  return job;
}

// Applies a finished exchange: table and "[m" lines; busy off; then
// whatever the caller does next. An exchange the game stopped waiting for
// (given_up) ends as a failure; its worker ends on its own and what it
// brings back is dropped.
void Finish(Game& g, bool given_up = false) {
  std::shared_ptr<RankJob> job = std::move(g.ranking.job);
  g.ranking.job.reset();
  RankExchange out;
  long status = 0;
  std::string body;
  if (given_up) {
    out.error = "no answer within " + std::to_string(kRankStepMs / 1000) + " s";
    // The worker may still be using the local ranking: the next exchange opens its own.
    if (job->shares_store) g.ranking.store.reset();
  } else {
    std::lock_guard<std::mutex> lock(job->mutex);
    out = std::move(job->outcome);
    status = job->status;
    body = std::move(job->body);
    // The local ranking stays open (the worker opened it and is done with it).
    if (job->store) g.ranking.store = job->store;
  }
  if (!out.ok) {
    // A line for whoever runs the game from a terminal (the player sees the log).
    static constexpr const char* kKinds[] = {"read", "send", "replay upload", "replay fetch"};
    const std::string why = !out.error.empty() ? out.error : status != 0 ? "status " + std::to_string(status) : "no reply";
    std::fprintf(stderr, "kv: ranking %s for mode %d failed: %s\n", kKinds[job->kind], job->mode_number, why.c_str());
  }

  int result = -1;
  if (job->kind == RankJob::kFetch) {
    // Only the replay comes back: the table stays.
    if (out.ok) {
      g.ranking.fetched = std::move(body);
      result = 0;
    } else {
      if (status == 404) result = 1;
      if (status != 0) g.ranking.refusal = text::Cp932ToUtf8Lossy(Trim(body), "?");
    }
    g.ranking.busy = false;
    if (job->then) job->then(g, result, job->mode_number);
    return;
  }
  if (job->kind == RankJob::kUpload && !out.ok) {
    // A refused replay changes nothing the player sees but the reason.
    if (status != 0) g.ranking.refusal = text::Cp932ToUtf8Lossy(Trim(body), "?");
    g.ranking.busy = false;
    if (job->then) job->then(g, -1, job->mode_number);
    return;
  }
  if (out.ok) {
    g.ranking.error.clear();
    g.ranking.table_mode = job->mode_number;
    g.ranking.table = std::move(out.reply.table);
    g.ranking.table.resize(kRankEntries);
    for (const std::string& line : out.reply.messages) AddLogLine(g, line, "pink2");
    result = 0;
  } else {
    g.ranking.error = out.error.empty() ? "no reply" : out.error;
  }
  g.ranking.busy = false;
  if (job->then) job->then(g, result, job->mode_number);
}

}  // namespace

bool SendRecord(Game& g, int mode_number, int score, RankContinuation then) {
  return Start(g, RankJob::kWrite, mode_number, score, then) != nullptr;
}

bool ReadRanking(Game& g, int mode_number, RankContinuation then) {
  return Start(g, RankJob::kRead, mode_number, 0, then) != nullptr;
}

bool UploadReplay(Game& g, int mode_number, int score, const std::string& replay_path, RankContinuation then) {
  auto query = BuildReplayQuery(mode_number, g.my.name(), g.my.player_id(), score);
  if (!query) return false;
  return Start(g, RankJob::kUpload, mode_number, 0, then, std::move(*query), replay_path) != nullptr;
}

bool FetchReplay(Game& g, int mode_number, const std::string& name, int id, RankContinuation then) {
  // The table's names are the records' as read back: already what the wire carries.
  auto cp932 = text::Utf8ToCp932(name);
  if (!cp932 || cp932->empty()) return false;
  const std::string query = std::to_string(mode_number) + "&name=" + PercentEncodeAll(*cp932) + "&id=" +
                            std::to_string(id);
  return Start(g, RankJob::kFetch, mode_number, 0, then, query) != nullptr;
}

bool RankExchangeRunning(const Game& g) { return g.ranking.busy; }

bool PollRankExchange(Game& g) {
  if (!g.ranking.job) return false;
  bool given_up = false;
  {
    std::lock_guard<std::mutex> lock(g.ranking.job->mutex);
    if (!g.ranking.job->done) {
      // Each step waits so long at most, whatever the client does.
      const double deadline = g.ranking.job->deadline;
      if (deadline <= 0 || !g.pf.clock || g.pf.clock->NowDays() < deadline) return false;
      given_up = true;
    }
  }
  Finish(g, given_up);
  return true;
}

bool WaitRankExchange(Game& g, int timeout_ms) {
  if (!g.ranking.job) return false;
  {
    RankJob& job = *g.ranking.job;
    std::unique_lock<std::mutex> lock(job.mutex);
    if (timeout_ms < 0) {
      job.cv.wait(lock, [&] { return job.done; });
    } else if (!job.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return job.done; })) {
      return false;
    }
  }
  Finish(g);
  return true;
}

void AbandonRankExchange(Game& g) {
  g.ranking.job.reset();
  g.ranking.busy = false;
}

int OwnRankIndex(const Game& g) {
  return OwnRankIndex(g.ranking.table, g.my.name(), g.my.player_id());
}

std::optional<std::string> ReadServerHost(const Game& g) {
  std::optional<std::string> bytes = ReadWholeFile(g.pf.data_dir + "/" + kServerFile);
  if (!bytes) return std::nullopt;
  std::string_view text = *bytes;
  std::size_t eol = text.find_first_of("\r\n", text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0);
  std::string line = Trim(text.substr(0, eol));
  if (line.empty()) return std::nullopt;
  return IsValidServerHost(line) ? line : std::string();
}

bool IsValidServerHost(std::string_view host) {
  if (host.empty() || host.size() > 253 + 6) return false;
  std::string_view name = host;
  std::string_view port;
  if (host.front() == '[') {  // [IPv6]:port
    std::size_t close = host.find(']');
    if (close == std::string_view::npos || close < 3) return false;
    for (char c : host.substr(1, close - 1)) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.'))
        return false;
    }
    std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
    name = {};
  } else {
    std::size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
      name = host.substr(0, colon);
      port = host.substr(colon + 1);
      if (port.empty()) return false;
    }
    if (name.empty() || name.front() == '.' || name.front() == '-') return false;
    for (char c : name)
      if (!IsHostChar(c)) return false;
  }
  if (!port.empty()) {
    if (port.size() > 5 || !text::ParseDecimal(port, 1, 65535)) return false;
  }
  return true;
}
