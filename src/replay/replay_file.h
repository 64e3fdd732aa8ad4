// The replay file: a small versioned header and zlib-compressed records.
//
//   "KVRP"  magic
//   u8      format version (kReplayFormat)
//   u8      mode (0..6)
//   u8      n, then n bytes: the game version that recorded it
//   u8      how the run ended (ReplayEnd)
//   i32     score at the end (the claim the ranking checks)
//   u32     frames the run lasted
//   u32     checksum records in the body
//   u32     body size unpacked, u32 body size packed
//   u32     CRC-32 of everything before it and of the packed body
//   packed body (zlib)
//
// The body: the run's start state (length + bytes), then the records, each a
// type byte, the frames since the previous record (varint) and its fields.
// All numbers little-endian; varints are LEB128, signed ones zig-zagged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The play this build produces. Raise it whenever play changes on purpose,
// so older replays are refused instead of failing somewhere in the middle.
inline constexpr char kReplayGameVersion[] = "K.V. 3.2 play-1";
// The newest file format this build reads and writes. Format 2 adds the music
// setting records; a run without them is still written as format 1, so older
// readers keep reading it.
inline constexpr int kReplayFormat = 2;
// A checksum of the run state goes in after every this many frames.
inline constexpr int kReplayCheckEvery = 250;

// Limits a reader holds any file to, so a hostile file cannot make it
// allocate or run without bound.
inline constexpr size_t kReplayMaxPacked = 4u << 20;      // 4 MiB on disk
inline constexpr size_t kReplayMaxUnpacked = 16u << 20;   // 16 MiB inflated
inline constexpr int kReplayMaxFrames = 2000000;          // ~22 hours of play
inline constexpr size_t kReplayMaxText = 1024;            // one typed text
// Records a run may hold per frame, on average: a player's hand makes a few
// at most (moves within a frame are kept as one).
inline constexpr int kReplayMaxRecordsPerFrame = 16;

enum class ReplayEnd : uint8_t {
  kGameEnded = 1,  // the game ended: game over or the clear button (the score is final)
  kCut = 2,        // recording stopped before that (window closed, tool stopped)
};

struct ReplayRecord {
  enum Type : uint8_t {
    kMouseDown = 1,  // button, x, y
    kMouseUp = 2,    // button, x, y
    kMouseMove = 3,  // x, y
    kWheel = 4,      // wheel, x, y
    kKeyDown = 5,    // key
    kText = 6,       // text (committed)
    kTextEditing = 7,// text (IME composition)
    kAnswer = 8,     // answer: the next dialog's answer (key = 1 yes, 0 no)
    kClose = 9,      // the window's close
    kCheck = 10,     // checksum of the state after `frame` frames
    kMusic = 11,     // the music setting (key = 1 off, 0 on); none means on
  };
  Type type = kMouseMove;
  int32_t frame = 0;  // frames run since the start before it was handled
  int32_t button = 0, x = 0, y = 0, key = 0, wheel = 0;
  uint32_t checksum = 0;
  std::string text;
};

struct Replay {
  std::string version = kReplayGameVersion;
  int32_t mode = 0;
  ReplayEnd end = ReplayEnd::kGameEnded;
  int32_t score = 0;
  int32_t frames = 0;
  std::string start_state;  // the run state at the mode start (run_state.h)
  std::vector<ReplayRecord> records;

  int CheckCount() const;
};

std::string EncodeReplay(const Replay& r);
// Whether a file of this format can be read by this build.
inline bool ReplayFormatKnown(int format) { return format >= 1 && format <= kReplayFormat; }

// Reads a replay; false with a reason for anything malformed, truncated,
// too large or recorded by another game version (the version check can be
// left to the caller with check_version = false).
bool DecodeReplay(const std::string& bytes, Replay& out, std::string* error,
                  bool check_version = true);
// Only the header: mode, end, score, frames and version; false when it is not
// a replay header.
bool PeekReplayHeader(const std::string& bytes, Replay& out, std::string* error);

// The start state (run_state.cpp) begins with the player record: its
// kStartStrings strings (each an i32 length and the bytes; the last is the
// player's name), kStartFields numbers, then its kStartValues saved values.
inline constexpr int kStartStrings = 8, kStartFields = 13, kStartValues = 299;
inline constexpr int kStartLevelField = 1, kStartModeField = 11, kStartLivesField = 12;
inline constexpr int kStartIdValue = 102, kStartStageValue = 107, kStartScoreValue = 285;

// What a replay is, read without playing it: cheap enough for a server to
// take from strangers before it lets a verifier play the file.
struct ReplayOutline {
  int32_t mode = 0;
  ReplayEnd end = ReplayEnd::kGameEnded;
  int32_t score = 0;   // claimed
  int32_t frames = 0;  // claimed
  int32_t checks = 0;
  int64_t records = 0;
  std::string name;  // the player's name in the start (UTF-8)
  int32_t player_id = 0;
  int32_t start_mode = 0, start_lives = 0, start_level = 0, start_score = 0, start_stage = 0;
};
// Reads the header, the start's player record and every record as the body
// unpacks, holding none of it: false with a reason for a file of another
// version, one that is damaged or cut short, one whose start is no new game
// of its mode, or one whose records do not fit the frames it claims (a record
// after its last frame, more than kReplayCheckEvery frames without a
// checksum, more records than kReplayMaxRecordsPerFrame allows). Costs about
// what unpacking the body costs, never its memory.
bool OutlineReplay(const std::string& bytes, ReplayOutline& out, std::string* error);
