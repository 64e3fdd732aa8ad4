#include "replay_verifier.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "rank_service/rank_codec.h"
#include "replay/replay_file.h"

namespace {

// The modes as the verifier names them, in wire order (1..7).
constexpr const char* kModeNames[] = {"EASY", "HARD", "EXTREAM", "NOVA", "SQ", "LIGHT", "HELL"};
// The verifier's exit codes.
constexpr int kExitVerified = 0, kExitMismatch = 1, kExitMalformed = 2, kExitOtherVersion = 3;
constexpr std::size_t kMaxOutput = 4096;

bool ParseNumber(const std::string& text, int& out) {
  if (text.empty() || text.size() > 11) return false;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < -2147483647L || value > 2147483647L) return false;
  out = static_cast<int>(value);
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ParseVerifyLine(const std::string& text, VerifyResult& out) {
  std::string line = text.substr(0, text.find('\n'));
  if (line.rfind("verify: ", 0) != 0) return false;
  line = line.substr(8);
  std::string why;
  if (const std::size_t at = line.find(" why="); at != std::string::npos) {
    why = line.substr(at + 5);
    line = line.substr(0, at);
  }
  bool has_verdict = false, has_mode = false;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    const std::string token = line.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = token.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = token.substr(0, eq), value = token.substr(eq + 1);
    if (key == "mode") {
      out.mode = 0;
      for (int m = 0; m < 7; ++m) {
        if (value == kModeNames[m]) out.mode = m + 1;
      }
      has_mode = true;
    } else if (key == "score") {
      if (!ParseNumber(value, out.score)) return false;
    } else if (key == "claimed") {
      if (!ParseNumber(value, out.claimed)) return false;
    } else if (key == "frames") {
      if (!ParseNumber(value, out.frames)) return false;
    } else if (key == "id") {
      if (!ParseNumber(value, out.id)) return false;
    } else if (key == "name") {
      auto name = PercentDecodeStrict(value);
      out.name = name ? *name : std::string();
    } else if (key == "verdict") {
      using V = VerifyResult::Verdict;
      has_verdict = true;
      if (value == "verified") out.verdict = V::verified;
      else if (value == "mismatch") out.verdict = V::mismatch;
      else if (value == "malformed") out.verdict = V::malformed;
      else if (value == "other-version") out.verdict = V::other_version;
      else return false;
    }
  }
  out.why = why;
  return has_verdict && has_mode;
}

CheckAllowance AllowanceFor(const VerifierOptions& options, long long frames) {
  const long long per_frame_us = std::max(0LL, frames) * options.cpu_us_per_frame;
  const long long frame_seconds = (per_frame_us + 999999) / 1000000;
  CheckAllowance a;
  a.cpu_seconds = static_cast<int>(std::min<long long>(options.cpu_seconds + frame_seconds, 1000000));
  a.wall_seconds = static_cast<int>(std::min<long long>(options.wall_seconds + 2 * frame_seconds, 2000000));
  return a;
}

std::optional<std::string> PrecheckUpload(const std::string& replay, const UploadClaim& claim) {
  ReplayOutline o;
  std::string why;
  if (!OutlineReplay(replay, o, &why)) {
    const bool other_version = replay.size() > 4 && replay.compare(0, 4, "KVRP") == 0 &&
                               (!ReplayFormatKnown(static_cast<unsigned char>(replay[4])) ||
                                why.find("another game version") != std::string::npos);
    return (other_version ? "the replay is of another game version: " : "malformed replay: ") + why;
  }
  if (o.mode + 1 != claim.mode) return std::string("the replay is a run of another mode");
  const auto name = WireName(o.name);
  if (!name || *name != claim.name || o.player_id != claim.id) return std::string("the replay is another player's run");
  if (std::min<long long>(o.score, kMaxSentScore) != claim.score) {
    return "the replay's score is " + std::to_string(o.score) + ", not the claimed " + std::to_string(claim.score);
  }
  return std::nullopt;
}

ReplayVerifier::ReplayVerifier(VerifierOptions options) : options_(std::move(options)) {
  if (options_.game_dir.empty()) options_.game_dir = FolderOf(options_.program);
}

ReplayVerifier::~ReplayVerifier() { StopAll(); }

bool ReplayVerifier::Start(std::string* error) {
  if (access(options_.program.c_str(), X_OK) != 0) {
    if (error != nullptr) *error = "cannot run the replay verifier " + options_.program + ": " + std::strerror(errno);
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
  for (int i = 0; i < options_.workers; ++i) threads_.emplace_back([this] { Work(); });
  return true;
}

void ReplayVerifier::Count(const CheckOwner& owner, int running, int waiting) {
  for (auto* held : {&HeldBy(clients_, owner.client), owner.key.empty() ? nullptr : &HeldBy(keys_, owner.key)}) {
    if (held == nullptr) continue;
    held->running += running;
    held->waiting += waiting;
  }
  // Forget owners that hold nothing, so the maps stay as small as the queue.
  auto drop = [](std::map<std::string, Held>& m, const std::string& who) {
    auto it = m.find(who);
    if (it != m.end() && it->second.running == 0 && it->second.waiting == 0) m.erase(it);
  };
  drop(clients_, owner.client);
  if (!owner.key.empty()) drop(keys_, owner.key);
}

bool ReplayVerifier::Runnable(const CheckOwner& owner) const {
  auto runs = [](const std::map<std::string, Held>& m, const std::string& who) {
    auto it = m.find(who);
    return it != m.end() && it->second.running >= kRunningPerOwner;
  };
  return !runs(clients_, owner.client) && (owner.key.empty() || !runs(keys_, owner.key));
}

ReplayVerifier::Load ReplayVerifier::LoadOf(const CheckOwner& owner) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Load load;
  auto add = [&](const std::map<std::string, Held>& m, const std::string& who) {
    auto it = m.find(who);
    if (it == m.end()) return;
    load.running = std::max(load.running, it->second.running);
    load.waiting = std::max(load.waiting, it->second.waiting);
  };
  add(clients_, owner.client);
  if (!owner.key.empty()) add(keys_, owner.key);
  return load;
}

ReplayVerifier::Admission ReplayVerifier::Post(const CheckOwner& owner, PoolTask task) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_ || threads_.empty()) return Admission::stopped;
  // A free worker takes it at once, unless its client or key runs one.
  if (busy_ < static_cast<int>(threads_.size()) && Runnable(owner)) {
    busy_ += 1;
    Count(owner, 1, 0);
    handed_.push_back({owner, std::move(task)});
    wake_.notify_one();
    return Admission::queued;
  }
  auto waits = [](const std::map<std::string, Held>& m, const std::string& who) {
    auto it = m.find(who);
    return it == m.end() ? 0 : it->second.waiting;
  };
  if (waits(clients_, owner.client) >= kWaitingPerOwner ||
      (!owner.key.empty() && waits(keys_, owner.key) >= kWaitingPerOwner) ||
      waiting_.size() >= static_cast<std::size_t>(options_.queue)) {
    return Admission::busy;
  }
  waiting_.push_back({owner, std::move(task)});
  Count(owner, 0, 1);
  return Admission::queued;
}

void ReplayVerifier::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !handed_.empty(); });
    if (handed_.empty()) return;
    Waiting w = std::move(handed_.front());
    handed_.pop_front();
    for (;;) {
      lock.unlock();
      w.task(true);
      lock.lock();
      Count(w.owner, -1, 0);
      if (stopping_) break;
      // Then the oldest waiting check whose client and key run none.
      auto next = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& x) { return Runnable(x.owner); });
      if (next == waiting_.end()) break;
      w = std::move(*next);
      waiting_.erase(next);
      Count(w.owner, 1, -1);
    }
    busy_ -= 1;
  }
}

void ReplayVerifier::Finish(bool kill_running) {
  std::vector<std::thread> threads;
  std::deque<Waiting> cancelled;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (kill_running) children_.KillAll();
    cancelled.swap(waiting_);
    for (const Waiting& w : cancelled) Count(w.owner, 0, -1);
    for (Waiting& w : handed_) {
      Count(w.owner, -1, 0);
      busy_ -= 1;
      cancelled.push_back(std::move(w));
    }
    handed_.clear();
    wake_.notify_all();
    threads.swap(threads_);
  }
  for (Waiting& w : cancelled) w.task(false);
  for (std::thread& t : threads) {
    if (t.joinable()) t.join();
  }
}

void ReplayVerifier::Stop() { Finish(false); }
void ReplayVerifier::StopAll() { Finish(true); }

TaskPool::~TaskPool() { Stop(); }

void TaskPool::Start(int workers, int queue) {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = false;
  capacity_ = static_cast<std::size_t>(queue);
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

bool TaskPool::Post(PoolTask task) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Idle workers take a task at once; beyond them `capacity_` may wait.
  const std::size_t idle = threads_.size() - busy_;
  if (stopping_ || threads_.empty() || tasks_.size() >= capacity_ + idle) return false;
  tasks_.push_back(std::move(task));
  wake_.notify_one();
  return true;
}

void TaskPool::Stop() {
  std::vector<std::thread> threads;
  std::deque<PoolTask> cancelled;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    cancelled.swap(tasks_);
    wake_.notify_all();
    threads.swap(threads_);
  }
  for (PoolTask& task : cancelled) task(false);
  for (std::thread& t : threads) {
    if (t.joinable()) t.join();
  }
}

void TaskPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
    if (stopping_ || tasks_.empty()) return;
    PoolTask task = std::move(tasks_.front());
    tasks_.pop_front();
    busy_ += 1;
    lock.unlock();
    task(true);
    lock.lock();
    busy_ -= 1;
  }
}

VerifyResult ReplayVerifier::Check(const std::string& replay) const {
  using V = VerifyResult::Verdict;
  VerifyResult out;
  auto fail = [&](const std::string& why) {
    out.verdict = V::failed;
    out.why = why;
    return out;
  };
  // The replay goes in as standard input from a file that lives in memory
  // only, so no temporary file is ever left behind.
  const int input = memfd_create("kv-replay", MFD_CLOEXEC);
  if (input < 0) return fail(std::string("memfd_create: ") + std::strerror(errno));
  if (!WriteAll(input, replay) || lseek(input, 0, SEEK_SET) != 0) {
    close(input);
    return fail("cannot hand the replay over");
  }
  // The allowance grows with the frames the file claims; a file with no
  // readable header gets the base (kv-verify refuses it at once anyway).
  Replay header;
  const CheckAllowance allowance = AllowanceFor(options_, PeekReplayHeader(replay, header, nullptr) ? header.frames : 0);
  ChildRun run;
  run.args = {options_.program, "--game-dir", options_.game_dir, "-"};
  run.input = input;
  run.max_output = kMaxOutput;
  run.limits = {allowance.cpu_seconds, options_.memory_mb, allowance.wall_seconds, 0};
  const ChildEnd end = children_.Run(run);
  close(input);
  if (!end.error.empty()) return fail(end.error);
  const int status = end.status;
  const std::string& output = end.output;
  out.cpu_seconds = end.cpu_seconds;
  if (end.stopped) {
    out.verdict = V::stopped;
    out.why = "the server is stopping";
    return out;
  }
  if (RanOutOfTime(end)) {
    out.verdict = V::too_long;
    out.why = "the check ran out of time";
    return out;
  }
  if (WIFSIGNALED(status)) {
    // The game misbehaved on this replay (or ran out of memory).
    out.verdict = V::malformed;
    out.why = "the check stopped on signal " + std::to_string(WTERMSIG(status));
    return out;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code < kExitVerified || code > kExitOtherVersion) {
    return fail("the verifier could not check (exit status " + std::to_string(code) + ")");
  }
  if (!ParseVerifyLine(output, out)) return fail("the verifier's output is not understood");
  const V expected[] = {V::verified, V::mismatch, V::malformed, V::other_version};
  if (out.verdict != expected[code]) return fail("the verifier's verdict and exit status disagree");
  return out;
}
