// The name and comment boxes edit as any desktop edit box: typing replaces a
// selection of any length, Ctrl+A selects all, Home/End and the arrows move
// the caret (Shift selects), and the text always fits inside the box.
#include <gtest/gtest.h>

#include "platform/canvas.h"
#include "platform/window.h"
#include "ranking/comment_entry.h"
#include "ranking/edit_box.h"
#include "ranking/name_entry.h"
#include "ranking/panels.h"
#include "shell/form.h"
#include "test_util.h"

namespace {

enum : int { kBack = 8, kEnd = 35, kHome = 36, kLeft = 37, kRight = 39, kDelete = 46 };

void Keys(EditBox& box, std::initializer_list<int> keys, bool shift = false) {
  for (int k : keys) EditBoxKeyDown(box, k, shift);
}

void Dispatch(Game& g, InputEvent e) { DispatchInput(g, e); }
void Type(Game& g, const std::string& text) {
  InputEvent e;
  e.type = InputEvent::kTextInput;
  e.text = text;
  Dispatch(g, e);
}
void Key(Game& g, int key, bool ctrl = false, bool shift = false) {
  InputEvent e;
  e.type = InputEvent::kKeyDown;
  e.key = key;
  e.ctrl = ctrl;
  e.shift = shift;
  Dispatch(g, e);
}
void Press(Game& g, int x, int y) {
  InputEvent e;
  e.type = InputEvent::kMouseDown;
  e.x = x;
  e.y = y;
  Dispatch(g, e);
}

// After a game over with a new EASY record: the click that opens the comment box.
void OpenCommentBox(Game& g, const std::string& preset) {
  g.run.title_phase = 0;
  g.my.mode = EASY;
  g.my.comment(EASY) = preset;
  g.run.record_mode = 1;
  g.run.game_over_banner = 1;
  Press(g, 300, 100);
  ASSERT_TRUE(g.panels.hi_score_box_visible);
}

}  // namespace

TEST(EditBox, TypingOverASelectionReplacesItWhateverItsLength) {
  for (const std::string preset : {"abcdefghijklmnopqrstuvwxyz1234", "ローカルランキングのテストです", "first run, local ranking test"}) {
    EditBox box{{}, {}, 30};
    EditBoxPreset(box, preset);
    ASSERT_EQ(Cp932Bytes(box.text), int(preset == "first run, local ranking test" ? 29 : 30));
    EXPECT_TRUE(EditBoxInsert(box, "server run")) << preset;
    EXPECT_EQ(box.text, "server run");
  }
  // A part of a full box: what replaces it may take the bytes it frees, no more.
  EditBox box{"abcdefghijkl", {}, 12};
  Keys(box, {kHome, kRight, kRight, kRight});
  Keys(box, {kRight, kRight, kRight}, true);  // "def"
  EXPECT_TRUE(EditBoxInsert(box, "XYZW"));
  EXPECT_EQ(box.text, "abcXYZghijkl");
  EXPECT_FALSE(EditBoxInsert(box, "Q"));  // full, nothing selected
  // Two-byte characters count as two.
  EditBox jp{{}, {}, 12};
  EditBoxPreset(jp, "ああああああ");
  EXPECT_TRUE(EditBoxInsert(jp, "abcdefghijklmn"));
  EXPECT_EQ(jp.text, "abcdefghijkl");
}

TEST(EditBox, HomeEndArrowsAndDeleteMoveAndEditAtTheCaret) {
  EditBox box{"abc", {}, 30};
  Keys(box, {kHome});
  EditBoxInsert(box, "X");
  EXPECT_EQ(box.text, "Xabc");
  Keys(box, {kRight});
  EditBoxInsert(box, "Y");
  EXPECT_EQ(box.text, "XaYbc");
  Keys(box, {kEnd, kBack});
  EXPECT_EQ(box.text, "XaYb");
  Keys(box, {kLeft, kLeft, kDelete});
  EXPECT_EQ(box.text, "Xab");
  Keys(box, {kLeft, kLeft, kLeft, kLeft, kBack});  // nothing before the start
  EXPECT_EQ(box.text, "Xab");
  Keys(box, {kEnd});
  Keys(box, {kLeft, kLeft}, true);  // Shift+Left twice selects "ab"
  Keys(box, {kLeft});                // an arrow collapses it to its start
  EditBoxInsert(box, "-");
  EXPECT_EQ(box.text, "X-ab");
  Keys(box, {kHome}, true);  // Shift+Home from after "-" selects "X-"
  Keys(box, {kBack});
  EXPECT_EQ(box.text, "ab");

  // Whole characters, never half of one.
  EditBox jp{"あい", {}, 12};
  Keys(jp, {kLeft});
  EditBoxInsert(jp, "x");
  EXPECT_EQ(jp.text, "あxい");
  Keys(jp, {kLeft, kLeft, kDelete});
  EXPECT_EQ(jp.text, "xい");
  // An IME composition is shown at the caret and lands there.
  Keys(jp, {kHome});
  EditBoxSetComposition(jp, "かん");
  EXPECT_EQ(EditBoxKeyDown(jp, kEnd), EditKey::kNone);  // the IME's key: the caret stays
  EditBoxSetComposition(jp, "");
  EditBoxInsert(jp, "漢");
  EXPECT_EQ(jp.text, "漢xい");
}

TEST(CommentBox, CtrlASelectsAllSoTypingReplacesAFullBox) {
  auto t = MakeTestGame();
  Game& g = t->g();
  OpenCommentBox(g, "abcdefghijklmnopqrstuvwxyz1234");  // 30 bytes, all selected
  // A click into the text drops the selection (the caret goes where the click
  // was); the box is full, so typing adds nothing.
  using C = CommentBoxLayout;
  Press(g, C::kEditX + C::kEditW - 4, 286 + C::kEditY + 10);
  Type(g, "s");
  EXPECT_EQ(g.panels.hi_score_l.text, "abcdefghijklmnopqrstuvwxyz1234");
  Key(g, 'A', true);
  Type(g, "server run");
  EXPECT_EQ(g.panels.hi_score_l.text, "server run");
  // A click on the first letters puts the caret there.
  Press(g, C::kEditX + 7, 286 + C::kEditY + 10);
  Type(g, ">");
  EXPECT_EQ(g.panels.hi_score_l.text, ">server run");
  // A plain A (no Ctrl) is typed text, not a key of the box.
  Key(g, 'A');
  EXPECT_EQ(g.panels.hi_score_l.text, ">server run");
}

TEST(NameBox, CtrlAAndTheArrowsWorkThereToo) {
  auto t = MakeTestGame();
  Game& g = t->g();
  ShowNameBox(g);
  Type(g, "Anna");
  Key(g, kLeft);
  Key(g, kLeft);
  Type(g, "-");
  EXPECT_EQ(g.panels.name_l.text, "An-na");
  Key(g, 'A', true);
  Type(g, "Bo");
  EXPECT_EQ(g.panels.name_l.text, "Bo");
}

// The rightmost column holding a pixel of the text colour in rows y0..y1.
int RightmostInk(const Canvas& c, int y0, int y1, uint32_t colour) {
  int right = -1;
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < c.Width(); ++x)
      if (c.GetPixel(x, y) == colour) right = std::max(right, x);
  return right;
}

TEST(EditBox, AFullBoxOfWideLettersAndTheCaretStayInsideTheBox) {
  auto t = MakeTestGame();
  Game& g = t->g();
  struct Case {
    EditBoxLook look;
    std::string text;
    int max_bytes;
  };
  using N = NameBoxLayout;
  using C = CommentBoxLayout;
  for (const Case& k : {Case{PanelEditLook(N::kEditX, 362 + N::kEditY, N::kEditW, N::kEditH, N::kEditFontPoints, 0),
                             std::string(12, 'W'), 12},
                        Case{PanelEditLook(C::kEditX, 286 + C::kEditY, C::kEditW, C::kEditH, C::kEditFontPoints, 0),
                             std::string(30, 'W'), 30},
                        Case{PanelEditLook(N::kEditX, 362 + N::kEditY, N::kEditW, N::kEditH, N::kEditFontPoints, 0),
                             "ＷＷＷＷＷＷ", 12}}) {
    EditBox box{k.text, {}, k.max_bytes};
    Canvas on(640, 480, g.pf.fonts), off(640, 480, g.pf.fonts);
    EditBoxLook look = k.look;
    DrawEditBox(on, box, look);
    look.caret_on = false;
    DrawEditBox(off, box, look);
    const int right = look.x + look.width;
    // Every letter is inside, the last one included ...
    const int ink = RightmostInk(off, look.y, look.y + look.height, look.text_color);
    EXPECT_GT(ink, look.x + look.width / 2) << k.text;  // not shrunk to nothing
    EXPECT_LT(ink, right - 2) << k.text;
    // ... and so is the caret after it.
    const int caret = RightmostInk(on, look.y, look.y + look.height, look.text_color);
    EXPECT_GT(caret, ink) << k.text;
    EXPECT_LT(caret, right - 1) << k.text;
  }
  // A short name keeps the large font.
  EditBox small{"Ann", {}, 12};
  Canvas c(640, 480, g.pf.fonts);
  DrawEditBox(c, small, PanelEditLook(N::kEditX, 362 + N::kEditY, N::kEditW, N::kEditH, N::kEditFontPoints, 0));
  EXPECT_EQ(c.FontSize(), N::kEditFontPoints);
}
