// kv-rankd's ranking pages in a real browser: Debian's chromium, headless,
// loads / and /ranking/EASY from a kv-rankd on loopback, takes a picture of
// each and hands back the page as it built it. With KV_PAGE_SHOTS=DIR the
// pictures are kept there (to look at); otherwise they go with the scratch
// folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "platform/files.h"
#include "platform/text.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_store.h"
#include "replay/replay_file.h"

namespace {

constexpr const char* kChromium = "/usr/bin/chromium";

struct Finished {
  bool finished = false;
  int status = -1;
  std::string out;
};

// Runs a program in a process group of its own, its output read into `out`;
// the whole group is killed when it takes longer than `limit` and once it
// has ended (a browser leaves helpers behind otherwise).
Finished RunBounded(std::vector<std::string> args, std::chrono::seconds limit) {
  Finished r;
  int out[2];
  if (pipe(out) != 0) return r;
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(out[1], 1);
    close(out[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  setpgid(pid, pid);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::thread reader([&] {
    char buf[65536];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<std::size_t>(n));
  });
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      r.finished = true;
      r.status = status;
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(-pid, SIGKILL);  // what is left of the group
  reader.join();
  close(out[0]);
  return r;
}

WireRecord Record(const std::string& name, int id, int score, const std::string& comment) {
  WireRecord r;
  r.name = text::Utf8ToCp932(name).value();
  r.id = id;
  r.score = score;
  r.comment = text::Utf8ToCp932(comment).value();
  r.date = "12/9";
  r.play_count = 7;
  return r;
}


// One GET over loopback: the whole reply, headers included.
std::string Get(int port, const std::string& target, const std::string& headers = "") {
  const int fd = loopback::Connect(port);
  if (fd < 0) return "";
  const std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "Connection: close\r\n\r\n";
  std::string reply;
  if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) reply = loopback::ReadReply(fd);
  close(fd);
  return reply;
}

std::string Base64Decode(const std::string& in) {
  std::string out;
  int bits = 0, value = 0;
  for (char c : in) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c != 0 ? std::strchr(digits, c) : nullptr;
    if (at == nullptr) continue;
    value = (value << 6) | static_cast<int>(at - digits);
    if ((bits += 6) >= 8) out += static_cast<char>((value >> (bits -= 8)) & 0xFF);
  }
  return out;
}

// Headless Chromium driven through its DevTools protocol over a pipe
// (--remote-debugging-pipe: commands in on descriptor 3, answers out on 4,
// each message ending in a zero byte), so a test can run script in a page
// that allows none of its own.
class Browser {
 public:
  // `scratch`: its TMPDIR, for what it leaves when it is killed.
  bool Start(std::vector<std::string> args, const std::string& scratch) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      // Out of the way first: the pipes may have been given 3 or 4.
      const int command = fcntl(in[0], F_DUPFD, 10), answer = fcntl(out[1], F_DUPFD, 10);
      dup2(command, 3);
      dup2(answer, 4);
      setenv("TMPDIR", scratch.c_str(), 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    setpgid(pid_, pid_);
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
    return pid_ > 0;
  }
  ~Browser() {
    if (pid_ > 0) Call("Browser.close", nlohmann::json::object(), "", std::chrono::seconds(5));
    if (to_ >= 0) close(to_);
    if (from_ >= 0) close(from_);
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Sends a command and waits up to `limit` for its answer: its "result", or
  // an object holding "error" (also when no answer came in time).
  nlohmann::json Call(const std::string& method, nlohmann::json params, const std::string& session = "",
                      std::chrono::seconds limit = std::chrono::seconds(60)) {
    nlohmann::json message = {{"id", ++id_}, {"method", method}, {"params", std::move(params)}};
    if (!session.empty()) message["sessionId"] = session;
    const std::string text = message.dump() + std::string(1, '\0');
    if (write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {{"error", "cannot send"}};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      std::size_t end;
      while ((end = pending_.find('\0')) != std::string::npos) {
        const std::string one = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        auto answer = nlohmann::json::parse(one, nullptr, false);
        if (answer.is_object() && answer.value("id", -1) == id_) {
          if (answer.contains("error")) return {{"error", answer["error"].dump()}};
          return answer["result"];
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return {{"error", method + ": no answer in time"}};
      pollfd p{from_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[65536];
      const ssize_t n = read(from_, buf, sizeof buf);
      if (n <= 0) return {{"error", method + ": the browser went away"}};
      pending_.append(buf, static_cast<std::size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  int id_ = 0;
  std::string pending_;
};

// Plays the first video of the page for two seconds, then seeks to its
// middle: what the video element says of it.
constexpr const char* kPlayTheVideo = R"((async () => {
  const v = document.querySelector('video');
  if (!v) return {error: 'no video on the page'};
  v.muted = true;
  const failed = () => ({error: 'the video failed: ' + (v.error ? v.error.code + ' ' + v.error.message : '?')});
  if (v.error) return failed();
  if (v.readyState < 1) {
    const ok = await new Promise(done => {
      v.addEventListener('loadedmetadata', () => done(true), {once: true});
      v.addEventListener('error', () => done(false), {once: true});
    });
    if (!ok) return failed();
  }
  const duration = v.duration;
  await v.play();
  const started = v.currentTime;
  await new Promise(done => setTimeout(done, 2000));
  const played = v.currentTime;
  v.pause();
  v.currentTime = duration / 2;
  await new Promise(done => v.addEventListener('seeked', done, {once: true}));
  return {duration, started, played, seeked: v.currentTime, controls: v.controls, preload: v.preload,
          src: v.currentSrc};
})())";

}  // namespace

TEST(RankPagesInChromium, PagesShowNamesAndCommentsAsTextAndTheFirstRunsVideoPlays) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "no " << kChromium << " (scripts/install-deps.sh installs it)";
  TempFolder dir("kv-pages");
  ASSERT_FALSE(dir.path().empty());
  const std::string db = dir.path() + "/rank.db";

  // A short real run leads EASY: kv-rankd has kv-sim make its video.
  const std::string run = dir.path() + "/run.kvr";
  const Finished recorded =
      RunBounded({KV_SIM, "--play", "EASY", "--seed", "1", "--frames", "250", "--record", run}, std::chrono::seconds(60));
  ASSERT_TRUE(recorded.finished && WIFEXITED(recorded.status) && WEXITSTATUS(recorded.status) == 0);
  const std::optional<std::string> replay = ReadWholeFile(run);
  ASSERT_TRUE(replay);
  ReplayOutline outline;
  std::string why;
  ASSERT_TRUE(OutlineReplay(*replay, outline, &why)) << why;
  ASSERT_GT(outline.score, 2);
  {
    // Verified runs, as kv-rankd ranks them by default; only the first has a
    // replay that plays.
    auto store = RankStore::Open(db);
    ASSERT_TRUE(store);
    std::vector<Submission> batch = {
        {1, Record(outline.name, outline.player_id, outline.score, "short run"), false},
        {1, Record("ほろぐ", 12, outline.score - 1, "一番乗り！"), false},
        {1, Record("Eve", 66, 1, "<script>alert(1)</script>"), false},
        {7, Record("ヴぁ", 3, 12345678, "地獄"), false}};
    ASSERT_TRUE(store->SubmitBatch(batch));
    for (const Submission& s : batch) {
      const RecordKey key{s.mode, s.record.name, s.record.id};
      ASSERT_EQ(store->PutReplay(key, s.record.id == outline.player_id ? *replay : "KVRP", s.record.score),
                StoreStatus::ok);
      ASSERT_EQ(store->SetVerified(key, true, s.record.score), StoreStatus::ok);
    }
  }
  loopback::Rankd rankd;
  ASSERT_TRUE(rankd.Start(KV_RANKD, {"--db", db, "--verifier", KV_VERIFY, "--videos", "1", "--video-renderer", KV_SIM}));
  const char* keep = std::getenv("KV_PAGE_SHOTS");
  const std::string shots = keep != nullptr && *keep != '\0' ? keep : dir.path();
  // The page shows the video once it is made (at low priority: allow for a busy machine).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(150);
  while (Get(rankd.port(), "/ranking/EASY").find("<video") == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_NE(Get(rankd.port(), "/ranking/EASY").find("<video"), std::string::npos) << "no video was made";

  struct Page {
    const char* path;
    const char* shot;
  };
  for (const Page& page : {Page{"/", "front.png"}, Page{"/ranking/EASY", "easy.png"}}) {
    const std::string url = "http://" + rankd.host() + page.path;
    const std::vector<std::string> common = {kChromium, "--headless", "--no-sandbox", "--disable-gpu",
                                             "--no-first-run", "--user-data-dir=" + dir.path() + "/profile",
                                             "--window-size=412,900", "--hide-scrollbars"};
    std::vector<std::string> shot = common;
    shot.push_back("--screenshot=" + shots + "/" + page.shot);
    shot.push_back(url);
    const Finished s = RunBounded(shot, std::chrono::seconds(90));
    ASSERT_TRUE(s.finished) << "chromium did not finish the picture of " << url;
    EXPECT_EQ(access((shots + "/" + page.shot).c_str(), R_OK), 0) << url;

    std::vector<std::string> dump = common;
    dump.push_back("--dump-dom");
    dump.push_back(url);
    const Finished d = RunBounded(dump, std::chrono::seconds(90));
    ASSERT_TRUE(d.finished) << "chromium did not finish " << url;
    const std::string& dom = d.out;
    EXPECT_NE(dom.find("ほろぐ"), std::string::npos) << url;
    EXPECT_NE(dom.find("一番乗り！"), std::string::npos) << url;
    // The comment is text on the page: no element came of it, nothing ran.
    EXPECT_NE(dom.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << url << dom;
    EXPECT_EQ(dom.find("<script"), std::string::npos) << url;
  }

  // The first run's video plays in the page: its time moves, its length is
  // the run's, and it seeks (a range of the file).
  Browser browser;
  ASSERT_TRUE(browser.Start({kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                             "--user-data-dir=" + dir.path() + "/profile-devtools", "--remote-debugging-pipe",
                             "--autoplay-policy=no-user-gesture-required", "--mute-audio", "--hide-scrollbars",
                             "--window-size=412,900"},
                            dir.path()));
  const nlohmann::json target = browser.Call("Target.createTarget", {{"url", "http://" + rankd.host() + "/ranking/EASY"}});
  ASSERT_TRUE(target.contains("targetId")) << target.dump();
  const nlohmann::json attached = browser.Call("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}});
  ASSERT_TRUE(attached.contains("sessionId")) << attached.dump();
  const std::string session = attached["sessionId"];
  // Until the page (not the blank one before it) has loaded.
  bool loaded = false;
  for (int i = 0; i < 300 && !loaded; ++i) {
    const nlohmann::json r = browser.Call(
        "Runtime.evaluate",
        {{"expression", "location.pathname == '/ranking/EASY' && document.readyState == 'complete'"}, {"returnByValue", true}},
        session);
    loaded = r.contains("result") && r["result"].value("value", false);
    if (!loaded) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(loaded) << "the page did not load in the browser";
  const nlohmann::json played = browser.Call(
      "Runtime.evaluate", {{"expression", kPlayTheVideo}, {"awaitPromise", true}, {"returnByValue", true}}, session);
  ASSERT_TRUE(played.contains("result") && played["result"].contains("value")) << played.dump();
  const nlohmann::json& v = played["result"]["value"];
  ASSERT_FALSE(v.contains("error")) << v.dump();
  std::printf("the video in the page: %s (%d frames)\n", v.dump().c_str(), outline.frames);
  const double seconds = outline.frames / 25.0;
  EXPECT_NEAR(v["duration"].get<double>(), seconds, 0.1) << v.dump();
  EXPECT_GT(v["played"].get<double>(), v["started"].get<double>() + 0.5) << "its time did not move: " << v.dump();
  EXPECT_NEAR(v["seeked"].get<double>(), seconds / 2, 0.5) << v.dump();
  EXPECT_TRUE(v["controls"].get<bool>());
  EXPECT_EQ(v["preload"], "metadata");
  EXPECT_NE(v["src"].get<std::string>().find("/video/EASY-"), std::string::npos) << v.dump();
  // The video as the browser got it: whole, or the range asked for.
  const std::string path = v["src"].get<std::string>().substr(("http://" + rankd.host()).size());
  const std::string whole = Get(rankd.port(), path);
  const std::size_t body = whole.find("\r\n\r\n") + 4;
  ASSERT_EQ(whole.rfind("HTTP/1.1 200", 0), 0u) << whole.substr(0, 300);
  EXPECT_NE(whole.find("Content-Type: video/webm"), std::string::npos);
  const std::string size = std::to_string(whole.size() - body);
  const std::string part = Get(rankd.port(), path, "Range: bytes=100-199\r\n");
  ASSERT_EQ(part.rfind("HTTP/1.1 206", 0), 0u) << part.substr(0, 300);
  EXPECT_NE(part.find("Content-Range: bytes 100-199/" + size), std::string::npos) << part.substr(0, 300);
  EXPECT_EQ(part.substr(part.find("\r\n\r\n") + 4), whole.substr(body + 100, 100));
  EXPECT_EQ(Get(rankd.port(), path, "Range: bytes=" + size + "-\r\n").rfind("HTTP/1.1 416", 0), 0u);
  // A picture of the page with the video where it was played to.
  const nlohmann::json picture = browser.Call("Page.captureScreenshot", {{"format", "png"}}, session);
  ASSERT_TRUE(picture.contains("data")) << picture.dump();
  std::string error;
  EXPECT_TRUE(WriteFileAtomically(shots + "/easy-video.png", Base64Decode(picture["data"]), &error)) << error;
  rankd.Stop();
}
