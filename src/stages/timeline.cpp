#include "stages/timeline.h"

#include "shell/game.h"

void RunStageTimeline(Game& g) { (void)g; }
