// The single-line text field and the text button of the panels over the field.
#pragma once

#include <cstdint>
#include <string>

struct EditBox;
class Canvas;

// ---- The single-line text field of the name and comment panels ----
// Text is kept as UTF-8 but limited to what CP932 can hold, `max_bytes`
// bytes of it, so the save file and the ranking get exactly what was shown.

// Bytes the UTF-8 text takes in CP932 (-1 when it cannot be stored there).
int Cp932Bytes(const std::string& utf8);
// Adds typed text at the end: characters CP932 cannot hold and control
// characters (line breaks, tabs) are refused; insertion stops at the first
// character that would pass the byte limit. Returns true when anything was added.
// While the text is selected, what is added replaces it (text that adds
// nothing leaves it, still selected).
bool EditBoxInsert(EditBox& box, const std::string& utf8);
// Opens the box on a preset text, all of it selected as a desktop edit box
// selects its text when it takes the focus: typing replaces it, OK keeps it.
void EditBoxPreset(EditBox& box, const std::string& utf8);
// The IME composition in progress (empty when it ended). A composition that
// starts over a selected text replaces it.
void EditBoxSetComposition(EditBox& box, const std::string& utf8);
// Deletes the last whole character, or the selected text.
void EditBoxBackspace(EditBox& box);

enum class EditKey { kNone, kEnter };
// A key typed into the box: 8 deletes a character (46 too, only a selected
// text), 13 is reported as kEnter; the arrows, Home and End drop the
// selection, leaving the caret at the end. While the IME composes, the keys
// are the IME's and nothing happens here.
EditKey EditBoxKeyDown(EditBox& box, int key);

// The panels' edit boxes: pink text on a near-black violet grey, as the
// name box's edit was designed (0x00BBGGRR); the comment box matches it.
inline constexpr uint32_t kEditTextColor = 8388863;  // 0x8000FF
inline constexpr uint32_t kEditBackColor = 1906205;  // 0x1D161D

struct EditBoxLook {
  int x = 0, y = 0, width = 0, height = 0;
  int font_size = 18;
  uint32_t text_color = kEditTextColor;
  uint32_t back_color = kEditBackColor;
  uint32_t frame_color = 0x808080;
  bool caret_on = true;              // the blinking caret's phase
};
// A selected text: white on the desktop's selection blue (0x00BBGGRR).
inline constexpr uint32_t kEditSelectedBack = 0xD77800;
inline constexpr uint32_t kEditSelectedText = 0xFFFFFF;
// Draws the box: its text (highlighted while selected), the composition
// underlined after it, the caret.
void DrawEditBox(Canvas& c, const EditBox& box, const EditBoxLook& look);
// The caret blinks with the frame counter.
bool CaretPhase(int frame_no);

// A text button like the panels' "<OK>".
void DrawPanelButton(Canvas& c, int x, int y, int w, int h, const std::string& caption);
// The back of an entry panel: black with a grey top edge. Leaves the font set
// for the panel's labels (11 pt, white, not bold) and text without a background.
void DrawPanelBack(Canvas& c, int x, int y, int w, int h);
// The panel's edit box at (x, y), w x h, in font_size points, caret blinking with the frame.
void DrawPanelEditBox(Canvas& c, const EditBox& box, int x, int y, int w, int h, int font_size, int frame_no);
inline bool Inside(int px, int py, int x, int y, int w, int h) {
  return px >= x && px < x + w && py >= y && py < y + h;
}
