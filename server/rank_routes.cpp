#include "rank_routes.h"

namespace {

constexpr const char* kRankPath = "/zrk/zrk_rank.exe";

}  // namespace

void AddRankingRoutes(HttpRouter& router, RankBoard& board) {
  HttpRoute read;
  read.method = "GET";
  read.path = kRankPath;
  read.query_prefix = "read&";
  read.handler = [&board](const HttpRequest& req, Responder reply) {
    auto q = ParseRankQuery(req.query);
    if (!q) return reply(TextAnswer(400, "refused: unknown query"));
    HttpAnswer a;
    a.body = board.Read(q->mode);
    if (!a.body) return reply(TextAnswer(500, "store failed"));
    reply(std::move(a));
  };
  router.Add(std::move(read));

  HttpRoute write;
  write.method = "POST";
  write.path = kRankPath;
  write.query_prefix = "write&";
  write.max_body = kMaxRequestBody;
  write.limited = true;
  write.handler = [&board](const HttpRequest& req, Responder reply) {
    auto q = ParseRankQuery(req.query);
    if (!q) return reply(TextAnswer(400, "refused: unknown query"));
    std::string why;
    auto record = DecodeSendBody(req.body, &why);
    if (!record) return reply(TextAnswer(400, "refused: " + why));
    board.Write(q->mode, std::move(*record), [reply](RankBoard::Body body) {
      if (!body) return reply(TextAnswer(500, "store failed"));
      HttpAnswer a;
      a.body = std::move(body);
      reply(std::move(a));
    });
  };
  router.Add(std::move(write));
}
