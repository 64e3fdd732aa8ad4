// The ranking list: the black panel rank_box over the whole field with its
// title rank_l, the 1000-line list rank_list and the "<BACK>" button.
#pragma once

struct Game;
class Canvas;

struct RankBoxLayout {
  static constexpr int kWidth = 641, kHeight = 481;  // shown at (0, 0)
  static constexpr int kLabelX = 8, kLabelY = 4;
  // The list: 15-pixel rows, the scroll bar inside its right edge.
  static constexpr int kListX = 6, kListY = 24, kListW = 629, kListH = 429;
  static constexpr int kRowH = 15;
  static constexpr int kRows = kListH / kRowH;  // whole rows shown at once (28)
  static constexpr int kBarW = 14;
  static constexpr int kBarX = kListX + kListW - kBarW;
  static constexpr int kMinThumbH = 20;
  // Text is laid out in cells of one CP932 byte, so the byte-padded columns
  // line up whatever the font's own widths are.
  static constexpr int kCellW = 8;
  static constexpr int kTextX = kListX + 4;
  static constexpr int kBackX = 525, kBackY = 456, kBackW = 110, kBackH = 22;
  static constexpr int kReplayX = 405, kReplayY = 456, kReplayW = 110, kReplayH = 22;
  static constexpr int kNoteX = 8, kNoteY = 460, kNoteGap = 8;  // the note ends kNoteGap before <REPLAY>
};

inline constexpr const char* kReplayFetchingText = "リプレイを受信中....";
inline constexpr const char* kReplayChooseText = "リプレイを見る行を選んで下さい";
inline constexpr const char* kReplayNoneText = "この記録のリプレイはサーバーにありません";
inline constexpr const char* kReplayFetchErrorText = "リプレイを受信できませんでした";

// Builds the 1000 lines from the ranking table, shows the panel at (0, 0),
// selects the player's own line (none when absent) and scrolls it into view.
void FillRankingList(Game& g);
// "<BACK>": hides the panel.
void rank_bClick(Game& g);
// "<REPLAY>": fetches the selected entry's replay from the server and, when it
// has one, asks the shell to show it in the replay viewer; how it went is the
// line under the list.
void rank_replay_bClick(Game& g);
// A press on the list (x, y relative to the list): the right button hides the
// panel, the left button selects the line under the pointer.
void rank_listMouseDown(Game& g, int button, int x, int y);

// Scrolling: the first line shown, kept within 0 .. lines - kRows.
void ScrollRankList(Game& g, int first_line);
int MaxRankTop(const Game& g);
// Moves the selection (and the view with it) by the given number of lines.
void MoveRankSelection(Game& g, int delta);

// Panel hooks (true when the panel took the event; while it is shown it
// covers the field, so every click is its own).
bool RankBoxMouseDown(Game& g, int button, int x, int y);
bool RankBoxMouseUp(Game& g, int button, int x, int y);
bool RankBoxMouseMove(Game& g, int x, int y);
bool RankBoxMouseWheel(Game& g, int notches, int x, int y);
bool RankBoxKeyDown(Game& g, int key);
void DrawRankBox(Game& g, Canvas& screen);
