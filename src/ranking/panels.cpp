#include "ranking/panels.h"

#include "shell/game.h"

bool PanelsMouseDown(Game& g, int button, int x, int y) {
  (void)g; (void)button; (void)x; (void)y;
  return false;
}
bool PanelsMouseUp(Game& g, int button, int x, int y) {
  (void)g; (void)button; (void)x; (void)y;
  return false;
}
bool PanelsKeyDown(Game& g, int key) {
  (void)g; (void)key;
  return false;
}
bool PanelsTextInput(Game& g, const std::string& utf8) {
  (void)g; (void)utf8;
  return false;
}
bool PanelsTextEditing(Game& g, const std::string& utf8) {
  (void)g; (void)utf8;
  return false;
}
bool PanelsWantText(const Game& g) { return g.name_box_visible || g.hi_score_box_visible; }
void DrawPanels(Game& g, Canvas& screen) { (void)g; (void)screen; }
