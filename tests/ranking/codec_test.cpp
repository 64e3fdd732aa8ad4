// The record text and the POST body the game sends.
#include <gtest/gtest.h>

#include <string>

#include "rank_service/rank_codec.h"
#include "reply_line.h"

using namespace text;

namespace {

const std::string kHeader(kRecordHeader);

RankRecord SampleRecord() {
  RankRecord r;
  r.name = "ABC";
  r.player_id = 42;
  r.score = 500;
  r.comment = "hi";
  r.month = 3;
  r.day = 4;
  r.play_count = 12;
  return r;
}

// The record's fields between "#{" separators (header's own "#{" first).
std::vector<std::string> Fields(const std::string& record) {
  std::vector<std::string> out;
  std::string rest = record.substr(kHeader.size());
  for (std::size_t at; (at = rest.find("#{")) != std::string::npos; rest = rest.substr(at + 2)) {
    out.push_back(rest.substr(0, at));
  }
  return out;
}

// The percent-decoded body with the tail mark and number removed, and the
// UTF-7 "+"/"-" restored: the framed record in CP932.
std::string UnwrapBody(const std::string& body) {
  auto raw = PercentDecodeStrict(body);
  EXPECT_TRUE(raw.has_value());
  const std::size_t mark = raw->rfind(std::string(kBodyTailMark));
  EXPECT_NE(mark, std::string::npos);
  auto framed = DecodeWireLine(raw->substr(0, mark));
  EXPECT_TRUE(framed.has_value());
  return framed.value_or("");
}

}  // namespace

TEST(RankConversions, Cp932RoundTripsAndRefusesWhatItCannotHold) {
  EXPECT_EQ(Utf8ToCp932("あ"), std::string("\x82\xA0"));
  EXPECT_EQ(Cp932ToUtf8("\x82\xA0"), std::string("あ"));
  EXPECT_EQ(Cp932Length("ｱア"), 3u);  // half-width katakana is one byte
  EXPECT_FALSE(Utf8ToCp932("\xF0\x9F\x98\x80"));  // emoji: not in CP932
  EXPECT_FALSE(Utf8ToCp932("\xC3"));               // cut-off UTF-8
  EXPECT_FALSE(Cp932ToUtf8("ab\x82"));             // lead byte without its trail
  EXPECT_EQ(Cp932ToUtf8Lossy("ab\x82", "?"), "ab?");
  EXPECT_EQ(Cp932ToUtf8Lossy("\xA0x", "?"), "?x");  // 0xA0 is no CP932 character
  EXPECT_EQ(Cp932ToUtf8Lossy("\xA0x", kReplacementCharacter), "\xEF\xBF\xBDx");
}

TEST(RankConversions, Utf7ClosesItsLastRunAndRejectsBrokenInput) {
  auto utf16 = Cp932ToUtf16("a\x81\x40");  // "a　"
  ASSERT_TRUE(utf16);
  auto utf7 = Utf16ToUtf7(*utf16);
  ASSERT_TRUE(utf7);
  EXPECT_EQ(utf7->back(), '-');
  EXPECT_EQ(Utf7ToUtf16(*utf7), utf16);
  EXPECT_FALSE(Utf7ToUtf16("+AF-"));       // base64 run ends mid-character
  EXPECT_FALSE(Utf7ToUtf16("\x82\xA0"));   // bytes above ASCII
  EXPECT_FALSE(Utf16ToCp932(std::string("\x3D\xD8", 2)));  // lone surrogate
  Converter to_cp932("CP932", "UTF-16LE");
  EXPECT_FALSE(to_cp932.RunUtf16Lossy(std::string("\x3D\xD8", 2)));
  EXPECT_EQ(to_cp932.RunUtf16Lossy(std::string("A\0\x3D\xD8\x00\xDE" "B\0", 8)), "A?B");  // emoji
}

TEST(RankRecordText, HeaderAndFieldsInOrder) {
  auto text = BuildRecordText(SampleRecord());
  ASSERT_TRUE(text);
  EXPECT_EQ(kHeader, std::string("\x5B\x68\x82\xA2\x6B\x5B\x5D\x6B\x82\xA0\x23\x7B", 12));
  EXPECT_EQ(*text, kHeader + "ABC#{42#{500#{0#{hi#{0#{3/4#{0#{12#{0#{0#{");
}

TEST(RankRecordText, ScoreIsCappedAt19999999) {
  RankRecord r = SampleRecord();
  for (auto [score, sent] : {std::pair{20000000LL, "19999999"}, {19999999LL, "19999999"},
                             {19999998LL, "19999998"}, {5000000000LL, "19999999"}, {0LL, "0"}}) {
    r.score = score;
    EXPECT_EQ(Fields(*BuildRecordText(r)).at(2), sent) << score;
  }
}

TEST(RankRecordText, OnlyPortal5529IsSentAsGM) {
  RankRecord r = SampleRecord();
  r.name = "portal5529";
  EXPECT_EQ(Fields(*BuildRecordText(r)).at(0), "GM");
  for (const char* other : {"portal55290", "Portal5529", "portal552", "GM"}) {
    r.name = other;
    EXPECT_EQ(Fields(*BuildRecordText(r)).at(0), other);
  }
}

TEST(RankRecordText, DateHasNoLeadingZeros) {
  RankRecord r = SampleRecord();
  r.month = 12;
  r.day = 7;
  EXPECT_EQ(Fields(*BuildRecordText(r)).at(6), "12/7");
  r.month = 1;
  r.day = 31;
  EXPECT_EQ(Fields(*BuildRecordText(r)).at(6), "1/31");
}

TEST(RankRecordText, SeparatorTypedInCommentCannotShiftFields) {
  RankRecord r = SampleRecord();
  r.comment = "a#{b#{{#";
  auto text = BuildRecordText(r);
  ASSERT_TRUE(text);
  const auto f = Fields(*text);
  ASSERT_EQ(f.size(), 11u);
  EXPECT_EQ(f[4], "a#.b#.{#");
  EXPECT_EQ(f[6], "3/4");
  EXPECT_EQ(f[8], "12");
  EXPECT_EQ(r.comment, "a#{b#{{#");  // what the player typed is untouched

  // Read back as the game reads a ranking line, the fields stay in place.
  RankEntry e;
  ASSERT_TRUE(ParseRankingLine(*text, e));
  EXPECT_EQ(e.comment, "a#.b#.{#");
  EXPECT_EQ(e.date, "3/4");
  EXPECT_EQ(e.play_count, 12);
}

TEST(RankRecordText, JapaneseTextIsCp932AndUnsendableTextIsRefused) {
  RankRecord r = SampleRecord();
  r.name = "ほろぐ";
  r.comment = "やった！";
  auto text = BuildRecordText(r);
  ASSERT_TRUE(text);
  EXPECT_EQ(Fields(*text).at(0), *Utf8ToCp932("ほろぐ"));
  r.comment = "yay \xF0\x9F\x98\x80";
  EXPECT_FALSE(BuildRecordText(r));
}

TEST(RankSendBody, OnlyUpperCaseTriplesEndingInMarkAndNumber) {
  auto text = BuildRecordText(SampleRecord());
  ASSERT_TRUE(text);
  for (int random : {0, 7, 42, 98}) {
    auto body = BuildSendBody(*text, random);
    ASSERT_TRUE(body);
    ASSERT_EQ(body->size() % 3, 0u);
    for (std::size_t i = 0; i < body->size(); i += 3) {
      ASSERT_EQ((*body)[i], '%') << i;
      for (char c : body->substr(i + 1, 2)) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << c;
    }
    std::string tail = "%82%A0";
    for (char d : std::to_string(random)) tail += "%3" + std::string(1, d);
    EXPECT_EQ(body->substr(body->size() - tail.size()), tail) << random;
    // Letters are encoded too, so no raw byte of the record shows.
    EXPECT_EQ(body->find("ABC"), std::string::npos);
  }
  EXPECT_FALSE(BuildSendBody(*text, 99));
  EXPECT_FALSE(BuildSendBody(*text, -1));
  EXPECT_FALSE(BuildSendBody("\xFF", 1));  // not CP932
}

TEST(RankSendBody, CarriesTheFramedRecordWithoutTheUtf7Ends) {
  auto text = BuildRecordText(SampleRecord());
  auto body = BuildSendBody(*text, 5);
  ASSERT_TRUE(body);
  auto raw = PercentDecodeStrict(*body);
  ASSERT_TRUE(raw);
  EXPECT_NE(raw->front(), '+');  // the opening "+" was dropped
  EXPECT_EQ(UnwrapBody(*body), std::string(kFrameOpen) + *text + std::string(kFrameClose));
  EXPECT_EQ(std::string(kFrameOpen), *Utf8ToCp932("＊　"));
  EXPECT_EQ(std::string(kFrameClose), *Utf8ToCp932("　＊"));
}

TEST(RankSendBody, CharactersUtf7TreatsSpeciallyRoundTrip) {
  RankRecord r = SampleRecord();
  for (const char* comment : {"a+b-c", "+-+-", "~\\!", "全角　スペース", "ｶﾀｶﾅ", "", "123456789012345678901234567890"}) {
    r.comment = comment;
    auto text = BuildRecordText(r);
    ASSERT_TRUE(text) << comment;
    auto body = BuildSendBody(*text, 98);
    ASSERT_TRUE(body) << comment;
    EXPECT_EQ(UnwrapBody(*body), std::string(kFrameOpen) + *text + std::string(kFrameClose)) << comment;
  }
}

TEST(RankPercent, StrictDecodingRefusesAnythingElse) {
  EXPECT_EQ(PercentDecodeStrict("%41%a0"), std::string("A\xA0"));
  EXPECT_FALSE(PercentDecodeStrict("%4"));
  EXPECT_FALSE(PercentDecodeStrict("A%41"));
  EXPECT_FALSE(PercentDecodeStrict("%4G"));
  EXPECT_FALSE(PercentDecodeStrict("%%41"));
  EXPECT_EQ(PercentDecodeStrict(""), std::string());
}

TEST(RankUrl, HostAndModeNumber) {
  EXPECT_EQ(RankingUrl("example.org", true, 1), "http://example.org/zrk/zrk_rank.exe?write&1");
  EXPECT_EQ(RankingUrl("127.0.0.1:8765", false, 3), "http://127.0.0.1:8765/zrk/zrk_rank.exe?read&3");
}
