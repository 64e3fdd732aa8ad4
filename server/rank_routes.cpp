#include "rank_routes.h"

#include <algorithm>
#include <future>

#include <ctime>
#include <deque>
#include <mutex>
#include <unordered_set>

#include "rank_service/player_key.h"
#include "rank_service/rank_codec.h"
#include "rank_service/rank_names.h"
#include "rank_service/rank_service.h"

namespace {

// Signatures seen within the time window: a request signed once is taken
// once. Older ones need no memory, their time is refused anyway.
class SeenSignatures {
 public:
  // false when the signature was seen already, or when too many are held.
  bool First(const std::string& signature, long long now) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!order_.empty() && order_.front().first < now - 2 * kSignatureWindowSeconds) {
      seen_.erase(order_.front().second);
      order_.pop_front();
    }
    if (seen_.size() >= kMaxHeld || !seen_.insert(signature).second) return false;
    order_.emplace_back(now, signature);
    return true;
  }

 private:
  static constexpr std::size_t kMaxHeld = 1000000;
  std::mutex mutex_;
  std::unordered_set<std::string> seen_;
  std::deque<std::pair<long long, std::string>> order_;
};

// The request's signature checked: the signer's public key (empty for an
// unsigned request), or an answer refusing it.
std::optional<HttpAnswer> CheckSigned(const HttpRequest& req, SeenSignatures& seen, std::string* signer) {
  const long long now = std::time(nullptr);
  CheckedSignature s = CheckSignature({req.key_header, req.time_header, req.signature_header}, req.method, req.path,
                                      req.query, req.body, now);
  if (s.verdict == CheckedSignature::Verdict::bad) return TextAnswer(403, "refused: " + s.why);
  if (s.verdict == CheckedSignature::Verdict::valid && !seen.First(s.signature, now)) {
    return TextAnswer(403, "refused: the signature was used before");
  }
  *signer = std::move(s.public_key);
  return std::nullopt;
}

std::optional<HttpAnswer> CheckName(std::string_view name_cp932) {
  if (auto refusal = RefuseName(name_cp932)) return TextAnswer(refusal->status, refusal->why);
  return std::nullopt;
}

HttpAnswer KeyRefusal(SubmitOutcome outcome) {
  return outcome == SubmitOutcome::other_key
             ? TextAnswer(403, "refused: this name and id belong to another player's key")
             : TextAnswer(403, "refused: this name and id are held by a player's key; unsigned records cannot rank under them");
}

// The route of the protocol's table, with kv-rankd's handler behind it.
HttpRoute Route(RankRouteId id, std::function<void(const HttpRequest&, Responder)> handler) {
  const RankRoute& r = RankRouteOf(id);
  HttpRoute route;
  route.method = r.method;
  route.path = r.path;
  route.query_prefix = r.query_prefix;
  route.max_body = r.max_body;
  route.too_large_status = r.too_large_status;
  route.limited = r.limited;
  route.handler = std::move(handler);
  return route;
}

}  // namespace

void AddRankingRoutes(HttpRouter& router, RankBoard& board) {
  auto seen = std::make_shared<SeenSignatures>();
  router.Add(Route(RankRouteId::read, [&board](const HttpRequest& req, Responder reply) {
    auto q = ParseRankQuery(req.query);
    if (!q) return reply(TextAnswer(400, "refused: unknown query"));
    auto snapshot = board.Snapshot(q->mode);
    if (!snapshot) return reply(TextAnswer(500, "store failed"));
    reply(AnswerCached(req, snapshot->wire));
  }));

  router.Add(Route(RankRouteId::write, [&board, seen](const HttpRequest& req, Responder reply) {
    auto q = ParseRankQuery(req.query);
    if (!q) return reply(TextAnswer(400, "refused: unknown query"));
    std::string why;
    auto record = DecodeSendBody(req.body, &why);
    if (!record) return reply(TextAnswer(400, "refused: " + why));
    if (auto refused = CheckName(record->name)) return reply(std::move(*refused));
    std::string signer;
    if (auto refused = CheckSigned(req, *seen, &signer)) return reply(std::move(*refused));
    board.Submit(q->mode, std::move(*record), std::move(signer), [reply](RankBoard::Body body, SubmitOutcome outcome) {
      if (!body) return reply(TextAnswer(500, "store failed"));
      if (outcome == SubmitOutcome::other_key || outcome == SubmitOutcome::needs_key) return reply(KeyRefusal(outcome));
      HttpAnswer a;
      a.body = std::move(body);
      reply(std::move(a));
    });
  }));
}

namespace {

std::string Reason(const VerifyResult& r) { return r.why.empty() ? std::string() : ": " + r.why; }

// What the check of an upload ends with, from a verifier's worker thread.
HttpAnswer CheckUpload(RankStore& store, ReplayVerifier& verifier, const ReplayQuery& q, const std::string& signer,
                       const std::string& replay, bool* refresh) {
  using V = VerifyResult::Verdict;
  const RecordKey key{q.mode, q.name, q.id};
  // A name and id held by a key take that key's replays only.
  std::string bound;
  const StoreStatus held = store.FindKey(q.name, q.id, &bound);
  if (held == StoreStatus::failed) return TextAnswer(500, "store failed");
  if (held == StoreStatus::ok && signer != bound) {
    return KeyRefusal(signer.empty() ? SubmitOutcome::needs_key : SubmitOutcome::other_key);
  }
  StoredRecord stored;
  const StoreStatus found = store.FindRecord(key, &stored);
  if (found == StoreStatus::failed) return TextAnswer(500, "store failed");
  if (found != StoreStatus::ok) return TextAnswer(404, "refused: no such record (send the record first)");
  // The run is the ranked record's, or the one waiting beside a verified best.
  bool pending = false;
  if (stored.record.score != q.score) {
    WireRecord waiting;
    const StoreStatus p = store.FindPending(key, &waiting);
    if (p == StoreStatus::failed) return TextAnswer(500, "store failed");
    pending = p == StoreStatus::ok && waiting.score == q.score;
    if (!pending) {
      return TextAnswer(409, "refused: the record's score is " + std::to_string(stored.record.score) + ", not " +
                                 std::to_string(q.score));
    }
  }
  const VerifyResult r = verifier.Check(replay);
  switch (r.verdict) {
    case V::failed: return TextAnswer(500, "the replay could not be checked" + Reason(r));
    case V::too_long: return TextAnswer(422, "refused: the replay takes too long to check");
    case V::stopped: return TextAnswer(503, "the server is stopping; send the replay again later");
    case V::malformed: return TextAnswer(422, "refused: malformed replay" + Reason(r));
    case V::other_version: return TextAnswer(422, "refused: the replay is of another game version" + Reason(r));
    case V::mismatch: return TextAnswer(422, "refused: the replay does not play as recorded" + Reason(r));
    case V::verified: break;
  }
  if (r.mode != q.mode) return TextAnswer(422, "refused: the replay is a run of another mode");
  if (r.name != q.name || r.id != q.id) return TextAnswer(422, "refused: the replay is another player's run");
  // Records carry at most kMaxSentScore; so does the claim.
  if (std::min<long long>(r.score, kMaxSentScore) != q.score) {
    return TextAnswer(422, "refused: the replay scores " + std::to_string(r.score) + ", not the claimed " +
                               std::to_string(q.score));
  }
  // Kept only while the record is still the one checked: a better record
  // sent meanwhile is another run. A pending run now takes the verified
  // best's place, with its replay.
  StoreStatus s = StoreStatus::ok;
  if (pending) {
    s = store.PromotePending(key, replay, q.score);
  } else {
    s = store.PutReplay(key, replay, q.score);
    if (s == StoreStatus::ok) s = store.SetVerified(key, true, q.score);
  }
  if (s == StoreStatus::stale) return TextAnswer(409, "refused: the record changed while its replay was checked");
  if (s == StoreStatus::not_found) return TextAnswer(404, "refused: no such record (send the record first)");
  if (s != StoreStatus::ok) return TextAnswer(500, "store failed");
  *refresh = true;
  return TextAnswer(200, "verified");
}

}  // namespace

void AddReplayRoutes(HttpRouter& router, RankBoard& board, RankStore& store, ReplayVerifier* verifier,
                     TaskPool& fetches) {
  auto seen = std::make_shared<SeenSignatures>();
  router.Add(Route(RankRouteId::replay_upload, [&board, &store, verifier, seen](const HttpRequest& req, Responder reply) {
    if (verifier == nullptr) return reply(TextAnswer(503, "refused: this server does not take replays"));
    auto q = ParseReplayQuery(req.query);
    if (!q || q->score < 0) return reply(TextAnswer(400, "refused: the query is not MODE&name=..&id=..&score=.."));
    if (req.body.empty()) return reply(TextAnswer(400, "refused: no replay in the body"));
    if (auto refused = CheckName(q->name)) return reply(std::move(*refused));
    std::string signer;
    if (auto refused = CheckSigned(req, *seen, &signer)) return reply(std::move(*refused));
    auto replay = std::make_shared<std::string>(req.body);
    // A file that cannot be the claimed run is refused before any verifier starts.
    if (auto why = PrecheckUpload(*replay, {q->mode, q->name, q->id, q->score})) {
      return reply(TextAnswer(422, "refused: " + *why));
    }
    auto task = [&board, &store, verifier, q = *q, signer, replay, reply](bool run) {
      if (!run) return reply(TextAnswer(503, "the server is stopping; send the replay again later"));
      bool refresh = false;
      HttpAnswer answer = CheckUpload(store, *verifier, q, signer, *replay, &refresh);
      if (refresh) {
        // Answered once the ranking shows the verified record, with that
        // ranking; waited for here, so a stopped verifier has answered
        // everything it took.
        std::promise<RankBoard::Body> shown;
        board.Refresh(q.mode, [&shown](RankBoard::Body body) { shown.set_value(std::move(body)); });
        RankBoard::Body ranking = shown.get_future().get();
        if (!ranking) ranking = board.Read(q.mode);  // verified and kept; the last good ranking
        auto body = std::make_shared<std::string>(kReplayVerifiedNote);
        if (ranking) body->append(*ranking);
        answer.body = std::move(body);
      }
      reply(std::move(answer));
    };
    switch (verifier->Post({std::string(req.client_key), signer}, std::move(task))) {
      case ReplayVerifier::Admission::queued: break;
      case ReplayVerifier::Admission::busy:
        return reply(TextAnswer(429, "refused: too many replays are being checked; try again in a minute"));
      case ReplayVerifier::Admission::stopped:
        return reply(TextAnswer(503, "the server is stopping; send the replay again later"));
    }
  }));

  router.Add(Route(RankRouteId::replay_fetch, [&board, &store, &fetches](const HttpRequest& req, Responder reply) {
    auto q = ParseReplayQuery(req.query);
    if (!q || q->score >= 0) return reply(TextAnswer(400, "refused: the query is not MODE&name=..&id=.."));
    auto task = [&board, &store, q = *q, reply](bool run) {
      if (!run) return reply(TextAnswer(503, "the server is stopping"));
      const RecordKey key{q.mode, q.name, q.id};
      StoredRecord stored;
      const StoreStatus found = store.FindRecord(key, &stored);
      if (found == StoreStatus::failed) return reply(TextAnswer(500, "store failed"));
      if (found != StoreStatus::ok) return reply(TextAnswer(404, "no such record"));
      // Only what the ranking shows: with replays required, verified records.
      if (board.policy().require_replay && !stored.verified) return reply(TextAnswer(404, "no such record"));
      if (!stored.has_replay) return reply(TextAnswer(404, "no replay for this record"));
      auto blob = std::make_shared<std::string>();
      const StoreStatus got = store.GetReplay(key, blob.get());
      if (got == StoreStatus::failed) return reply(TextAnswer(500, "store failed"));
      if (got != StoreStatus::ok) return reply(TextAnswer(404, "no replay for this record"));
      HttpAnswer a;
      a.body = std::move(blob);
      a.content_type = "application/octet-stream";
      reply(std::move(a));
    };
    if (!fetches.Post(std::move(task))) reply(TextAnswer(429, "refused: too many replay requests; try again soon"));
  }));
}
