#include "rank_service/rank_service.h"

#include <iterator>

std::optional<RankQuery> ParseRankQuery(std::string_view query) {
  RankQuery q;
  std::string_view number;
  if (query.substr(0, 6) == "write&") {
    q.write = true;
    number = query.substr(6);
  } else if (query.substr(0, 5) == "read&") {
    number = query.substr(5);
  } else {
    return std::nullopt;
  }
  if (number.size() != 1 || number[0] < '1' || number[0] > '7') return std::nullopt;
  q.mode = number[0] - '0';
  return q;
}

const RankRoute& RankRouteOf(RankRouteId id) {
  for (const RankRoute& r : kRankRoutes) {
    if (r.id == id) return r;
  }
  return kRankRoutes[0];
}

namespace {

ServiceReply Refuse(int status, std::string_view text) {
  ServiceReply reply;
  reply.status = status;
  reply.body = std::string(text) + "\r\n";
  return reply;
}

ServiceReply Ranking(RankStore& store, int mode, std::string_view note) {
  auto ranking = store.RankingReplyBody(mode);
  if (!ranking) return Refuse(500, "store failed");
  ServiceReply reply;
  reply.body = std::string(note) + *ranking;
  return reply;
}

}  // namespace

ServiceReply HandleRankRequest(RankStore& store, std::string_view method, std::string_view path,
                               std::string_view query, std::string_view body) {
  RouteRefusal refusal;
  const RankRoute* route = MatchRoute(std::span<const RankRoute>(kRankRoutes), method, path, query, &refusal);
  if (route == nullptr) return Refuse(refusal.status, refusal.text);
  if (body.size() > route->max_body) return Refuse(route->too_large_status, "refused: body too large");

  switch (route->id) {
    case RankRouteId::read:
    case RankRouteId::write: {
      auto q = ParseRankQuery(query);
      if (!q) return Refuse(400, "refused: unknown query");
      if (!q->write) return Ranking(store, q->mode, {});
      std::string why;
      auto record = DecodeSendBody(body, &why);
      if (!record) return Refuse(400, "refused: " + why);
      if (!store.Submit(q->mode, *record)) return Refuse(500, "store failed");
      return Ranking(store, q->mode, kWriteNote);
    }
    case RankRouteId::replay_upload: {
      // The local ranking keeps the replay of each best run as it comes:
      // there is nobody to cheat but oneself, and no verifier in the game.
      auto rq = ParseReplayQuery(query);
      if (!rq || rq->score < 0) return Refuse(400, "refused: the query is not MODE&name=..&id=..&score=..");
      if (body.empty()) return Refuse(400, "refused: no replay in the body");
      const StoreStatus s = store.PutReplay({rq->mode, rq->name, rq->id}, body, rq->score);
      if (s == StoreStatus::not_found) return Refuse(404, "refused: no such record");
      if (s == StoreStatus::stale) return Refuse(409, "refused: the record's score is another");
      if (s != StoreStatus::ok) return Refuse(500, "store failed");
      return Ranking(store, rq->mode, kReplayKeptNote);
    }
    case RankRouteId::replay_fetch: {
      auto rq = ParseReplayQuery(query);
      if (!rq || rq->score >= 0) return Refuse(400, "refused: the query is not MODE&name=..&id=..");
      ServiceReply reply;
      const StoreStatus s = store.GetReplay({rq->mode, rq->name, rq->id}, &reply.body);
      if (s == StoreStatus::not_found) return Refuse(404, "no replay for this record");
      if (s != StoreStatus::ok) return Refuse(500, "store failed");
      reply.content_type = "application/octet-stream";
      return reply;
    }
  }
  return Refuse(404, "not found");
}

ServiceReply HandleRankUrl(RankStore& store, std::string_view method, std::string_view url, std::string_view body) {
  std::string_view target = url;
  for (std::string_view scheme : {"http://", "https://"}) {
    if (target.substr(0, scheme.size()) == scheme) {
      target = target.substr(scheme.size());
      const std::size_t slash = target.find('/');
      target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
      break;
    }
  }
  const std::size_t mark = target.find('?');
  const std::string_view path = target.substr(0, mark);
  const std::string_view query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
  return HandleRankRequest(store, method, path, query, body);
}
