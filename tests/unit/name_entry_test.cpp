#include <gtest/gtest.h>

#include "menu_test_util.h"
#include "platform/text.h"
#include "platform/window.h"
#include "ranking/name_entry.h"
#include "ranking/panels.h"
#include "shell/form.h"

using Strings = std::vector<std::string>;

namespace {

// On the start screen with the name box open, as after "名前入力".
std::unique_ptr<TestGame> AtNameBox() {
  auto t = MakeTestGame();
  Game& g = t->g();
  ToStartScreen(g);
  EXPECT_TRUE(ClickButton(g, "名前入力"));
  EXPECT_TRUE(g.panels.name_box_visible);
  return t;
}

void Send(Game& g, InputEvent::Type type, const std::string& text = "", int key = 0) {
  InputEvent e;
  e.type = type;
  e.text = text;
  e.key = key;
  DispatchInput(g, e);
}
void Type(Game& g, const std::string& text) { Send(g, InputEvent::kTextInput, text); }
void Key(Game& g, int key) { Send(g, InputEvent::kKeyDown, "", key); }
void Press(Game& g, int button, int x, int y) {
  InputEvent e;
  e.type = InputEvent::kMouseDown;
  e.button = button;
  e.x = x;
  e.y = y;
  DispatchInput(g, e);
}
void ClickOk(Game& g) {
  using L = NameBoxLayout;
  Press(g, 0, L::kLeft + L::kOkX + 10, L::kTop + L::kOkY + 10);
}

}  // namespace

TEST(NameFilter, SignsBecomeDotsAndHaBecomesKatakana) {
  EXPECT_EQ(CleanName("a,b/c"), "a.b.c");
  EXPECT_EQ(CleanName("はな"), "ハな");
  EXPECT_EQ(CleanName("ははは"), "ハハハ");
  EXPECT_EQ(CleanName("x\"?|<>:*&{y"), "x.........y");
  EXPECT_EQ(CleanName("a\\b\\"), "a.b.");
  EXPECT_EQ(CleanName("gm"), "gm");
  EXPECT_EQ(CleanName("ＡＢ"), "ＡＢ");
  EXPECT_EQ(CleanName(""), "");
}

TEST(NameFilter, JapaneseCharactersWhoseSecondByteLooksLikeASignSurvive) {
  // Second CP932 byte 5C ("\"), 7C ("|") or 7B ("{").
  for (const char* s : {"表示", "ポボ", "能力", "ソフト", "十", "予定", "申", "貼", "欺"}) {
    auto bytes = text::Utf8ToCp932(s);
    ASSERT_TRUE(bytes.has_value()) << s;
    EXPECT_EQ(CleanName(s), s);
  }
  // A real backslash after "ソ" is still replaced.
  EXPECT_EQ(CleanName("ソ\\"), "ソ.");
  EXPECT_EQ(CleanName("表\\示"), "表.示");
}

TEST(NameFilter, ReservedNamesAreExact) {
  for (const char* r : {"ほろ", "ほろみ", "GM", "ＧＭ", "ヴァルネク"}) EXPECT_TRUE(IsReservedName(r)) << r;
  for (const char* r : {"gm", "GM ", "ほろほろ", "Ｇ"}) EXPECT_FALSE(IsReservedName(r)) << r;
}

TEST(NameEntry, NameButtonShowsTheBoxAndClosesTheMenu) {
  auto t = AtNameBox();
  Game& g = t->g();
  EXPECT_EQ(g.menu.screen, 0);
  EXPECT_EQ(g.panels.name_box_x, 0);
  EXPECT_EQ(g.panels.name_box_y, 362);
  EXPECT_EQ(LogTexts(g), (Strings{"あなたの名前を入力して下さい"}));
  EXPECT_TRUE(PanelsWantText(g));
}

TEST(NameEntry, ReservedNamesAreRefused) {
  for (const char* r : {"GM", "ＧＭ"}) {
    auto t = AtNameBox();
    Game& g = t->g();
    Type(g, r);
    ClickOk(g);
    EXPECT_EQ(t->dialogs.shown, (Strings{"その名前は使用できません"}));
    EXPECT_EQ(g.panels.name_l.text, "");
    EXPECT_TRUE(g.panels.name_box_visible);
    EXPECT_EQ(g.my.name(), "");
  }
}

TEST(NameEntry, EmptyNameDoesNothing) {
  auto t = AtNameBox();
  Game& g = t->g();
  ClickOk(g);
  Key(g, 13);
  EXPECT_TRUE(t->dialogs.shown.empty());
  EXPECT_TRUE(g.panels.name_box_visible);
}

TEST(NameEntry, YesRegistersTheFilteredName) {
  auto t = AtNameBox();
  Game& g = t->g();
  Type(g, "a,b/c");
  ClickOk(g);
  EXPECT_EQ(t->dialogs.shown, (Strings{"a.b.c、という名前でOKですか？"}));
  EXPECT_EQ(g.my.name(), "a.b.c");
  EXPECT_FALSE(g.panels.name_box_visible);
  EXPECT_FALSE(PanelsWantText(g));
  EXPECT_EQ(g.menu.screen, kStartScreen);
  EXPECT_EQ(Captions(g), (Strings{"このゲームについて", "<EASY スタート>", "RANKING"}));
  EXPECT_TRUE(LogTexts(g).empty());
  EXPECT_GE(g.my.player_id(), 0);
  EXPECT_LE(g.my.player_id(), 9999);
}

TEST(NameEntry, NoKeepsTheBoxOpenWithTheFilteredText) {
  auto t = AtNameBox();
  Game& g = t->g();
  t->dialogs.answers.push_back(false);
  Type(g, "はな");
  Key(g, 13);
  EXPECT_EQ(t->dialogs.shown, (Strings{"ハな、という名前でOKですか？"}));
  EXPECT_EQ(g.my.name(), "");
  EXPECT_TRUE(g.panels.name_box_visible);
  EXPECT_EQ(g.panels.name_l.text, "ハな");
  Key(g, 13);  // Yes this time
  EXPECT_EQ(g.my.name(), "ハな");
}

TEST(NameEntry, JapaneseNamesSurviveRegistration) {
  for (const char* name : {"表示", "ポボ"}) {
    auto t = AtNameBox();
    Game& g = t->g();
    Type(g, name);
    Key(g, 13);
    EXPECT_EQ(g.my.name(), name);
  }
}

TEST(NameEntry, EachRegistrationDrawsANewPlayerId) {
  auto t = AtNameBox();
  Game& g = t->g();
  Type(g, "p1");
  Key(g, 13);
  int first = g.my.player_id();
  std::vector<int> ids{first};
  for (int i = 0; i < 3; ++i) {
    g.my.name().clear();  // the saved data were reset
    OpenMenuScreen(g, kStartScreen);
    ASSERT_TRUE(ClickButton(g, "名前入力"));
    Key(g, 13);
    ids.push_back(g.my.player_id());
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end()) << "ids repeat";
}

TEST(NameEditBox, AcceptsAtMostTwelveCp932Bytes) {
  EditBox box{{}, {}, 12};
  EXPECT_TRUE(EditBoxInsert(box, "ああああああ"));
  EXPECT_FALSE(EditBoxInsert(box, "a"));  // a 13th byte
  EXPECT_EQ(box.text, "ああああああ");

  EditBox b2{{}, {}, 12};
  EditBoxInsert(b2, "abcdefghijk");  // 11 bytes
  EXPECT_FALSE(EditBoxInsert(b2, "あ"));
  EXPECT_TRUE(EditBoxInsert(b2, "l"));
  EXPECT_EQ(Cp932Bytes(b2.text), 12);

  // Half-width katakana is one byte; a long paste stops at the limit.
  EditBox b3{{}, {}, 12};
  EditBoxInsert(b3, "ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿ");
  EXPECT_EQ(b3.text, "ｱｲｳｴｵｶｷｸｹｺｻｼ");
}

TEST(NameEditBox, RefusesWhatCp932CannotHold) {
  EditBox box{{}, {}, 12};
  EXPECT_FALSE(EditBoxInsert(box, "😀"));
  EXPECT_FALSE(EditBoxInsert(box, "\n"));
  EXPECT_FALSE(EditBoxInsert(box, "\r\t"));
  EXPECT_FALSE(EditBoxInsert(box, "\xff\xfe"));
  EXPECT_TRUE(EditBoxInsert(box, "a😀b\nc"));
  EXPECT_EQ(box.text, "abc");
  // A yen sign is stored as the backslash CP932 turns it into.
  EditBox y{{}, {}, 12};
  EditBoxInsert(y, "¥");
  EXPECT_EQ(y.text, "\\");
}

TEST(NameEditBox, BackspaceDeletesAWholeCharacter) {
  auto t = AtNameBox();
  Game& g = t->g();
  Type(g, "aあ表");
  Key(g, 8);
  EXPECT_EQ(g.panels.name_l.text, "aあ");
  Key(g, 8);
  Key(g, 8);
  Key(g, 8);  // on an empty box
  EXPECT_EQ(g.panels.name_l.text, "");
}

TEST(NameEditBox, CompositionIsShownButNotPartOfTheText) {
  auto t = AtNameBox();
  Game& g = t->g();
  Type(g, "a");
  Send(g, InputEvent::kTextEditing, "ひょう");
  EXPECT_EQ(g.panels.name_l.composition, "ひょう");
  Key(g, 8);   // the IME's key while composing
  Key(g, 13);
  EXPECT_EQ(g.panels.name_l.text, "a");
  EXPECT_TRUE(t->dialogs.shown.empty());
  Send(g, InputEvent::kTextEditing, "");
  Type(g, "表");
  EXPECT_EQ(g.panels.name_l.text, "a表");
  EXPECT_EQ(g.panels.name_l.composition, "");
}

TEST(NameEditBox, KeysStayInTheBox) {
  auto t = AtNameBox();
  Game& g = t->g();
  g.run.story = {"one", "two"};
  g.run.story_index = 0;
  Type(g, "s");
  Key(g, 83);  // S would skip the story and press at (0, 0)
  Key(g, 27);  // Esc
  Key(g, 32);
  Key(g, 81);
  EXPECT_EQ(g.run.story_index, 0);
  EXPECT_EQ(g.input.click, 0);
  EXPECT_TRUE(g.panels.name_box_visible);
  EXPECT_EQ(g.panels.name_l.text, "s");
  EXPECT_TRUE(t->dialogs.shown.empty());
}

TEST(NameBoxMouse, ClicksOnThePanelAndTheFieldAboveDoNotReachTheMenu) {
  auto t = AtNameBox();
  Game& g = t->g();
  g.menu.back = 1;
  Type(g, "abc");
  Press(g, 0, 600, 470);  // panel, off the button
  Press(g, 1, 300, 100);  // right click on the field above the panel
  Press(g, 0, 300, 100);
  EXPECT_EQ(g.menu.screen, 0);
  EXPECT_TRUE(g.panels.name_box_visible);
  EXPECT_TRUE(t->dialogs.shown.empty());
  Press(g, 1, 450, 410);  // right button on OK does not press it
  EXPECT_TRUE(t->dialogs.shown.empty());
  ClickOk(g);
  EXPECT_EQ(g.my.name(), "abc");
}

TEST(NameBoxDraw, PanelLabelEditAndButton) {
  auto t = AtNameBox();
  Game& g = t->g();
  Type(g, "ab");
  Canvas screen(640, 480, g.pf.fonts);
  screen.Clear(0x00FF00);
  g.run.frame_no = 0;  // caret shown
  DrawPanels(g, screen);
  using L = NameBoxLayout;
  EXPECT_EQ(screen.GetPixel(5, 361), 0x00FF00u);  // above the panel
  EXPECT_EQ(screen.GetPixel(630, 470), 0u);        // black panel
  EXPECT_EQ(screen.GetPixel(639, 479), 0u);
  auto count = [&](int x1, int y1, int x2, int y2, uint32_t c) {
    int n = 0;
    for (int y = y1; y < y2; ++y)
      for (int x = x1; x < x2; ++x)
        if (screen.GetPixel(x, y) == c) ++n;
    return n;
  };
  // The label's white text in its row; the edit box in its own colours:
  // text 8388863 on 1906205, in the 53-pixel font.
  EXPECT_GT(400 * 22 - count(10, 366, 400, 388, 0), 100);
  int ex = L::kLeft + L::kEditX, ey = L::kTop + L::kEditY;
  EXPECT_EQ(screen.GetPixel(ex + L::kEditW - 5, ey + 5), 1906205u);
  EXPECT_GT(count(ex + 2, ey + 2, ex + 60, ey + L::kEditH - 2, 8388863), 20);
  int top = 480, bottom = -1;
  for (int y = ey; y < ey + L::kEditH; ++y)
    if (count(ex + 2, y, ex + 100, y + 1, 8388863) > 0) top = std::min(top, y), bottom = y;
  EXPECT_GE(bottom - top, 35);  // "ab" with its caret stands about 50 pixels tall
  EXPECT_LT(ey + L::kEditH, 480);
  // "<OK>" in white on the button.
  int ox = L::kLeft + L::kOkX, oy = L::kTop + L::kOkY;
  EXPECT_GT(count(ox + 2, oy + 2, ox + L::kOkW - 2, oy + L::kOkH - 2, 0xFFFFFF), 20);
  // Hidden: nothing drawn.
  g.panels.name_box_visible = false;
  screen.Clear(0x00FF00);
  DrawPanels(g, screen);
  EXPECT_EQ(screen.GetPixel(630, 470), 0x00FF00u);
}

TEST(NameBoxDraw, CaretBlinks) {
  auto t = AtNameBox();
  Game& g = t->g();
  Canvas a(640, 480, g.pf.fonts), b(640, 480, g.pf.fonts);
  EditBoxLook look;
  look.x = 10;
  look.y = 10;
  look.width = 300;
  look.height = 40;
  EditBox box{"ab", "", 12};
  look.caret_on = true;
  DrawEditBox(a, box, look);
  look.caret_on = false;
  DrawEditBox(b, box, look);
  int diff = 0;
  for (int y = 10; y < 50; ++y)
    for (int x = 10; x < 310; ++x)
      if (a.GetPixel(x, y) != b.GetPixel(x, y)) ++diff;
  EXPECT_GT(diff, 10);
  EXPECT_NE(CaretPhase(0), CaretPhase(6));
}
