// The frame clock and the fixed order of a frame.
#pragma once

struct Game;

// One timer tick: sleep 1 ms, step the sound guard, and run whatever of the
// frame, the once-a-second step and the sound queue is due. Returns true when
// a frame ran.
bool DXTimer1Timer(Game& g);
void RunFrame(Game& g);
void ComposeFrame(Game& g);
// Carries out the flow changes lower layers asked for (open a menu screen,
// fetch a ranking list); called right after the step or handler that asks.
void ServeFlowRequests(Game& g);
// The screen shake step of a composed frame.
void ApplyShake(Game& g);
