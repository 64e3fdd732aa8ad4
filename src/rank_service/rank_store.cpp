#include "rank_service/rank_store.h"

#include <optional>

bool RankStore::Submit(int mode, const WireRecord& record) {
  std::vector<Submission> one{{mode, record, false, {}, SubmitOutcome::not_better}};
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

SubmitOutcome DecideSubmission(const Submission& s, std::string_view bound_key, const std::optional<HeldRecord>& best,
                               const std::optional<int>& pending_score) {
  if (!bound_key.empty()) {
    if (s.key.empty()) return SubmitOutcome::needs_key;
    if (s.key != bound_key) return SubmitOutcome::other_key;
  }
  if (best) {
    if (s.record.score <= best->score) return SubmitOutcome::not_better;
    if (s.key.empty() && best->is_signed) return SubmitOutcome::needs_key;
    // A verified best is displaced only by a run that has verified itself.
    if (best->verified) {
      return pending_score && s.record.score <= *pending_score ? SubmitOutcome::not_better : SubmitOutcome::pending;
    }
  }
  return SubmitOutcome::kept;
}
