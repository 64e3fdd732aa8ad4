#include "ranking/comment_entry.h"

#include "assets/sound.h"
#include "effects/log.h"
#include "platform/canvas.h"
#include "ranking/exchange.h"
#include "ranking/edit_box.h"
#include "ranking/rank_list.h"
#include "replay/recorder.h"
#include "platform/files.h"
#include "state/game.h"

namespace {

EditBoxLook CommentEditLook(const Game& g) {
  using L = CommentBoxLayout;
  return PanelEditLook(g.panels.hi_score_box_x + L::kEditX, g.panels.hi_score_box_y + L::kEditY, L::kEditW, L::kEditH,
                       L::kEditFontPoints, g.run.frame_no);
}

int CurrentMode(const Game& g) { return g.my.mode >= 0 && g.my.mode < kModeCount ? g.my.mode : 0; }

// After the upload: a refused or lost replay only costs a line (the run's
// file stays in replays/); a taken one brings the ranking that holds it.
void AfterReplayUploaded(Game& g, int result, int mode_number) {
  if (result != 0) {
    std::string line = kReplayUploadErrorText;
    if (!g.ranking.refusal.empty()) line += " (" + g.ranking.refusal + ")";
    AddSilverLogLine(g, line);
    if (g.panels.rank_box_visible) g.panels.rank_note = line;
    return;
  }
  if (g.panels.rank_box_visible && g.panels.rank_l == RankingHeader(mode_number - 1)) FillRankingList(g);
}

// After the send: the error line, or the mode's ranking with the player's
// line; then the run's replay goes up in a second request.
void AfterCommentSent(Game& g, int result, int mode_number) {
  if (result != 0) {
    AddSilverLogLine(g, kSendErrorText);
    return;
  }
  g.panels.rank_l = RankingHeader(mode_number - 1);
  g.panels.rank_mode = mode_number;
  FillRankingList(g);
  PlayEffect(g, "mes.wav");
  ClearLog(g);
  const int m = mode_number - 1;
  const std::string path = HiScoreReplayPath(g, m);
  // Only the window program keeps each mode's hi-score run (tools record to a
  // file of their own).
  if (g.recorder && g.recorder->out_path.empty() && FileExists(path)) {
    UploadReplay(g, mode_number, g.my.hi_score(m), path, AfterReplayUploaded);
  }
}

}  // namespace

std::string RankingHeader(int mode) {
  if (mode < 0 || mode >= kModeCount) mode = 0;
  return std::string(">>> ") + kModeNames[mode] + " RANKING";
}

void Button2Click(Game& g) {
  g.panels.hi_score_box_visible = false;
  g.run.record_mode = 0;
  const int m = CurrentMode(g);
  // Stored as typed: only the sent copy has its separators made harmless.
  g.my.comment(m) = g.panels.hi_score_l.text;
  g.panels.hi_score_l.composition.clear();
  PlayEffect(g, "1.wav");
  // The window repaints while the send runs (the main loop keeps it painted).
  AddSilverLogLine(g, kSendingText);
  SendRecord(g, m + 1, g.my.hi_score(m), AfterCommentSent);
}

bool CommentBoxMouseDown(Game& g, int button, int x, int y) {
  return g.panels.hi_score_box_visible &&
         EntryPanelMouseDown<CommentBoxLayout>(g, g.panels.hi_score_box_x, g.panels.hi_score_box_y,
                                               g.panels.hi_score_l, CommentEditLook(g), Button2Click, button, x, y);
}

bool CommentBoxKeyDown(Game& g, int key, bool shift, bool ctrl) {
  // No pause or story skip while typing.
  return g.panels.hi_score_box_visible && EntryPanelKeyDown(g, g.panels.hi_score_l, Button2Click, key, shift, ctrl);
}

void DrawCommentBox(Game& g, Canvas& c) {
  if (!g.panels.hi_score_box_visible) return;
  using L = CommentBoxLayout;
  const int x0 = g.panels.hi_score_box_x, y0 = g.panels.hi_score_box_y;
  DrawPanelBack(c, x0, y0, L::kWidth, L::kHeight);
  c.TextOut(x0 + L::kLabel1X, y0 + L::kLabel1Y, kCommentLabel1);
  c.TextOut(x0 + L::kLabel2X, y0 + L::kLabel2Y, kCommentLabel2);
  c.SetBrushSolid(true);
  DrawEditBox(c, g.panels.hi_score_l, CommentEditLook(g));
  DrawPanelButton(c, x0 + L::kOkX, y0 + L::kOkY, L::kOkW, L::kOkH, "<OK>");
}
