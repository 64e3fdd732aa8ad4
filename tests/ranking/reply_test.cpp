// Reading the server's reply into the ranking table, and the list lines.
#include <gtest/gtest.h>

#include <string>

#include "platform/http_fake.h"
#include "rank_service/rank_codec.h"
#include "reply_line.h"

using namespace text;

namespace {

std::string Line(const std::string& name, int id, long long score, const std::string& comment = "c",
                 int play_count = 1) {
  RankRecord r;
  r.name = name;
  r.player_id = id;
  r.score = score;
  r.comment = comment;
  r.month = 5;
  r.day = 6;
  r.play_count = play_count;
  auto text = BuildRecordText(r);
  auto line = EncodeWireLine(text.value());
  return line.value();
}

// A wire line for raw CP932 record bytes (possibly malformed on purpose).
std::string RawLine(const std::string& cp932) { return EncodeWireLine(cp932).value(); }

const std::string kHeader(kRecordHeader);

}  // namespace

TEST(RankReply, ReadsEntriesInOrderWithAllFields) {
  const std::string body = Line("ABC", 42, 900, "hi", 12) + "\r\n" + Line("ほろぐ", 7, 800, "やった", 3) + "\r\n";
  RankingReply reply = ParseRankingReply(body);
  ASSERT_EQ(reply.table.size(), 1000u);
  ASSERT_EQ(reply.filled, 2);
  const RankEntry& a = reply.table[0];
  EXPECT_EQ(a.name, "ABC");
  EXPECT_EQ(a.id, 42);
  EXPECT_EQ(a.score, 900);
  EXPECT_EQ(a.comment, "hi");
  EXPECT_EQ(a.date, "5/6");
  EXPECT_EQ(a.play_count, 12);
  EXPECT_EQ(reply.table[1].name, "ほろぐ");
  EXPECT_EQ(reply.table[1].comment, "やった");
  EXPECT_TRUE(reply.table[2].name.empty());
  EXPECT_TRUE(reply.messages.empty());
}

TEST(RankReply, AnyLineBreakSeparatesLines) {
  const std::string body = Line("A", 1, 3) + "\n" + Line("B", 2, 2) + "\r" + Line("C", 3, 1) + "\r\n\r\n" + Line("D", 4, 0);
  RankingReply reply = ParseRankingReply(body);
  ASSERT_EQ(reply.filled, 4);
  EXPECT_EQ(reply.table[3].name, "D");
}

TEST(RankReply, TwelveHundredLinesFillOnlyAThousandEntries) {
  text::CodecModules keep_converters_loaded;
  std::string body;
  for (int i = 0; i < 1200; ++i) body += Line("P" + std::to_string(i), i, 100000 - i) + "\r\n";
  body += "[mlate message\r\n";
  RankingReply reply = ParseRankingReply(body);
  EXPECT_EQ(reply.filled, 1000);
  EXPECT_EQ(reply.table[0].name, "P0");
  EXPECT_EQ(reply.table[999].name, "P999");
  EXPECT_EQ(reply.table[999].score, 100000 - 999);
  EXPECT_TRUE(reply.messages.empty());  // reading stops with the table full
}

TEST(RankReply, BadScoreKeepsNameAndIdAndLeavesTheRestEmpty) {
  const std::string bad = RawLine(kHeader + "ABC#{42#{12x#{0#{hi#{0#{3/4#{0#{12#{0#{0#{");
  RankingReply reply = ParseRankingReply(bad + "\r\n" + Line("NEXT", 1, 5));
  ASSERT_EQ(reply.filled, 2);  // the partly read line still takes its place
  const RankEntry& e = reply.table[0];
  EXPECT_EQ(e.name, "ABC");
  EXPECT_EQ(e.id, 42);
  EXPECT_EQ(e.score, 0);
  EXPECT_EQ(e.comment, "");
  EXPECT_EQ(e.date, "");
  EXPECT_EQ(e.play_count, 0);
  EXPECT_EQ(reply.table[1].name, "NEXT");
}

TEST(RankReply, NumbersMustBeWholeDecimalIntegers) {
  for (const char* score : {"", " 5", "5 ", "0x10", "99999999999", "1.5"}) {
    RankEntry e;
    ASSERT_TRUE(ParseRankingLine(kHeader + "N#{1#{" + score + "#{0#{c#{", e));
    EXPECT_EQ(e.score, 0) << score;
    EXPECT_EQ(e.comment, "") << score;
  }
  RankEntry e;
  ASSERT_TRUE(ParseRankingLine(kHeader + "N#{1#{-5#{0#{c#{", e));
  EXPECT_EQ(e.score, -5);
  EXPECT_EQ(e.comment, "c");
}

TEST(RankReply, MessageLinesGoToTheLogAndAreNotEntries) {
  const std::string note = "[m" + *Utf8ToCp932("メンテナンスのお知らせ");
  const std::string body = note + "\r\n[m plain\r\n" + Line("A", 1, 10) + "\r\n";
  RankingReply reply = ParseRankingReply(body);
  ASSERT_EQ(reply.messages.size(), 2u);
  EXPECT_EQ(reply.messages[0], "[mメンテナンスのお知らせ");
  EXPECT_EQ(reply.messages[1], "[m plain");
  EXPECT_EQ(reply.filled, 1);
  EXPECT_EQ(reply.table[0].name, "A");
}

TEST(RankReply, GarbageLinesAreSkipped) {
  const std::string body =
      "<html><body>500 Internal Server Error</body></html>\r\n"
      "+++---\r\n"
      "\x82\xA0\xFF\x00\x01\r\n" +
      RawLine("no markers here#{1#{2#{") + "\r\n" +
      RawLine(*Utf8ToCp932("k[ only#{1#{")) + "\r\n" + Line("REAL", 3, 30) + "\r\n";
  RankingReply reply = ParseRankingReply(body);
  ASSERT_EQ(reply.filled, 1);
  EXPECT_EQ(reply.table[0].name, "REAL");
}

TEST(RankReply, CharactersOutsideCp932BecomeQuestionMarks) {
  // Built straight in UTF-16 so the emoji reaches the line.
  std::string utf16 = *Cp932ToUtf16(kHeader + "X");
  utf16 += std::string("\x3D\xD8\x00\xDE", 4);
  utf16 += *Cp932ToUtf16("#{9#{70#{");
  std::string utf7 = *Utf16ToUtf7(utf16);
  RankingReply reply = ParseRankingReply(utf7.substr(1, utf7.size() - 2));
  ASSERT_EQ(reply.filled, 1);
  EXPECT_EQ(reply.table[0].name, "X?");
  EXPECT_EQ(reply.table[0].score, 70);
}

TEST(RankReply, OpenLastFieldRunsTo254thByte) {
  const std::string prefix = kHeader + "N#{1#{2#{3#{";
  const std::string long_comment(300, 'x');
  RankEntry e;
  ASSERT_TRUE(ParseRankingLine(prefix + long_comment, e));
  EXPECT_EQ(e.comment.size(), 254 - prefix.size());
  EXPECT_EQ(e.spare[0], 3);
  // A double-byte character across byte 254 is left out whole.
  const std::string pad(254 - prefix.size() - 1, 'y');
  ASSERT_TRUE(ParseRankingLine(prefix + pad + "\x82\xA0" + "zz", e));
  EXPECT_EQ(e.comment, pad);
  // A short open field runs to the end of the line.
  ASSERT_TRUE(ParseRankingLine(kHeader + "Cut#{5#{1", e));
  EXPECT_EQ(e.name, "Cut");
  EXPECT_EQ(e.score, 1);
}

TEST(RankReply, WhatIsReadIsBounded) {
  text::CodecModules keep_converters_loaded;
  // 5000 lines are looked at, no more.
  std::string body;
  for (int i = 0; i < 4999; ++i) body += "junk\n";
  body += Line("LINE5000", 1, 1) + "\n" + Line("LINE5001", 2, 1) + "\n";
  RankingReply reply = ParseRankingReply(body);
  ASSERT_EQ(reply.filled, 1);
  EXPECT_EQ(reply.table[0].name, "LINE5000");

  // 2 MiB of body are looked at, no more: a line past that is never seen.
  std::string big = Line("FIRST", 1, 1) + "\n";
  big += std::string(kMaxReplyBytes - big.size(), 'b') + "\n" + Line("AFTER", 3, 1) + "\n";
  reply = ParseRankingReply(big);
  ASSERT_EQ(reply.filled, 1);
  EXPECT_EQ(reply.table[0].name, "FIRST");
}

TEST(RankOwnIndex, LastMatchingNameAndId) {
  std::vector<RankEntry> table(1000);
  table[3].name = "ABC";
  table[3].id = 5;
  table[8].name = "ABC";
  table[8].id = 5;
  table[9].name = "ABC";
  table[9].id = 6;
  EXPECT_EQ(OwnRankIndex(table, "ABC", 5), 8);
  EXPECT_EQ(OwnRankIndex(table, "ABC", 7), -1);
  EXPECT_EQ(OwnRankIndex(table, "abc", 5), -1);
  EXPECT_EQ(OwnRankIndex(table, "", 0), -1);  // empty places never count as the player's
  EXPECT_EQ(OwnRankIndex(std::vector<RankEntry>(1000), "ABC", 5), -1);
}

TEST(RankListLine, ColumnsArePaddedInCp932Bytes) {
  RankEntry e;
  e.name = "ABC";
  e.score = 500;
  e.play_count = 12;
  e.date = "3/4";
  e.comment = "hi";
  EXPECT_EQ(FormatRankingLine(6, e), "7    500       ABC          12回   3/4  hi");

  e.name = "山田";  // four bytes: nine spaces follow
  e.play_count = 1234;
  e.date = "12/31";
  e.comment = "コメント";
  EXPECT_EQ(FormatRankingLine(999, e), "1000 500       山田         1234回 12/31コメント");

  e.name = "ABCDEFGHIJKLMN";  // longer than its column: kept whole, no padding
  EXPECT_EQ(FormatRankingLine(0, e).substr(15, 15), "ABCDEFGHIJKLMN1");
}

TEST(RankListLine, EmptyPlaceShowsDashes) {
  EXPECT_EQ(FormatRankingLine(7, RankEntry{}), "8    --------");
  RankingReply reply = ParseRankingReply(Line("A", 1, 1) + "\n" + Line("B", 2, 1) + "\n" + Line("C", 3, 1));
  int dashed = 0;
  for (int i = 0; i < kRankEntries; ++i) dashed += FormatRankingLine(i, reply.table[i]).ends_with("--------") ? 1 : 0;
  EXPECT_EQ(dashed, 997);
}

TEST(RankExchanges, OnlyAFullReplyWithStatus200Counts) {
  ScriptedHttp http;
  http.PushOk(Line("A", 1, 10) + "\r\n");
  http.PushOk(Line("B", 2, 20) + "\r\n", 500);
  http.PushFailure("Operation timed out");
  http.PushOk("", 200);

  RankExchange ok = ReadRankingOver(http, "rank.example:8765", 3);
  ASSERT_TRUE(ok.ok);
  EXPECT_EQ(ok.reply.filled, 1);
  EXPECT_EQ(ok.reply.table[0].name, "A");
  EXPECT_FALSE(ReadRankingOver(http, "rank.example:8765", 3).ok);  // status 500
  RankExchange timed_out = ReadRankingOver(http, "rank.example:8765", 3);
  EXPECT_FALSE(timed_out.ok);
  EXPECT_EQ(timed_out.error, "Operation timed out");
  RankExchange empty = ReadRankingOver(http, "rank.example:8765", 3);
  ASSERT_TRUE(empty.ok);  // an empty ranking is a valid answer
  EXPECT_EQ(empty.reply.filled, 0);

  const auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].url, "http://rank.example:8765/zrk/zrk_rank.exe?read&3");
  EXPECT_TRUE(requests[0].body.empty());
}

TEST(RankExchanges, SendPostsTheRecordBody) {
  ScriptedHttp http;
  http.PushOk(Line("ME", 5, 700) + "\r\n");
  RankRecord r;
  r.name = "ME";
  r.player_id = 5;
  r.score = 700;
  r.comment = "yo";
  r.month = 2;
  r.day = 9;
  RankExchange sent = SendRecordOver(http, "h", 6, r, 17);
  ASSERT_TRUE(sent.ok);
  EXPECT_EQ(OwnRankIndex(sent.reply.table, "ME", 5), 0);
  auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].url, "http://h/zrk/zrk_rank.exe?write&6");
  EXPECT_EQ(requests[0].body, BuildSendBody(*BuildRecordText(r), 17));

  r.comment = "\xF0\x9F\x98\x80";  // nothing CP932 cannot hold is sent
  EXPECT_FALSE(SendRecordOver(http, "h", 6, r, 17).ok);
  EXPECT_EQ(http.Requests().size(), 1u);
}
