// kv-rankd's ranking pages in a real browser: Debian's chromium, headless,
// loads / and /ranking/EASY from a kv-rankd on loopback, takes a picture of
// each and hands back the page as it built it. With KV_PAGE_SHOTS=DIR the
// pictures are kept there (to look at); otherwise they go with the scratch
// folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "platform/files.h"
#include "platform/text.h"
#include "rank_service/rank_store.h"

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

}  // namespace

TEST(RankPagesInChromium, FrontAndEasyPagesShowNamesAndCommentsAsText) {
  if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "no " << kChromium << " (scripts/install-deps.sh installs it)";
  TempFolder dir("kv-pages");
  ASSERT_FALSE(dir.path().empty());
  const std::string db = dir.path() + "/rank.db";
  {
    // Verified runs, as kv-rankd ranks them by default.
    auto store = RankStore::Open(db);
    ASSERT_TRUE(store);
    std::vector<Submission> batch = {
        {1, Record("ほろぐ", 12, 5000, "一番乗り！"), false},
        {1, Record("Eve", 66, 3000, "<script>alert(1)</script>"), false},
        {7, Record("ヴぁ", 3, 12345678, "地獄"), false}};
    ASSERT_TRUE(store->SubmitBatch(batch));
    for (const Submission& s : batch) {
      const RecordKey key{s.mode, s.record.name, s.record.id};
      ASSERT_EQ(store->PutReplay(key, "KVRP", s.record.score), StoreStatus::ok);
      ASSERT_EQ(store->SetVerified(key, true, s.record.score), StoreStatus::ok);
    }
  }
  loopback::Rankd rankd;
  ASSERT_TRUE(rankd.Start(KV_RANKD, {"--db", db, "--verifier", KV_VERIFY}));
  const char* keep = std::getenv("KV_PAGE_SHOTS");
  const std::string shots = keep != nullptr && *keep != '\0' ? keep : dir.path();

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
  rankd.Stop();
}
