// kv-rankd's service: decoding, refusing bad requests, keeping best records
// and answering in the format the game reads.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "rank_service/local_rank_http.h"
#include "rank_service/rank_service.h"
#include "rank_service/rank_codec.h"

using namespace text;

namespace {

const std::string kPath = "/zrk/zrk_rank.exe";

class ScratchDb {
 public:
  ScratchDb() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("kv-rank-") + info->name() + "-" + std::to_string(std::random_device{}()) + ".db");
  }
  ~ScratchDb() {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_.string() + suffix, ec);
  }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

RankRecord Rec(const std::string& name, int id, long long score, const std::string& comment = "gg") {
  RankRecord r;
  r.name = name;
  r.player_id = id;
  r.score = score;
  r.comment = comment;
  r.month = 3;
  r.day = 4;
  r.play_count = 12;
  return r;
}

std::string Body(const RankRecord& r, int random = 7) { return BuildSendBody(BuildRecordText(r).value(), random).value(); }

// A body around raw CP932 record bytes, for records the game would not build.
std::string RawBody(const std::string& record_cp932) { return BuildSendBody(record_cp932, 1).value(); }

WireRecord Wire(const std::string& name, int id, long long score) {
  WireRecord w;
  w.name = name;
  w.id = id;
  w.score = static_cast<int>(score);
  w.comment = "c";
  w.date = "1/2";
  return w;
}

ServiceReply Post(RankStore& store, int mode, const std::string& body) {
  return HandleRankRequest(store, "POST", kPath, "write&" + std::to_string(mode), body);
}

RankingReply Read(RankStore& store, int mode) {
  ServiceReply r = HandleRankRequest(store, "GET", kPath, "read&" + std::to_string(mode), "");
  EXPECT_EQ(r.status, 200);
  return ParseRankingReply(r.body);
}

std::vector<std::string> Names(const RankingReply& reply) {
  std::vector<std::string> out;
  for (int i = 0; i < reply.filled; ++i) out.push_back(reply.table[i].name);
  return out;
}

}  // namespace

TEST(RankService, ClientBodyDecodesToTheSameRecord) {
  for (const RankRecord& r : {Rec("ABC", 42, 500, "hi"), Rec("ほろぐ", 9999, 19999999, "やった！　+-/~"),
                              Rec("ｶﾀｶﾅ", 0, 0, ""), Rec("portal5529", 1, 25000000, "a#{b")}) {
    for (int random : {0, 9, 10, 98}) {
      std::string why;
      auto w = DecodeSendBody(Body(r, random), &why);
      ASSERT_TRUE(w) << r.name << ": " << why;
      EXPECT_EQ(RecordText(*w), BuildRecordText(r).value());
    }
  }
  auto w = DecodeSendBody(Body(Rec("portal5529", 1, 25000000, "a#{b")));
  EXPECT_EQ(w->name, "GM");
  EXPECT_EQ(w->score, 19999999);
  EXPECT_EQ(w->comment, "a#.b");
}

TEST(RankService, WriteRepliesWithTheRankingTheGameReads) {
  auto store = RankStore::Open(":memory:");
  ASSERT_TRUE(store);
  ServiceReply r = Post(*store, 1, Body(Rec("ABC", 42, 500, "hi")));
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.content_type, "text/plain; charset=Shift_JIS");
  RankingReply reply = ParseRankingReply(r.body);
  ASSERT_EQ(reply.messages.size(), 1u);
  EXPECT_EQ(reply.messages[0], "[mランキングに登録しました");
  ASSERT_EQ(reply.filled, 1);
  EXPECT_EQ(reply.table[0].name, "ABC");
  EXPECT_EQ(reply.table[0].id, 42);
  EXPECT_EQ(reply.table[0].score, 500);
  EXPECT_EQ(reply.table[0].comment, "hi");
  EXPECT_EQ(reply.table[0].date, "3/4");
  EXPECT_EQ(reply.table[0].play_count, 12);
  EXPECT_EQ(OwnRankIndex(reply.table, "ABC", 42), 0);
  // Reading gives the same table without the note.
  RankingReply read = Read(*store, 1);
  EXPECT_TRUE(read.messages.empty());
  EXPECT_EQ(Names(read), std::vector<std::string>{"ABC"});
  EXPECT_EQ(Read(*store, 2).filled, 0);  // modes are separate
}

TEST(RankService, KeepsEachPlayersBestAndOrdersByScoreThenSubmission) {
  auto store = RankStore::Open(":memory:");
  ASSERT_TRUE(store);
  ASSERT_EQ(Post(*store, 3, Body(Rec("A", 1, 500, "first"))).status, 200);
  ASSERT_EQ(Post(*store, 3, Body(Rec("B", 2, 500))).status, 200);
  ASSERT_EQ(Post(*store, 3, Body(Rec("A", 1, 300, "worse"))).status, 200);  // accepted, not kept
  EXPECT_EQ(Names(Read(*store, 3)), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(Read(*store, 3).table[0].comment, "first");

  ASSERT_EQ(Post(*store, 3, Body(Rec("B", 2, 700, "better"))).status, 200);
  ASSERT_EQ(Post(*store, 3, Body(Rec("C", 3, 700))).status, 200);
  ASSERT_EQ(Post(*store, 3, Body(Rec("A", 9, 900))).status, 200);  // same name, other player
  RankingReply reply = Read(*store, 3);
  EXPECT_EQ(Names(reply), (std::vector<std::string>{"A", "B", "C", "A"}));
  EXPECT_EQ(reply.table[0].id, 9);
  EXPECT_EQ(reply.table[1].comment, "better");
  EXPECT_EQ(reply.table[3].score, 500);
  EXPECT_EQ(OwnRankIndex(reply.table, "A", 1), 3);
}

TEST(RankService, AnswersAtMostAThousandLines) {
  text::CodecModules keep_converters_loaded;
  auto store = RankStore::Open(":memory:");
  ASSERT_TRUE(store);
  for (int i = 0; i < 1005; ++i) ASSERT_TRUE(store->Submit(5, Wire("P" + std::to_string(i), i, i)));
  EXPECT_EQ(store->Count(5), 1005);
  RankingReply reply = Read(*store, 5);
  EXPECT_EQ(reply.filled, 1000);
  EXPECT_EQ(reply.table[0].name, "P1004");
  EXPECT_EQ(reply.table[999].name, "P5");
}

TEST(RankService, RefusesMalformedOversizedAndOutOfRangeRequests) {
  auto store = RankStore::Open(":memory:");
  ASSERT_TRUE(store);
  ASSERT_EQ(Post(*store, 1, Body(Rec("KEEP", 1, 100, "kept"))).status, 200);

  const std::string h(kRecordHeader);
  const std::string valid = BuildRecordText(Rec("X", 1, 5)).value();
  std::string oversized = Body(Rec("X", 1, 5));
  while (oversized.size() <= kMaxRequestBody) oversized = "%41" + oversized;
  const std::string lower = [&] {
    std::string b = Body(Rec("X", 1, 5));
    for (char& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return b;
  }();
  ASSERT_EQ(Post(*store, 1, lower).status, 200);  // lower-case hex is still hex
  ASSERT_EQ(store->Count(1), 2);

  const std::pair<const char*, std::string> bad_bodies[] = {
      {"empty", ""},
      {"not percent-encoded", "hello"},
      {"oversized", oversized},
      {"no tail mark", PercentEncodeAll(EncodeWireLine(valid).value() + "12")},
      {"tail number 99", PercentEncodeAll(EncodeWireLine(valid).value() + "\x82\xA0" "99")},
      {"tail number 3 digits", PercentEncodeAll(EncodeWireLine(valid).value() + "\x82\xA0" "001")},
      {"not UTF-7", PercentEncodeAll("\xFF\xFE\x82\xA0" "1")},
      {"no framing", PercentEncodeAll(*Utf16ToUtf7(*Cp932ToUtf16(valid)) + "\x82\xA0" "1")},
      {"no header", RawBody("XXXXXXXXXXXX" + valid.substr(12))},
      {"10 fields", RawBody(h + "X#{1#{5#{0#{c#{0#{3/4#{0#{1#{0#{")},
      {"12 fields (separator in comment)", RawBody(h + "X#{1#{5#{0#{a#{b#{0#{3/4#{0#{1#{0#{0#{")},
      {"text after last field", RawBody(valid + "junk")},
      {"empty name", RawBody(h + "#{1#{5#{0#{c#{0#{3/4#{0#{1#{0#{0#{")},
      {"13-byte name", RawBody(h + "ABCDEFGHIJKLM#{1#{5#{0#{c#{0#{3/4#{0#{1#{0#{0#{")},
      {"31-byte comment", RawBody(h + "X#{1#{5#{0#{" + std::string(31, 'c') + "#{0#{3/4#{0#{1#{0#{0#{")},
      {"control character", RawBody(h + "X#{1#{5#{0#{a\tb#{0#{3/4#{0#{1#{0#{0#{")},
      {"id 10000", RawBody(h + "X#{10000#{5#{0#{c#{0#{3/4#{0#{1#{0#{0#{")},
      {"negative id", RawBody(h + "X#{-1#{5#{0#{c#{0#{3/4#{0#{1#{0#{0#{")},
      {"score 20000000", RawBody(h + "X#{1#{20000000#{0#{c#{0#{3/4#{0#{1#{0#{0#{")},
      {"score not a number", RawBody(h + "X#{1#{5a#{0#{c#{0#{3/4#{0#{1#{0#{0#{")},
      {"play count too big", RawBody(h + "X#{1#{5#{0#{c#{0#{3/4#{0#{99999999999#{0#{0#{")},
      {"month 13", RawBody(h + "X#{1#{5#{0#{c#{0#{13/4#{0#{1#{0#{0#{")},
      {"day 0", RawBody(h + "X#{1#{5#{0#{c#{0#{3/0#{0#{1#{0#{0#{")},
      {"leading zero in date", RawBody(h + "X#{1#{5#{0#{c#{0#{03/4#{0#{1#{0#{0#{")},
  };
  for (const auto& [what, body] : bad_bodies) {
    ServiceReply r = Post(*store, 1, body);
    EXPECT_EQ(r.status, 400) << what;
  }
  for (const char* query : {"write&0", "write&8", "write&", "write&1x", "write&11", "write=1", "", "read&1"}) {
    EXPECT_EQ(HandleRankRequest(*store, "POST", kPath, query, Body(Rec("Q", 1, 5))).status, 400) << query;
  }
  EXPECT_EQ(HandleRankRequest(*store, "GET", kPath, "write&1", Body(Rec("Q", 1, 5))).status, 400);
  EXPECT_EQ(HandleRankRequest(*store, "GET", kPath, "read&8", "").status, 400);
  EXPECT_EQ(HandleRankRequest(*store, "GET", "/other", "read&1", "").status, 404);

  // Nothing refused changed the ranking.
  for (int mode = 1; mode <= 7; ++mode) EXPECT_EQ(store->Count(mode), mode == 1 ? 2 : 0) << mode;
  RankingReply reply = Read(*store, 1);
  EXPECT_EQ(reply.table[0].name, "KEEP");
  EXPECT_EQ(reply.table[0].comment, "kept");
}

TEST(RankService, RandomAndMutatedBodiesNeverCrashTheDecoder) {
  text::CodecModules keep_converters_loaded;
  std::mt19937 rng(12345);
  const std::string good = Body(Rec("ほろぐ", 77, 1234, "コメント#{x"));
  int decoded = 0;
  for (int i = 0; i < 8000; ++i) {
    std::string b = good;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = rng() % b.size();
      switch (rng() % 3) {
        case 0: b[at] = "0123456789ABCDEF%"[rng() % 17]; break;
        case 1: b.erase(at, 1 + rng() % 3); break;
        default: b.insert(at, "%" + std::string(1, "0123456789ABCDEF"[rng() % 16]) + "F"); break;
      }
      if (b.empty()) b = "%";
    }
    if (auto w = DecodeSendBody(b)) {
      ++decoded;
      // Whatever gets through is a sound record that survives a round trip.
      auto again = DecodeSendBody(BuildSendBody(RecordText(*w), 0).value());
      ASSERT_TRUE(again);
      EXPECT_EQ(RecordText(*again), RecordText(*w));
    }
    std::string raw(static_cast<std::size_t>(rng() % 200), '\0');
    for (char& c : raw) c = static_cast<char>(rng());
    EXPECT_FALSE(DecodeSendBody(raw));
    ParseRankingReply(raw);
  }
  EXPECT_LT(decoded, 8000);
}

TEST(RankService, AcceptedRecordsSurviveARestart) {
  ScratchDb db;
  {
    auto store = RankStore::Open(db.path());
    ASSERT_TRUE(store);
    ASSERT_EQ(Post(*store, 7, Body(Rec("STAY", 5, 4242, "still here"))).status, 200);
  }
  auto store = RankStore::Open(db.path());
  ASSERT_TRUE(store);
  RankingReply reply = Read(*store, 7);
  ASSERT_EQ(reply.filled, 1);
  EXPECT_EQ(reply.table[0].name, "STAY");
  EXPECT_EQ(reply.table[0].comment, "still here");
  std::string error;
  EXPECT_FALSE(RankStore::Open("/nonexistent-folder/x.db", &error));
  EXPECT_FALSE(error.empty());
}

TEST(RankService, ConcurrentWritersAllKept) {
  text::CodecModules keep_converters_loaded;
  ScratchDb db;
  auto store = RankStore::Open(db.path());
  ASSERT_TRUE(store);
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        if (Post(*store, 1 + i % 7, Body(Rec("T" + std::to_string(t) + "_" + std::to_string(i), t, i))).status == 200) ok++;
        Read(*store, 1 + i % 7);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ok, 100);
  long long total = 0;
  for (int mode = 1; mode <= 7; ++mode) total += store->Count(mode).value_or(0);
  EXPECT_EQ(total, 100);
}

TEST(RankService, LocalHttpTakesTheSameRequests) {
  auto store = RankStore::Open(":memory:");
  ASSERT_TRUE(store);
  auto http = MakeLocalRankHttp(*store);
  HttpReply w = http->Post(RankingUrl("local", true, 2), Body(Rec("ME", 3, 77)));
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.status, 200);
  HttpReply r = http->Get(RankingUrl("local", false, 2));
  ASSERT_TRUE(r.ok);
  RankingReply reply = ParseRankingReply(r.body);
  EXPECT_EQ(OwnRankIndex(reply.table, "ME", 3), 0);
  EXPECT_EQ(http->Post(RankingUrl("local", true, 2), "%41").status, 400);
}
