// A record as the ranking service receives, checks, keeps and sends it back:
// the decoding of the game's record bodies and the record's rules.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "rank_service/rank_entry.h"

inline constexpr std::size_t kMaxRequestBody = 4096;

// A record as it travels, checked. Texts are CP932 bytes.
struct WireRecord {
  std::string name;  // 1..12 bytes
  int id = 0;        // 0..9999
  int score = 0;     // 0..kMaxSentScore
  std::string comment;  // 0..30 bytes
  std::string date;     // "M/D"
  int play_count = 0;
  SpareFields spare{};  // fields 4, 6, 8, 10 and 11
};

// Parses and checks a record text (CP932, header included, no framing).
// On refusal returns nullopt and, when `why` is given, says why.
std::optional<WireRecord> ParseWireRecord(std::string_view record_cp932, std::string* why = nullptr);

// Undoes everything the game does to a record for sending: percent-decoding,
// the trailing "あ" and random number, the dropped "+"/"-" of the UTF-7,
// the UTF-7 itself and the "＊　"/"　＊" framing; then ParseWireRecord.
std::optional<WireRecord> DecodeSendBody(std::string_view body, std::string* why = nullptr);

// The record text of a stored record (CP932), as the game builds it.
std::string RecordText(const WireRecord& record);

// The reply line of a record (the dropped-ends UTF-7 text the game decodes).
std::optional<std::string> ReplyLine(const WireRecord& record);
