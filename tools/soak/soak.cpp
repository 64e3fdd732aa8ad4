// kv-soak: hammers the game with random input (mixed with the autoplay bot so
// play is reached) across every mode, checking invariants after each frame.
// Meant to run under AddressSanitizer and UndefinedBehaviorSanitizer.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "autoplay.h"
#include "menus/save.h"
#include "platform/files.h"
#include "simlib.h"
#include "stages/enemies.h"

namespace {

struct Failure {
  std::string what;
};

std::string RandomText(std::mt19937& rng) {
  static const char* const pieces[] = {
      "a", "Z", "9", ",", "/", "\\", "\"", "?", "|", "<", ">", ":", "*", "&", "{", "#{", " ",
      "は", "ソ", "表", "能", "ポ", "ボ", "ＧＭ", "GM", "ほろ", "ー", "😀", "\xF0\x9F\x92\xA9",
      "\n", "\r", "\t", "\x01", "\xC3\x28", "\xE3\x81", "𠀋", "①", "ｱ", "漢字",
  };
  std::string s;
  int n = int(rng() % 6);
  for (int i = 0; i < n; ++i) s += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
  return s;
}

void RandomEvent(Simulator& sim, std::mt19937& rng) {
  ScriptEvent e;
  auto coord = [&](int lo, int hi) { return std::to_string(lo + int(rng() % uint32_t(hi - lo + 1))); };
  static const char* const buttons[] = {"left", "right", "middle"};
  switch (rng() % 8) {
    case 0:
    case 1:
      e.verb = "move";
      e.args = {coord(-300, 940), coord(-300, 780)};
      break;
    case 2:
      e.verb = "down";
      e.args = {buttons[rng() % 3], coord(-50, 690), coord(-50, 530)};
      break;
    case 3:
      e.verb = "up";
      e.args = {buttons[rng() % 3], coord(-50, 690), coord(-50, 530)};
      break;
    case 4: {
      static const int keys[] = {27, 32, 81, 83, 13, 8, 65, 90, 112, 46, 37, 0, 255};
      e.verb = "key";
      e.args = {std::to_string(rng() % 4 == 0 ? int(rng() % 256) : keys[rng() % 13])};
      break;
    }
    case 5:
      e.verb = "text";
      e.args = {RandomText(rng)};
      break;
    case 6:
      e.verb = "answer";
      e.args = {rng() % 2 ? "yes" : "no"};
      break;
    default:
      return;
  }
  std::string err;
  sim.Apply(e, &err);
}

bool Check(Game& g, std::string& what) {
  auto fail = [&](const std::string& w) {
    what = w;
    return false;
  };
  if (g.run.frame_no < 0 || g.run.frame_no > 999) return fail("frame_no out of range");
  if (g.pools.boss_slot < 0 || g.pools.boss_slot >= kEnemySlots) return fail("boss_slot out of range");
  if (g.pools.spawn_cursor < 0 || g.pools.spawn_cursor >= kEnemySlots) return fail("spawn cursor out of range");
  if (g.pools.shot_cursor < 0 || g.pools.shot_cursor >= kShotSlots) return fail("shot cursor out of range");
  if (g.pools.item_cursor < 0 || g.pools.item_cursor >= kItemSlots) return fail("item cursor out of range");
  if (g.fx.cursor < 0 || g.fx.cursor >= kEffectSlots) return fail("effect cursor out of range");
  if (g.log.count < 0) return fail("log_count negative");
  if (g.my.lives < -1 || g.my.lives > 1000) return fail("lives insane: " + std::to_string(g.my.lives));
  if (g.my.level < 0 || g.my.level > 100000) return fail("level insane: " + std::to_string(g.my.level));
  if (g.my.score() < 0) return fail("score negative: " + std::to_string(g.my.score()));
  if (g.my.stage() < 0 || g.my.stage() > 7) return fail("stage insane");
  if (g.my.se_volume < -4000 || g.my.se_volume > 0) return fail("volume out of range");
  for (int m = 0; m < kModeCount; ++m)
    if (g.my.hi_score(m) < 0 || g.my.play_count(m) < 0) return fail("negative saved value");
  int live = 0;
  for (const EnemySlot& s : g.pools.enemies) {
    if (s.timer < 0) return fail("enemy timer negative");
    live += s.timer >= 1;
  }
  if (g.pools.enemies[0].timer >= 1 && g.pools.enemies[0].cls != kOrbiter) return fail("slot 0 handed out");
  for (const EnemySlot& s : g.pools.shots)
    if (s.timer < 0) return fail("shot timer negative");
  for (const EnemySlot& s : g.pools.items)
    if (s.timer < 0) return fail("item timer negative");
  if (g.my.name().size() > 64) return fail("name too long");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long long frames = 30000;
  unsigned seed = 1;
  std::string game_dir = FindGameFolder(ExecutableDir()).dir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) frames = std::atoll(argv[++i]);
    else if (a == "--seed" && i + 1 < argc) seed = unsigned(std::atoll(argv[++i]));
    else if (a == "--game-dir" && i + 1 < argc) game_dir = argv[++i];
    else {
      std::fprintf(stderr, "usage: kv-soak [--frames N] [--seed N] [--game-dir DIR]\n");
      return 2;
    }
  }
  std::mt19937 rng(seed);
  long long done = 0;
  int episode = 0;
  while (done < frames) {
    int mode = episode % kModeCount;
    const TempFolder folder("kv-soak");  // the episode's save folder, removed however it ends
    if (folder.path().empty()) {
      std::fprintf(stderr, "kv-soak: cannot create a temporary folder\n");
      return 1;
    }
    const std::string data = folder.path();
    Simulator sim(game_dir, seed * 1000 + unsigned(episode), data);
    if (!sim.Ok()) {
      std::fprintf(stderr, "kv-soak: %s\n", sim.Error().c_str());
      return 1;
    }
    AutoplayBot bot(sim, mode);
    bot.Unlock();
    // Each episode mixes the bot with a different share of noise.
    unsigned noise = 5 + unsigned(episode * 7) % 60;
    long long episode_frames = std::min<long long>(frames - done, 2500 + rng() % 3000);
    long long ran = 0;
    struct stat last {};
    std::string save = data + "/my.dat";
    Simulator probe(game_dir, 1, data + "/probe");  // reads the save back after each write
    for (long long f = 0; f < episode_frames && !sim.game().run.quit; ++f) {
      if (rng() % 100 < noise) {
        int n = 1 + int(rng() % 3);
        for (int k = 0; k < n; ++k) RandomEvent(sim, rng);
      } else {
        bot.Decide();
      }
      if (rng() % 20000 == 0) {
        ScriptEvent close;
        close.verb = "close";
        std::string err;
        sim.Apply(close, &err);
      }
      bot.Frame();
      std::string what;
      if (!Check(sim.game(), what)) {
        std::fprintf(stderr, "kv-soak: invariant broken after frame %lld of episode %d (mode %s): %s\n",
                     f, episode, kModeNames[mode], what.c_str());
        return 1;
      }
      // Every write of the save file must leave a file that reads back whole.
      struct stat st {};
      if (stat(save.c_str(), &st) == 0 &&
          (st.st_mtim.tv_nsec != last.st_mtim.tv_nsec || st.st_mtim.tv_sec != last.st_mtim.tv_sec ||
           st.st_size != last.st_size)) {
        last = st;
        auto bytes = ReadWholeFile(save);
        if (!bytes || !ParseSave(probe.game(), *bytes)) {
          std::fprintf(stderr, "kv-soak: the save file does not read back after frame %lld\n", f);
          return 1;
        }
      }
      ++done;
      ++ran;
    }
    std::printf("episode %d mode=%s frames=%lld stage=%d end=%s\n", episode, kModeNames[mode],
                ran, bot.result().stage, bot.result().end.c_str());
    std::fflush(stdout);
    ++episode;
  }
  std::printf("soak: %lld frames, %d episodes, all invariants held\n", done, episode);
  return 0;
}
