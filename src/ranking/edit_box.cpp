#include "ranking/edit_box.h"

#include "platform/canvas.h"
#include "platform/text.h"
#include "state/game.h"

// ---- the text field ----

int Cp932Bytes(const std::string& utf8) {
  auto b = text::Utf8ToCp932(utf8);
  return b ? int(b->size()) : -1;
}

bool EditBoxInsert(EditBox& box, const std::string& utf8) {
  if (box.selected) {
    EditBox fresh = box;
    fresh.text.clear();
    fresh.selected = false;
    if (!EditBoxInsert(fresh, utf8)) return false;
    box = fresh;
    return true;
  }
  int used = Cp932Bytes(box.text);
  if (used < 0) used = 0;
  bool added = false;
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
    box.text += text::Cp932ToUtf8Lossy(*bytes, text::kReplacementCharacter);
    used += int(bytes->size());
    added = true;
  }
  return added;
}

void EditBoxPreset(EditBox& box, const std::string& utf8) {
  box.text = utf8;
  box.composition.clear();
  box.selected = !box.text.empty();
}

void EditBoxSetComposition(EditBox& box, const std::string& utf8) {
  if (box.selected && !utf8.empty()) {
    box.text.clear();
    box.selected = false;
  }
  box.composition = utf8;
}

void EditBoxBackspace(EditBox& box) {
  std::string& t = box.text;
  if (box.selected) {
    t.clear();
    box.selected = false;
    return;
  }
  if (t.empty()) return;
  size_t i = t.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(t[i]) & 0xC0) == 0x80) --i;
  t.erase(i);
}

EditKey EditBoxKeyDown(EditBox& box, int key) {
  if (!box.composition.empty()) return EditKey::kNone;
  if (key == 8 || (key == 46 && box.selected)) EditBoxBackspace(box);
  if (key == 35 || key == 36 || key == 37 || key == 39) box.selected = false;
  if (key == 13) return EditKey::kEnter;
  return EditKey::kNone;
}

bool CaretPhase(int frame_no) { return (frame_no / 6) % 2 == 0; }

void DrawEditBox(Canvas& c, const EditBox& box, const EditBoxLook& look) {
  c.SetPen(look.frame_color, 1);
  c.SetBrush(look.back_color);
  c.SetBrushSolid(true);
  c.Rectangle(look.x, look.y, look.x + look.width, look.y + look.height);
  c.SetFontSize(look.font_size);
  c.SetFontBold(true);
  c.SetFontColor(look.text_color);
  c.SetBrushSolid(false);
  int h = c.TextHeight("Ag");
  int tx = look.x + 6;
  int ty = look.y + (look.height - h) / 2;
  int x = tx + c.TextWidth(box.text);
  if (box.selected && !box.text.empty()) {
    c.FillRect(tx - 1, ty, x + 1, ty + h, kEditSelectedBack);
    c.SetFontColor(kEditSelectedText);
    c.TextOut(tx, ty, box.text);
    c.SetFontColor(look.text_color);
  } else {
    c.TextOut(tx, ty, box.text);
  }
  if (!box.composition.empty()) {
    c.TextOut(x, ty, box.composition);
    int w = c.TextWidth(box.composition);
    c.SetPen(look.text_color, 1);
    c.MoveTo(x, ty + h);
    c.LineTo(x + w, ty + h);
    x += w;
  }
  if (look.caret_on && !box.selected) {
    c.SetPen(look.text_color, 2);
    c.MoveTo(x + 1, ty);
    c.LineTo(x + 1, ty + h);
  }
  c.SetPen(look.frame_color, 1);
  c.SetBrushSolid(true);
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

void DrawPanelEditBox(Canvas& c, const EditBox& box, int x, int y, int w, int h, int font_size, int frame_no) {
  c.SetBrushSolid(true);
  const EditBoxLook look{.x = x, .y = y, .width = w, .height = h, .font_size = font_size,
                         .caret_on = CaretPhase(frame_no)};
  DrawEditBox(c, box, look);
}
