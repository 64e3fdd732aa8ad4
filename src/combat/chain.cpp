#include "combat/chain.h"

#include "shell/game.h"

void ChainHit(Game& g, int link, int x, int y) {
  (void)g; (void)link; (void)x; (void)y;
}
