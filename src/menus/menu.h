// The menu: a table of text buttons rebuilt for each screen, and the click
// dispatcher of the play field.
#pragma once

#include <string>

struct Game;

// Menu screens (menu_screen values).
constexpr int kChapterScreen = 1;
constexpr int kOptionScreen = 3;
constexpr int kSoundScreen = 4;
constexpr int kStartScreen = 5;
constexpr int kShopScreen = 6;
constexpr int kRankingScreen = 7;

void BuildMenuTable(Game& g);
void OpenMenuScreen(Game& g, int screen);
void CloseMenu(Game& g);
void DrawMenu(Game& g);
void MenuAction(Game& g, int record);
// Mouse-down on the field outside the panels: button 1 = right, 0 = left or middle.
void FieldClick(Game& g, int x, int y, int button);

// The record number of the visible button with this caption, 0 when none.
int FindMenuButton(const Game& g, const std::string& caption);
// The font size a caption is drawn at on a button of this width (12 down to 8).
int CaptionFontSize(Game& g, const std::string& caption, int width);
