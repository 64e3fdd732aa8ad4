// The main window's life: create, input routing, close, destroy.
#pragma once

#include <string>

struct Game;
struct InputEvent;
class Canvas;

// Loads the title picture, the bitmap table and the save file. Returns false
// with a message naming the missing path when the game folder is incomplete.
bool FormCreate(Game& g, std::string* error);
// The close handler: marks the close and writes the save file.
void FormClose(Game& g);
void FormDestroy(Game& g);

// Routes one window event to the panels or the field handlers. Keys and
// clicks are ignored while a ranking exchange is running.
void DispatchInput(Game& g, const InputEvent& e);
// The window program's events go here. A press the play field keeps for the
// next frame is held down until a frame has run: a release coming before that
// is handled right after the frame (ReleaseHeldPress), so a quick click or
// tap between two frames still fires, raises the barrier and so on. F1 and ?
// open the key help (shell/help.h) and M turns the music off or on
// (shell/settings.h) here; none of these reach the game or its replays.
void WindowInput(Game& g, const InputEvent& e);
// After each frame: a release held back by WindowInput is handled now.
void ReleaseHeldPress(Game& g);
// After each event and frame: write the save file if a saved value changed.
void AfterInput(Game& g);

// True while the pointer aims in play (a crosshair); menus, panels and the
// pause take the arrow.
bool WantsCrosshair(const Game& g);

// The picture the window shows: cg with the visible panels over it.
void ComposeWindow(Game& g, Canvas& screen);
// The same picture without a copy when nothing is drawn over cg: then cg
// itself, otherwise ComposeWindow's picture in screen.
const Canvas& WindowPicture(Game& g, Canvas& screen);
