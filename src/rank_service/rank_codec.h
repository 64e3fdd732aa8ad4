// The online ranking's wire format: the record text the game sends, the
// percent-encoded UTF-7 body that carries it, the parse of the server's reply
// into the 1000-entry ranking table, and the lines of the ranking list.
//
// Everything here is pure: no game state, no network, no globals. Texts handed
// in and out are UTF-8; the record itself is CP932 bytes, because every rule
// that counts or searches bytes works on CP932.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http.h"
#include "platform/text.h"
#include "rank_service/rank_entry.h"

// ---------------------------------------------------------------------------
// The record text.

// The protocol's path: "?write&N" sends a record, "?read&N" reads a ranking.
inline constexpr std::string_view kRankPath = "/zrk/zrk_rank.exe";
// The highest score a record carries; a higher hi score is sent as this.
inline constexpr long long kMaxSentScore = 19999999;
// "[hいk[]kあ#{" in CP932: the 12 bytes every record line begins with.
inline constexpr std::string_view kRecordHeader{"\x5B\x68\x82\xA2\x6B\x5B\x5D\x6B\x82\xA0\x23\x7B", 12};
inline constexpr std::string_view kFieldSeparator{"#{"};
// "＊　" and "　＊" in CP932: the framing around a record on the wire.
inline constexpr std::string_view kFrameOpen{"\x81\x96\x81\x40", 4};
inline constexpr std::string_view kFrameClose{"\x81\x40\x81\x96", 4};
// "あ" in CP932: appended to the body before the random number.
inline constexpr std::string_view kBodyTailMark{"\x82\xA0", 2};

// What a record holds. Name and comment are UTF-8.
struct RankRecord {
  std::string name;
  int player_id = 0;
  long long score = 0;
  std::string comment;
  int month = 1;  // today's date, passed in so the text is deterministic
  int day = 1;
  int play_count = 0;
};

// Every "#{" in the CP932 text becomes "#.", so a typed separator cannot shift
// the fields that follow it.
std::string EscapeSeparators(std::string_view cp932);

// The name field of a player's records, in CP932: portal5529 is "GM", a "#{"
// is "#."; nullopt when the name does not fit CP932.
std::optional<std::string> WireName(std::string_view utf8_name);

// The record text in CP932: the 12-byte header, then name, id, score (capped at
// 19999999), 0, comment, 0, month/day, 0, play count, 0, 0, each followed by
// "#{". The player portal5529 is sent as "GM". A "#{" typed into the comment
// (or the name) is sent as "#.". nullopt when name or comment do not fit CP932.
std::optional<std::string> BuildRecordText(const RankRecord& record);

// The POST body for a record: "＊　" + record + "　＊", as UTF-16, then UTF-7,
// first and last character dropped, then "あ" (82 A0) and the decimal random
// number, and every byte percent-encoded as %XX in upper-case hex.
// nullopt when the record is not valid CP932 or random is outside 0..98.
std::optional<std::string> BuildSendBody(std::string_view record_cp932, int random_0_to_98);

// The wire framing used by BuildSendBody and by the server's reply lines:
// EncodeWireLine frames a CP932 record with "＊　"/"　＊", writes it in UTF-7
// and drops the leading "+" and trailing "-"; DecodeWireLine restores them,
// decodes and returns the CP932 text with the framing still inside; Unframe
// takes the framing off; DecodeWireRecord does both. nullopt on any failure.
std::optional<std::string> EncodeWireLine(std::string_view record_cp932);
std::optional<std::string> DecodeWireLine(std::string_view line);
std::optional<std::string_view> Unframe(std::string_view framed_cp932);
std::optional<std::string> DecodeWireRecord(std::string_view line);

// Percent-encoding of every byte as %XX (upper-case hex), and its strict
// inverse (only %XX triples, either case of hex digit; nullopt otherwise).
std::string PercentEncodeAll(std::string_view bytes);
std::optional<std::string> PercentDecodeStrict(std::string_view text);

// ---------------------------------------------------------------------------
// The reply.

inline constexpr std::size_t kMaxReplyBytes = 2 * 1024 * 1024;
inline constexpr std::size_t kMaxReplyLines = 5000;

struct RankingReply {
  // The "[m" lines, in order, as UTF-8, for the message log (colour "pink2").
  std::vector<std::string> messages;
  // Always kRankEntries entries; index + 1 is the rank.
  std::vector<RankEntry> table;
  // How many entries the reply filled (0..kRankEntries).
  int filled = 0;
};

// Splits the body into lines (CR LF, LF or CR) and reads them in order: a line
// beginning with "[m" goes to the messages; every line is then tried as a
// ranking line ("+" + line + "-" decoded from UTF-7). At most 2 MiB of body and
// 5000 lines are looked at, and at most 1000 entries are filled.
RankingReply ParseRankingReply(std::string_view body);

// Index of the last entry whose name and id are the player's; -1 when none.
int OwnRankIndex(const std::vector<RankEntry>& table, std::string_view name, int id);

// One line of the ranking list, UTF-8: rank (index + 1), score, name, play
// count + "回", date and comment, each but the comment padded with spaces to
// 5, 10, 13, 7 and 5 CP932 bytes; an empty place is the rank and "--------".
std::string FormatRankingLine(int index, const RankEntry& entry);

// The ranking's URL on a host ("example.org" or "example.org:8765").
std::string RankingUrl(std::string_view host, bool write, int mode_number);

// ---------------------------------------------------------------------------
// Replays of ranked records (kv-rankd's /zrk/replay).
//
//   POST /zrk/replay?MODE&name=NAME&id=ID&score=SCORE   body: the replay file
//   GET  /zrk/replay?MODE&name=NAME&id=ID               reply: the replay file
//
// MODE is the wire number 1..7, NAME the record's name field (CP932, as
// WireName makes it) with every byte percent-encoded, ID and SCORE decimal.

inline constexpr std::string_view kReplayPath = "/zrk/replay";
// Larger uploads are refused unread (a six-stage run is about 40 KB).
inline constexpr std::size_t kMaxReplayUpload = 512 * 1024;

struct ReplayQuery {
  int mode = 0;        // 1..7
  std::string name;    // CP932
  int id = 0;
  int score = -1;      // -1 when the query has none
};
// nullopt for anything but the form above (each key once, in any order after
// the mode; score may be missing, and must be for a GET).
std::optional<ReplayQuery> ParseReplayQuery(std::string_view query);
// The query of a record's replay; the name is UTF-8 (nullopt when it does not
// fit CP932); score < 0 leaves it out.
std::optional<std::string> BuildReplayQuery(int mode_number, std::string_view name_utf8, int id, long long score);
std::string ReplayUrl(std::string_view host, std::string_view query);

// ---------------------------------------------------------------------------
// The two exchanges, over any Http (the game runs them on a worker thread).

struct RankExchange {
  bool ok = false;     // a reply with status 200 arrived and was read
  RankingReply reply;  // meaningful only when ok; on failure keep the old table
  std::string error;   // what failed, for diagnostics (never shown as is)
};

// Judges a reply: only a complete transfer with status 200 counts.
RankExchange ReadRankExchange(const HttpReply& http);

// POST "write&N" with the record's body, signed with `key` at `unix_time`
// when a key is given; fails without a request when the record cannot be
// written in CP932.
struct PlayerKey;
RankExchange SendRecordOver(Http& http, std::string_view host, int mode_number, const RankRecord& record,
                            int random_0_to_98, const PlayerKey* key = nullptr, long long unix_time = 0);
// GET "read&N".
RankExchange ReadRankingOver(Http& http, std::string_view host, int mode_number);
