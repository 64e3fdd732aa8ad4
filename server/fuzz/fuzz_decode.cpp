// Feeds arbitrary bytes to everything that reads what comes over the wire:
// the server's body decoding and record check, the query parse, and the
// game's reply parse. Anything decoded must re-encode to a record that
// decodes to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rank_service/rank_service.h"
#include "rank_service/rank_codec.h"
#include "replay_verifier.h"

// Keeps glibc's converter modules loaded between runs; without it every run
// loads and unloads them and the fuzzer crawls.
const text::CodecModules keep_converters_loaded;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  ParseRankQuery(in);
  ParseWireRecord(in);
  if (auto record = DecodeSendBody(in)) {
    auto body = BuildSendBody(RecordText(*record), 0);
    if (!body) std::abort();
    auto again = DecodeSendBody(*body);
    if (!again || RecordText(*again) != RecordText(*record)) std::abort();
  }
  // The same bytes percent-encoded, so the decoder's later stages see them.
  if (size <= kMaxRequestBody / 3) DecodeSendBody(PercentEncodeAll(in));
  ParseRankingReply(in);
  // Replay queries: one that parses builds the same query again.
  if (auto q = ParseReplayQuery(in)) {
    if (q->mode < 1 || q->mode > 7 || q->name.empty() || q->name.size() > 12 || q->id < 0 || q->id > 9999) std::abort();
  }
  // The verifier's line, as kv-rankd reads it back.
  VerifyResult v;
  ParseVerifyLine(std::string(in), v);
  return 0;
}
