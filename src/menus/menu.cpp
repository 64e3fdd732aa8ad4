#include "menus/menu.h"

#include "assets/pictures.h"
#include "assets/sound.h"
#include "effects/log.h"
#include "shell/game.h"

void BuildMenuTable(Game& g) { (void)g; }

void OpenMenuScreen(Game& g, int screen) {
  PlayEffect(g, "2.wav");
  for (MenuItem& m : g.menu) m.visible = 0;
  g.menu_back = 1;
  g.log_count = 0;
  BuildMenuTable(g);
  g.menu_screen = screen;
  int n = 0;
  for (MenuItem& m : g.menu) {
    if (m.screen != screen || m.caption.empty()) continue;
    m.visible = 1;
    m.enabled = 1;
    m.x = -50;
    m.target_x = 0;
    m.y = m.target_y = (m.height - 1) * n + 25;
    if (m.back != 0) g.menu_back = m.back;
    n += 1;
  }
}

void CloseMenu(Game& g) {
  ClearLog(g);
  g.log_count = 0;
  PlayEffect(g, "3.wav");
  for (MenuItem& m : g.menu) m.visible = 0;
  g.menu_screen = 0;
}

void DrawMenu(Game& g) { (void)g; }

void MenuAction(Game& g, int record) { (void)g; (void)record; }

void FieldClick(Game& g, int x, int y, int button) {
  if (g.hi_score_box_visible) return;
  if (g.record_mode >= 1) {
    g.hi_score_box_visible = true;
    g.hi_score_box_x = 0;
    g.hi_score_box_y = 286;
    int m = g.my.mode >= 0 && g.my.mode < kModeCount ? g.my.mode : 0;
    g.hi_score_l.text = g.my.comment(m);
    g.hi_score_l.composition.clear();
    return;
  }
  if (g.game_over_banner >= 1) {
    g.game_over_banner = 0;
    ShowPicture(g, "0.jpg");
    OpenMenuScreen(g, 5);
    return;
  }
  if (g.in_play != 0) {
    g.mouse_x = x;
    g.mouse_y = y;
    g.click = button + 1;
    return;
  }
  if (button == 0) {
    g.mouse_x = x;
    g.mouse_y = y;
    g.click = 1;
    DrawMenu(g);
  }
  if (g.title_phase == -2) {
    g.title_phase = -1;
    PlayEffect(g, "1.wav");
    ShowPicture(g, "0.jpg");
    return;
  }
  if (g.title_phase == -1) {
    g.title_phase = 0;
    OpenMenuScreen(g, 5);
    return;
  }
  if (button == 1) {
    int d = g.menu_back;
    if (d != 0 && d != g.menu_screen && g.menu_screen != 5) {
      if (d == 1) ShowPicture(g, "1.jpg");
      if (d == 5) ShowPicture(g, "0.jpg");
      OpenMenuScreen(g, d);
      return;
    }
    if (g.menu_screen == 1 && g.chapter_run == 0) {
      ShowPicture(g, "0.jpg");
      OpenMenuScreen(g, 5);
    }
  }
}
