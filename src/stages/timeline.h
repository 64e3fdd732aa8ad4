// The stage timeline: the six stage scripts, story lines, stage end and time up.
#pragma once

struct Game;

void RunStageTimeline(Game& g);
