// The stage timeline: the six stage scripts, story lines, stage end and time up.
#pragma once

struct Game;

void RunStageTimeline(Game& g);
// The stage-start reset: pools, effects, log and the stage clock; starts the
// stage's music.
void ResetStage(Game& g);
