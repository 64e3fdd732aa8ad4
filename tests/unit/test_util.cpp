#include "test_util.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "assets/pictures.h"
#include "platform/files.h"
#include "platform/window.h"
#include "shell/form.h"

std::string MakeTempDir() {
  // One folder in $TMPDIR per test program, removed as the program ends
  // (also after failed tests).
  static TempFolder root("kvtest");
  std::string dir = root.NewFolder();
  if (dir.empty()) {
    std::fprintf(stderr, "cannot create a temporary folder in $TMPDIR or /tmp\n");
    std::abort();
  }
  return dir;
}

namespace {

std::shared_ptr<FontSet> GameFonts() {
  return std::make_shared<FontSet>(std::string(KV_GAME_DIR) + "/dat/ipagp.ttf");
}

std::unique_ptr<TestGame> NewTestGame(uint64_t seed, const std::string& data_dir,
                                      std::shared_ptr<FontSet> fonts) {
  auto t = std::make_unique<TestGame>();
  Platform pf;
  pf.audio = &t->audio;
  pf.dialogs = &t->dialogs;
  pf.clock = &t->clock;
  pf.fonts = std::move(fonts);
  pf.game_dir = KV_GAME_DIR;
  pf.data_dir = data_dir.empty() ? MakeTempDir() : data_dir;
  t->game = MakeGame(pf, seed);
  CreateBitmapTable(*t->game);
  return t;
}

}  // namespace

std::unique_ptr<TestGame> MakeTestGame(uint64_t seed, const std::string& data_dir) {
  return NewTestGame(seed, data_dir, GameFonts());
}

std::unique_ptr<TestGame> MakeFxGame(uint64_t seed) {
  static const std::shared_ptr<FontSet> fonts = GameFonts();
  return NewTestGame(seed, "", fonts);
}

std::unique_ptr<TestGame> MakeGameInPlay(int mode, uint64_t seed) {
  auto t = MakeTestGame(seed);
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.mode = mode;
  g.my.stage() = 1;
  g.run.in_play = 1;
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  g.my.ship_size() = 10;
  g.input.mouse_x = 320;
  g.input.mouse_y = 240;
  return t;
}

bool HasEffect(Game& g, int kind, const std::string& text) {
  for (const EffectSlot& e : g.fx.ring)
    if (e.age >= 1 && e.kind == kind && (text.empty() || e.text == text)) return true;
  return false;
}

EnemySlot& PlaceEnemy(Game& g, int i, int x, int y, int size, int hp, int cls) {
  EnemySlot& e = g.pools.enemies[size_t(i)];
  e = EnemySlot{};
  e.timer = 5;
  e.x = x;
  e.y = y;
  e.size = size;
  e.hp = hp;
  e.cls = cls;
  return e;
}

void WindowKey(Game& g, int key, bool repeat) {
  InputEvent e;
  e.type = InputEvent::kKeyDown;
  e.key = key;
  e.repeat = repeat;
  WindowInput(g, e);
}

void ForgetSounds(Game& g) {
  g.sound.waves.clear();
  g.sound.last.clear();
  g.sound.last_hold = 0;
}

bool Played(Game& g, const std::string& name) { return g.sound.waves.count(name) != 0; }
