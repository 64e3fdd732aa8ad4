#include "ranking/name_entry.h"

#include "assets/pictures.h"
#include "effects/log.h"
#include "platform/dialogs.h"
#include "ranking/edit_box.h"
#include "ranking/key_file.h"
#include "state/game.h"

namespace {

EditBoxLook NameEditLook(const Game& g) {
  using L = NameBoxLayout;
  return PanelEditLook(g.panels.name_box_x + L::kEditX, g.panels.name_box_y + L::kEditY, L::kEditW, L::kEditH,
                       L::kEditFontPoints, g.run.frame_no);
}

}  // namespace

void ShowNameBox(Game& g) {
  g.panels.name_box_visible = true;
  g.panels.name_box_x = NameBoxLayout::kLeft;
  g.panels.name_box_y = NameBoxLayout::kTop;
  g.panels.name_l.composition.clear();
}

void Button1Click(Game& g) {
  EditBox& box = g.panels.name_l;
  if (box.text.empty()) return;
  if (IsReservedName(box.text)) {
    box.text.clear();
    if (g.pf.dialogs) g.pf.dialogs->Message("その名前は使用できません");
    return;
  }
  box.text = CleanName(box.text);
  EditBoxSetCaret(box, int(box.text.size()));
  bool yes = !g.pf.dialogs || g.pf.dialogs->Confirm(box.text + "、という名前でOKですか？");
  if (!yes) return;
  g.my.name() = box.text;
  g.panels.name_box_visible = false;
  box.composition.clear();
  g.my.player_id() = Random(g, 10000);
  // The key that will sign this player's records, made now unless there is
  // one (a key kept from before goes on holding its names).
  EnsurePlayerKey(g);
  g.flow.open_screen = kStartScreen;  // opened once the input is handled
  ShowPicture(g, "0.jpg");
  ClearLog(g);
}

bool NameBoxMouseDown(Game& g, int button, int x, int y) {
  return g.panels.name_box_visible &&
         EntryPanelMouseDown<NameBoxLayout>(g, g.panels.name_box_x, g.panels.name_box_y, g.panels.name_l,
                                            NameEditLook(g), Button1Click, button, x, y);
}

bool NameBoxKeyDown(Game& g, int key, bool shift, bool ctrl) {
  // No pause, no story skip while typing; Esc does nothing.
  return g.panels.name_box_visible && EntryPanelKeyDown(g, g.panels.name_l, Button1Click, key, shift, ctrl);
}

void DrawNameBox(Game& g, Canvas& c) {
  if (!g.panels.name_box_visible) return;
  using L = NameBoxLayout;
  int x0 = g.panels.name_box_x, y0 = g.panels.name_box_y;
  DrawPanelBack(c, x0, y0, L::kWidth, L::kHeight);
  c.TextOut(x0 + L::kLabelX, y0 + L::kLabelY, "名前を入力して下さい。一部の文字は使用できません。");
  c.SetBrushSolid(true);
  DrawEditBox(c, g.panels.name_l, NameEditLook(g));
  DrawPanelButton(c, x0 + L::kOkX, y0 + L::kOkY, L::kOkW, L::kOkH, "<OK>");
}
