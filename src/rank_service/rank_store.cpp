#include "rank_service/rank_store.h"

bool RankStore::Submit(int mode, const WireRecord& record) {
  std::vector<Submission> one{{mode, record, false}};
  return SubmitBatch(one);
}

std::optional<std::string> RankStore::RankingReplyBody(int mode) {
  auto lines = TopLines(mode, kMaxRankingLines);
  if (!lines) return std::nullopt;
  std::string body;
  for (const std::string& line : *lines) {
    body += line;
    body += "\r\n";
  }
  return body;
}
