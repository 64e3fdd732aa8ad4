// Helpers for tests: a fresh game on the headless platform in one line.
#pragma once

#include <memory>
#include <string>

#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "state/game.h"

struct TestGame {
  RecordingAudio audio;
  ScriptedDialogs dialogs;
  VirtualClock clock;
  std::unique_ptr<Game> game;
  Game& g() { return *game; }
  Game* operator->() { return game.get(); }
};

// A game whose pictures, sounds and fonts come from the generated game folder
// and whose save folder is `data_dir` (empty: a fresh temporary folder).
// The title phase is left at -2 as after start; no save file is loaded.
std::unique_ptr<TestGame> MakeTestGame(uint64_t seed = 1, const std::string& data_dir = "");

// MakeTestGame with one font set for the whole test program: pictures of text
// compared pixel by pixel must not mix in fonts of games dropped before.
std::unique_ptr<TestGame> MakeFxGame(uint64_t seed = 1);

// A game in the middle of stage 1 of `mode`: the ship at the centre with its
// play size, the pointer on it.
std::unique_ptr<TestGame> MakeGameInPlay(int mode, uint64_t seed = 1);

// True when a live effect of `kind` (and, if given, with `text`) is queued.
bool HasEffect(Game& g, int kind, const std::string& text = "");

// A live enemy-pool slot i at (x, y) with the given size, hit points and class.
EnemySlot& PlaceEnemy(Game& g, int i, int x, int y, int size, int hp = 1, int cls = 0);

// Sounds: forget what was loaded and the repeat guard, and ask whether a name
// was played (loaded) since.
void ForgetSounds(Game& g);
bool Played(Game& g, const std::string& name);

// A key pressed in the window (the window program's own keys included).
void WindowKey(Game& g, int key, bool repeat = false);

// A fresh empty temporary folder, removed when the test program ends.
std::string MakeTempDir();
