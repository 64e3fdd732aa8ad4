// Videos of the ranked runs: kv-rankd keeps a video of each verified run in
// the first places of every mode, made by the game's own kv-sim (--replay
// --video) in a child process, one at a time, at low priority, under a CPU
// time, memory and wall-clock allowance (the server links no game code).
//
// The videos live in one folder, one file a run, named after the run
// (MODE-NAMEHEX-ID-SCORE.webm), so a better run of the same player is another
// file and the old one goes when its run leaves the places. A video is made
// in a folder of its own (".making-" + its name) and moved into place whole;
// whatever a failed or stopped render left there is removed.
//
// Several servers sharing a PostgreSQL store share the folder too: before
// making a video a server claims it in the store, renews the claim while it
// works and gives it up when done; a claim that was not renewed in time (its
// server died) is taken over.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "child_process.h"
#include "rank_board.h"
#include "rank_http_server.h"

struct VideoOptions {
  std::string program;         // kv-sim
  std::string game_dir;        // its --game-dir; empty: its own
  std::string folder;          // where the videos are kept
  int places = 10;             // the places of each mode with a video
  int cpu_seconds = 30;        // CPU time of one render beyond cpu_ms_per_frame
  int cpu_ms_per_frame = 40;   // a six-stage run renders at about 10 ms a frame
  int wall_seconds = 60;       // wall clock of one render beyond 4 times its CPU time
  long long memory_mb = 1536;  // address space of the renderer
  int nice = 19;
  int claim_seconds = 60;      // a claim not renewed for this long is anyone's
  int retry_seconds = 900;     // a run whose render failed is tried again after this
  int look_ms = 2000;          // how often the ranking and the folder are looked at
  std::string owner;           // this server's name in the claims; default host:pid:random
};

// The video file name of a ranked run (mode 1..7); the same on every server.
std::string VideoName(int mode, const WireRecord& record);
// Whether `name` could be one (what the video route serves).
bool IsVideoName(std::string_view name);

class RunVideos {
 public:
  RunVideos(VideoOptions options, RankStore& store, RankBoard& board);
  ~RunVideos();
  RunVideos(const RunVideos&) = delete;
  RunVideos& operator=(const RunVideos&) = delete;

  // Makes the folder, checks that the renderer can be run, starts the worker.
  bool Start(std::string* error);
  // Kills a render running (it leaves nothing) and stops the worker.
  void Stop();
  // Called (from the worker) whenever videos appeared or went.
  void OnChange(std::function<void()> changed);

  // The file name of the run's video when it is there now, else "".
  std::string VideoOf(int mode, const WireRecord& record) const;
  const std::string& folder() const { return options_.folder; }
  const VideoOptions& options() const { return options_; }

  struct Stats {
    int made = 0, removed = 0, failed = 0;
  };
  Stats stats() const;
  // Why the last render failed (the renderer's last line), for the log.
  std::string last_failure() const;

 private:
  struct Wanted {
    int mode;
    WireRecord record;
  };
  void Run();
  // The runs that should have a video now, by file name.
  std::map<std::string, Wanted> WantedNow() const;
  // Removes videos no longer wanted and leftovers, notes what is there.
  void Tidy(const std::map<std::string, Wanted>& wanted);
  // Makes one video; false when it failed.
  bool Make(const std::string& name, const Wanted& w);
  bool Render(const std::string& name, const std::string& replay, const std::string& work);
  void Changed();

  VideoOptions options_;
  RankStore& store_;
  RankBoard& board_;
  ChildGroup children_;
  std::function<void()> changed_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::set<std::string> present_;  // the videos in the folder
  std::map<std::string, std::chrono::steady_clock::time_point> failed_;  // worker only: when to try again
  Stats stats_;
  std::string last_failure_;
  std::thread thread_;
};

// GET /video/NAME: a video from `folder` (video/webm), whole or the byte
// range asked for (a browser seeks with these), with an ETag; sent straight
// from the file.
void AddVideoRoute(HttpRouter& router, const std::string& folder);

// The byte range a Range header asks of a body of `size` bytes: nullopt to
// send it whole (no header, or one this server does not take), or the first
// and last byte; `unsatisfiable` when it lies past the end.
struct ByteRange {
  unsigned long long first = 0, last = 0;
};
std::optional<ByteRange> AskedRange(std::string_view header, unsigned long long size, bool* unsatisfiable);
