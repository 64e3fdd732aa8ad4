// Helpers shared by the menu, shop and name-entry tests.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "menus/menu.h"
#include "shell/input.h"
#include "test_util.h"

// Captions of the visible buttons in layout order.
inline std::vector<std::string> Captions(const Game& g) {
  std::vector<std::string> out;
  for (size_t i = 1; i < g.menu.table.size(); ++i)
    if (g.menu.table[i].visible) out.push_back(g.menu.table[i].caption);
  return out;
}

// The record number of the visible button with this caption, 0 when none.
inline int FindMenuButton(const Game& g, const std::string& caption) {
  for (size_t i = 1; i < g.menu.table.size(); ++i)
    if (g.menu.table[i].visible && g.menu.table[i].caption == caption) return int(i);
  return 0;
}

inline bool HasButton(const Game& g, const std::string& caption) {
  return FindMenuButton(g, caption) != 0;
}

// The texts of the non-empty log lines, top first.
inline std::vector<std::string> LogTexts(const Game& g) {
  std::vector<std::string> out;
  for (const LogRecord& r : g.log.records)
    if (!r.text.empty()) out.push_back(r.text);
  return out;
}

inline bool LogHas(const Game& g, const std::string& text) {
  auto l = LogTexts(g);
  return std::find(l.begin(), l.end(), text) != l.end();
}

// Starts recording which sound effects are played from now on: every effect
// name reloads, so each play shows up as a load of its file.
inline void ListenToSounds(TestGame& t) {
  t.g().sound.waves.clear();
  t.g().sound.last.clear();
  t.audio.loads.clear();
}

// File names of the effects played since ListenToSounds.
inline std::vector<std::string> SoundsHeard(const TestGame& t) {
  std::vector<std::string> out;
  for (const std::string& p : t.audio.loads) {
    size_t slash = p.find_last_of('/');
    out.push_back(slash == std::string::npos ? p : p.substr(slash + 1));
  }
  return out;
}

inline bool Heard(const TestGame& t, const std::string& name) {
  auto s = SoundsHeard(t);
  return std::find(s.begin(), s.end(), name) != s.end();
}

// A left click on the visible button with this caption, as the player makes it.
inline bool ClickButton(Game& g, const std::string& caption) {
  int r = FindMenuButton(g, caption);
  if (r == 0) return false;
  const MenuItem& m = g.menu.table[size_t(r)];
  cgMouseDown(g, 0, m.target_x + 20, m.target_y + 5);
  return true;
}

// Past the title and intro pictures onto the start screen.
inline void ToStartScreen(Game& g) {
  cgMouseDown(g, 0, 300, 300);
  cgMouseDown(g, 0, 300, 300);
}

// A named player on the start screen.
inline void NamedOnStartScreen(Game& g, const std::string& name = "tester") {
  g.my.name() = name;
  ToStartScreen(g);
}
