// The menu: a table of text buttons rebuilt for each screen, and the click
// dispatcher of the play field.
#pragma once

struct Game;

void BuildMenuTable(Game& g);
void OpenMenuScreen(Game& g, int screen);
void CloseMenu(Game& g);
void DrawMenu(Game& g);
void MenuAction(Game& g, int record);
// Mouse-down on the field outside the panels: button 1 = right, 0 = left or middle.
void FieldClick(Game& g, int x, int y, int button);
