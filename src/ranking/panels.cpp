#include "ranking/panels.h"

#include "ranking/comment_entry.h"
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

bool PanelsTextInput(Game& g, const std::string& utf8) {
  if (CommentBoxTextInput(g, utf8)) return true;
  if (g.panels.name_box_visible) {
    g.panels.name_l.composition.clear();
    EditBoxInsert(g.panels.name_l, utf8);
    return true;
  }
  return false;
}

bool PanelsTextEditing(Game& g, const std::string& utf8) {
  if (CommentBoxTextEditing(g, utf8)) return true;
  if (g.panels.name_box_visible) {
    EditBoxSetComposition(g.panels.name_l, utf8);
    return true;
  }
  return false;
}

bool PanelsWantText(const Game& g) { return g.panels.name_box_visible || g.panels.hi_score_box_visible; }

void DrawPanels(Game& g, Canvas& screen) {
  DrawNameBox(g, screen);
  DrawCommentBox(g, screen);
  DrawRankBox(g, screen);
}
