#include "platform/window.h"

#include <SDL.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/canvas.h"
#include "platform/dialogs.h"
#include "platform/picture_file.h"
#include "platform/simd.h"
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
// Doubles the pixels of one row into two rows as far as whole groups of four
// go; returns how many source pixels it did.
int ScaleRowPairBy2(const uint32_t* in, int w, uint32_t* out, uint32_t* out2) {
  int x = 0;
#if defined(__SSE2__)
  auto put = [](uint32_t* p, __m128i lo, __m128i hi, bool stream) {
    __m128i* q = reinterpret_cast<__m128i*>(p);
    if (stream) {
      _mm_stream_si128(q, lo);
      _mm_stream_si128(q + 1, hi);
    } else {
      _mm_storeu_si128(q, lo);
      _mm_storeu_si128(q + 1, hi);
    }
  };
  const bool aligned = (reinterpret_cast<uintptr_t>(out) | reinterpret_cast<uintptr_t>(out2)) % 16 == 0;
  for (; x + 4 <= w; x += 4) {
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    const __m128i lo = _mm_unpacklo_epi32(four, four), hi = _mm_unpackhi_epi32(four, four);
    put(out + 2 * x, lo, hi, aligned);
    put(out2 + 2 * x, lo, hi, aligned);
  }
#endif
  return x;
}
}  // namespace

void ScalePicture(const uint8_t* src, int src_stride, int w, int h, int scale, uint8_t* dst,
                  int dst_stride) {
  const size_t row_bytes = size_t(w) * scale * 4;
  for (int y = 0; y < h; ++y) {
    const uint32_t* in = reinterpret_cast<const uint32_t*>(src + size_t(y) * src_stride);
    uint8_t* first = dst + size_t(y) * scale * dst_stride;
    uint32_t* out = reinterpret_cast<uint32_t*>(first);
    int x = 0;
    int rows_done = 1;
    if (scale == 1) {
      std::memcpy(out, in, row_bytes);
      x = w;
    } else if (scale == 2) {
      // The usual case (a 1280 x 960 window): four pixels become two rows of
      // eight, written straight to both rows. The window's pixels are only
      // written here, so where the rows are aligned they bypass the cache.
      uint32_t* out2 = reinterpret_cast<uint32_t*>(first + dst_stride);
      x = ScaleRowPairBy2(in, w, out, out2);
      for (int i = x; i < w; ++i) out[2 * i] = out[2 * i + 1] = out2[2 * i] = out2[2 * i + 1] = in[i];
      x = w;
      rows_done = 2;
    }
    for (; x < w; ++x) std::fill_n(out + size_t(x) * scale, scale, in[x]);
    // The other rows of the block are copies of the first.
    for (int k = rows_done; k < scale; ++k) std::memcpy(first + size_t(k) * dst_stride, first, row_bytes);
  }
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

std::vector<FieldRect> TakeChanges(const uint8_t* picture, int picture_stride, uint8_t* shown,
                                   int shown_stride, int w, int h) {
  std::vector<FieldRect> changes;
  const int blocks = (w + kChangeBlockW - 1) / kChangeBlockW;
  std::vector<char> changed(size_t(blocks), 0);
  const size_t row_bytes = size_t(w) * 4;
  for (int band = 0; band < h; band += kChangeBandH) {
    const int band_end = std::min(h, band + kChangeBandH);
    std::fill(changed.begin(), changed.end(), 0);
    bool any = false;
    for (int y = band; y < band_end; ++y) {
      const uint8_t* row = picture + size_t(y) * picture_stride;
      uint8_t* old = shown + size_t(y) * shown_stride;
      if (std::memcmp(row, old, row_bytes) == 0) continue;  // most rows of most pictures
      for (int b = 0; b < blocks; ++b) {
        const size_t at = size_t(b) * kChangeBlockW * 4;
        const size_t n = std::min(row_bytes - at, size_t(kChangeBlockW) * 4);
        if (std::memcmp(row + at, old + at, n) == 0) continue;
        std::memcpy(old + at, row + at, n);
        changed[size_t(b)] = 1;
        any = true;
      }
    }
    for (int b = 0; any && b < blocks;) {
      if (!changed[size_t(b)]) {
        ++b;
        continue;
      }
      int e = b;
      while (e < blocks && changed[size_t(e)]) ++e;
      const int x = b * kChangeBlockW;
      changes.push_back({x, band, std::min(w, e * kChangeBlockW) - x, band_end - band});
      b = e;
    }
  }
  return changes;
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

// Half as bright: what lies behind a box.
void DarkenPicture(Canvas& pic) {
  uint8_t* d = pic.MutableData();
  for (int y = 0; y < pic.Height(); ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(d + size_t(y) * pic.Stride());
    for (int x = 0; x < pic.Width(); ++x) row[x] = (row[x] >> 1) & 0x7F7F7F;
  }
}

// The message box or Yes/No box in the middle of the field: its buttons, what
// the keys do, and its picture.
struct ModalBox {
  static constexpr int kX = 90, kY = 170, kW = 460, kH = 140;
  static constexpr int kButtonW = 110, kButtonH = 28, kButtonY = kY + kH - kButtonH - 14;
  static constexpr int kNoX = kX + kW / 2 + 15;
  std::string text;
  bool yes_no;
  int focus;       // 0 Yes / OK, 1 No
  int hover = -1;  // the button under the pointer

  int YesX() const { return yes_no ? kX + kW / 2 - kButtonW - 15 : kX + (kW - kButtonW) / 2; }
  // The button at a field point: 0 Yes / OK, 1 No, -1 none.
  int Hit(int x, int y) const {
    if (y < kButtonY || y >= kButtonY + kButtonH) return -1;
    if (x >= YesX() && x < YesX() + kButtonW) return 0;
    if (yes_no && x >= kNoX && x < kNoX + kButtonW) return 1;
    return -1;
  }
  // true when the lit button changed.
  bool Hover(int button) {
    if (button == hover) return false;
    hover = button;
    return true;
  }
  // The answer a key gives; none for a key that only moves the focus.
  std::optional<bool> Key(SDL_Keycode k, bool default_no) {
    switch (k) {
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
    return std::nullopt;
  }
  void Draw(Canvas& c) const {
    c.SetPen(0x808080, 1);
    c.SetBrush(0x101010);
    c.Rectangle(kX, kY, kX + kW, kY + kH);
    c.SetBrushSolid(false);
    c.SetFontBold(true);
    c.SetFontSize(12);
    c.SetFontColor(0xEEEEEE);
    c.TextOut(kX + 20, kY + 24, text);
    auto button = [&](int x, const char* caption, bool lit) {
      c.SetPen(lit ? 0xFFFFFF : 0x808080, 1);
      c.SetBrush(lit ? 0x555555 : 0x000000);
      c.Rectangle(x, kButtonY, x + kButtonW, kButtonY + kButtonH);
      c.SetBrushSolid(false);
      TextSize t = c.MeasureText(caption);
      c.TextOut(x + (kButtonW - t.width) / 2, kButtonY + (kButtonH - t.height) / 2, caption);
    };
    button(YesX(), yes_no ? "はい" : "OK", focus == 0 || hover == 0);
    if (yes_no) button(kNoX, "いいえ", focus == 1 || hover == 1);
    c.SetBrushSolid(true);
  }
};

// Whether a GPU would draw for the game: a render node is there and the GL it
// gives is hardware, not a software rasteriser. Asked only where a render node
// is, since loading GL to find out costs as much memory as using it.
bool HardwareGl() {
  bool node = false;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
    if (entry.path().filename().string().rfind("renderD", 0) == 0 &&
        access(entry.path().c_str(), R_OK | W_OK) == 0)
      node = true;
  if (!node) return false;
  SDL_Window* probe = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_HIDDEN | SDL_WINDOW_OPENGL);
  if (!probe) return false;
  bool hardware = false;
  if (SDL_GLContext gl = SDL_GL_CreateContext(probe)) {
    using GetString = const unsigned char* (*)(unsigned);
    auto get = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    const unsigned kGlRenderer = 0x1F01;
    const char* name = get ? reinterpret_cast<const char*>(get(kGlRenderer)) : nullptr;
    hardware = name && !std::strstr(name, "llvmpipe") && !std::strstr(name, "softpipe") &&
               !std::strstr(name, "swrast") && !std::strstr(name, "Software");
    SDL_GL_DeleteContext(gl);
  }
  SDL_DestroyWindow(probe);
  return hardware;
}

class SdlWindow : public Window {
 public:
  static constexpr int kLongestWaitMs = 250;

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
    // The picture is made on the CPU. Where a GPU is, a texture takes it and
    // the GPU scales it for next to nothing. Without one, GL would be a
    // software rasteriser costing more than the whole frame and loading a
    // large library (126 MB resident instead of 40); SDL's renderer would then
    // stretch it a pixel at a time (a third of the game's CPU time at 2x) and
    // copy it once more into the window. So there the picture is enlarged
    // straight into the window's own pixels (SDL's window surface), rows at a
    // time and only where it changed. SDL_RENDER_DRIVER, when set, still
    // picks a renderer.
    const char* asked_renderer = std::getenv("SDL_RENDER_DRIVER");
    if ((asked_renderer && *asked_renderer) || HardwareGl() || !WindowSurface()) {
      renderer_ = SDL_CreateRenderer(window_, -1, 0);
      if (!renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
      if (!renderer_) {
        if (error) *error = SDL_GetError();
        return false;
      }
      SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
      if (!texture_) {
        if (error) *error = SDL_GetError();
        return false;
      }
      SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
      SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
      SDL_RenderClear(renderer_);
      SDL_RenderPresent(renderer_);
    } else {
      SDL_FillRect(WindowSurface(), nullptr, 0);
      SDL_UpdateWindowSurface(window_);
    }
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
    if (Poll(e)) return true;
    if (timeout_ms == 0) return false;
    // With no end the wait still looks in now and then: SDL keeps some work
    // (a delayed focus change) for its next look.
    const int ms = timeout_ms < 0 || timeout_ms > kLongestWaitMs ? kLongestWaitMs : timeout_ms;
    switch (WaitForX11Input(window_, ms)) {
      case 0: return false;
      case 1: return Poll(e);
      default: break;
    }
    SDL_Event ev;
    if (!SDL_WaitEventTimeout(&ev, ms)) return false;
    return Translate(ev, e) || Poll(e);
  }

  bool Present(const Canvas& c) override {
    if (c.Width() != w_ || c.Height() != h_) return false;
    // The parts that differ from the picture on screen are copied over it;
    // only they are enlarged and sent to the screen. In play that is about a
    // fifth of the field: the sprites, the speed lines and the HUD's figures.
    if (!shown_) shown_ = std::make_unique<Canvas>(w_, h_, nullptr);
    std::vector<FieldRect> changes =
        TakeChanges(c.Data(), c.Stride(), shown_->MutableData(), shown_->Stride(), w_, h_);
    const bool whole = stale_;
    if (whole) changes.assign(1, FieldRect{0, 0, w_, h_});
    if (changes.empty()) return false;
    stale_ = false;
    return renderer_ ? Render(changes) : Blit(changes, whole);
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

  // A modal box over `backdrop` (null: the picture on screen), answered with
  // the mouse or the keys. Returns true for Yes / OK. With default_no the box
  // opens on No: Enter, Space and Esc then answer No, and Yes takes a click or
  // a move to it first.
  //
  // The game draws it itself rather than through SDL_ShowMessageBox: SDL's box
  // on X11 draws with the X server's core fonts, which desktops today have no
  // Japanese glyphs for (the name question came out as "$H$$$&L>A0..."); with
  // no window manager it never gets the keyboard, so Enter cannot answer it;
  // and it cannot move between its buttons from the keyboard, which the
  // default-No question needs.
  bool RunModal(const std::string& text, bool yes_no, const std::shared_ptr<FontSet>& fonts,
                const Canvas* backdrop, bool default_no = false) {
    ModalBox box{text, yes_no, yes_no && default_no ? 1 : 0};
    Canvas behind(w_, h_, fonts), pic(w_, h_, fonts);
    if (!backdrop) backdrop = shown_.get();
    if (backdrop) behind.CopyFrom(*backdrop, 0, 0, w_, h_, 0, 0);
    DarkenPicture(behind);
    // Afterwards the window types as it did before the box.
    struct Restore {
      bool text;
      ~Restore() {
        if (text) SDL_StartTextInput();
      }
    } restore{SDL_IsTextInputActive() == SDL_TRUE};
    SDL_StopTextInput();
    // The box is answered with the desktop's arrow; the game sets its own
    // pointer again on its next turn.
    if (SDL_Cursor* a = Arrow()) SDL_SetCursor(a);
    pointer_ = Pointer::kArrow;
    bool draw = true;
    for (;;) {
      if (draw) {
        pic.CopyFrom(behind, 0, 0, w_, h_, 0, 0);
        box.Draw(pic);
        Present(pic);
        draw = false;
      }
      SDL_Event ev;
      if (!SDL_WaitEvent(&ev)) continue;
      int fx = 0, fy = 0;
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
          if (ev.window.event == SDL_WINDOWEVENT_EXPOSED || ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            stale_ = true;
            draw = true;
          }
          break;
        case SDL_MOUSEMOTION:
          ToField(ev.motion.x, ev.motion.y, fx, fy);
          draw = box.Hover(box.Hit(fx, fy));
          break;
        case SDL_MOUSEBUTTONDOWN:
          ToField(ev.button.x, ev.button.y, fx, fy);
          if (int h = box.Hit(fx, fy); h >= 0) return h == 0;
          break;
        case SDL_KEYDOWN:
          if (std::optional<bool> answer = box.Key(ev.key.keysym.sym, default_no)) return *answer;
          draw = true;
          break;
        default:
          break;
      }
    }
  }

 private:
  // The window's own pixels when the game can write them (32-bit, as the
  // picture), else null.
  SDL_Surface* WindowSurface() {
    SDL_Surface* s = SDL_GetWindowSurface(window_);
    return s && s->format->format == SDL_PIXELFORMAT_RGB888 && !SDL_MUSTLOCK(s) ? s : nullptr;
  }

  // The changed parts of the picture on screen (shown_) into the window's
  // pixels, enlarged. The black bars stay in them from one picture to the
  // next: they are drawn when the window's pixels are new (after a resize).
  bool Blit(const std::vector<FieldRect>& changes, bool whole) {
    SDL_Surface* s = WindowSurface();
    if (!s) return false;
    if (s != surface_ || s->w != surface_w_ || s->h != surface_h_) {
      SDL_FillRect(s, nullptr, 0);
      surface_ = s;
      surface_w_ = s->w;
      surface_h_ = s->h;
      whole = true;
    }
    const FieldView v = FitField(s->w, s->h, w_, h_);
    if (v.offset_x < 0 || v.offset_y < 0) {
      // A screen smaller than the field: SDL cuts the picture to it.
      SDL_Surface* pic = SDL_CreateRGBSurfaceWithFormatFrom(shown_->MutableData(), w_, h_, 32,
                                                            shown_->Stride(), SDL_PIXELFORMAT_RGB888);
      if (!pic) return false;
      SDL_Rect all{v.offset_x, v.offset_y, w_ * v.scale, h_ * v.scale};
      SDL_BlitScaled(pic, nullptr, s, &all);
      SDL_FreeSurface(pic);
      return SDL_UpdateWindowSurface(window_) == 0;
    }
    const std::vector<FieldRect> all{{0, 0, w_, h_}};
    rects_.clear();
    for (const FieldRect& r : whole ? all : changes) {
      const SDL_Rect dst{v.offset_x + r.x * v.scale, v.offset_y + r.y * v.scale, r.w * v.scale, r.h * v.scale};
      uint8_t* to = static_cast<uint8_t*>(s->pixels) + size_t(dst.y) * s->pitch + size_t(dst.x) * 4;
      ScalePicture(shown_->Data() + size_t(r.y) * shown_->Stride() + size_t(r.x) * 4, shown_->Stride(), r.w,
                   r.h, v.scale, to, s->pitch);
      rects_.push_back(dst);
    }
    // Uncovered, the window takes all of its pixels again, bars included.
    if (whole) return SDL_UpdateWindowSurface(window_) == 0;
    return SDL_UpdateWindowSurfaceRects(window_, rects_.data(), int(rects_.size())) == 0;
  }

  // Through the renderer: the changed rows into the texture, which the GPU
  // scales. A GPU's buffers keep nothing from one picture to the next, so the
  // bars are drawn with each picture where there are any.
  bool Render(const std::vector<FieldRect>& changes) {
    int first = h_, end = 0;
    for (const FieldRect& r : changes) {
      first = std::min(first, r.y);
      end = std::max(end, r.y + r.h);
    }
    SDL_Rect rows{0, first, w_, end - first};
    SDL_UpdateTexture(texture_, &rows, shown_->Data() + size_t(first) * shown_->Stride(), shown_->Stride());
    int ow = 0, oh = 0;
    OutputSize(ow, oh);
    const FieldView v = FitField(ow, oh, w_, h_);
    const SDL_Rect dst{v.offset_x, v.offset_y, w_ * v.scale, h_ * v.scale};
    if (dst.x > 0 || dst.y > 0 || dst.x + dst.w < ow || dst.y + dst.h < oh) SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, &dst);
    SDL_RenderPresent(renderer_);
    return true;
  }

  // The size of the drawable area in pixels (more than the window's size in
  // events on a HiDPI screen).
  void OutputSize(int& w, int& h) {
    w = h = 0;
    if (renderer_) SDL_GetRendererOutputSize(renderer_, &w, &h);
    else SDL_GetWindowSizeInPixels(window_, &w, &h);
  }

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
  void ToField(int wx, int wy, int& fx, int& fy) {
    // Event coordinates are in window units; the renderer may have more pixels (HiDPI).
    int ww = 1, wh = 1, ow = 1, oh = 1;
    SDL_GetWindowSize(window_, &ww, &wh);
    OutputSize(ow, oh);
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
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            stale_ = true;  // the picture is to be shown again, even if unchanged
            e.type = InputEvent::kExposed;
            return true;
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
  SDL_Surface* surface_ = nullptr;  // the window's pixels the bars were drawn in
  int surface_w_ = 0, surface_h_ = 0;
  std::unique_ptr<Canvas> shown_;   // the picture on screen
  std::vector<SDL_Rect> rects_;     // the window's pixels Blit changed
  bool stale_ = true;               // the screen no longer shows it (uncovered or resized)
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
  // The boxes are the game's own (SdlWindow::RunModal says why).
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
