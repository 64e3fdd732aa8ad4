#include "ranking/edit_box.h"

#include <algorithm>
#include <cstdlib>

#include "platform/canvas.h"
#include "platform/text.h"
#include "state/game.h"

namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// A byte offset moved back onto the start of its character, within the text.
int Snap(const std::string& s, int at) {
  at = std::clamp(at, 0, int(s.size()));
  while (at > 0 && at < int(s.size()) && IsContinuation(s[size_t(at)])) --at;
  return at;
}

int PrevChar(const std::string& s, int at) { return at <= 0 ? 0 : Snap(s, at - 1); }
int NextChar(const std::string& s, int at) {
  if (at >= int(s.size())) return int(s.size());
  ++at;
  while (at < int(s.size()) && IsContinuation(s[size_t(at)])) ++at;
  return at;
}

int Anchor(const EditBox& box) { return Snap(box.text, int(box.text.size()) - box.anchor_back); }

void Place(EditBox& box, int caret, int anchor) {
  const int n = int(box.text.size());
  box.caret_back = n - Snap(box.text, caret);
  box.anchor_back = n - Snap(box.text, anchor);
}

// Removes [start, end) and leaves the caret there.
void Erase(EditBox& box, int start, int end) {
  box.text.erase(size_t(start), size_t(end - start));
  Place(box, start, start);
}

bool DeleteSelection(EditBox& box) {
  int start = 0, end = 0;
  EditBoxSelection(box, start, end);
  if (start == end) return false;
  Erase(box, start, end);
  return true;
}

}  // namespace

// ---- the text field ----

int Cp932Bytes(const std::string& utf8) {
  auto b = text::Utf8ToCp932(utf8);
  return b ? int(b->size()) : -1;
}

int EditBoxCaret(const EditBox& box) { return Snap(box.text, int(box.text.size()) - box.caret_back); }

void EditBoxSelection(const EditBox& box, int& start, int& end) {
  const int caret = EditBoxCaret(box), anchor = Anchor(box);
  start = std::min(caret, anchor);
  end = std::max(caret, anchor);
}

bool EditBoxHasSelection(const EditBox& box) { return EditBoxCaret(box) != Anchor(box); }

void EditBoxSetCaret(EditBox& box, int at, bool extend) { Place(box, at, extend ? Anchor(box) : at); }

void EditBoxSelectAll(EditBox& box) { Place(box, int(box.text.size()), 0); }

bool EditBoxInsert(EditBox& box, const std::string& utf8) {
  int start = 0, end = 0;
  EditBoxSelection(box, start, end);
  std::string kept = box.text.substr(0, size_t(start)) + box.text.substr(size_t(end));
  int used = Cp932Bytes(kept);
  if (used < 0) used = 0;
  std::string added;
  for (size_t i = 0; i < utf8.size();) {
    size_t n = text::Utf8CompleteLength(utf8, i);
    if (n == 0) {  // malformed byte: skip it
      i += 1;
      continue;
    }
    std::string ch = utf8.substr(i, n);
    i += n;
    unsigned char c0 = static_cast<unsigned char>(ch[0]);
    if (n == 1 && (c0 < 0x20 || c0 == 0x7F)) continue;  // line breaks, tabs, controls
    auto bytes = text::Utf8ToCp932(ch);
    if (!bytes || bytes->empty()) continue;  // emoji and the like: not storable
    if (used + int(bytes->size()) > box.max_bytes) break;
    // Keep the character as CP932 gives it back, e.g. "¥" is stored as "\".
    added += text::Cp932ToUtf8Lossy(*bytes, text::kReplacementCharacter);
    used += int(bytes->size());
  }
  if (added.empty()) return false;
  kept.insert(size_t(start), added);
  box.text = std::move(kept);
  const int caret = start + int(added.size());
  Place(box, caret, caret);
  return true;
}

void EditBoxPreset(EditBox& box, const std::string& utf8) {
  box.text = utf8;
  box.composition.clear();
  EditBoxSelectAll(box);
}

void EditBoxSetComposition(EditBox& box, const std::string& utf8) {
  if (!utf8.empty()) DeleteSelection(box);
  box.composition = utf8;
}

void EditBoxBackspace(EditBox& box) {
  if (DeleteSelection(box)) return;
  const int caret = EditBoxCaret(box);
  Erase(box, PrevChar(box.text, caret), caret);
}

void EditBoxDelete(EditBox& box) {
  if (DeleteSelection(box)) return;
  const int caret = EditBoxCaret(box);
  Erase(box, caret, NextChar(box.text, caret));
}

EditKey EditBoxKeyDown(EditBox& box, int key, bool shift, bool ctrl) {
  if (!box.composition.empty()) return EditKey::kNone;
  int start = 0, end = 0;
  EditBoxSelection(box, start, end);
  const int caret = EditBoxCaret(box);
  switch (key) {
    case 8: EditBoxBackspace(box); break;
    case 46: EditBoxDelete(box); break;
    // An arrow without Shift first collapses a selection to its side.
    case 37: EditBoxSetCaret(box, !shift && start != end ? start : PrevChar(box.text, caret), shift); break;
    case 39: EditBoxSetCaret(box, !shift && start != end ? end : NextChar(box.text, caret), shift); break;
    case 36: EditBoxSetCaret(box, 0, shift); break;
    case 35: EditBoxSetCaret(box, int(box.text.size()), shift); break;
    case 'A': if (ctrl) EditBoxSelectAll(box); break;
    case 13: return EditKey::kEnter;
    default: break;
  }
  return EditKey::kNone;
}

bool CaretPhase(int frame_no) { return (frame_no / 6) % 2 == 0; }

namespace {

constexpr int kTextInset = 6;  // text from the box's left edge
constexpr int kMinFontSize = 6;

// What the box shows: text with the composition at the caret.
struct Shown {
  std::string line;
  int caret = 0;       // caret offset in text
  int selection_start = 0, selection_end = 0;
};

Shown ShownText(const EditBox& box) {
  Shown s;
  s.caret = EditBoxCaret(box);
  EditBoxSelection(box, s.selection_start, s.selection_end);
  s.line = box.text;
  s.line.insert(size_t(s.caret), box.composition);
  return s;
}

// Sets the largest font size (up to the look's) at which the line and the
// caret after it fit inside the box.
void SetFittingFont(Canvas& c, const std::string& line, const EditBoxLook& look) {
  c.SetFontBold(true);
  const int room = look.width - 2 * kTextInset;
  int size = look.font_size;
  c.SetFontSize(size);
  while (size > kMinFontSize && c.TextWidth(line) + 3 > room) c.SetFontSize(--size);
}

}  // namespace

void DrawEditBox(Canvas& c, const EditBox& box, const EditBoxLook& look) {
  c.SetPen(look.frame_color, 1);
  c.SetBrush(look.back_color);
  c.SetBrushSolid(true);
  c.Rectangle(look.x, look.y, look.x + look.width, look.y + look.height);
  const Shown s = ShownText(box);
  SetFittingFont(c, s.line, look);
  c.SetFontColor(look.text_color);
  c.SetBrushSolid(false);
  const int h = c.TextHeight("Ag");
  const int tx = look.x + kTextInset;
  const int ty = look.y + (look.height - h) / 2;
  const auto x_at = [&](int offset) { return tx + c.TextWidth(s.line.substr(0, size_t(offset))); };
  c.TextOut(tx, ty, s.line);
  if (s.selection_start != s.selection_end) {
    // The selected part again, white on the selection colour.
    const int x0 = x_at(s.selection_start), x1 = x_at(s.selection_end);
    c.FillRect(x0 - (s.selection_start == 0 ? 1 : 0), ty, x1 + 1, ty + h, kEditSelectedBack);
    c.SetFontColor(kEditSelectedText);
    c.TextOut(x0, ty, box.text.substr(size_t(s.selection_start), size_t(s.selection_end - s.selection_start)));
    c.SetFontColor(look.text_color);
  }
  const int caret_x = x_at(s.caret + int(box.composition.size()));
  if (!box.composition.empty()) {
    c.SetPen(look.text_color, 1);
    c.MoveTo(x_at(s.caret), ty + h);
    c.LineTo(caret_x, ty + h);
  }
  // As on the desktop, no caret blinks while the whole text is selected.
  const bool all_selected = s.selection_start == 0 && s.selection_end == int(box.text.size()) && !box.text.empty();
  if (look.caret_on && !all_selected) {
    c.SetPen(look.text_color, 2);
    c.MoveTo(caret_x + 1, ty);
    c.LineTo(caret_x + 1, ty + h);
  }
  c.SetPen(look.frame_color, 1);
  c.SetBrushSolid(true);
}

int EditBoxOffsetAt(Canvas& c, const EditBox& box, const EditBoxLook& look, int x) {
  SetFittingFont(c, ShownText(box).line, look);
  const std::string& t = box.text;
  int best = 0, best_dist = 1 << 30;
  for (int at = 0;; at = NextChar(t, at)) {
    const int d = std::abs(look.x + kTextInset + c.TextWidth(t.substr(0, size_t(at))) - x);
    if (d < best_dist) {
      best = at;
      best_dist = d;
    }
    if (at >= int(t.size())) break;
  }
  return best;
}

void EditBoxClick(const Game& g, EditBox& box, const EditBoxLook& look, int x) {
  if (!box.composition.empty()) return;  // the IME has the text until it commits
  Canvas measure(1, 1, g.pf.fonts);
  EditBoxSetCaret(box, EditBoxOffsetAt(measure, box, look, x));
}

std::string FitTextWidth(Canvas& c, const std::string& utf8, int max_width) {
  if (c.TextWidth(utf8) <= max_width) return utf8;
  std::string cut = utf8;
  while (!cut.empty()) {
    cut.erase(size_t(PrevChar(cut, int(cut.size()))));
    if (c.TextWidth(cut + "…") <= max_width) return cut + "…";
  }
  return {};
}

void DrawPanelButton(Canvas& c, int x, int y, int w, int h, const std::string& caption) {
  c.SetPen(0xA0A0A0, 1);
  c.SetBrush(0x303030);
  c.SetBrushSolid(true);
  c.Rectangle(x, y, x + w, y + h);
  c.SetFontSize(14);
  c.SetFontBold(true);
  c.SetFontColor(0xFFFFFF);
  c.SetBrushSolid(false);
  TextSize t = c.MeasureText(caption);
  c.TextOut(x + (w - t.width) / 2, y + (h - t.height) / 2, caption);
  c.SetBrushSolid(true);
}

void DrawPanelBack(Canvas& c, int x, int y, int w, int h) {
  c.FillRect(x, y, x + w, y + h, 0);
  c.SetPen(0x808080, 1);
  c.MoveTo(x, y);
  c.LineTo(x + w, y);
  c.SetBrushSolid(false);
  c.SetFontBold(false);
  c.SetFontSize(11);
  c.SetFontColor(0xFFFFFF);
}

EditBoxLook PanelEditLook(int x, int y, int w, int h, int font_size, int frame_no) {
  return EditBoxLook{.x = x, .y = y, .width = w, .height = h, .font_size = font_size,
                     .caret_on = CaretPhase(frame_no)};
}

