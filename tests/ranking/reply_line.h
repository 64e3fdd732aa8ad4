// Test helper: reads one CP932 ranking line as the game reads a reply line,
// through ParseRankingReply, with every character of the line written in
// UTF-7's base64 form (so no framing shifts its bytes).
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"
#include "rank_service/rank_codec.h"

inline std::string Base64Utf7Line(std::string_view cp932) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string le = text::Cp932ToUtf16(cp932).value_or("");
  std::string out;
  unsigned bits = 0, held = 0;
  for (std::size_t i = 0; i + 1 < le.size(); i += 2) {
    for (unsigned char byte : {static_cast<unsigned char>(le[i + 1]), static_cast<unsigned char>(le[i])}) {
      bits = (bits << 8) | byte;
      held += 8;
      while (held >= 6) out += kDigits[(bits >> (held -= 6)) & 0x3F];
    }
  }
  if (held > 0) out += kDigits[(bits << (6 - held)) & 0x3F];
  return out;  // the reply parse adds the "+" and "-" around it
}

inline bool ParseRankingLine(std::string_view cp932, RankEntry& entry) {
  RankingReply reply = ParseRankingReply(Base64Utf7Line(cp932));
  if (reply.filled != 1) return false;
  entry = reply.table[0];
  return true;
}
