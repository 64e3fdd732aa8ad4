// Whether the desktop has a window manager to carry out fullscreen requests.
#pragma once

struct SDL_Window;

// True when a window manager runs on the window's X display; other video
// drivers (Wayland, KMS) always count as having one.
bool WindowManagerRuns(SDL_Window* window);
