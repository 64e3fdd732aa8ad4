// kv-rankd's replay checks as strangers meet them: how many one client or
// one key may hold, who goes first, what a check may cost, and that no check
// outlives a stop or the server itself.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "replay_verifier.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A scratch folder with a stand-in verifier script in it, removed at the end.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "kv-verifier-test.XXXXXX").string();
    dir_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~Scratch() {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string Script(const std::string& name, const std::string& body) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// Tasks that hold their worker until let go, noting the order they ran in.
struct Gate {
  std::mutex m;
  std::vector<std::string> ran;
  std::promise<void> open;
  std::shared_future<void> opened = open.get_future().share();
  int refused = 0;

  PoolTask Task(const std::string& what) {
    return [this, what](bool run) {
      std::lock_guard<std::mutex> lock(m);
      if (!run) {
        refused += 1;
        return;
      }
      ran.push_back(what);
      m.unlock();
      opened.wait();
      m.lock();
    };
  }
};

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(10ms);
  return done();
}

TEST(Verifier, EachClientAndKeyHoldsOneRunningAndTwoWaitingAndOthersGoFirst) {
  Scratch scratch;
  VerifierOptions o;
  o.program = "/bin/true";
  o.workers = 2;
  o.queue = 16;
  ReplayVerifier v(o);
  ASSERT_TRUE(v.Start(nullptr));
  Gate gate;
  using A = ReplayVerifier::Admission;
  const CheckOwner flood{"192.0.2.7", ""}, honest{"2001:db8:1:2::/64", ""};

  // The flood: one running, two waiting, then refused at once.
  EXPECT_EQ(v.Post(flood, gate.Task("flood 1")), A::queued);
  EXPECT_EQ(v.Post(flood, gate.Task("flood 2")), A::queued);
  EXPECT_EQ(v.Post(flood, gate.Task("flood 3")), A::queued);
  EXPECT_EQ(v.Post(flood, gate.Task("flood 4")), A::busy);
  ASSERT_TRUE(WaitFor([&] { return v.LoadOf(flood).running == 1; }));
  EXPECT_EQ(v.LoadOf(flood).waiting, 2);
  // The second worker stays free for another client, though the flood waits.
  EXPECT_EQ(v.Post(honest, gate.Task("honest")), A::queued);
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(gate.m);
    return gate.ran == std::vector<std::string>{"flood 1", "honest"};
  }));
  EXPECT_EQ(v.LoadOf(flood).running, 1);
  EXPECT_EQ(v.LoadOf(flood).waiting, 2);

  // A key counts across addresses: one player's key from many places.
  const CheckOwner a{"198.51.100.1", "key"}, b{"198.51.100.2", "key"}, c{"198.51.100.3", "key"};
  EXPECT_EQ(v.Post(a, gate.Task("key a")), A::queued);
  EXPECT_EQ(v.Post(b, gate.Task("key b")), A::queued);
  EXPECT_EQ(v.Post(c, gate.Task("key c")), A::busy);

  gate.open.set_value();
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(gate.m);
    return gate.ran.size() == 6;
  }));
  EXPECT_EQ(v.LoadOf(flood).running + v.LoadOf(flood).waiting, 0);
  v.Stop();
  EXPECT_EQ(v.Post(honest, gate.Task("late")), A::stopped);
}

TEST(Verifier, TheAllowanceGrowsWithTheFramesClaimed) {
  VerifierOptions o;  // 2 s and 330 us a frame of CPU; 20 s and twice that of wall clock
  EXPECT_EQ(AllowanceFor(o, 0).cpu_seconds, 2);
  EXPECT_EQ(AllowanceFor(o, 0).wall_seconds, 20);
  EXPECT_EQ(AllowanceFor(o, 1941).cpu_seconds, 3);
  EXPECT_EQ(AllowanceFor(o, 30000).cpu_seconds, 12);  // six stages: ~3.3 s played
  EXPECT_EQ(AllowanceFor(o, 30000).wall_seconds, 40);
  EXPECT_EQ(AllowanceFor(o, 2000000).cpu_seconds, 662);
  EXPECT_EQ(AllowanceFor(o, -5).cpu_seconds, 2);
}

TEST(Verifier, StopAllKillsTheRunningCheckAndFailsTheWaitingOnes) {
  Scratch scratch;
  ASSERT_FALSE(scratch.dir().empty());
  const std::string pid_file = scratch.dir() + "/pid";
  VerifierOptions o;
  o.program = scratch.Script("hang.sh", "echo $$ > " + pid_file + "\nexec sleep 30");
  o.workers = 1;
  ReplayVerifier v(o);
  ASSERT_TRUE(v.Start(nullptr));
  std::promise<VerifyResult> result;
  int cancelled = 0;
  ASSERT_EQ(v.Post({"192.0.2.1", ""}, [&](bool) { result.set_value(v.Check("KVRP")); }),
            ReplayVerifier::Admission::queued);
  ASSERT_EQ(v.Post({"192.0.2.2", ""}, [&](bool run) { cancelled += run ? 0 : 1; }),
            ReplayVerifier::Admission::queued);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(pid_file) && fs::file_size(pid_file) > 0; }));
  const auto start = std::chrono::steady_clock::now();
  v.StopAll();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(result.get_future().get().verdict, VerifyResult::Verdict::stopped);
  EXPECT_EQ(cancelled, 1);
}

// Whether a process is gone (or a zombie waiting for init).
bool Gone(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t paren = stat.rfind(')');
  return stat.empty() || (paren != std::string::npos && stat.compare(paren + 2, 1, "Z") == 0);
}

TEST(Verifier, NoCheckOutlivesTheServer) {
  Scratch scratch;
  ASSERT_FALSE(scratch.dir().empty());
  const std::string pid_file = scratch.dir() + "/pid";
  const std::string program = scratch.Script("hang.sh", "echo $$ > " + pid_file + "\nexec sleep 30");
  // A stand-in server, killed outright while its check runs.
  const pid_t server = fork();
  if (server == 0) {
    VerifierOptions o;
    o.program = program;
    ReplayVerifier v(o);
    v.Check("KVRP");
    _exit(0);
  }
  ASSERT_GT(server, 0);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(pid_file) && fs::file_size(pid_file) > 0; }));
  pid_t check = 0;
  std::ifstream(pid_file) >> check;
  ASSERT_GT(check, 0);
  EXPECT_FALSE(Gone(check));
  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  EXPECT_TRUE(WaitFor([&] { return Gone(check); }));
  if (!Gone(check)) kill(check, SIGKILL);
}

}  // namespace
