#include "shell/input.h"

#include <string>

#include "assets/sound.h"
#include "combat/player.h"
#include "menus/menu.h"
#include "menus/save.h"
#include "platform/dialogs.h"
#include "platform/window.h"
#include "shell/frame.h"
#include "state/game.h"

void cgMouseDown(Game& g, int button, int x, int y) {
  // The field knows two buttons: the middle one presses as the left one.
  FieldClick(g, x, y, button == kButtonRight ? kButtonRight : kButtonLeft);
  ServeFlowRequests(g);
}

void cgMouseMove(Game& g, int x, int y) {
  g.input.mouse_x = x;
  g.input.mouse_y = y;
}

void cgMouseUp(Game& g, int button) {
  if (g.input.click == kClickNone) return;
  g.input.click = kClickNone;
  int m = g.my.mode;
  if (button == kButtonLeft && (m == HARD || m == NOVA || m == HELL)) g.run.burst_request = 1;
}

void FormKeyDown(Game& g, int key) {
  switch (key) {
    case 27:  // Esc: on the title picture, offer to reset the saved data
      // The question opens on No: a second Esc or an Enter keeps the data.
      if (g.run.title_phase < -1 && g.pf.dialogs &&
          g.pf.dialogs->ConfirmDefaultNo("初期化したいときは、はいを押してね")) {
        std::string why;
        if (!ResetSaveKeepingOld(g, &why))
          g.pf.dialogs->Message("データを残せなかったので初期化しませんでした: " + why);
      }
      break;
    case 32:  // Space: pause
      if (g.run.in_play >= 1) {
        g.run.paused = 1 - g.run.paused;
        PlayEffect(g, "1.wav");
      }
      break;
    case 81:  // Q: give up the game
      if (g.run.paused != 1 && g.run.in_play >= 1) EndGame(g);
      break;
    case 83:  // S: skip the story, and press at the top-left corner
      g.run.story_index = int32_t(g.run.story.size());
      FieldClick(g, 0, 0, 0);
      ServeFlowRequests(g);
      break;
    default:
      break;
  }
}
