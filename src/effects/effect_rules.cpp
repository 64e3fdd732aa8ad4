// Drawing rules of the effect kinds. Each rule draws on bak unless noted and
// frees its slot at the end of its life.
#include "effects/effects.h"
#include "shell/game.h"

bool DrawEffectKind(Game& g, int slot, int bounce) {
  (void)g;
  (void)slot;
  (void)bounce;
  return false;
}
