#include "menus/save.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/text.h"
#include "platform/files.h"
#include "state/game.h"

namespace {

// The file's line order: 'i' integer field, 's' string field, with the mode
// whose value it holds (-1: volume / name / id).
struct Field {
  char type;
  enum What { kVolume, kHi, kName, kId, kComment, kPlays } what;
  int mode;
};
constexpr Field kLayout[24] = {
    {'i', Field::kVolume, -1},  {'i', Field::kHi, EASY},       {'i', Field::kHi, HARD},
    {'s', Field::kName, -1},    {'i', Field::kId, -1},         {'s', Field::kComment, EASY},
    {'i', Field::kPlays, EASY}, {'i', Field::kPlays, HARD},    {'s', Field::kComment, HARD},
    {'i', Field::kHi, EXTREAM}, {'i', Field::kPlays, EXTREAM}, {'s', Field::kComment, EXTREAM},
    {'i', Field::kHi, NOVA},    {'i', Field::kPlays, NOVA},    {'s', Field::kComment, NOVA},
    {'i', Field::kHi, SQ},      {'i', Field::kPlays, SQ},      {'s', Field::kComment, SQ},
    {'i', Field::kHi, LIGHT},   {'i', Field::kPlays, LIGHT},   {'s', Field::kComment, LIGHT},
    {'i', Field::kHi, HELL},    {'i', Field::kPlays, HELL},    {'s', Field::kComment, HELL},
};

int32_t& IntField(Game& g, const Field& f) {
  switch (f.what) {
    case Field::kVolume: return g.my.se_volume;
    case Field::kHi: return g.my.hi_score(f.mode);
    case Field::kId: return g.my.player_id();
    default: return g.my.play_count(f.mode);
  }
}

std::string& StrField(Game& g, const Field& f) {
  return f.what == Field::kName ? g.my.name() : g.my.comment(f.mode);
}

// A save file is a few hundred bytes; anything past this is not read.
constexpr size_t kSaveReadLimit = 64 * 1024;

// The values the game itself can store: the volume in the menu's 200 steps
// (from the default -600 by 400 each way, clamped at -4000 and 0), an id as
// registration draws it, counts and scores never below 0.
bool InRange(const Field& f, int32_t v) {
  switch (f.what) {
    case Field::kVolume: return v >= -4000 && v <= 0 && v % 200 == 0;
    case Field::kId: return v >= 0 && v <= 9999;
    default: return v >= 0;
  }
}

int32_t DefaultOf(const Field& f) { return f.what == Field::kVolume ? -600 : 0; }

// The name and comment boxes' limits, in CP932 bytes.
size_t MaxBytes(const Field& f) { return f.what == Field::kName ? 12 : 30; }

// An optionally signed decimal after leading blanks. false when there is no
// number, it does not fit 32 bits, or other text follows it (the leading
// number is still taken then).
bool ParseInt(const std::string& line, int32_t& out) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  bool neg = false;
  if (i < line.size() && (line[i] == '-' || line[i] == '+')) {
    neg = line[i] == '-';
    ++i;
  }
  size_t used = 0;
  auto digits = text::LeadingDigits(std::string_view(line).substr(i), &used);
  if (!digits || *digits > uint64_t(1) << 32) return false;
  const int64_t v = neg ? -int64_t(*digits) : int64_t(*digits);
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = int32_t(v);
  for (i += used; i < line.size(); ++i)
    if (line[i] != ' ' && line[i] != '\t') return false;
  return true;
}

}  // namespace

void ResetSaveValues(Game& g) {
  g.my.se_volume = -600;
  g.my.name().clear();
  g.my.player_id() = 0;
  for (int m = 0; m < kModeCount; ++m) {
    g.my.hi_score(m) = 0;
    g.my.play_count(m) = 0;
    g.my.comment(m).clear();
  }
  ResetGame(g);
}

std::string OldSavePath(const Game& g) { return SavePath(g) + ".old"; }

bool ResetSaveKeepingOld(Game& g, std::string* error) {
  const std::string path = SavePath(g);
  std::string err;
  if (FileExists(path) && !CopyFileAtomically(path, OldSavePath(g), &err)) {
    std::fprintf(stderr, "kv: the save file is not reset, its copy could not be kept: %s\n", err.c_str());
    if (error) *error = err;
    return false;
  }
  ResetSaveValues(g);
  WriteSave(g);
  return true;
}

std::string SaveText(Game& g) {
  std::string out;
  for (const Field& f : kLayout) {
    if (f.type == 'i') out += std::to_string(IntField(g, f));
    else out += StrField(g, f);
    out += "\r\n";
  }
  return out;
}

bool ParseSave(Game& g, const std::string& bytes) {
  // Split into lines (CR LF, or a lone LF or CR from an edited file).
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(start, end - start));
    if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
  // Fewer lines read as 0 or empty; more than the 24 are damage too.
  bool clean = lines.size() == 24;
  for (int i = 0; i < 24; ++i) {
    const Field& f = kLayout[i];
    const bool present = size_t(i) < lines.size();
    std::string line = present ? lines[size_t(i)] : std::string();
    if (f.type == 'i') {
      int32_t v = 0;
      bool whole = ParseInt(line, v);
      if (present && (!whole || !InRange(f, v))) {
        // Unreadable or a value the game could never have stored: the default.
        clean = false;
        v = DefaultOf(f);
      }
      IntField(g, f) = v;
    } else {
      std::string value = text::Cp932ToUtf8Lossy(line, text::kReplacementCharacter);
      // Bytes that are not CP932 come back as U+FFFD.
      if (line.size() > MaxBytes(f) || line.find('\0') != std::string::npos ||
          value.find(text::kReplacementCharacter) != std::string::npos) {
        clean = false;
        value.clear();
      }
      StrField(g, f) = value;
    }
  }
  return clean;
}

bool WriteSave(Game& g) {
  std::string path = SavePath(g);
  std::string lines = SaveText(g);
  if (g.save.blocked) {
    g.save.error = path + ": the existing file could not be read, so it is left untouched";
    return false;
  }
  std::string err;
  if (g.save.damaged) {
    // The damaged original is kept once, before anything overwrites it:
    // as it was read, or copied from the disk when it was too large to hold.
    bool kept = g.save.damaged_large ? CopyFileAtomically(path, path + ".bad", &err)
                                     : WriteFileAtomically(path + ".bad", g.save.damaged_bytes, &err);
    if (!kept) {
      g.save.error = err;
      std::fprintf(stderr, "kv: cannot keep the damaged save file aside: %s\n", err.c_str());
      return false;
    }
    g.save.damaged = false;
    g.save.damaged_large = false;
    g.save.damaged_bytes.clear();
  }
  if (!WriteFileAtomically(path, text::Utf8ToCp932Lossy(lines), &err)) {
    if (g.save.error != err) std::fprintf(stderr, "kv: cannot write the save file: %s\n", err.c_str());
    g.save.error = err;
    return false;
  }
  g.save.error.clear();
  g.save.snapshot = lines;
  return true;
}

void LoadSave(Game& g) {
  std::string path = SavePath(g);
  std::string bytes, why;
  bool large = false;
  ReadStatus status = ReadRegularFile(path, kSaveReadLimit, &bytes, &large, &why);
  if (status == ReadStatus::kMissing) {
    ResetSaveValues(g);
    WriteSave(g);
    return;
  }
  if (status != ReadStatus::kOk) {
    std::fprintf(stderr,
                 "kv: cannot read the save file %s (%s); starting with defaults and leaving it as it is\n",
                 path.c_str(), why.c_str());
    ResetSaveValues(g);
    g.save.blocked = true;
    g.save.snapshot = SaveText(g);
    return;
  }
  if (!ParseSave(g, bytes) || large) {
    std::fprintf(stderr, "kv: the save file %s is damaged; it is kept as my.dat.bad\n", path.c_str());
    g.save.damaged = true;
    g.save.damaged_large = large;
    g.save.damaged_bytes = large ? std::string() : bytes;
    g.save.snapshot.clear();  // differs from anything: the next check rewrites it
    return;
  }
  g.save.snapshot = SaveText(g);
}

void SaveIfChanged(Game& g) {
  if (g.save.blocked) return;
  std::string text = SaveText(g);
  if (text == g.save.snapshot) return;
  WriteSave(g);
  // A failed write is not retried every frame: the next change or the close tries again.
  g.save.snapshot = text;
}
