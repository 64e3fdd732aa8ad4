// The key help: F1 (or ?) shows every control over the field. While it shows
// no frame runs; in play it pauses the game first, as Space does, and the game
// stays paused when the help closes. Any key or click closes it and does
// nothing else. Only that pause reaches the game (and a replay): opening and
// closing the help are the window program's.
#pragma once

struct Game;
struct InputEvent;
class Canvas;

inline constexpr int kKeyF1 = 112;
inline constexpr int kKeySlash = 191;  // the / and ? key

// What the help made of an event.
enum class HelpAnswer {
  kNotMine,       // the event goes on to the game
  kTaken,         // it opened or closed the help, and does nothing else
  kTakenToPause,  // it opened the help in play: the caller pauses the game as Space does
};
// Opens or closes the help.
HelpAnswer HelpInput(Game& g, const InputEvent& e);
// Draws the help over the picture the window shows, when it is open.
void DrawHelp(const Game& g, Canvas& screen);
