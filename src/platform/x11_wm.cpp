// Kept apart from window.cpp: Xlib's own `Window` type would clash with the game's.
#include "platform/x11_wm.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

bool WindowManagerRuns(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return true;
  Display* d = info.info.x11.display;
  // An EWMH window manager announces itself on the root window.
  Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return false;
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  int rc = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type, &format,
                              &items, &after, &data);
  if (data) XFree(data);
  return rc == Success && type == XA_WINDOW && items == 1;
}

int WaitForX11Input(SDL_Window* window, int timeout_ms) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return -1;
  Display* d = info.info.x11.display;
  XFlush(d);
  // Events Xlib has already read (with a reply, say) never show on the socket.
  if (XEventsQueued(d, QueuedAlready) > 0) return 1;
  pollfd p{ConnectionNumber(d), POLLIN, 0};
  return poll(&p, 1, timeout_ms) > 0 ? 1 : 0;  // a signal ends the wait as a time-out
}
