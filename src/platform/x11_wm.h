// What the game window needs of X itself: whether the desktop has a window
// manager to carry out fullscreen requests, and a cheap wait for input.
#pragma once

struct SDL_Window;

// True when a window manager runs on the window's X display; other video
// drivers (Wayland, KMS) always count as having one.
bool WindowManagerRuns(SDL_Window* window);

// Sleeps until the window's X connection has input for SDL or timeout_ms
// have passed (timeout_ms >= 0): 1 input, 0 none, -1 when the window is not
// on X (the caller then waits through SDL). SDL's own wait reads the X
// connection fourteen times a call; this sends what is queued and sleeps once.
int WaitForX11Input(SDL_Window* window, int timeout_ms);
