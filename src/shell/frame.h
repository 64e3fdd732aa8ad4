// The frame clock and the fixed order of a frame.
#pragma once

struct Game;

// One timer tick: sleep 1 ms, step the sound guard, and run whatever of the
// frame, the once-a-second step and the sound queue is due. Returns true when
// a frame ran.
bool DXTimer1Timer(Game& g);
// The window program does not tick every millisecond: it sleeps until a window
// event comes or TimerDeadline (the next frame, second or queued sound, in
// days) is due. Before it handles the events that woke it, TimerWake steps
// the sound guard as the ticks in between would have; after them, TimerTick
// is the tick without its sleep.
double TimerDeadline(const Game& g);
void TimerWake(Game& g);
bool TimerTick(Game& g);
void RunFrame(Game& g);
void ComposeFrame(Game& g);
// Carries out the flow changes lower layers asked for (open a menu screen,
// fetch a ranking list); called right after the step or handler that asks.
void ServeFlowRequests(Game& g);
// The screen shake step of a composed frame.
void ApplyShake(Game& g);
