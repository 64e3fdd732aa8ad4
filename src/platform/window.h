// The one game window: a fixed 640 x 480 client area showing a canvas, and
// the input events the game reacts to, already in field pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Canvas;

// Mouse buttons as the window's events number them.
enum MouseButton : int { kButtonLeft = 0, kButtonRight = 1, kButtonMiddle = 2 };

struct InputEvent {
  enum Type {
    kNone,
    kMouseDown,   // button: a MouseButton; x, y in field pixels
    kMouseUp,
    kMouseMove,
    kMouseWheel,  // wheel: notches, positive away from the user (scroll up); x, y: the pointer
    kKeyDown,     // key: Windows virtual-key code
    kTextInput,   // text: committed UTF-8 text
    kTextEditing, // text: IME composition in progress (may be empty)
    kFocusGained,
    kFocusLost,
    kExposed,
    kClose,
  };
  Type type = kNone;
  int button = 0;
  int x = 0, y = 0;
  int key = 0;
  int wheel = 0;
  bool repeat = false;
  bool shift = false, ctrl = false;  // kKeyDown: modifier keys held
  std::string text;
};

class Window {
 public:
  virtual ~Window() = default;
  virtual bool Poll(InputEvent& e) = 0;
  // Sleeps until an event comes or timeout_ms have passed; false when none
  // came. Negative: until an event comes, but false after 250 ms without one
  // (the window has work of its own to look at now and then).
  virtual bool Wait(InputEvent& e, int timeout_ms) = 0;
  // Shows the picture, scaled and centred. A picture the same as the one on
  // screen is not converted and shown again, unless the window was uncovered
  // or resized since; returns whether it went to the screen.
  virtual bool Present(const Canvas& c) = 0;
  virtual bool Focused() = 0;
  virtual void StartTextInput(int x, int y, int w, int h) = 0;
  virtual void StopTextInput() = 0;
  // The window's icon from a BMP or JPEG picture; false when it cannot be read.
  virtual bool SetIcon(const std::string& picture_path) = 0;
  // The pointer over the window: the desktop arrow or the game's crosshair.
  enum class Pointer { kArrow, kCrosshair };
  virtual void SetPointer(Pointer p) = 0;
  // Fullscreen (the field scaled and centred on black) or back to the window.
  virtual void ToggleFullscreen() = 0;
};

// Opens the window (centred, not resizable, black). On failure returns null
// and puts the reason in *error. Only a real display will do: with none the
// reason says why, instead of the game running on without a window.
std::unique_ptr<Window> OpenGameWindow(const std::string& caption, int width, int height,
                                       std::string* error);

// Prints "kv: <text>" and shows it in an error box when a display can be reached.
void ShowFatalError(const std::string& title, const std::string& text);

// Maps an SDL keycode to a Windows virtual-key code (0 when it has none).
int SdlKeyToVirtualKey(int sdl_keycode);

// How the 640 x 480 field sits in a window's drawable area: the largest whole
// scale that fits, centred, with black bars around it.
struct FieldView {
  int scale = 1;
  int offset_x = 0, offset_y = 0;
};
FieldView FitField(int area_w, int area_h, int field_w = 640, int field_h = 480);
// Window pixels -> field pixels. Points outside the field map outside
// 0..640 x 0..480 (rounding toward minus infinity), as a held button reports them.
void WindowToField(const FieldView& v, int wx, int wy, int& fx, int& fy);
// Enlarges a picture of w x h 32-bit pixels `scale` times, each pixel becoming
// a scale x scale block (nearest neighbour); strides are in bytes.
void ScalePicture(const uint8_t* src, int src_stride, int w, int h, int scale, uint8_t* dst,
                  int dst_stride);
// Where a picture differs from the one on screen: both are w x h 32-bit
// pixels (strides in bytes). Compared in blocks of kChangeBlockW pixels by
// kChangeBandH rows, each block that differs is copied onto `shown`; returns
// the changed areas, one rectangle per run of neighbouring blocks in a band.
inline constexpr int kChangeBlockW = 16, kChangeBandH = 16;
struct FieldRect {
  int x = 0, y = 0, w = 0, h = 0;
};
std::vector<FieldRect> TakeChanges(const uint8_t* picture, int picture_stride, uint8_t* shown,
                                   int shown_stride, int w, int h);
// The window scale for a desktop of the given size: 1x up to 1279 x 959,
// 2x from 1280 x 960, 3x from 1920 x 1440, and so on.
int DesktopScale(int desktop_w, int desktop_h);
