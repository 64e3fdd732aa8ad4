#include "shell/form.h"

#include "assets/pictures.h"
#include "platform/picture_file.h"
#include "shell/frame.h"
#include "shell/help.h"
#include "shell/settings.h"
#include "shell/input.h"
#include "menus/save.h"
#include "platform/files.h"
#include "platform/window.h"
#include "ranking/panels.h"
#include "state/game.h"
#include "replay/recorder.h"

bool FormCreate(Game& g, std::string* error) {
  std::string title = CgPath(g, "title.bmp");
  if (!LoadPicture(*g.bak, title)) {
    if (error) *error = "The title picture is missing or unreadable: " + title;
    return false;
  }
  g.run.closing_mark = 1;
  g.run.title_phase = -2;
  if (!CreateBitmapTable(g)) {
    if (error) *error = "The title picture is missing or unreadable: " + title;
    return false;
  }
  ResetGame(g);
  std::string dat = g.pf.game_dir + "/dat";
  if (!DirectoryExists(dat)) {
    if (error) *error = "The data folder is missing: " + dat;
    return false;
  }
  if (!DirectoryExists(g.pf.data_dir) && !MakeDirectories(g.pf.data_dir)) {
    if (error) *error = "The save folder cannot be created: " + g.pf.data_dir;
    return false;
  }
  LoadSave(g);
  g.run.story.clear();
  g.sound.queue.clear();
  return true;
}

void FormClose(Game& g) {
  g.run.closing_mark = -1;
  WriteSave(g);
  g.run.quit = true;
}

void FormDestroy(Game& g) {
  g.sound.queue.clear();
  g.run.story.clear();
  for (auto& b : g.bitmaps) b.reset();
  g.sound.waves.clear();
}

namespace {

void HandleInput(Game& g, const InputEvent& e) {
  if (e.type == InputEvent::kClose) {
    FormClose(g);
    return;
  }
  if (e.type == InputEvent::kMouseMove) {
    if (!g.ranking.busy) PanelsMouseMove(g, e.x, e.y);
    cgMouseMove(g, e.x, e.y);
    return;
  }
  // While a ranking exchange runs, clicks and keys are ignored; a release
  // still ends a press made before (nothing stays held).
  if (g.ranking.busy && e.type != InputEvent::kMouseUp) return;
  switch (e.type) {
    case InputEvent::kMouseWheel:
      PanelsMouseWheel(g, e.wheel, e.x, e.y);
      break;
    case InputEvent::kMouseDown:
      if (!PanelsMouseDown(g, e.button, e.x, e.y)) cgMouseDown(g, e.button, e.x, e.y);
      break;
    case InputEvent::kMouseUp:
      if (!PanelsMouseUp(g, e.button, e.x, e.y)) cgMouseUp(g, e.button);
      break;
    case InputEvent::kKeyDown:
      if (!PanelsKeyDown(g, e.key, e.shift, e.ctrl)) FormKeyDown(g, e.key);
      break;
    case InputEvent::kTextInput:
      PanelsTextInput(g, e.text);
      break;
    case InputEvent::kTextEditing:
      PanelsTextEditing(g, e.text);
      break;
    default:
      break;
  }
}

}  // namespace

void DispatchInput(Game& g, const InputEvent& e) {
  RecordInput(g, e);
  HandleInput(g, e);
  ServeFlowRequests(g);
  AfterRecordedInput(g);
}

void WindowInput(Game& g, const InputEvent& e) {
  switch (HelpInput(g, e)) {
    case HelpAnswer::kNotMine:
      break;
    case HelpAnswer::kTaken:
      return;
    case HelpAnswer::kTakenToPause: {
      InputEvent space;
      space.type = InputEvent::kKeyDown;
      space.key = 32;
      DispatchInput(g, space);
      return;
    }
  }
  // M is the window program's too, and never taken from a text box (names
  // and comments have m in them).
  if (e.type == InputEvent::kKeyDown && e.key == kKeyMusic && !e.repeat && !PanelsWantText(g) &&
      !g.ranking.busy) {
    ToggleMusic(g);
    return;
  }
  Pointer& p = g.input;
  if (e.type == InputEvent::kMouseUp && p.press_unseen) {
    p.release_held = true;
    p.held_button = e.button;
    p.held_x = e.x;
    p.held_y = e.y;
    return;
  }
  DispatchInput(g, e);
  if (e.type == InputEvent::kMouseDown) p.press_unseen = g.run.in_play != 0 && p.click > 0;
}

void ReleaseHeldPress(Game& g) {
  Pointer& p = g.input;
  p.press_unseen = false;
  if (!p.release_held) return;
  p.release_held = false;
  InputEvent up;
  up.type = InputEvent::kMouseUp;
  up.button = p.held_button;
  up.x = p.held_x;
  up.y = p.held_y;
  DispatchInput(g, up);
}

void AfterInput(Game& g) { SaveIfChanged(g); }

bool WantsCrosshair(const Game& g) {
  return g.run.in_play >= 1 && g.run.paused == 0 && !g.panels.help_visible && !g.panels.name_box_visible &&
         !g.panels.hi_score_box_visible && !g.panels.rank_box_visible;
}

void ComposeWindow(Game& g, Canvas& screen) {
  screen.CopyFrom(*g.cg, 0, 0, 640, 480, 0, 0);
  DrawPanels(g, screen);
  DrawSettingsNotice(g, screen);
  DrawHelp(g, screen);
}

const Canvas& WindowPicture(Game& g, Canvas& screen) {
  const Panels& p = g.panels;
  if (!p.name_box_visible && !p.hi_score_box_visible && !p.rank_box_visible && !p.help_visible &&
      g.settings.notice.empty())
    return *g.cg;
  ComposeWindow(g, screen);
  return screen;
}
