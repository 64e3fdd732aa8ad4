// The window's panels over the field: name entry, hi-score comment entry and
// the ranking list. Each hook returns true when a panel took the input.
#pragma once

#include <cstdint>
#include <string>

#include "ranking/edit_box.h"

struct Game;
class Canvas;

bool PanelsMouseDown(Game& g, int button, int x, int y);
bool PanelsMouseUp(Game& g, int button, int x, int y);
bool PanelsMouseMove(Game& g, int x, int y);
// notches: positive away from the user (scroll up).
bool PanelsMouseWheel(Game& g, int notches, int x, int y);
bool PanelsKeyDown(Game& g, int key, bool shift = false, bool ctrl = false);
bool PanelsTextInput(Game& g, const std::string& utf8);
bool PanelsTextEditing(Game& g, const std::string& utf8);
// True while a panel with a text field is shown (the window then delivers text input).
bool PanelsWantText(const Game& g);
// Draws the visible panels onto the picture the window shows.
void DrawPanels(Game& g, Canvas& screen);
