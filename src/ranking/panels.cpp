#include "ranking/panels.h"

#include "ranking/comment_entry.h"
#include "ranking/edit_box.h"
#include "ranking/name_entry.h"
#include "ranking/rank_list.h"
#include "state/game.h"

// ---- panel hooks ----

bool PanelsMouseDown(Game& g, int button, int x, int y) {
  if (RankBoxMouseDown(g, button, x, y)) return true;
  if (CommentBoxMouseDown(g, button, x, y)) return true;
  if (NameBoxMouseDown(g, button, x, y)) return true;
  return false;
}

bool PanelsMouseUp(Game& g, int button, int x, int y) {
  if (RankBoxMouseUp(g, button, x, y)) return true;
  return false;
}

bool PanelsMouseMove(Game& g, int x, int y) { return RankBoxMouseMove(g, x, y); }

bool PanelsMouseWheel(Game& g, int notches, int x, int y) { return RankBoxMouseWheel(g, notches, x, y); }

bool PanelsKeyDown(Game& g, int key, bool shift, bool ctrl) {
  if (RankBoxKeyDown(g, key)) return true;
  if (CommentBoxKeyDown(g, key, shift, ctrl)) return true;
  if (NameBoxKeyDown(g, key, shift, ctrl)) return true;
  return false;
}

// The entry panel that has the keyboard: the comment box, else the name box.
static EditBox* TypingBox(Game& g) {
  if (g.panels.hi_score_box_visible) return &g.panels.hi_score_l;
  if (g.panels.name_box_visible) return &g.panels.name_l;
  return nullptr;
}

bool PanelsTextInput(Game& g, const std::string& utf8) {
  EditBox* box = TypingBox(g);
  if (!box) return false;
  box->composition.clear();
  EditBoxInsert(*box, utf8);
  return true;
}

bool PanelsTextEditing(Game& g, const std::string& utf8) {
  EditBox* box = TypingBox(g);
  if (!box) return false;
  EditBoxSetComposition(*box, utf8);
  return true;
}

bool PanelsWantText(const Game& g) { return g.panels.name_box_visible || g.panels.hi_score_box_visible; }

void DrawPanels(Game& g, Canvas& screen) {
  DrawNameBox(g, screen);
  DrawCommentBox(g, screen);
  DrawRankBox(g, screen);
}
