#include "platform/window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/canvas.h"
#include "platform/picture_file.h"
#include "platform/dialogs.h"
#include "platform/x11_wm.h"

int SdlKeyToVirtualKey(int k) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  if (k >= SDLK_F1 && k <= SDLK_F12) return 112 + (k - SDLK_F1);
  switch (k) {
    case SDLK_ESCAPE: return 27;
    case SDLK_SPACE: return 32;
    case SDLK_RETURN: return 13;
    case SDLK_KP_ENTER: return 13;
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_DELETE: return 46;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return 38;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return 40;
    case SDLK_HOME: return 36;
    case SDLK_END: return 35;
    case SDLK_PAGEUP: return 33;
    case SDLK_PAGEDOWN: return 34;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL: case SDLK_RCTRL: return 17;
    case SDLK_LALT: case SDLK_RALT: return 18;
    case SDLK_SLASH: case SDLK_QUESTION: return 191;  // the / and ? key
    default: return 0;
  }
}

FieldView FitField(int area_w, int area_h, int field_w, int field_h) {
  FieldView v;
  v.scale = std::max(1, std::min(area_w / field_w, area_h / field_h));
  v.offset_x = (area_w - field_w * v.scale) / 2;
  v.offset_y = (area_h - field_h * v.scale) / 2;
  return v;
}

namespace {
int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
}  // namespace

void WindowToField(const FieldView& v, int wx, int wy, int& fx, int& fy) {
  fx = FloorDiv(wx - v.offset_x, v.scale);
  fy = FloorDiv(wy - v.offset_y, v.scale);
}

int DesktopScale(int desktop_w, int desktop_h) {
  return std::max(1, std::min(desktop_w / 640, desktop_h / 480));
}

namespace {

int ButtonIndex(Uint8 b) {
  switch (b) {
    case SDL_BUTTON_LEFT: return kButtonLeft;
    case SDL_BUTTON_RIGHT: return kButtonRight;
    case SDL_BUTTON_MIDDLE: return kButtonMiddle;
    default: return -1;
  }
}

class SdlWindow : public Window {
 public:
  ~SdlWindow() override {
    if (crosshair_) SDL_FreeCursor(crosshair_);
    if (arrow_) SDL_FreeCursor(arrow_);
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  bool Open(const std::string& caption, int w, int h, std::string* error) {
    w_ = w;
    h_ = h;
    // The picture is made on the CPU anyway: a software renderer shows it
    // without loading a GL stack, which would triple the game's memory.
    // (Both can still be overridden from the environment.)
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // With no display reachable SDL falls back to an invisible off-screen
    // one and the game would run on with no window: offer it only the real
    // ones. A driver named in SDL_VIDEODRIVER is still used as asked. Wayland
    // is tried only where a compositor is announced (its library complains
    // on stderr otherwise).
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    if (!asked || !*asked) {
      const char* wl = std::getenv("WAYLAND_DISPLAY");
      SDL_SetHint(SDL_HINT_VIDEODRIVER, wl && *wl ? "x11,wayland,kmsdrm" : "x11,kmsdrm");
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      if (error) {
        *error = SDL_GetError();
        const char* d = std::getenv("DISPLAY");
        if ((!asked || !*asked) && !(d && *d)) *error += " (DISPLAY is not set)";
      }
      return false;
    }
    // The largest whole scale the desktop holds; pixels stay crisp.
    SDL_Rect desk{0, 0, w, h};
    if (SDL_GetDisplayBounds(0, &desk) != 0) desk = SDL_Rect{0, 0, w, h};
    int scale = DesktopScale(desk.w, desk.h);
    window_ = SDL_CreateWindow(caption.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                               w * scale, h * scale, SDL_WINDOW_SHOWN | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!window_) {
      if (error) *error = SDL_GetError();
      return false;
    }
    renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) {
      if (error) *error = SDL_GetError();
      return false;
    }
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                 w, h);
    if (!texture_) {
      if (error) *error = SDL_GetError();
      return false;
    }
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    SDL_RenderPresent(renderer_);
    SDL_StopTextInput();
    // A freshly started game is the active application (a desktop without a
    // window manager would otherwise never give it the focus frames need).
    SDL_RaiseWindow(window_);
    SDL_SetWindowInputFocus(window_);
    return true;
  }

  bool Poll(InputEvent& e) override {
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) {
      if (Translate(ev, e)) return true;
    }
    return false;
  }

  bool Wait(InputEvent& e, int timeout_ms) override {
    SDL_Event ev;
    if (SDL_WaitEventTimeout(&ev, timeout_ms) && Translate(ev, e)) return true;
    return Poll(e);
  }

  void Present(const Canvas& c) override {
    last_ = &c;
    SDL_UpdateTexture(texture_, nullptr, c.Data(), c.Stride());
    FieldView v = View();
    SDL_Rect dst{v.offset_x, v.offset_y, w_ * v.scale, h_ * v.scale};
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, &dst);
    SDL_RenderPresent(renderer_);
  }

  void ToggleFullscreen() override {
    if (own_fullscreen_) {
      // Back to the window as it was.
      SDL_SetWindowSize(window_, windowed_.w, windowed_.h);
      SDL_SetWindowPosition(window_, windowed_.x, windowed_.y);
      SDL_SetWindowBordered(window_, SDL_TRUE);
      own_fullscreen_ = false;
      return;
    }
    bool full = (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    if (full || WindowManagerRuns(window_)) {
      SDL_SetWindowFullscreen(window_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
      return;
    }
    // No window manager answers the fullscreen request, yet SDL would take
    // the window for screen-sized and draw the field off-centre and cut off.
    // The window covers the screen by itself instead.
    SDL_Rect desk;
    if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window_), &desk) != 0) return;
    SDL_GetWindowPosition(window_, &windowed_.x, &windowed_.y);
    SDL_GetWindowSize(window_, &windowed_.w, &windowed_.h);
    SDL_SetWindowBordered(window_, SDL_FALSE);
    SDL_SetWindowPosition(window_, desk.x, desk.y);
    SDL_SetWindowSize(window_, desk.w, desk.h);
    own_fullscreen_ = true;
  }

  bool SetIcon(const std::string& path) override {
    Picture pic;
    if (!DecodePicture(path, pic) || pic.width <= 0 || pic.height <= 0) return false;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(pic.pixels.data(), pic.width, pic.height, 32,
                                                        pic.width * 4, SDL_PIXELFORMAT_RGB888);
    if (!s) return false;
    SDL_SetWindowIcon(window_, s);
    SDL_FreeSurface(s);
    return true;
  }

  void SetPointer(Pointer p) override {
    if (p == pointer_) return;
    SDL_Cursor* c = p == Pointer::kCrosshair ? Crosshair() : Arrow();
    if (c) SDL_SetCursor(c);
    pointer_ = p;
  }

  bool Focused() override {
    Uint32 f = SDL_GetWindowFlags(window_);
    return (f & SDL_WINDOW_INPUT_FOCUS) != 0;
  }

  void StartTextInput(int x, int y, int w, int h) override {
    SDL_Rect r{x, y, w, h};
    SDL_SetTextInputRect(&r);
    SDL_StartTextInput();
  }
  void StopTextInput() override { SDL_StopTextInput(); }
  void* NativeHandle() override { return window_; }

  // A modal box drawn by the game itself over `behind` (null: the last
  // picture). Returns true for Yes / OK. With default_no the box opens on No:
  // Enter, Space and Esc then answer No, and Yes takes a click or a move to it first.
  bool RunModal(const std::string& text, bool yes_no, std::shared_ptr<FontSet> fonts, const Canvas* behind,
                bool default_no = false) {
    Canvas pic(w_, h_, fonts);
    if (!behind) behind = last_;
    if (behind) pic.CopyFrom(*behind, 0, 0, w_, h_, 0, 0);
    // Darken what lies behind the box.
    uint8_t* d = pic.MutableData();
    for (int y = 0; y < h_; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(d + y * pic.Stride());
      for (int x = 0; x < w_; ++x) row[x] = (row[x] >> 1) & 0x7F7F7F;
    }
    Canvas box(w_, h_, fonts);
    const int bx = 90, by = 170, bw = 460, bh = 140;
    const int btn_w = 110, btn_h = 28, btn_y = by + bh - btn_h - 14;
    int yes_x = yes_no ? bx + bw / 2 - btn_w - 15 : bx + (bw - btn_w) / 2;
    int no_x = bx + bw / 2 + 15;
    int focus = yes_no && default_no ? 1 : 0;  // 0 yes / OK, 1 no
    int hover = -1;
    // Afterwards the window shows and types as it did before the box.
    struct Restore {
      SdlWindow* w;
      const Canvas* picture;
      bool text;
      ~Restore() {
        w->last_ = picture;
        if (text) SDL_StartTextInput();
      }
    } restore{this, last_, SDL_IsTextInputActive() == SDL_TRUE};
    SDL_StopTextInput();
    // The box is answered with the desktop's arrow; the game sets its own
    // pointer again on its next turn.
    if (SDL_Cursor* a = Arrow()) SDL_SetCursor(a);
    pointer_ = Pointer::kArrow;
    for (;;) {
      box.CopyFrom(pic, 0, 0, w_, h_, 0, 0);
      box.SetPen(0x808080, 1);
      box.SetBrush(0x101010);
      box.Rectangle(bx, by, bx + bw, by + bh);
      box.SetBrushSolid(false);
      box.SetFontBold(true);
      box.SetFontSize(12);
      box.SetFontColor(0xEEEEEE);
      box.TextOut(bx + 20, by + 24, text);
      auto button = [&](int x, const char* caption, bool lit) {
        box.SetPen(lit ? 0xFFFFFF : 0x808080, 1);
        box.SetBrush(lit ? 0x555555 : 0x000000);
        box.Rectangle(x, btn_y, x + btn_w, btn_y + btn_h);
        box.SetBrushSolid(false);
        TextSize t = box.MeasureText(caption);
        box.TextOut(x + (btn_w - t.width) / 2, btn_y + (btn_h - t.height) / 2, caption);
      };
      button(yes_x, yes_no ? "はい" : "OK", focus == 0 || hover == 0);
      if (yes_no) button(no_x, "いいえ", focus == 1 || hover == 1);
      box.SetBrushSolid(true);
      Present(box);
      SDL_Event ev;
      if (!SDL_WaitEventTimeout(&ev, 100)) continue;
      auto hit = [&](int fx, int fy) {
        if (fy < btn_y || fy >= btn_y + btn_h) return -1;
        if (fx >= yes_x && fx < yes_x + btn_w) return 0;
        if (yes_no && fx >= no_x && fx < no_x + btn_w) return 1;
        return -1;
      };
      switch (ev.type) {
        case SDL_QUIT:
          SDL_PushEvent(&ev);  // the main loop still closes the window
          return false;
        case SDL_WINDOWEVENT:
          if (ev.window.event == SDL_WINDOWEVENT_CLOSE) {
            SDL_Event q{};
            q.type = SDL_QUIT;
            SDL_PushEvent(&q);
            return false;
          }
          break;
        case SDL_MOUSEMOTION: {
          int fx, fy;
          ToField(ev.motion.x, ev.motion.y, fx, fy);
          hover = hit(fx, fy);
          break;
        }
        case SDL_MOUSEBUTTONDOWN: {
          int fx, fy;
          ToField(ev.button.x, ev.button.y, fx, fy);
          int h = hit(fx, fy);
          if (h >= 0) return h == 0;
          break;
        }
        case SDL_KEYDOWN:
          switch (ev.key.keysym.sym) {
            case SDLK_RETURN:
            case SDLK_KP_ENTER:
            case SDLK_SPACE: return focus == 0;
            case SDLK_ESCAPE: return !yes_no;
            case SDLK_y: if (!default_no) return true; break;
            case SDLK_n: if (yes_no) return false; break;
            case SDLK_LEFT: if (yes_no) focus = 0; break;
            case SDLK_RIGHT: if (yes_no) focus = 1; break;
            case SDLK_TAB: if (yes_no) focus = 1 - focus; break;
            default: break;
          }
          break;
        default:
          break;
      }
    }
  }

 private:
  const Canvas* last_ = nullptr;

  SDL_Cursor* Arrow() {
    if (!arrow_) arrow_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    return arrow_;
  }
  // The aiming cross: white lines with a black rim, open in the middle so the
  // point aimed at stays visible.
  SDL_Cursor* Crosshair() {
    if (crosshair_) return crosshair_;
    constexpr int kSize = 31, kMid = 15;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, kSize, kSize, 32, SDL_PIXELFORMAT_ARGB8888);
    if (!s) return nullptr;
    auto arm = [](int i) { return i >= 2 && i <= kSize - 3 && (i < kMid - 3 || i > kMid + 3); };
    uint32_t* px = static_cast<uint32_t*>(s->pixels);
    const int pitch = s->pitch / 4;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        bool line = (x == kMid && arm(y)) || (y == kMid && arm(x)) || (x == kMid && y == kMid);
        bool rim = false;
        for (int dy = -1; dy <= 1 && !line && !rim; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = x + dx, ny = y + dy;
            if ((nx == kMid && arm(ny)) || (ny == kMid && arm(nx)) || (nx == kMid && ny == kMid)) rim = true;
          }
        px[y * pitch + x] = line ? 0xFFFFFFFFu : rim ? 0xFF000000u : 0u;
      }
    crosshair_ = SDL_CreateColorCursor(s, kMid, kMid);
    SDL_FreeSurface(s);
    return crosshair_;
  }
  // Where the field sits in the drawable area, in window (event) pixels.
  FieldView View() {
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(renderer_, &ow, &oh);
    return FitField(ow, oh, w_, h_);
  }
  void ToField(int wx, int wy, int& fx, int& fy) {
    // Event coordinates are in window units; the renderer may have more pixels (HiDPI).
    int ww = 1, wh = 1, ow = 1, oh = 1;
    SDL_GetWindowSize(window_, &ww, &wh);
    SDL_GetRendererOutputSize(renderer_, &ow, &oh);
    int px = ww > 0 ? int(int64_t(wx) * ow / ww) : wx;
    int py = wh > 0 ? int(int64_t(wy) * oh / wh) : wy;
    WindowToField(FitField(ow, oh, w_, h_), px, py, fx, fy);
  }

  bool Translate(const SDL_Event& ev, InputEvent& e) {
    e = InputEvent{};
    switch (ev.type) {
      case SDL_QUIT:
        e.type = InputEvent::kClose;
        return true;
      case SDL_WINDOWEVENT:
        switch (ev.window.event) {
          case SDL_WINDOWEVENT_CLOSE: e.type = InputEvent::kClose; return true;
          case SDL_WINDOWEVENT_FOCUS_GAINED: e.type = InputEvent::kFocusGained; return true;
          case SDL_WINDOWEVENT_FOCUS_LOST: e.type = InputEvent::kFocusLost; return true;
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SIZE_CHANGED: e.type = InputEvent::kExposed; return true;
          default: return false;
        }
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        int b = ButtonIndex(ev.button.button);
        if (b < 0) return false;
        e.type = ev.type == SDL_MOUSEBUTTONDOWN ? InputEvent::kMouseDown : InputEvent::kMouseUp;
        e.button = b;
        ToField(ev.button.x, ev.button.y, e.x, e.y);
        // While a button is held the pointer keeps reporting outside the window.
        if (ev.type == SDL_MOUSEBUTTONDOWN) SDL_CaptureMouse(SDL_TRUE);
        else if (SDL_GetMouseState(nullptr, nullptr) == 0) SDL_CaptureMouse(SDL_FALSE);
        return true;
      }
      case SDL_MOUSEMOTION:
        e.type = InputEvent::kMouseMove;
        ToField(ev.motion.x, ev.motion.y, e.x, e.y);
        return true;
      case SDL_MOUSEWHEEL: {
        int notches = ev.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -ev.wheel.y : ev.wheel.y;
        if (notches == 0) return false;
        e.type = InputEvent::kMouseWheel;
        e.wheel = notches;
        int wx = 0, wy = 0;
        SDL_GetMouseState(&wx, &wy);
        ToField(wx, wy, e.x, e.y);
        return true;
      }
      case SDL_KEYDOWN: {
        // Alt+Enter and F11 toggle fullscreen; the game never sees them.
        SDL_Keycode k = ev.key.keysym.sym;
        bool alt = (ev.key.keysym.mod & KMOD_ALT) != 0;
        if (((k == SDLK_RETURN || k == SDLK_KP_ENTER) && alt) || k == SDLK_F11) {
          if (!ev.key.repeat) ToggleFullscreen();
          return false;
        }
        e.type = InputEvent::kKeyDown;
        e.key = SdlKeyToVirtualKey(ev.key.keysym.sym);
        e.repeat = ev.key.repeat != 0;
        e.shift = (ev.key.keysym.mod & KMOD_SHIFT) != 0;
        e.ctrl = (ev.key.keysym.mod & KMOD_CTRL) != 0;
        return e.key != 0;
      }
      case SDL_TEXTINPUT:
        e.type = InputEvent::kTextInput;
        e.text = ev.text.text;
        return true;
      case SDL_TEXTEDITING:
        e.type = InputEvent::kTextEditing;
        e.text = ev.edit.text;
        e.x = ev.edit.start;
        return true;
      default:
        return false;
    }
  }

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  SDL_Cursor* arrow_ = nullptr;
  SDL_Cursor* crosshair_ = nullptr;
  Pointer pointer_ = Pointer::kArrow;
  bool own_fullscreen_ = false;  // covering the screen without a window manager
  SDL_Rect windowed_{0, 0, 0, 0};
  int w_ = 0, h_ = 0;
};

class SdlDialogs : public Dialogs {
 public:
  SdlDialogs(SdlWindow* w, std::shared_ptr<FontSet> fonts) : win_(w), fonts_(std::move(fonts)) {}
  // The game draws its boxes itself: native boxes on some desktops cannot show
  // Japanese text, and these look like the rest of the game.
  void Message(const std::string& text) override {
    if (win_) win_->RunModal(text, false, fonts_, Backdrop());
  }
  bool Confirm(const std::string& text) override {
    if (win_) return win_->RunModal(text, true, fonts_, Backdrop());
    return false;  // No changes nothing
  }
  bool ConfirmDefaultNo(const std::string& text) override {
    if (win_) return win_->RunModal(text, true, fonts_, Backdrop(), true);
    return false;
  }

 private:
  SdlWindow* win_;
  std::shared_ptr<FontSet> fonts_;
};

}  // namespace

std::unique_ptr<Window> OpenGameWindow(const std::string& caption, int width, int height,
                                       std::string* error) {
  auto w = std::make_unique<SdlWindow>();
  if (!w->Open(caption, width, height, error)) return nullptr;
  return w;
}

std::unique_ptr<Dialogs> MakeSdlDialogs(Window* window, std::shared_ptr<FontSet> fonts) {
  return std::make_unique<SdlDialogs>(dynamic_cast<SdlWindow*>(window), std::move(fonts));
}

void ShowFatalError(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "kv: %s\n", text.c_str());
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), nullptr);
}
