// Mouse and keyboard handlers of the play field. They only record state for
// the next frame, except that a press outside play goes to the menus at once.
#pragma once

struct Game;

void cgMouseDown(Game& g, int button, int x, int y);
void cgMouseMove(Game& g, int x, int y);
void cgMouseUp(Game& g, int button);
void FormKeyDown(Game& g, int key);
