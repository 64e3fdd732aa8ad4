// Videos of the ranked runs as kv-rankd keeps them, with a stand-in renderer
// (a script that writes what kv-sim would): the first places get one, a run
// that leaves them loses it, a claim another server holds is left alone
// until it runs out, and a renderer that fails, spins or hangs is stopped
// within its allowance and leaves nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "platform/files.h"
#include "rank_board.h"
#include "run_videos.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// kv-sim's part: --video OUT gets the replay's bytes behind "video of ".
// `then` runs after the file is begun (exit 1 to fail, sleep to hang).
std::string Renderer(const std::string& dir, const std::string& then = "") {
  const std::string path = dir + "/renderer.sh";
  std::ofstream(path) << "#!/bin/sh\n"
                         "echo $$ >> " << dir << "/ran\n"
                         "while [ $# -gt 0 ]; do\n"
                         "  case $1 in --replay) in=$2; shift;; --video) out=$2; shift;; esac; shift\n"
                         "done\n"
                         "printf 'video of ' > \"$out\"\n"
                      << then << "\ncat \"$in\" >> \"$out\"\n";
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

WireRecord Ranked(const std::string& name, int id, int score) {
  WireRecord r;
  r.name = name;
  r.id = id;
  r.score = score;
  r.comment = "c";
  r.date = "1/2";
  r.play_count = 1;
  return r;
}

// A verified run of mode 1 with `replay` as its replay.
void Rank(RankStore& store, const WireRecord& r, const std::string& replay) {
  ASSERT_TRUE(store.Submit(1, r));
  const RecordKey key{1, r.name, r.id};
  ASSERT_EQ(store.PutReplay(key, replay, r.score), StoreStatus::ok);
  ASSERT_EQ(store.SetVerified(key, true, r.score), StoreStatus::ok);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
  return done();
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Shelf {
  TempFolder dir{"kv-videos-test"};
  std::unique_ptr<RankStore> store = RankStore::Open(dir.path() + "/rank.db");
  RankBoard board{*store, 20ms, RankPolicy{true, true}};
  VideoOptions options;
  Shelf() {
    options.folder = dir.path() + "/videos";
    options.places = 1;
    options.look_ms = 20;
    options.cpu_ms_per_frame = 0;
    options.owner = "this";
  }
  // ANN's run ranked and verified, then the board started.
  bool StartWithAnn() {
    if (!store) return false;
    Rank(*store, Ranked("ANN", 1, 5000), "replay of ann");
    return board.Start();
  }
  // The board reads the store again, as after a verified upload.
  void Refresh() {
    std::promise<void> done;
    board.Refresh(1, [&](RankBoard::Body) { done.set_value(); });
    done.get_future().wait();
  }
};

}  // namespace

TEST(RunVideos, TheFirstPlacesGetAVideoAndARunLeavingThemLosesIt) {
  Shelf s;
  ASSERT_TRUE(s.store);
  Rank(*s.store, Ranked("ANN", 1, 5000), "replay of ann");
  Rank(*s.store, Ranked("BOB", 2, 3000), "replay of bob");
  ASSERT_TRUE(s.board.Start());
  s.options.program = Renderer(s.dir.path());
  RunVideos videos(s.options, *s.store, s.board);
  int changes = 0;
  videos.OnChange([&] { changes++; });
  ASSERT_TRUE(videos.Start(nullptr));

  const std::string ann = VideoName(1, Ranked("ANN", 1, 5000));
  EXPECT_EQ(ann, "EASY-414E4E-1-5000.webm");
  ASSERT_TRUE(WaitFor([&] { return !videos.VideoOf(1, Ranked("ANN", 1, 5000)).empty(); }));
  EXPECT_EQ(Read(fs::path(s.options.folder) / ann), "video of replay of ann");
  EXPECT_GE(changes, 1);
  // One place: the second run gets none.
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Listing(s.options.folder), std::vector<std::string>{ann});

  // A better run takes the first place: its video comes, the old one goes.
  Rank(*s.store, Ranked("CAT", 3, 9000), "replay of cat");
  s.Refresh();
  const std::string cat = VideoName(1, Ranked("CAT", 3, 9000));
  ASSERT_TRUE(WaitFor([&] { return Listing(s.options.folder) == std::vector<std::string>{cat}; }))
      << ::testing::PrintToString(Listing(s.options.folder));
  EXPECT_EQ(Read(fs::path(s.options.folder) / cat), "video of replay of cat");
  EXPECT_TRUE(videos.VideoOf(1, Ranked("ANN", 1, 5000)).empty());
  EXPECT_TRUE(WaitFor([&] { return videos.stats().made == 2; }));
  EXPECT_EQ(videos.stats().removed, 1);
  // The claim was given up: another server could claim it now.
  EXPECT_EQ(s.store->ClaimVideo(cat, "other", 60), true);
  videos.Stop();
  s.board.Stop();
}

TEST(RunVideos, AClaimOfAnotherServerIsLeftAloneUntilItRunsOut) {
  Shelf s;
  ASSERT_TRUE(s.StartWithAnn());
  const std::string ann = VideoName(1, Ranked("ANN", 1, 5000));
  ASSERT_EQ(s.store->ClaimVideo(ann, "other", 3600), true);
  s.options.program = Renderer(s.dir.path());
  RunVideos videos(s.options, *s.store, s.board);
  ASSERT_TRUE(videos.Start(nullptr));
  std::this_thread::sleep_for(300ms);  // many looks at the ranking
  EXPECT_FALSE(fs::exists(s.dir.path() + "/ran")) << "rendered a video another server had claimed";
  EXPECT_EQ(Listing(s.options.folder), std::vector<std::string>{});
  // The other server stops renewing its claim (it died): it is taken over.
  ASSERT_EQ(s.store->ClaimVideo(ann, "other", 0), true);
  ASSERT_TRUE(WaitFor([&] { return Listing(s.options.folder) == std::vector<std::string>{ann}; }));
  EXPECT_TRUE(WaitFor([&] { return videos.stats().made == 1; }));
  videos.Stop();
  s.board.Stop();
}

TEST(RunVideos, TwoServersSharingTheStoreAndTheFolderMakeEachVideoOnce) {
  Shelf s;
  ASSERT_TRUE(s.StartWithAnn());
  Rank(*s.store, Ranked("BOB", 2, 3000), "replay of bob");
  s.Refresh();
  // The second server: its own connection to the store and its own board.
  auto other_store = RankStore::Open(s.dir.path() + "/rank.db");
  ASSERT_TRUE(other_store);
  RankBoard other_board(*other_store, 20ms, RankPolicy{true, true});
  ASSERT_TRUE(other_board.Start());
  s.options.places = 2;
  s.options.program = Renderer(s.dir.path(), "sleep 0.5");
  VideoOptions o = s.options;
  o.owner = "that";
  RunVideos here(s.options, *s.store, s.board), there(o, *other_store, other_board);
  ASSERT_TRUE(here.Start(nullptr));
  ASSERT_TRUE(there.Start(nullptr));
  const std::vector<std::string> both = {VideoName(1, Ranked("ANN", 1, 5000)), VideoName(1, Ranked("BOB", 2, 3000))};
  ASSERT_TRUE(WaitFor([&] { return Listing(s.options.folder) == both; }, 20s));
  std::this_thread::sleep_for(300ms);
  // Two renders in all, one a video, whoever made which.
  std::istringstream ran(Read(s.dir.path() + "/ran"));
  int renders = 0;
  for (std::string line; std::getline(ran, line);) renders++;
  EXPECT_EQ(renders, 2);
  EXPECT_EQ(here.stats().made + there.stats().made, 2);
  EXPECT_FALSE(here.VideoOf(1, Ranked("BOB", 2, 3000)).empty());
  EXPECT_FALSE(there.VideoOf(1, Ranked("ANN", 1, 5000)).empty());
  here.Stop();
  there.Stop();
  other_board.Stop();
  s.board.Stop();
}

TEST(RunVideos, ARendererThatFailsSpinsOrHangsIsStoppedAndLeavesNothing) {
  struct Case {
    const char* what;
    std::string then;
    int cpu_seconds;
    int wall_seconds;
    int limit;  // seconds until it is given up, with room for a busy machine
  };
  // Each bound lies well below the way the renderer would end without the
  // limit under test (the spinner's wall clock is 10 minutes, the sleeper's 60 s).
  for (const Case& c : {Case{"fails", "echo 'kv-sim: no video written: disk full' >&2; exit 1", 5, 5, 30},
                        Case{"spins", "while :; do :; done", 1, 600, 120},  // its CPU time ends it
                        Case{"hangs", "sleep 60", 1, 0, 30}}) {             // its wall clock does
    SCOPED_TRACE(c.what);
    Shelf s;
    ASSERT_TRUE(s.StartWithAnn());
    s.options.program = Renderer(s.dir.path(), c.then);
    s.options.cpu_seconds = c.cpu_seconds;
    s.options.wall_seconds = c.wall_seconds;  // beyond 4 times the CPU allowance
    // At its usual lowest priority a busy test machine could starve the
    // spinner of the one second of CPU it may use.
    s.options.nice = 0;
    RunVideos videos(s.options, *s.store, s.board);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(videos.Start(nullptr));
    ASSERT_TRUE(WaitFor([&] { return videos.stats().failed == 1; }, std::chrono::seconds(c.limit)));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, c.limit);
    EXPECT_EQ(Listing(s.options.folder), std::vector<std::string>{}) << "a half-made video was left";
    if (c.then.find("disk full") != std::string::npos) {
      EXPECT_EQ(videos.last_failure(), "kv-sim: no video written: disk full");
    }
    // Tried once, not again at once.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(videos.stats().failed, 1);
    // Its process is gone.
    const pid_t pid = std::stoi(Read(s.dir.path() + "/ran"));
    EXPECT_TRUE(WaitFor([&] { return kill(pid, 0) != 0; }, 2s));
    videos.Stop();
    s.board.Stop();
  }
}

TEST(RunVideos, AStopEndsTheRenderAndLeavesNothing) {
  Shelf s;
  ASSERT_TRUE(s.StartWithAnn());
  s.options.program = Renderer(s.dir.path(), "sleep 60");
  RunVideos videos(s.options, *s.store, s.board);
  ASSERT_TRUE(videos.Start(nullptr));
  ASSERT_TRUE(WaitFor([&] { return fs::exists(s.dir.path() + "/ran"); }));
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  videos.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  const pid_t pid = std::stoi(Read(s.dir.path() + "/ran"));
  EXPECT_NE(kill(pid, 0), 0) << "the renderer outlived the stop";
  EXPECT_EQ(Listing(s.options.folder), std::vector<std::string>{});
  // Its claim is given up for whoever runs next.
  EXPECT_EQ(s.store->ClaimVideo(VideoName(1, Ranked("ANN", 1, 5000)), "next", 60), true);
  s.board.Stop();
}

TEST(RunVideos, NamesAndRangesOfTheVideoRoute) {
  EXPECT_TRUE(IsVideoName("HELL-82D982EB-12-5000.webm"));
  EXPECT_TRUE(IsVideoName("EASY--0-0.webm"));
  for (const char* bad : {"../rank.db", "EASY-41-1-5.webm/..", ".making-EASY-41-1-5.webm", "EASY-41-1-5.mp4",
                          "NIGHTMARE-41-1-5.webm", "EASY-4a-1-5.webm", ".webm"}) {
    EXPECT_FALSE(IsVideoName(bad)) << bad;
  }
  bool past = false;
  auto range = [&](const char* header) {
    auto r = AskedRange(header, 1000, &past);
    return r ? std::to_string(r->first) + "-" + std::to_string(r->last) : past ? "416" : "whole";
  };
  EXPECT_EQ(range("bytes=0-"), "0-999");
  EXPECT_EQ(range("bytes=100-199"), "100-199");
  EXPECT_EQ(range("bytes=900-5000"), "900-999");
  EXPECT_EQ(range("bytes=-100"), "900-999");
  EXPECT_EQ(range("bytes=-5000"), "0-999");
  EXPECT_EQ(range("bytes=1000-"), "416");
  EXPECT_EQ(range("bytes=-0"), "416");
  for (const char* whole : {"", "bytes=5-1", "bytes=0-1,5-9", "items=0-1", "bytes=x-", "bytes=0-99999999999999999999"}) {
    EXPECT_EQ(range(whole), "whole") << whole;
  }
}
