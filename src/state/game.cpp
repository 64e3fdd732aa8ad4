#include "state/game.h"


const char* const kModeNames[kModeCount] = {"EASY", "HARD", "EXTREAM", "NOVA", "SQ", "LIGHT", "HELL"};

int Random(Game& g, int n) {
  if (n < 1) return 0;
  return int(g.rng() % uint32_t(n));
}

std::unique_ptr<Game> MakeGame(const Platform& pf, uint64_t seed) {
  auto g = std::make_unique<Game>();
  g->pf = pf;
  if (g->pf.data_dir.empty()) g->pf.data_dir = g->pf.game_dir + "/dat";
  g->rng.seed(uint32_t(seed ^ (seed >> 32)));
  g->cg = std::make_unique<Canvas>(640, 480, pf.fonts);
  g->bak = std::make_unique<Canvas>(640, 480, pf.fonts);
  g->memo = std::make_unique<Canvas>(8, 8, pf.fonts);
  g->run.title_phase = -2;
  ResetGame(*g);
  return g;
}

void ResetGame(Game& g) {
  Tmy& my = g.my;
  my.lives = 3;
  g.run.chapter_run = 0;
  my.ship_size() = 15;
  my.stage() = 0;
  my.level = 0;
  my.distance() = 0;
  my.score() = 0;
  my.shot_size() = 0;
  my.shot_power() = 0;
  my.shot_way() = 0;
  my.shot_speed() = 0;
  my.barrier_time = 0;
  my.stop_time = 0;
  my.laser_way() = 0;
  my.barrier_size = 30;
  my.chain_link() = 0;
  my.chain_count() = 0;
  my.target_lock() = 0;
  for (int i = 0; i < 100; ++i) my.num[i] = 0;
  for (EnemySlot& s : g.pools.items) s.timer = 0;
  g.pools.boss_slot = 0;
}

void ApplyHiScoreRule(Game& g) {
  g.run_ended = 1;
  g.run_end_score = g.my.score();
  int m = g.my.mode;
  if (m >= 0 && m < kModeCount && g.my.score() > g.my.hi_score(m)) {
    g.my.hi_score(m) = g.my.score();
    g.run.record_mode = m + 1;
  }
  ResetGame(g);
}

std::string CgPath(const Game& g, const std::string& file) { return g.pf.game_dir + "/cg/" + file; }
std::string DatPath(const Game& g, const std::string& file) { return g.pf.game_dir + "/dat/" + file; }
std::string SavePath(const Game& g) { return g.pf.data_dir + "/my.dat"; }
