// The single-line text field and the text button of the panels over the field.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window.h"

struct EditBox;
struct Game;
class Canvas;

// ---- The single-line text field of the name and comment panels ----
// Text is kept as UTF-8 but limited to what CP932 can hold, `max_bytes`
// bytes of it, so the save file and the ranking get exactly what was shown.
// It edits as any desktop edit box: a caret, a selection that typing
// replaces, Home/End and the arrows (with Shift to select), Ctrl+A.

// Bytes the UTF-8 text takes in CP932 (-1 when it cannot be stored there).
int Cp932Bytes(const std::string& utf8);
// The caret and the selection as byte offsets into text: [start, end), on
// character boundaries; start == end when nothing is selected.
int EditBoxCaret(const EditBox& box);
void EditBoxSelection(const EditBox& box, int& start, int& end);
bool EditBoxHasSelection(const EditBox& box);
// Places the caret at byte offset `at` (snapped to a character); with
// `extend` the selection's other end stays where it was.
void EditBoxSetCaret(EditBox& box, int at, bool extend = false);
void EditBoxSelectAll(EditBox& box);
// Types text at the caret, over the selection: characters CP932 cannot hold
// and control characters (line breaks, tabs) are refused; insertion stops at
// the first character that would pass the byte limit, counted without the
// selection it replaces. Returns true when anything was added; text that adds
// nothing leaves the box as it was, selection included.
bool EditBoxInsert(EditBox& box, const std::string& utf8);
// Opens the box on a preset text, all of it selected as a desktop edit box
// selects its text when it takes the focus: typing replaces it, OK keeps it.
void EditBoxPreset(EditBox& box, const std::string& utf8);
// The IME composition in progress (empty when it ended), shown at the caret.
// A composition that starts over a selection replaces the selection.
void EditBoxSetComposition(EditBox& box, const std::string& utf8);
// Deletes the selection, else the whole character before the caret.
void EditBoxBackspace(EditBox& box);
// Deletes the selection, else the whole character after the caret.
void EditBoxDelete(EditBox& box);

enum class EditKey { kNone, kEnter };
// A key typed into the box (virtual-key codes): 8 Backspace, 46 Delete, 37
// and 39 the arrows, 36 Home, 35 End (Shift extends the selection), Ctrl+A
// selects all, 13 is reported as kEnter. While the IME composes, the keys are
// the IME's and nothing happens here.
EditKey EditBoxKeyDown(EditBox& box, int key, bool shift = false, bool ctrl = false);

// The panels' edit boxes: pink text on a near-black violet grey, as the
// name box's edit was designed (0x00BBGGRR); the comment box matches it.
inline constexpr uint32_t kEditTextColor = 8388863;  // 0x8000FF
inline constexpr uint32_t kEditBackColor = 1906205;  // 0x1D161D

struct EditBoxLook {
  int x = 0, y = 0, width = 0, height = 0;
  int font_size = 18;                // the largest; a text that would not fit is drawn smaller
  uint32_t text_color = kEditTextColor;
  uint32_t back_color = kEditBackColor;
  uint32_t frame_color = 0x808080;
  bool caret_on = true;              // the blinking caret's phase
};
// A selected text: white on the desktop's selection blue (0x00BBGGRR).
inline constexpr uint32_t kEditSelectedBack = 0xD77800;
inline constexpr uint32_t kEditSelectedText = 0xFFFFFF;
// Draws the box: its text with the selection highlighted, the composition
// underlined at the caret, the caret. The font shrinks (down to 6 points)
// until the text and the caret fit inside the box.
void DrawEditBox(Canvas& c, const EditBox& box, const EditBoxLook& look);
// The byte offset in text nearest to x (a click into the box drawn with `look`).
int EditBoxOffsetAt(Canvas& c, const EditBox& box, const EditBoxLook& look, int x);
// A press of the left button at x in the box: the caret goes to the nearest
// character boundary (measured in the game's font).
void EditBoxClick(const Game& g, EditBox& box, const EditBoxLook& look, int x);
// The caret blinks with the frame counter.
bool CaretPhase(int frame_no);

// The longest start of utf8 (whole characters) that is at most max_width
// pixels wide in the canvas's current font, with "…" when it was cut.
std::string FitTextWidth(Canvas& c, const std::string& utf8, int max_width);

// A text button like the panels' "<OK>".
void DrawPanelButton(Canvas& c, int x, int y, int w, int h, const std::string& caption);
// The back of an entry panel: black with a grey top edge. Leaves the font set
// for the panel's labels (11 pt, white, not bold) and text without a background.
void DrawPanelBack(Canvas& c, int x, int y, int w, int h);
// The panels' edit box at (x, y), w x h, at most font_size points, caret blinking with the frame.
EditBoxLook PanelEditLook(int x, int y, int w, int h, int font_size, int frame_no);
inline bool Inside(int px, int py, int x, int y, int w, int h) {
  return px >= x && px < x + w && py >= y && py < y + h;
}

// A press on an entry panel (an edit box and an <OK> button, placed as layout L
// says) with its top-left corner at (x0, y0): a left press on <OK> runs ok, one
// in the box moves the caret. True when the press was over the panel.
template <class L>
bool EntryPanelMouseDown(Game& g, int x0, int y0, EditBox& box, const EditBoxLook& look, void (*ok)(Game&),
                         int button, int x, int y) {
  const int px = x - x0, py = y - y0;
  if (!Inside(px, py, 0, 0, L::kWidth, L::kHeight)) return false;
  if (button == kButtonLeft && Inside(px, py, L::kOkX, L::kOkY, L::kOkW, L::kOkH)) ok(g);
  if (button == kButtonLeft && Inside(px, py, L::kEditX, L::kEditY, L::kEditW, L::kEditH))
    EditBoxClick(g, box, look, x);
  return true;
}
// A key to an entry panel: its edit box has the keyboard, Enter presses <OK>.
// Always true: no key reaches the field while a panel is open.
inline bool EntryPanelKeyDown(Game& g, EditBox& box, void (*ok)(Game&), int key, bool shift, bool ctrl) {
  if (EditBoxKeyDown(box, key, shift, ctrl) == EditKey::kEnter) ok(g);
  return true;
}
