#include "test_util.h"

#include <cstdlib>
#include <string>

#include "assets/pictures.h"

std::string MakeTempDir() {
  std::string templ = "/tmp/kvtest.XXXXXX";
  char* d = mkdtemp(templ.data());
  return d ? std::string(d) : std::string("/tmp");
}

std::unique_ptr<TestGame> MakeTestGame(uint64_t seed, const std::string& data_dir) {
  auto t = std::make_unique<TestGame>();
  Platform pf;
  pf.audio = &t->audio;
  pf.dialogs = &t->dialogs;
  pf.clock = &t->clock;
  pf.fonts = std::make_shared<FontSet>(std::string(KV_GAME_DIR) + "/dat/ipagp.ttf");
  pf.game_dir = KV_GAME_DIR;
  pf.data_dir = data_dir.empty() ? MakeTempDir() : data_dir;
  t->game = MakeGame(pf, seed);
  CreateBitmapTable(*t->game);
  return t;
}
