#include "combat/chain.h"

#include <string>

#include "assets/sound.h"
#include "combat/items.h"
#include "effects/effects.h"
#include "state/game.h"

namespace {
constexpr const char* kChainSounds[7] = {"",           "chain01.wav", "chain02.wav", "chain03.wav",
                                         "chain04.wav", "chain05.wav", "chain06.wav"};

// The sound queued for the n-th bonus of a chain ("" for none).
std::string ChainSound(int n) {
  if (n >= 1 && n <= 6) return kChainSounds[n];
  if (n >= 7 && n <= 999) return "chain_x.wav";
  return "";
}

}  // namespace

void ChainHit(Game& g, int link, int x, int y) {
  Tmy& my = g.my;
  // No chains while a boss lives.
  if (g.pools.boss_slot >= 1) {
    my.chain_link() = 0;
    my.chain_count() = 0;
    return;
  }
  if (link == 0) return;
  if (link != my.chain_link()) {
    my.chain_link() = link;
    my.chain_count() = 1;
    return;
  }
  my.chain_count() += 1;
  int count = my.chain_count();
  if (count % 4 != 0) return;
  int n = count / 4;
  // No boss lives here, so the bonus is the count times the level + 1.
  int bonus = AddScore(g, count);
  AddEffect(g, x, y - 10 - 2 * count, ChainTextKind(n),
            "Chain" + std::to_string(n) + " +" + std::to_string(bonus));
  QueueEffect(g, ChainSound(n));
}
