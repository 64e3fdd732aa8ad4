#include "ranking/rank_list.h"

#include <algorithm>
#include <string>

#include "effects/log.h"
#include "platform/canvas.h"
#include "platform/text.h"
#include "ranking/exchange.h"
#include "ranking/edit_box.h"
#include "rank_service/rank_codec.h"
#include "state/game.h"

namespace {

using L = RankBoxLayout;

constexpr uint32_t kListBack = 0x101010;
constexpr uint32_t kListFrame = 0x808080;
constexpr uint32_t kLineText = 0xE8E8E8;
constexpr uint32_t kEmptyText = 0x707070;
constexpr uint32_t kSelectedBack = 0x8A4A10;  // a deep blue
constexpr uint32_t kSelectedText = 0xFFFFFF;
constexpr uint32_t kBarTrack = 0x303030;
constexpr uint32_t kBarThumb = 0xA0A0A0;
constexpr uint32_t kNoteText = 0x00FFFF;  // yellow
constexpr int kWheelLines = 3;
constexpr int kNoteFontSize = 10, kNoteMinFontSize = 8;

// Virtual-key codes the list answers to.
constexpr int kKeyPageUp = 33, kKeyPageDown = 34, kKeyEnd = 35, kKeyHome = 36, kKeyUp = 38, kKeyDown = 40;

int LineCount(const Game& g) { return static_cast<int>(g.panels.rank_list.size()); }

struct Thumb {
  int top = 0;
  int height = 0;
};

Thumb ThumbOf(const Game& g) {
  const int lines = std::max(LineCount(g), 1);
  Thumb t;
  t.height = std::max(L::kMinThumbH, L::kListH * std::min(L::kRows, lines) / lines);
  const int room = L::kListH - t.height;
  const int max_top = MaxRankTop(g);
  t.top = L::kListY + (max_top > 0 ? room * g.panels.rank_top / max_top : 0);
  return t;
}

// Keeps the selected line in view.
void ShowSelected(Game& g) {
  if (g.panels.rank_selected < 0) return;
  if (g.panels.rank_selected < g.panels.rank_top) ScrollRankList(g, g.panels.rank_selected);
  else if (g.panels.rank_selected >= g.panels.rank_top + L::kRows) ScrollRankList(g, g.panels.rank_selected - L::kRows + 1);
}

// One list line. The columns are padded in CP932 bytes, so each word is put
// at the place its first byte has in a grid of byte cells, and drawn in the
// font's own widths from there; a word wider than its cells pushes the next
// one on rather than overlapping it. The comment (from byte comment_at) is
// free text: it is drawn as one run from its column, spaced as typed, and
// cut before the scroll bar.
void DrawLine(Canvas& c, const std::string& line, std::size_t comment_at, int y, uint32_t colour) {
  c.SetFontColor(colour);
  const int right = L::kBarX - 2;
  const int space = std::max(3, c.TextWidth(" "));  // the least gap between words
  comment_at = std::min(comment_at, line.size());
  int col = 0;
  int pen = L::kTextX;  // where the last word ended
  std::size_t i = 0;
  while (i < comment_at) {
    if (line[i] == ' ') {
      ++col;
      ++i;
      continue;
    }
    const int start_col = col;
    const std::size_t from = i;
    while (i < comment_at && line[i] != ' ') {
      const std::size_t len = text::Utf8SequenceLength(line, i);
      col += text::Cp932CharWidth(line, i, len);
      i += len;
    }
    const std::string word = line.substr(from, i - from);
    const int x = std::max(L::kTextX + start_col * L::kCellW, from == 0 ? L::kTextX : pen + space);
    if (x >= right) return;
    c.TextOut(x, y, word);
    pen = x + c.TextWidth(word);
  }
  if (comment_at >= line.size()) return;
  const int x = std::max(L::kTextX + col * L::kCellW, pen + space);
  if (x < right) c.TextOut(x, y, FitTextWidth(c, line.substr(comment_at), right - x));
}

// After a fetch: the replay goes to the viewer, or the reason under the list.
void AfterReplayFetched(Game& g, int result, int mode_number) {
  (void)mode_number;
  if (result == 0) {
    g.panels.rank_note.clear();
    g.flow.replay_bytes = std::move(g.ranking.fetched);
    g.ranking.fetched.clear();
    const int at = g.panels.rank_selected;
    const RankEntry* e = at >= 0 && at < kRankEntries ? &g.ranking.table[static_cast<std::size_t>(at)] : nullptr;
    g.flow.replay_title = g.panels.rank_l.substr(std::min<std::size_t>(4, g.panels.rank_l.size())) + " #" +
                             std::to_string(at + 1) + (e ? " " + e->name : std::string());
    return;
  }
  g.panels.rank_note = result == 1 ? kReplayNoneText : kReplayFetchErrorText;
  if (result != 1 && !g.ranking.refusal.empty()) g.panels.rank_note += " (" + g.ranking.refusal + ")";
  AddSilverLogLine(g, g.panels.rank_note);  // whole, whatever the line under the list can show
}

}  // namespace

void rank_replay_bClick(Game& g) {
  const int at = g.panels.rank_selected;
  const RankEntry* e = at >= 0 && at < kRankEntries && at < static_cast<int>(g.ranking.table.size())
                           ? &g.ranking.table[static_cast<std::size_t>(at)]
                           : nullptr;
  if (e == nullptr || e->name.empty()) {
    g.panels.rank_note = kReplayChooseText;
    return;
  }
  if (g.panels.rank_mode < 1 || g.panels.rank_mode > kModeCount) return;
  if (FetchReplay(g, g.panels.rank_mode, e->name, e->id, AfterReplayFetched)) g.panels.rank_note = kReplayFetchingText;
}

void FillRankingList(Game& g) {
  g.ranking.table.resize(kRankEntries);
  g.panels.rank_list.clear();
  g.panels.rank_list.reserve(kRankEntries);
  g.panels.rank_comment_at.clear();
  g.panels.rank_comment_at.reserve(kRankEntries);
  for (int i = 0; i < kRankEntries; ++i) {
    const RankEntry& e = g.ranking.table[static_cast<std::size_t>(i)];
    g.panels.rank_list.push_back(FormatRankingLine(i, e));
    // The comment closes the line (an empty place has none).
    const std::size_t n = g.panels.rank_list.back().size();
    g.panels.rank_comment_at.push_back(static_cast<int32_t>(e.name.empty() ? n : n - e.comment.size()));
  }
  g.panels.rank_box_visible = true;
  g.panels.rank_drag = -1;
  g.panels.rank_note.clear();
  g.panels.rank_selected = OwnRankIndex(g);
  // The own line sits in the middle of the view when it can; else the top.
  ScrollRankList(g, g.panels.rank_selected >= 0 ? g.panels.rank_selected - L::kRows / 2 : 0);
}

void rank_bClick(Game& g) {
  g.panels.rank_box_visible = false;
  g.panels.rank_drag = -1;
}

void rank_listMouseDown(Game& g, int button, int x, int y) {
  (void)x;
  if (button == kButtonRight) {
    rank_bClick(g);
    return;
  }
  if (button != kButtonLeft || y < 0) return;
  const int line = g.panels.rank_top + y / L::kRowH;
  if (y / L::kRowH < L::kRows && line < LineCount(g)) g.panels.rank_selected = line;
}

int MaxRankTop(const Game& g) { return std::max(0, LineCount(g) - L::kRows); }

void ScrollRankList(Game& g, int first_line) { g.panels.rank_top = std::clamp(first_line, 0, MaxRankTop(g)); }

void MoveRankSelection(Game& g, int delta) {
  const int lines = LineCount(g);
  if (lines == 0) return;
  const int from = g.panels.rank_selected >= 0 ? g.panels.rank_selected : (delta > 0 ? -1 : lines);
  g.panels.rank_selected = std::clamp(from + delta, 0, lines - 1);
  ShowSelected(g);
}

bool RankBoxMouseDown(Game& g, int button, int x, int y) {
  if (!g.panels.rank_box_visible) return false;
  if (Inside(x, y, L::kBackX, L::kBackY, L::kBackW, L::kBackH)) {
    if (button == kButtonLeft) rank_bClick(g);
    return true;
  }
  if (Inside(x, y, L::kReplayX, L::kReplayY, L::kReplayW, L::kReplayH)) {
    if (button == kButtonLeft) rank_replay_bClick(g);
    return true;
  }
  if (Inside(x, y, L::kBarX, L::kListY, L::kBarW, L::kListH)) {
    if (button == kButtonRight) {
      rank_listMouseDown(g, button, x - L::kListX, y - L::kListY);
      return true;
    }
    if (button != kButtonLeft) return true;
    const Thumb t = ThumbOf(g);
    if (y < t.top) ScrollRankList(g, g.panels.rank_top - L::kRows);
    else if (y >= t.top + t.height) ScrollRankList(g, g.panels.rank_top + L::kRows);
    else g.panels.rank_drag = y - t.top;
    return true;
  }
  if (Inside(x, y, L::kListX, L::kListY, L::kListW - L::kBarW, L::kListH))
    rank_listMouseDown(g, button, x - L::kListX, y - L::kListY);
  return true;
}

bool RankBoxMouseUp(Game& g, int button, int x, int y) {
  (void)button;
  (void)x;
  (void)y;
  if (!g.panels.rank_box_visible) return false;
  g.panels.rank_drag = -1;
  return true;
}

bool RankBoxMouseMove(Game& g, int x, int y) {
  (void)x;
  if (!g.panels.rank_box_visible || g.panels.rank_drag < 0) return false;
  const Thumb t = ThumbOf(g);
  const int room = L::kListH - t.height;
  const int thumb_top = std::clamp(y - g.panels.rank_drag - L::kListY, 0, std::max(room, 0));
  ScrollRankList(g, room > 0 ? (thumb_top * MaxRankTop(g) + room / 2) / room : 0);
  return true;
}

bool RankBoxMouseWheel(Game& g, int notches, int x, int y) {
  (void)x;
  (void)y;
  if (!g.panels.rank_box_visible) return false;
  ScrollRankList(g, g.panels.rank_top - notches * kWheelLines);
  return true;
}

bool RankBoxKeyDown(Game& g, int key) {
  if (!g.panels.rank_box_visible) return false;
  switch (key) {
    case kKeyUp: MoveRankSelection(g, -1); return true;
    case kKeyDown: MoveRankSelection(g, +1); return true;
    case kKeyPageUp: MoveRankSelection(g, -L::kRows); return true;
    case kKeyPageDown: MoveRankSelection(g, +L::kRows); return true;
    case kKeyHome: MoveRankSelection(g, -LineCount(g)); return true;
    case kKeyEnd: MoveRankSelection(g, +LineCount(g)); return true;
    default: return false;
  }
}

void DrawRankBox(Game& g, Canvas& c) {
  if (!g.panels.rank_box_visible) return;
  c.FillRect(0, 0, L::kWidth, L::kHeight, 0);

  c.SetBrushSolid(false);
  c.SetFontBold(true);
  c.SetFontSize(12);
  c.SetFontColor(0xFFFFFF);
  c.TextOut(L::kLabelX, L::kLabelY, g.panels.rank_l);

  c.SetPen(kListFrame, 1);
  c.SetBrush(kListBack);
  c.SetBrushSolid(true);
  c.Rectangle(L::kListX - 1, L::kListY - 1, L::kListX + L::kListW + 1, L::kListY + L::kListH + 1);

  c.SetBrushSolid(false);
  c.SetFontSize(11);  // 15 pixels
  const int lines = LineCount(g);
  for (int row = 0; row < L::kRows; ++row) {
    const int line = g.panels.rank_top + row;
    if (line >= lines) break;
    const int y = L::kListY + row * L::kRowH;
    const std::string& text = g.panels.rank_list[static_cast<std::size_t>(line)];
    const bool selected = line == g.panels.rank_selected;
    if (selected) c.FillRect(L::kListX, y, L::kBarX, y + L::kRowH, kSelectedBack);
    const bool empty = text.size() >= 8 && text.compare(text.size() - 8, 8, "--------") == 0;
    const std::size_t comment_at = static_cast<std::size_t>(line) < g.panels.rank_comment_at.size()
                                       ? static_cast<std::size_t>(g.panels.rank_comment_at[static_cast<std::size_t>(line)])
                                       : text.size();
    DrawLine(c, text, comment_at, y, selected ? kSelectedText : empty ? kEmptyText : kLineText);
  }

  c.FillRect(L::kBarX, L::kListY, L::kBarX + L::kBarW, L::kListY + L::kListH, kBarTrack);
  const Thumb t = ThumbOf(g);
  c.FillRect(L::kBarX + 2, t.top, L::kBarX + L::kBarW - 2, t.top + t.height, kBarThumb);

  if (!g.panels.rank_note.empty()) {
    // One line beside the buttons: a long reason is drawn smaller, then cut
    // (the message log keeps it whole).
    c.SetFontBold(false);
    c.SetFontColor(kNoteText);
    const int room = L::kReplayX - L::kNoteGap - L::kNoteX;
    int size = kNoteFontSize;
    c.SetFontSize(size);
    while (size > kNoteMinFontSize && c.TextWidth(g.panels.rank_note) > room) c.SetFontSize(--size);
    c.TextOut(L::kNoteX, L::kNoteY + (kNoteFontSize - size), FitTextWidth(c, g.panels.rank_note, room));
  }

  c.SetBrushSolid(true);
  DrawPanelButton(c, L::kReplayX, L::kReplayY, L::kReplayW, L::kReplayH, "<REPLAY>");
  DrawPanelButton(c, L::kBackX, L::kBackY, L::kBackW, L::kBackH, "<BACK>");
}
