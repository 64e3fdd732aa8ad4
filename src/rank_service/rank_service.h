// The ranking protocol's requests and how the ranking service answers them.
// The route table is the one list of the protocol's requests: kv-rankd puts
// its HTTP handlers behind it, and the game's local ranking answers it
// in-process (HandleRankRequest, through LocalRankHttp) when no server is
// configured.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "rank_service/rank_codec.h"
#include "rank_service/rank_record.h"
#include "rank_service/rank_store.h"

// The mode number of a "write&N" / "read&N" query; nullopt unless N is 1..7.
struct RankQuery {
  bool write = false;
  int mode = 0;
};
std::optional<RankQuery> ParseRankQuery(std::string_view query);

// --- the routes ------------------------------------------------------------------

enum class RankRouteId { read, write, replay_upload, replay_fetch };

struct RankRoute {
  RankRouteId id;
  std::string_view method;
  std::string_view path;          // exact
  std::string_view query_prefix;  // the query must begin with it ("" matches any)
  std::size_t max_body;           // longer bodies are refused unread
  int too_large_status;
  bool limited;                   // counts against the client's allowance of writes
};

//   GET  /zrk/zrk_rank.exe?read&N     the mode's ranking
//   POST /zrk/zrk_rank.exe?write&N    a record; the reply is the note and the ranking
//   POST /zrk/replay?N&name=..&id=..&score=..   the replay of the player's best
//   GET  /zrk/replay?N&name=..&id=..            a ranked record's replay
inline constexpr RankRoute kRankRoutes[] = {
    {RankRouteId::read, "GET", kRankPath, "read&", 0, 400, false},
    {RankRouteId::write, "POST", kRankPath, "write&", kMaxRequestBody, 400, true},
    {RankRouteId::replay_upload, "POST", kReplayPath, "", kMaxReplayUpload, 413, true},
    {RankRouteId::replay_fetch, "GET", kReplayPath, "", 0, 400, false},
};
const RankRoute& RankRouteOf(RankRouteId id);

// A request no route takes: an unknown path gets 404, a known path with
// another query or method 400.
struct RouteRefusal {
  int status = 404;
  std::string_view text = "not found";
};

// The first route (anything with method, path and query_prefix) the request
// matches; nullptr, with `refusal` set, when none does. A route's path that
// ends in "*" takes every path that begins with what comes before it.
template <typename Route>
const Route* MatchRoute(std::span<const Route> routes, std::string_view method, std::string_view path,
                        std::string_view query, RouteRefusal* refusal) {
  bool path_known = false, query_known = false;
  for (const Route& r : routes) {
    const std::string_view p(r.path);
    if (!p.empty() && p.back() == '*' ? !path.starts_with(p.substr(0, p.size() - 1)) : p != path) continue;
    path_known = true;
    if (query.substr(0, std::string_view(r.query_prefix).size()) != r.query_prefix) continue;
    query_known = true;
    if (std::string_view(r.method) == method) return &r;
  }
  if (refusal != nullptr) {
    *refusal = !path_known   ? RouteRefusal{404, "not found"}
               : query_known ? RouteRefusal{400, "refused: wrong method"}
                             : RouteRefusal{400, "refused: unknown query"};
  }
  return nullptr;
}

// --- the answers ----------------------------------------------------------------

struct ServiceReply {
  int status = 200;
  std::string body;
  std::string content_type = "text/plain; charset=Shift_JIS";
};

// "[m" + "ランキングに登録しました" and CR LF: the note a write reply begins with,
// for the game's message log.
inline constexpr std::string_view kWriteNote{
    "[m\x83\x89\x83\x93\x83\x4C\x83\x93\x83\x4F\x82\xC9\x93\x6F\x98\x5E\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n"};

// "[m" + "リプレイを確認しました" and CR LF: the note an upload's reply begins
// with on kv-rankd (the mode's ranking follows); the local ranking, which
// checks nothing, says "リプレイを保存しました" instead.
inline constexpr std::string_view kReplayVerifiedNote{
    "[m\x83\x8A\x83\x76\x83\x8C\x83\x43\x82\xF0\x8A\x6D\x94\x46\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n"};
inline constexpr std::string_view kReplayKeptNote{
    "[m\x83\x8A\x83\x76\x83\x8C\x83\x43\x82\xF0\x95\xDB\x91\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\r\n"};

// Answers one request of the route table for the local ranking. A refused
// request gets 4xx and changes nothing.
ServiceReply HandleRankRequest(RankStore& store, std::string_view method, std::string_view path,
                               std::string_view query, std::string_view body);

// Same, from a full URL or request target ("http://host/zrk/...?read&1" or
// "/zrk/...?read&1").
ServiceReply HandleRankUrl(RankStore& store, std::string_view method, std::string_view url, std::string_view body);
