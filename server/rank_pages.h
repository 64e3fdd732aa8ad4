// The ranking on the web: kv-rankd's own HTML pages, made on the server from
// the same snapshot the game's reads get, so they change in the same moment.
//   GET /              each mode's top 10 and its number of ranked runs
//   GET /ranking/MODE  every ranked run of the mode (EASY ... HELL)
// Plain HTML and one inline style sheet: no script, nothing from elsewhere,
// readable on a phone. Each page is made once per change of its ranking and
// then served like the wire reads (gzip copy, ETag and 304).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "cached_reply.h"
#include "rank_board.h"
#include "rank_http_server.h"

inline constexpr const char* kPageModeNames[] = {"EASY", "HARD", "EXTREAM", "NOVA", "SQ", "LIGHT", "HELL"};
// The places of each mode the front page shows.
inline constexpr int kFrontPagePlaces = 10;

// The URL of a ranked run's video, "" when it has none (yet).
using VideoLink = std::function<std::string(int mode, const RankSnapshot::Place& place)>;

// The HTML of the pages, from snapshots (pure: used by the routes and tests).
std::string RankingPageHtml(const RankSnapshot& s, const VideoLink& video);
std::string FrontPageHtml(const std::array<std::shared_ptr<const RankSnapshot>, 8>& modes);
// Text as HTML shows it: & < > " ' escaped.
std::string EscapeHtml(std::string_view utf8);
// The link of a ranked record's replay (the replay route's GET query).
std::string ReplayLink(int mode, const WireRecord& record);

class RankPages {
 public:
  explicit RankPages(RankBoard& board, VideoLink video = {}) : board_(board), video_(std::move(video)) {}
  // Null when the board has no ranking of the mode (store failure at start).
  std::shared_ptr<const CachedReply> Mode(int mode);
  std::shared_ptr<const CachedReply> Front();
  // Videos appeared or went: the pages are made again at the next read.
  void VideosChanged();

 private:
  struct Made {
    std::uint64_t generation = 0;
    std::uint64_t videos = 0;
    std::shared_ptr<const CachedReply> page;
  };
  RankBoard& board_;
  VideoLink video_;
  std::mutex mutex_;
  std::uint64_t videos_ = 0;
  std::array<Made, 8> modes_{};
  Made front_;
  std::array<std::uint64_t, 8> front_generations_{};
};

void AddPageRoutes(HttpRouter& router, RankPages& pages);
