// The ranking list panel and the comment box: layout, scrolling, selection,
// closing, and what they draw.
#include <gtest/gtest.h>

#include "menu_test_util.h"
#include "platform/canvas.h"
#include "platform/http_fake.h"
#include "platform/window.h"
#include "ranking/comment_entry.h"
#include "ranking/exchange.h"
#include "ranking/panels.h"
#include "ranking/rank_list.h"
#include "shell/form.h"

namespace {

using L = RankBoxLayout;

void Event(Game& g, InputEvent::Type type, int button = 0, int x = 0, int y = 0, int key = 0, int wheel = 0) {
  InputEvent e;
  e.type = type;
  e.button = button;
  e.x = x;
  e.y = y;
  e.key = key;
  e.wheel = wheel;
  DispatchInput(g, e);
}

RankEntry Entry(const std::string& name, int id, int score) {
  RankEntry e;
  e.name = name;
  e.id = id;
  e.score = score;
  e.play_count = 12;
  e.date = "3/4";
  e.comment = "hi";
  return e;
}

// A list of `filled` places with the player "Me" (id 5) at `own` (or none).
std::unique_ptr<TestGame> ListShown(int filled, int own) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.name() = "Me";
  g.my.player_id() = 5;
  for (int i = 0; i < filled; ++i) g.ranking.table[size_t(i)] = Entry(i == own ? "Me" : "P" + std::to_string(i), i == own ? 5 : 9, 100000 - i);
  FillRankingList(g);
  return t;
}

// Row centre of a list line currently in view.
int RowY(const Game& g, int line) { return L::kListY + (line - g.panels.rank_top) * L::kRowH + L::kRowH / 2; }

// Leftmost lit pixel in a row between x0 and x1 (-1 when none).
int FirstLit(const Canvas& c, int y0, int x0, int x1) {
  for (int x = x0; x < x1; ++x)
    for (int y = y0; y < y0 + L::kRowH; ++y)
      if (RedOf(c.GetPixel(x, y)) > 0x80) return x;
  return -1;
}

}  // namespace

TEST(RankList, AThreeEntryRankingShowsAThousandLines) {
  auto t = ListShown(3, -1);
  Game& g = t->g();
  ASSERT_EQ(g.panels.rank_list.size(), 1000u);
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.panels.rank_selected, -1);
  EXPECT_EQ(g.panels.rank_top, 0);
  EXPECT_EQ(g.panels.rank_list[2].substr(0, 5), "3    ");
  EXPECT_EQ(g.panels.rank_list[3], "4    --------");
  EXPECT_EQ(g.panels.rank_list[999], "1000 --------");
}

TEST(RankList, TheSeventhPlaceLineIsPaddedByBytes) {
  auto t = MakeTestGame();
  Game& g = t->g();
  for (int i = 0; i < 6; ++i) g.ranking.table[size_t(i)] = Entry("X", 1, 900);
  RankEntry e = Entry("ABC", 1, 500);
  g.ranking.table[6] = e;
  FillRankingList(g);
  EXPECT_EQ(g.panels.rank_list[6], "7    500       ABC          12回   3/4  hi");
}

TEST(RankList, TheOwnLineIsSelectedAndInView) {
  for (int own : {0, 13, 500, 999}) {
    SCOPED_TRACE(own);
    auto t = ListShown(1000, own);
    Game& g = t->g();
    EXPECT_EQ(g.panels.rank_selected, own);
    EXPECT_LE(g.panels.rank_top, own);
    EXPECT_LT(own, g.panels.rank_top + L::kRows);
    EXPECT_LE(g.panels.rank_top, MaxRankTop(g));
  }
  // The last matching entry wins.
  auto t = MakeTestGame();
  Game& g = t->g();
  g.my.name() = "Me";
  g.my.player_id() = 5;
  g.ranking.table[2] = Entry("Me", 5, 10);
  g.ranking.table[40] = Entry("Me", 5, 9);
  g.ranking.table[41] = Entry("Me", 6, 8);  // same name, another player
  FillRankingList(g);
  EXPECT_EQ(g.panels.rank_selected, 40);
}

TEST(RankList, EveryLineCanBeReachedWithTheWheelTheBarAndTheKeys) {
  auto t = ListShown(1000, -1);
  Game& g = t->g();
  EXPECT_EQ(MaxRankTop(g), 1000 - L::kRows);
  // The wheel: down by three lines a notch, never past the ends.
  Event(g, InputEvent::kMouseWheel, 0, 300, 200, 0, -1);
  EXPECT_EQ(g.panels.rank_top, 3);
  for (int i = 0; i < 400; ++i) Event(g, InputEvent::kMouseWheel, 0, 300, 200, 0, -1);
  EXPECT_EQ(g.panels.rank_top, MaxRankTop(g));
  Event(g, InputEvent::kMouseDown, 0, 300, RowY(g, 999));
  EXPECT_EQ(g.panels.rank_selected, 999);
  for (int i = 0; i < 400; ++i) Event(g, InputEvent::kMouseWheel, 0, 300, 200, 0, +1);
  EXPECT_EQ(g.panels.rank_top, 0);

  // The scroll bar: drag the thumb to the bottom and back.
  const int bar_x = L::kBarX + L::kBarW / 2;
  Event(g, InputEvent::kMouseDown, 0, bar_x, L::kListY + 5);
  Event(g, InputEvent::kMouseMove, 0, bar_x, L::kListY + L::kListH + 50);
  EXPECT_EQ(g.panels.rank_top, MaxRankTop(g));
  Event(g, InputEvent::kMouseMove, 0, bar_x, L::kListY + L::kListH / 2);
  EXPECT_GT(g.panels.rank_top, 400);
  EXPECT_LT(g.panels.rank_top, 600);
  Event(g, InputEvent::kMouseUp, 0, bar_x, L::kListY + L::kListH / 2);
  const int top = g.panels.rank_top;
  Event(g, InputEvent::kMouseMove, 0, bar_x, L::kListY);
  EXPECT_EQ(g.panels.rank_top, top);  // released: moving no longer scrolls
  // A click on the track pages.
  Event(g, InputEvent::kMouseDown, 0, bar_x, L::kListY + L::kListH - 2);
  EXPECT_EQ(g.panels.rank_top, top + L::kRows);
  Event(g, InputEvent::kMouseUp, 0, bar_x, L::kListY + L::kListH - 2);

  // Keys move the selection and the view follows.
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 36);  // Home
  EXPECT_EQ(g.panels.rank_selected, 0);
  EXPECT_EQ(g.panels.rank_top, 0);
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 35);  // End
  EXPECT_EQ(g.panels.rank_selected, 999);
  EXPECT_EQ(g.panels.rank_top, MaxRankTop(g));
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 33);  // Page Up
  EXPECT_EQ(g.panels.rank_selected, 999 - L::kRows);
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 38);  // Up
  EXPECT_EQ(g.panels.rank_selected, 998 - L::kRows);
  EXPECT_EQ(g.panels.rank_top, g.panels.rank_selected);
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 40);  // Down
  EXPECT_EQ(g.panels.rank_selected, 999 - L::kRows);
}

TEST(RankList, LeftClickSelectsRightClickAndBackClose) {
  auto t = ListShown(10, 2);
  Game& g = t->g();
  g.menu.screen = 7;
  g.run.title_phase = 0;
  Event(g, InputEvent::kMouseDown, 0, 100, RowY(g, 5));
  EXPECT_EQ(g.panels.rank_selected, 5);
  EXPECT_TRUE(g.panels.rank_box_visible);
  Event(g, InputEvent::kMouseDown, 2, 100, RowY(g, 7));  // the middle button does nothing
  EXPECT_EQ(g.panels.rank_selected, 5);
  EXPECT_TRUE(g.panels.rank_box_visible);
  // A click on the title does not reach the menu under the panel.
  Event(g, InputEvent::kMouseDown, 1, 100, 10);
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.menu.screen, 7);

  Event(g, InputEvent::kMouseDown, 1, 100, RowY(g, 3));
  EXPECT_FALSE(g.panels.rank_box_visible);
  EXPECT_EQ(g.menu.screen, 7);  // the right click closed the list only

  FillRankingList(g);
  Event(g, InputEvent::kMouseDown, 0, L::kBackX + 5, L::kBackY + 5);
  EXPECT_FALSE(g.panels.rank_box_visible);
}

TEST(RankList, ColumnsLineUpWhateverTheWidthOfTheTextBeforeThem) {
  auto t = MakeTestGame();
  Game& g = t->g();
  for (int i = 0; i < 12; ++i) g.ranking.table[size_t(i)] = Entry(i == 0 ? "WWWW" : "ii", 1, i == 0 ? 7 : 1111111);
  g.my.name() = "nobody";
  FillRankingList(g);
  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);
  // The name column starts at byte 15 on every line: after "1" or "10" and
  // after a one-digit or a seven-digit score.
  const int name_x = L::kTextX + 15 * L::kCellW;
  const int a = FirstLit(screen, L::kListY + 0 * L::kRowH, name_x - 2, name_x + 24);
  const int b = FirstLit(screen, L::kListY + 9 * L::kRowH, name_x - 2, name_x + 24);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_NEAR(a, b, 3);
  // Nothing is drawn in the gap before the name column.
  EXPECT_EQ(FirstLit(screen, L::kListY, L::kTextX + 5 * L::kCellW + 12, name_x - 1), -1);
}

TEST(RankList, TheSelectedLineIsHighlighted) {
  auto t = ListShown(30, 4);
  Game& g = t->g();
  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);
  const int y4 = RowY(g, 4), y5 = RowY(g, 5);
  EXPECT_NE(screen.GetPixel(L::kBarX - 3, y4), screen.GetPixel(L::kBarX - 3, y5));
  EXPECT_EQ(screen.GetPixel(L::kBarX - 3, y5), screen.GetPixel(L::kBarX - 3, RowY(g, 6)));
  // The panel is black around the list and covers the whole field.
  EXPECT_EQ(screen.GetPixel(2, 470), 0u);
  EXPECT_EQ(screen.GetPixel(639, 2), 0u);
}

TEST(CommentBox, IsShownAt286WithTheModesCommentAndTakesAtMost30Bytes) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.run.title_phase = 0;
  g.my.mode = HARD;
  g.my.comment(HARD) = "前回";
  g.run.record_mode = 2;
  g.run.game_over_banner = 1;
  Event(g, InputEvent::kMouseDown, 0, 300, 100);
  ASSERT_TRUE(g.panels.hi_score_box_visible);
  EXPECT_EQ(g.panels.hi_score_box_x, 0);
  EXPECT_EQ(g.panels.hi_score_box_y, 286);
  EXPECT_EQ(g.panels.hi_score_l.text, "前回");
  EXPECT_TRUE(PanelsWantText(g));

  // Clicks beside the box are ignored; keys go to the box.
  Event(g, InputEvent::kMouseDown, 0, 300, 100);
  EXPECT_TRUE(g.panels.hi_score_box_visible);
  EXPECT_EQ(g.run.game_over_banner, 1);
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 35);  // End: the caret after the preset
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 8);
  EXPECT_EQ(g.panels.hi_score_l.text, "前");
  InputEvent e;
  e.type = InputEvent::kTextInput;
  e.text = std::string(40, 'a');
  DispatchInput(g, e);
  EXPECT_EQ(g.panels.hi_score_l.text, "前" + std::string(28, 'a'));  // 2 + 28 bytes
  e.text = "😀";
  g.panels.hi_score_l.text = "x";
  DispatchInput(g, e);
  EXPECT_EQ(g.panels.hi_score_l.text, "x");

  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);
  EXPECT_EQ(screen.GetPixel(5, 286 + 100), 0u);  // the black panel
  EXPECT_EQ(screen.GetPixel(CommentBoxLayout::kEditX + 300, 286 + CommentBoxLayout::kEditY + 3), kEditBackColor);
}

TEST(CommentBox, OpensWithThePresetSelectedSoTypingReplacesItAndOkKeepsIt) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  using C = CommentBoxLayout;
  auto open_box = [&] {
    g.run.title_phase = 0;
    g.my.mode = EASY;
    g.run.record_mode = 1;
    Event(g, InputEvent::kMouseDown, 0, 300, 100);
    ASSERT_TRUE(g.panels.hi_score_box_visible);
  };
  auto ok = [&] {
    http->PushOk("");
    Event(g, InputEvent::kMouseDown, 0, C::kOkX + 5, 286 + C::kOkY + 5);
    ASSERT_TRUE(WaitRankExchange(g, 10000));
    g.panels.rank_box_visible = false;
  };
  auto type = [&](const std::string& text) {
    InputEvent e;
    e.type = InputEvent::kTextInput;
    e.text = text;
    DispatchInput(g, e);
  };
  g.my.comment(EASY) = "前回のコメント";
  open_box();
  // Shown highlighted: white text on the selection colour, no caret after it.
  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);
  EXPECT_EQ(screen.GetPixel(C::kEditX + 7, 286 + C::kEditY + C::kEditH / 2), kEditSelectedBack);
  type("😀");  // nothing storable typed: the preset stays, still selected
  type("new");
  EXPECT_EQ(g.panels.hi_score_l.text, "new");
  type(std::string(40, 'b'));  // then typing appends up to the 30 bytes
  EXPECT_EQ(g.panels.hi_score_l.text, "new" + std::string(27, 'b'));
  ok();
  EXPECT_EQ(g.my.comment(EASY), "new" + std::string(27, 'b'));

  // Only OK: the preset is kept as it was.
  g.my.comment(EASY) = "keep me";
  open_box();
  ok();
  EXPECT_EQ(g.my.comment(EASY), "keep me");
  EXPECT_EQ(http->Requests().size(), 2u);

  // Backspace takes the whole selection; a click after the text, or End,
  // only drops it and the caret edits the end.
  open_box();
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 8);
  EXPECT_EQ(g.panels.hi_score_l.text, "");
  g.panels.hi_score_box_visible = false;
  open_box();
  Event(g, InputEvent::kMouseDown, 0, C::kEditX + 300, 286 + C::kEditY + 5);
  type("!");
  EXPECT_EQ(g.panels.hi_score_l.text, "keep me!");
  // An IME composition starting over the selection replaces it as well.
  g.panels.hi_score_box_visible = false;
  open_box();
  InputEvent e;
  e.type = InputEvent::kTextEditing;
  e.text = "か";
  DispatchInput(g, e);
  type("漢");
  EXPECT_EQ(g.panels.hi_score_l.text, "漢");
}

TEST(CommentBox, TheOkButtonSendsTheComment) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  g.my.name() = "Me";
  g.my.mode = EASY;
  g.run.record_mode = 1;
  g.panels.hi_score_box_visible = true;
  g.panels.hi_score_box_x = 0;
  g.panels.hi_score_box_y = 286;
  g.panels.hi_score_l.text = "ok";
  http->PushOk("");
  using C = CommentBoxLayout;
  Event(g, InputEvent::kMouseDown, 1, C::kOkX + 5, 286 + C::kOkY + 5);  // right button: nothing
  EXPECT_TRUE(g.panels.hi_score_box_visible);
  Event(g, InputEvent::kMouseDown, 0, C::kOkX + 5, 286 + C::kOkY + 5);
  EXPECT_FALSE(g.panels.hi_score_box_visible);
  EXPECT_EQ(g.run.record_mode, 0);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(http->Requests().size(), 1u);
  EXPECT_EQ(g.my.comment(EASY), "ok");
  EXPECT_TRUE(g.panels.rank_box_visible);
}

TEST(RankList, ALongNoteUnderTheListEndsBeforeTheButtons) {
  auto t = ListShown(3, -1);
  Game& g = t->g();
  g.panels.rank_note = std::string(kReplayUploadErrorText) +
                       " (the replay does not play as recorded: it differs at frame 250 of 3000, "
                       "checksum 1234abcd where the record says 99887766)";
  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);
  int right = -1;
  for (int y = L::kBackY - 4; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const uint32_t p = screen.GetPixel(x, y);
      if (RedOf(p) > 0xA0 && GreenOf(p) > 0xA0 && BlueOf(p) < 0x40) right = std::max(right, x);  // yellow
    }
  EXPECT_LT(right, L::kReplayX - 2);
  EXPECT_GT(right, L::kReplayX - 80);  // shortened to the room there is, not dropped
}

TEST(RankList, TheCommentIsDrawnAsOneRunOfText) {
  auto t = MakeTestGame();
  Game& g = t->g();
  RankEntry e = Entry("Tester", 1, 9);
  e.date = "12/9";
  e.comment = "first run, local ranking test";
  g.ranking.table[0] = e;
  FillRankingList(g);
  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);
  // The same comment drawn by itself, in the list's font on the list's
  // ground, matches the line's from where its column begins (40 byte cells
  // in, or a little further when the date ran wide), spaces and all.
  const int x0 = L::kTextX + 40 * L::kCellW, y0 = L::kListY;
  Canvas alone(640, 480, g.pf.fonts);
  alone.SetFontBold(true);
  alone.SetFontSize(11);
  const int w = alone.TextWidth(e.comment);
  ASSERT_LT(x0 + w + 8, L::kBarX);
  bool found = false;
  for (int at = x0; at <= x0 + 8 && !found; ++at) {
    alone.FillRect(0, y0, 640, y0 + L::kRowH, 0x101010);  // the list's ground
    alone.SetBrushSolid(false);
    alone.SetFontColor(0xE8E8E8);  // a line's text
    alone.TextOut(at, y0, e.comment);
    found = true;
    for (int y = y0; y < y0 + L::kRowH && found; ++y)
      for (int x = at - 2; x < at + w + 2 && found; ++x) found = screen.GetPixel(x, y) == alone.GetPixel(x, y);
  }
  EXPECT_TRUE(found);
}
