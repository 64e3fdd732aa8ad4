#include "shell/settings.h"

#include <cstdio>

#include "platform/audio.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"
#include "replay/recorder.h"
#include "state/game.h"

namespace {

constexpr double kNoticeDays = 2.5 / 86400.0;

void Notice(Game& g, const std::string& text, double seconds_extra = 0) {
  g.settings.notice = text;
  double now = g.pf.clock ? g.pf.clock->NowDays() : 0;
  g.settings.notice_until = now + kNoticeDays + seconds_extra / 86400.0;
}

void ApplyMusic(Game& g) {
  if (g.pf.audio) g.pf.audio->SetMusicMuted(g.settings.music_muted);
}

}  // namespace

std::string SettingsPath(const Game& g) { return g.pf.data_dir + "/settings.txt"; }

bool ParseSettings(const std::string& text, Settings& out, std::string* why) {
  auto bad = [&](int line, const std::string& what) {
    if (why) *why = "line " + std::to_string(line) + ": " + what;
    return false;
  };
  if (text.size() > kSettingsMaxBytes) return bad(1, "too large");
  Settings s = out;
  const std::vector<std::string_view> lines = text::Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const int n = int(i) + 1;
    const std::string l(lines[i]);
    if (l.empty() || l[0] == '#') continue;
    for (unsigned char c : l)
      if (c < 0x20 || c >= 0x7F) return bad(n, "not text");
    size_t eq = l.find('=');
    if (eq == std::string::npos || eq == 0) return bad(n, "not name=value");
    std::string name = l.substr(0, eq), value = l.substr(eq + 1);
    if (name == "music") {
      if (value == "on") s.music_muted = false;
      else if (value == "off") s.music_muted = true;
      else return bad(n, "music is on or off, not \"" + value + "\"");
    }
  }
  out = s;
  return true;
}

std::string FormatSettings(const Settings& s) {
  return std::string("# K.V. settings\nmusic=") + (s.music_muted ? "off" : "on") + "\n";
}

void LoadSettings(Game& g) {
  const std::string path = SettingsPath(g);
  std::string bytes, error, why;
  bool truncated = false;
  ReadStatus st = ReadRegularFile(path, kSettingsMaxBytes, &bytes, &truncated, &error);
  Settings s;
  if (st == ReadStatus::kMissing) {
    // First start: the defaults, nothing written until something changes.
  } else if (st != ReadStatus::kOk) {
    why = error.empty() ? "cannot be read" : error;
  } else if (truncated) {
    why = "too large";
  } else if (!ParseSettings(bytes, s, &why)) {
    s = Settings{};
  }
  if (!why.empty()) {
    std::fprintf(stderr, "kv: %s is damaged (%s); the default settings are used\n", path.c_str(),
                 why.c_str());
    Notice(g, "設定ファイルが壊れていたので、初期設定で始めます", 2.0);
  }
  g.settings.music_muted = s.music_muted;
  ApplyMusic(g);
}

void ToggleMusic(Game& g) {
  g.settings.music_muted = !g.settings.music_muted;
  ApplyMusic(g);
  RecordMusicSetting(g);
  std::string text = g.settings.music_muted ? "MUSIC OFF (M)" : "MUSIC ON (M)";
  std::string error;
  if (!WriteFileAtomically(SettingsPath(g), FormatSettings(g.settings), &error)) {
    std::fprintf(stderr, "kv: the settings could not be written to %s (%s)\n", SettingsPath(g).c_str(),
                 error.c_str());
    text += "  設定を保存できませんでした";
  }
  Notice(g, text);
}

void DrawSettingsNotice(Game& g, Canvas& c) {
  if (g.settings.notice.empty()) return;
  if (!g.pf.clock || g.pf.clock->NowDays() > g.settings.notice_until) {
    g.settings.notice.clear();
    return;
  }
  c.SetFontSize(12);
  c.SetFontBold(true);
  TextSize t = c.MeasureText(g.settings.notice);
  const int x = 320 - t.width / 2, y = 40;
  c.FillRect(x - 10, y - 6, x + t.width + 10, y + t.height + 6, 0x302020);
  c.SetBrushSolid(false);
  c.SetFontColor(0xFFFFFF);
  c.TextOut(x, y, g.settings.notice);
  c.SetBrushSolid(true);
}
