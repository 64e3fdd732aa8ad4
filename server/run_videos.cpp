#include "run_videos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "cached_reply.h"
#include "rank_pages.h"
#include "replay/replay_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kMaking = ".making-";
constexpr const char* kVideoType = ".webm";

std::string DefaultOwner() {
  char host[256] = "?";
  gethostname(host, sizeof host - 1);
  char tail[24];
  std::snprintf(tail, sizeof tail, ":%d:%08x", static_cast<int>(getpid()), static_cast<unsigned>(std::random_device{}()));
  return host + std::string(tail);
}

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  const std::size_t at = t.find_last_of("\r\n");
  return at == std::string::npos ? t : t.substr(at + 1);
}

}  // namespace

std::string VideoName(int mode, const WireRecord& record) {
  std::string name = std::string(kPageModeNames[mode - 1]) + "-";
  char hex[4];
  for (unsigned char c : record.name) {
    std::snprintf(hex, sizeof hex, "%02X", c);
    name += hex;
  }
  return name + "-" + std::to_string(record.id) + "-" + std::to_string(record.score) + kVideoType;
}

bool IsVideoName(std::string_view name) {
  const std::string_view type = kVideoType;
  if (name.size() > 100 || name.size() <= type.size() || name.substr(name.size() - type.size()) != type) return false;
  const std::string_view stem = name.substr(0, name.size() - type.size());
  for (char c : stem) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  for (const char* mode : kPageModeNames) {
    const std::string prefix = std::string(mode) + "-";
    if (stem.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

RunVideos::RunVideos(VideoOptions options, RankStore& store, RankBoard& board)
    : options_(std::move(options)), store_(store), board_(board) {
  if (options_.owner.empty()) options_.owner = DefaultOwner();
}

RunVideos::~RunVideos() { Stop(); }

bool RunVideos::Start(std::string* error) {
  std::error_code ec;
  fs::create_directories(options_.folder, ec);
  if (access(options_.folder.c_str(), W_OK | X_OK) != 0) {
    if (error != nullptr) *error = "cannot keep videos in " + options_.folder + ": " + std::strerror(errno);
    return false;
  }
  if (access(options_.program.c_str(), X_OK) != 0) {
    if (error != nullptr) *error = "cannot run the video renderer " + options_.program + ": " + std::strerror(errno);
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void RunVideos::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  children_.KillAll();
  if (thread_.joinable()) thread_.join();
}

void RunVideos::OnChange(std::function<void()> changed) {
  std::lock_guard<std::mutex> lock(mutex_);
  changed_ = std::move(changed);
}

std::string RunVideos::VideoOf(int mode, const WireRecord& record) const {
  std::string name = VideoName(mode, record);
  std::lock_guard<std::mutex> lock(mutex_);
  return present_.count(name) != 0 ? name : std::string();
}

RunVideos::Stats RunVideos::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

std::string RunVideos::last_failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_failure_;
}

void RunVideos::Changed() {
  std::function<void()> changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = changed_;
  }
  if (changed) changed();
}

std::map<std::string, RunVideos::Wanted> RunVideos::WantedNow() const {
  std::map<std::string, Wanted> wanted;
  for (int mode = 1; mode <= 7; ++mode) {
    auto snapshot = board_.Snapshot(mode);
    if (!snapshot) continue;
    const std::size_t n = std::min<std::size_t>(snapshot->places.size(), static_cast<std::size_t>(options_.places));
    for (std::size_t i = 0; i < n; ++i) {
      const RankSnapshot::Place& p = snapshot->places[i];
      // Only a verified run has a replay that is sure to play as ranked.
      if (p.parsed && p.verified) wanted.emplace(VideoName(mode, p.record), Wanted{mode, p.record});
    }
  }
  return wanted;
}

void RunVideos::Tidy(const std::map<std::string, Wanted>& wanted) {
  std::set<std::string> present;
  int removed = 0;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(options_.folder, ec)) {
    const std::string name = e.path().filename().string();
    if (IsVideoName(name)) {
      if (wanted.count(name) != 0) {
        present.insert(name);
      } else if (fs::remove(e.path(), ec)) {
        removed += 1;  // its run left the places
      }
    } else if (name.rfind(kMaking, 0) == 0 && wanted.count(name.substr(std::string_view(kMaking).size())) == 0) {
      fs::remove_all(e.path(), ec);  // a render of a run that left the places
    }
  }
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    changed = present != present_;
    present_ = std::move(present);
    stats_.removed += removed;
  }
  if (changed) Changed();
}

void RunVideos::Run() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    const auto wanted = WantedNow();
    Tidy(wanted);
    // The first missing video in mode and place order that is not waiting
    // for another try.
    std::vector<std::pair<int, std::string>> order;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      for (const auto& [name, w] : wanted) {
        if (present_.count(name) == 0) order.emplace_back(w.mode, name);
      }
    }
    std::sort(order.begin(), order.end());
    bool made = false;
    for (const auto& [mode, name] : order) {
      auto failed = failed_.find(name);
      if (failed != failed_.end() && Clock::now() < failed->second) continue;
      if (Make(name, wanted.at(name))) {
        made = true;
        break;
      }
    }
    // Forget failures of runs that left the places.
    std::erase_if(failed_, [&](const auto& f) { return wanted.count(f.first) == 0; });
    lock.lock();
    if (!made && !stopping_) wake_.wait_for(lock, std::chrono::milliseconds(options_.look_ms));
  }
}

bool RunVideos::Make(const std::string& name, const Wanted& w) {
  const std::optional<bool> claimed = store_.ClaimVideo(name, options_.owner, options_.claim_seconds);
  if (!claimed || !*claimed) return false;  // another server makes it (or the store failed)
  const fs::path done = fs::path(options_.folder) / name;
  const fs::path work = fs::path(options_.folder) / (kMaking + name);
  std::error_code ec;
  bool made = false, tried = false;
  std::string replay;
  const RecordKey key{w.mode, w.record.name, w.record.id};
  StoredRecord stored;
  // Still the ranked run (not a better one sent meanwhile), with its replay.
  if (!fs::exists(done, ec) && store_.FindRecord(key, &stored) == StoreStatus::ok &&
      stored.record.score == w.record.score && stored.verified && store_.GetReplay(key, &replay) == StoreStatus::ok) {
    tried = true;
    // Whatever a render that died left here goes first.
    fs::remove_all(work, ec);
    made = fs::create_directory(work, ec) && Render(name, replay, work.string()) &&
           fs::exists(work / name, ec) && (fs::rename(work / name, done, ec), !ec);
    fs::remove_all(work, ec);
  }
  store_.ReleaseVideo(name, options_.owner);
  if (made) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      present_.insert(name);
      stats_.made += 1;
    }
    failed_.erase(name);
    Changed();
  } else if (tried) {
    failed_[name] = std::chrono::steady_clock::now() + std::chrono::seconds(options_.retry_seconds);
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.failed += 1;
  }
  return made;
}

bool RunVideos::Render(const std::string& name, const std::string& replay, const std::string& work) {
  const std::string input = work + "/run.kvr";
  {
    std::ofstream out(input, std::ios::binary);
    out.write(replay.data(), static_cast<std::streamsize>(replay.size()));
    if (!out.flush()) return false;
  }
  Replay header;
  const long long frames = PeekReplayHeader(replay, header, nullptr) ? std::max(0, header.frames) : 0;
  const long long cpu = options_.cpu_seconds + (frames * options_.cpu_ms_per_frame + 999) / 1000;
  ChildRun run;
  run.args = {options_.program};
  if (!options_.game_dir.empty()) run.args.insert(run.args.end(), {"--game-dir", options_.game_dir});
  run.args.insert(run.args.end(), {"--replay", input, "--video", work + "/" + name, "--web"});
  run.keep_errors = true;
  run.limits.cpu_seconds = static_cast<int>(std::min<long long>(cpu, 1000000));
  run.limits.memory_mb = options_.memory_mb;
  // At the lowest priority a busy machine may hold it back: the wall clock
  // allows several times its CPU time.
  run.limits.wall_seconds = static_cast<int>(std::min<long long>(options_.wall_seconds + 4 * cpu, 4000000));
  run.limits.nice = options_.nice;
  auto renewed = std::chrono::steady_clock::now();
  run.still_wanted = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return false;
    }
    // The claim is renewed well before it runs out; lost, the render stops.
    const auto now = std::chrono::steady_clock::now();
    if (now - renewed < std::chrono::seconds(std::max(1, options_.claim_seconds / 3))) return true;
    renewed = now;
    const std::optional<bool> held = store_.ClaimVideo(name, options_.owner, options_.claim_seconds);
    return !held || *held;  // a store that fails for a moment takes nothing away
  };
  const ChildEnd end = children_.Run(run);
  const bool ok = end.error.empty() && !end.out_of_time && WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0;
  if (ok) {
    std::error_code ec;
    const auto bytes = fs::file_size(fs::path(work) / name, ec);
    std::fprintf(stderr, "kv-rankd: made the video %s (%.1f MB, %lld frames, CPU %.1f s)\n", name.c_str(),
                 ec ? 0.0 : static_cast<double>(bytes) / 1e6, frames, end.cpu_seconds);
  } else {
    std::string why = !end.error.empty() ? end.error
                      : end.stopped      ? "stopped"
                      : RanOutOfTime(end) ? "out of time"
                                          : LastLine(end.output);
    std::fprintf(stderr, "kv-rankd: no video of %s: %s\n", name.c_str(), why.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    last_failure_ = why;
  }
  return ok;
}

namespace {

bool ParseOffset(std::string_view text, unsigned long long& out) {
  if (text.empty() || text.size() > 19) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + static_cast<unsigned long long>(c - '0');
  }
  return true;
}

}  // namespace

std::optional<ByteRange> AskedRange(std::string_view header, unsigned long long size, bool* unsatisfiable) {
  *unsatisfiable = false;
  constexpr std::string_view kBytes = "bytes=";
  // One range only; a list of them gets the whole body, as it may.
  if (header.substr(0, kBytes.size()) != kBytes || header.find(',') != std::string_view::npos) return std::nullopt;
  const std::string_view asked = header.substr(kBytes.size());
  const std::size_t dash = asked.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  unsigned long long a = 0, b = 0;
  ByteRange r;
  if (dash == 0) {  // the last b bytes
    if (!ParseOffset(asked.substr(1), b)) return std::nullopt;
    if (b == 0 || size == 0) return *unsatisfiable = true, std::nullopt;
    r.first = size - std::min(b, size);
    r.last = size - 1;
    return r;
  }
  if (!ParseOffset(asked.substr(0, dash), a)) return std::nullopt;
  const std::string_view end = asked.substr(dash + 1);
  if (!end.empty() && (!ParseOffset(end, b) || b < a)) return std::nullopt;
  if (a >= size) return *unsatisfiable = true, std::nullopt;
  r.first = a;
  r.last = end.empty() ? size - 1 : std::min(b, size - 1);
  return r;
}

void AddVideoRoute(HttpRouter& router, const std::string& folder) {
  HttpRoute route;
  route.method = "GET";
  route.path = "/video/*";
  route.handler = [folder](const HttpRequest& req, Responder reply) {
    const std::string_view name = req.path.substr(std::string_view("/video/").size());
    if (!IsVideoName(name)) return reply(TextAnswer(404, "not found"));
    const int fd = open((folder + "/" + std::string(name)).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return reply(TextAnswer(404, "no video of this run (yet)"));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return reply(TextAnswer(404, "no video of this run (yet)"));
    }
    const auto size = static_cast<unsigned long long>(st.st_size);
    auto whole = std::make_shared<FileSlice>(fd, 0, size);
    char tag[64];
    std::snprintf(tag, sizeof tag, "\"v%llx-%llx\"", size,
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ULL +
                      static_cast<unsigned long long>(st.st_mtim.tv_nsec));
    HttpAnswer a;
    a.content_type = "video/webm";
    a.headers = {{"Accept-Ranges", "bytes"}, {"ETag", tag}, {"Cache-Control", "public, max-age=60"}};
    if (!req.if_none_match.empty() && TagListNames(req.if_none_match, tag)) {
      a.status = 304;
      return reply(std::move(a));
    }
    bool unsatisfiable = false;
    const std::optional<ByteRange> range = AskedRange(req.range, size, &unsatisfiable);
    if (unsatisfiable) {
      HttpAnswer refused = TextAnswer(416, "the range lies past the end of the video");
      refused.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
      return reply(std::move(refused));
    }
    if (range) {
      a.status = 206;
      a.headers.emplace_back("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                                  std::to_string(range->last) + "/" + std::to_string(size));
      a.file = std::make_shared<FileSlice>(dup(fd), range->first, range->last - range->first + 1);
    } else {
      a.file = std::move(whole);
    }
    // A large file may take longer than a ranking to reach a slow client:
    // as long as it comes at 64 KB/s at least.
    a.reply_ms = static_cast<int>(std::min<unsigned long long>(a.file->size / 64, 3600000));
    reply(std::move(a));
  };
  router.Add(std::move(route));
}
