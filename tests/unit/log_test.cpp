// The message log: wrapping, the 14-line restart, colours and bounds.
#include <gtest/gtest.h>

#include "effects/log.h"
#include "state/game.h"
#include "test_util.h"

namespace {

TEST(MessageLog, LinesFillDownAndRestartAfterTheFourteenth) {
  auto t = MakeTestGame();
  Game& g = t->g();
  for (int i = 0; i < 14; ++i) AddSilverLogLine(g, "line " + std::to_string(i));
  EXPECT_EQ(g.log.count, 14);
  EXPECT_EQ(g.log.records[13].text, "line 13");
  AddSilverLogLine(g, "fresh");
  EXPECT_EQ(g.log.count, 1);
  EXPECT_EQ(g.log.records[0].text, "fresh");
  EXPECT_EQ(g.log.records[0].code, 316);
  EXPECT_EQ(g.log.records[1].text, "");
}

TEST(MessageLog, LongMessagesWrapIntoConsecutiveRecordsOfOneColour) {
  auto t = MakeTestGame();
  Game& g = t->g();
  std::string longtext;
  for (int i = 0; i < 30; ++i) longtext += "word" + std::to_string(i) + " ";
  AddLogLine(g, longtext, "green");
  ASSERT_GE(g.log.count, 2);
  std::string joined;
  for (int i = 0; i < g.log.count; ++i) {
    EXPECT_EQ(g.log.records[size_t(i)].code, 301);
    EXPECT_LE(g.memo->TextWidth(g.log.records[size_t(i)].text), 546);
    joined += g.log.records[size_t(i)].text;
  }
  // Nothing is lost but the blanks at the breaks.
  std::string a, b;
  for (char c : longtext) if (c != ' ') a += c;
  for (char c : joined) if (c != ' ') b += c;
  EXPECT_EQ(a, b);
  // Japanese text without blanks wraps too.
  g.log.count = 0;
  ClearLog(g);
  std::string jp;
  for (int i = 0; i < 60; ++i) jp += "あ";
  AddSilverLogLine(g, jp);
  EXPECT_GE(g.log.count, 2);
}

TEST(MessageLog, AHugeMessageNeverWritesPastTheRecords) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.log.count = 13;
  std::string huge;
  for (int i = 0; i < 400; ++i) huge += "overflow ";
  AddSilverLogLine(g, huge);  // wraps into far more than 21 lines
  EXPECT_GT(g.log.count, 21);
  EXPECT_FALSE(g.log.records[20].text.empty());
  // And the next message simply starts again at the top.
  AddSilverLogLine(g, "next");
  EXPECT_EQ(g.log.records[0].text, "next");
}

// Colour of the first text pixel drawn for a log line.
uint32_t DrawnColour(Game& g, int line) {
  g.cg->Clear(0);
  DrawLog(g);
  uint32_t best = 0;
  int y0 = 250 + 30 * line;
  for (int y = y0; y < y0 + 25; ++y)
    for (int x = 10; x < 200; ++x) {
      uint32_t p = g.cg->GetPixel(x, y);
      if (RedOf(p) + GreenOf(p) + BlueOf(p) > RedOf(best) + GreenOf(best) + BlueOf(best)) best = p;
    }
  return best;
}

TEST(MessageLog, AquaAndBluePulseAlikeAndSilverIsSteady) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.log.records[0] = {"████", 303};
  g.run.frame_no = 0;
  uint32_t blue = DrawnColour(g, 0);
  g.log.records[0] = {"████", 306};
  EXPECT_EQ(DrawnColour(g, 0), blue);
  EXPECT_EQ(blue, 0xF8EC7Eu);
  g.run.frame_no = 5;
  EXPECT_EQ(DrawnColour(g, 0), 0xE8D20Fu);
  g.log.records[0] = {"████", 316};
  EXPECT_EQ(DrawnColour(g, 0), 0x999999u);
}

TEST(MessageLog, UnknownColoursKeepThePreviousLinesColour) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.log.records[0] = {"████", 317};
  g.log.records[1] = {"████", LogColourCode("no such colour")};
  EXPECT_EQ(DrawnColour(g, 1), 0x6666FFu);
}

TEST(MessageLog, EmptyLogDrawsNothingAndClosingFreezesIt) {
  auto t = MakeTestGame();
  Game& g = t->g();
  g.cg->Clear(0x0000FF);
  DrawLog(g);
  EXPECT_EQ(g.cg->GetPixel(12, 255), 0x0000FFu);  // no black boxes either
  AddSilverLogLine(g, "bye");
  g.run.closing_mark = -1;
  ClearLog(g);
  EXPECT_EQ(g.log.records[0].text, "bye");
}

}  // namespace
