// Name registration: the name box panel, its OK button and the name filter.
#pragma once

#include <string>

#include "rank_service/rank_names.h"

struct Game;
class Canvas;

// The panel and its parts, relative to the panel's top-left corner.
struct NameBoxLayout {
  static constexpr int kLeft = 0, kTop = 362;       // where the start screen shows it
  static constexpr int kWidth = 641, kHeight = 119;
  static constexpr int kLabelX = 10, kLabelY = 8;
  static constexpr int kEditX = 10, kEditY = 30, kEditW = 380, kEditH = 70;
  static constexpr int kOkX = 404, kOkY = 45, kOkW = 110, kOkH = 40;
  static constexpr int kEditFontPoints = 40;  // 53 pixels at 96 DPI
};

// Shows the name box at (0, 362); the typed text stays from the last try.
void ShowNameBox(Game& g);
// The OK button: refuses reserved names, filters the name, asks for
// confirmation and registers it with a new player id.
void Button1Click(Game& g);

// Panel hooks for the name box (true when the box took the event).
bool NameBoxMouseDown(Game& g, int button, int x, int y);
bool NameBoxKeyDown(Game& g, int key, bool shift = false, bool ctrl = false);
void DrawNameBox(Game& g, Canvas& screen);
