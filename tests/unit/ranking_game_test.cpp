// The game's side of the online ranking: the exchanges on their worker
// thread, the comment send, the ranking screen and the local ranking.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "effects/log.h"
#include "menu_test_util.h"
#include "menus/save.h"
#include "platform/text.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/http_fake.h"
#include "platform/window.h"
#include "ranking/comment_entry.h"
#include "ranking/exchange.h"
#include "rank_service/rank_codec.h"
#include "ranking/key_file.h"
#include "ranking/name_entry.h"
#include "ranking/rank_list.h"
#include "rank_service/rank_service.h"
#include "ranking/ranking_screen.h"
#include "replay/recorder.h"
#include "shell/form.h"

using namespace std::string_literals;

namespace {

// A reply line for a record, as a ranking server writes it.
std::string WireLine(const std::string& name, int id, int score, const std::string& comment = "",
                     int plays = 1) {
  RankRecord r;
  r.name = name;
  r.player_id = id;
  r.score = score;
  r.comment = comment;
  r.month = 3;
  r.day = 4;
  r.play_count = plays;
  auto text = BuildRecordText(r);
  auto line = text ? EncodeWireLine(*text) : std::nullopt;
  EXPECT_TRUE(line.has_value());
  return line.value_or("");
}

// A player who has just beaten the EASY hi score, as after a game over.
void AfterNewHiScore(Game& g, int score = 500) {
  g.run.title_phase = 0;
  g.my.name() = "Tester";
  g.my.player_id() = 42;
  g.my.mode = EASY;
  g.my.play_count(EASY) = 12;
  g.my.score() = score;
  g.run.game_over_banner = 1;
  ApplyHiScoreRule(g);
  ASSERT_EQ(g.run.record_mode, 1);
}

void Event(Game& g, InputEvent::Type type, int button = 0, int x = 0, int y = 0, int key = 0,
           const std::string& text = "") {
  InputEvent e;
  e.type = type;
  e.button = button;
  e.x = x;
  e.y = y;
  e.key = key;
  e.text = text;
  DispatchInput(g, e);
}

// The click after the game over, the comment typed and Enter.
void EnterComment(Game& g, const std::string& comment) {
  Event(g, InputEvent::kMouseDown, 0, 300, 100);
  ASSERT_TRUE(g.panels.hi_score_box_visible);
  g.panels.hi_score_l.text.clear();
  Event(g, InputEvent::kTextInput, 0, 0, 0, 0, comment);
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 13);
}

// An Http whose requests wait until the test lets them go.
class GateHttp : public Http {
 public:
  HttpReply Get(const std::string&, const HttpHeaders& = {}) override { return Hold(); }
  HttpReply Post(const std::string&, const std::string&, const HttpHeaders& = {}) override { return Hold(); }

  void Release(HttpReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = std::move(reply);
    open_ = true;
    cv_.notify_all();
  }
  bool WaitEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_; });
  }
  bool WaitReturned() {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return returned_; });
  }

 private:
  HttpReply Hold() {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return open_; });
    returned_ = true;
    cv_.notify_all();
    return reply_;
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  bool entered_ = false, open_ = false, returned_ = false;
  HttpReply reply_;
};

HttpReply Ok(std::string body) {
  HttpReply r;
  r.ok = true;
  r.status = 200;
  r.body = std::move(body);
  return r;
}

// A loopback socket that takes connections and never answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 8) == 0) {
      socklen_t len = sizeof a;
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
      port_ = ntohs(a.sin_port);
    }
  }
  ~SilentServer() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

void WriteServerFile(const Game& g, const std::string& text) {
  std::ofstream(g.pf.data_dir + "/server.txt", std::ios::binary) << text;
}

std::string SavedText(const Game& g) { return text::Cp932ToUtf8Lossy(ReadWholeFile(SavePath(g)).value_or(""), text::kReplacementCharacter); }

}  // namespace

// ---- the comment send ----

TEST(RankingSend, SuccessShowsTheModesListWithTheOwnLineSelected) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  AfterNewHiScore(g, 500);
  http->PushOk(WireLine("Alice", 7, 900) + "\r\n" + WireLine("Tester", 42, 500, "hi", 12) + "\r\n" +
               WireLine("Bob", 8, 100) + "\r\n");
  ListenToSounds(*t);

  EnterComment(g, "hi");
  ASSERT_TRUE(WaitRankExchange(g, 10000));

  EXPECT_FALSE(g.ranking.busy);
  EXPECT_FALSE(g.panels.hi_score_box_visible);
  EXPECT_EQ(g.run.record_mode, 0);
  EXPECT_EQ(g.my.comment(EASY), "hi");
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.panels.rank_l, ">>> EASY RANKING");
  ASSERT_EQ(g.panels.rank_list.size(), 1000u);
  EXPECT_EQ(g.panels.rank_selected, 1);
  EXPECT_EQ(g.panels.rank_list[1], "2    500       Tester       12回   3/4  hi");
  EXPECT_EQ(g.panels.rank_list[3], "4    --------");
  EXPECT_TRUE(Heard(*t, "1.wav"));
  EXPECT_TRUE(Heard(*t, "mes.wav"));
  EXPECT_TRUE(LogTexts(g).empty());  // "送信中...." is cleared with the rest

  auto req = http->Requests();
  ASSERT_EQ(req.size(), 1u);
  EXPECT_EQ(req[0].method, "POST");
  EXPECT_EQ(req[0].url, "http://localhost/zrk/zrk_rank.exe?write&1");
  auto sent = DecodeSendBody(req[0].body);
  ASSERT_TRUE(sent.has_value());
  EXPECT_EQ(sent->name, "Tester");
  EXPECT_EQ(sent->id, 42);
  EXPECT_EQ(sent->score, 500);
  EXPECT_EQ(sent->comment, "hi");
  EXPECT_EQ(sent->play_count, 12);
  EXPECT_EQ(sent->date, "1/1");  // the virtual clock's date
}

TEST(RankingSend, FailureLogsTheErrorAndKeepsTheCommentAndTheTable) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  g.ranking.table[0].name = "Earlier";
  AfterNewHiScore(g, 700);
  http->PushFailure("connection refused");

  EnterComment(g, "また来ます");
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  AfterInput(g);

  EXPECT_FALSE(g.ranking.busy);
  EXPECT_FALSE(g.panels.rank_box_visible);
  EXPECT_EQ(LogTexts(g), (std::vector<std::string>{kSendingText, kSendErrorText}));
  EXPECT_EQ(g.my.comment(EASY), "また来ます");
  EXPECT_EQ(g.my.hi_score(EASY), 700);
  EXPECT_EQ(g.ranking.table[0].name, "Earlier");
  // Nothing is lost: the save file holds the comment and the hi score.
  const std::string saved = SavedText(g);
  EXPECT_NE(saved.find("また来ます"), std::string::npos);
  EXPECT_NE(saved.find("700"), std::string::npos);
}

TEST(RankingSend, AStatusOtherThan200FailsTheSend) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  AfterNewHiScore(g);
  http->PushOk(WireLine("Alice", 7, 900) + "\r\n", 500);
  EnterComment(g, "x");
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_TRUE(LogHas(g, kSendErrorText));
  EXPECT_FALSE(g.panels.rank_box_visible);
  EXPECT_TRUE(g.ranking.table[0].name.empty());
}

TEST(RankingSend, ATypedSeparatorIsSentAsDotButStoredAsTyped) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  AfterNewHiScore(g);
  http->PushOk("");
  EnterComment(g, "a#{b#{");
  ASSERT_TRUE(WaitRankExchange(g, 10000));

  EXPECT_EQ(g.my.comment(EASY), "a#{b#{");
  auto req = http->Requests();
  ASSERT_EQ(req.size(), 1u);
  auto body = PercentDecodeStrict(req[0].body);
  ASSERT_TRUE(body.has_value());
  // The body ends in "あ" (82 A0) and the random number 0..98.
  const std::size_t mark = body->rfind(std::string(kBodyTailMark));
  ASSERT_NE(mark, std::string::npos);
  const std::string digits = body->substr(mark + 2);
  ASSERT_TRUE(digits.size() == 1 || digits.size() == 2) << digits;
  auto text = DecodeWireLine(body->substr(0, mark));
  ASSERT_TRUE(text.has_value());
  // Exactly the eleven separators of the record after the header.
  const std::string record = text->substr(kFrameOpen.size(), text->size() - 8);
  int separators = 0;
  for (std::size_t at = record.find("#{"); at != std::string::npos; at = record.find("#{", at + 2)) ++separators;
  EXPECT_EQ(separators, 12);  // the header's and one after each of the 11 fields
  EXPECT_NE(record.find("a#.b#.#{0#{"), std::string::npos);
  auto sent = DecodeSendBody(req[0].body);
  ASSERT_TRUE(sent.has_value());
  EXPECT_EQ(sent->comment, "a#.b#.");
  EXPECT_EQ(sent->play_count, 12);  // the fields after the comment did not shift
}

// ---- the busy flag and what the player can do meanwhile ----

TEST(RankingBusy, ClicksAndKeysAreIgnoredWhileTheExchangeRuns) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto gate = std::make_shared<GateHttp>();
  g.pf.http = gate;
  AfterNewHiScore(g);
  EnterComment(g, "wait");
  ASSERT_TRUE(gate->WaitEntered());
  EXPECT_TRUE(g.ranking.busy);

  // A button held when the exchange began is let go meanwhile: the release is seen.
  g.input.click = 1;
  Event(g, InputEvent::kMouseUp, 0, 300, 100);
  EXPECT_EQ(g.input.click, 0);

  // The main thread goes on: polls, clicks and keys come back at once and change nothing.
  EXPECT_FALSE(PollRankExchange(g));
  const int menu_screen = g.menu.screen;
  const int banner = g.run.game_over_banner;
  Event(g, InputEvent::kMouseDown, 0, 300, 100);
  Event(g, InputEvent::kKeyDown, 0, 0, 0, 32);
  Event(g, InputEvent::kMouseMove, 0, 123, 45);
  EXPECT_EQ(g.menu.screen, menu_screen);
  EXPECT_EQ(g.run.game_over_banner, banner);
  EXPECT_EQ(g.run.paused, 0);
  EXPECT_EQ(g.input.mouse_x, 123);  // the pointer is still followed
  EXPECT_FALSE(SendRecord(g, 1, 1, nullptr));  // one exchange at a time
  EXPECT_FALSE(ReadRanking(g, 1, nullptr));
  Canvas screen(640, 480, g.pf.fonts);
  ComposeWindow(g, screen);  // the window can be painted

  gate->Release(Ok(WireLine("Tester", 42, 500) + "\r\n"));
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_FALSE(g.ranking.busy);
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.panels.rank_selected, 0);
}

TEST(RankingBusy, TheFlagIsClearedOnEveryWayOut) {
  struct Case {
    const char* what;
    std::function<void(Game&, ScriptedHttp&)> setup;
    int result;
  };
  const Case cases[] = {
      {"success", [](Game&, ScriptedHttp& h) { h.PushOk(""); }, 0},
      {"network error", [](Game&, ScriptedHttp& h) { h.PushFailure(); }, -1},
      {"status 404", [](Game&, ScriptedHttp& h) { h.PushOk("", 404); }, -1},
      {"bad server.txt", [](Game& g, ScriptedHttp&) { WriteServerFile(g, "evil.example/x?y\n"); }, -1},
      {"name CP932 cannot hold", [](Game& g, ScriptedHttp& h) { g.my.name() = "😀"; h.PushOk(""); }, -1},
  };
  for (const Case& c : cases) {
    for (bool write : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (write ? " (send)" : " (read)"));
      auto t = MakeTestGame();
      Game& g = t->g();
      auto http = std::make_shared<ScriptedHttp>();
      g.my.name() = "Tester";
      c.setup(g, *http);
      // A bad server.txt is only read when no client is given.
      if (std::string(c.what) != "bad server.txt") g.pf.http = http;
      int got = 99;
      auto then = [](Game& gg, int result, int) { gg.run.frame_no = result; };
      g.run.frame_no = 99;
      ASSERT_TRUE(write ? SendRecord(g, 1, 10, then) : ReadRanking(g, 1, then));
      ASSERT_TRUE(WaitRankExchange(g, 10000));
      got = g.run.frame_no;
      EXPECT_FALSE(g.ranking.busy);
      EXPECT_FALSE(RankExchangeRunning(g));
      const int expected = (!write && std::string(c.what) == "name CP932 cannot hold") ? 0 : c.result;
      EXPECT_EQ(got, expected);
    }
  }
}

TEST(RankingBusy, AServerThatNeverAnswersFailsAfterTheLimitWithoutHoldingTheMainThread) {
  SilentServer server;
  ASSERT_NE(server.port(), 0);
  auto t = MakeTestGame();
  Game& g = t->g();
  g.pf.http = std::shared_ptr<Http>(MakeCurlHttp(300));
  WriteServerFile(g, "127.0.0.1:" + std::to_string(server.port()) + "\n");
  AfterNewHiScore(g);

  const auto start = std::chrono::steady_clock::now();
  EnterComment(g, "zzz");
  // Everything the main loop does while waiting comes back at once.
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(PollRankExchange(g));
    Event(g, InputEvent::kMouseDown, 0, 300, 100);
  }
  const auto held = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(g.ranking.busy);
  EXPECT_LT(held, std::chrono::milliseconds(500));

  ASSERT_TRUE(WaitRankExchange(g, 15000));
  EXPECT_FALSE(g.ranking.busy);
  EXPECT_TRUE(LogHas(g, kSendErrorText));
  EXPECT_EQ(g.my.comment(EASY), "zzz");
}

TEST(RankingBusy, EachStepEndsAfterTenSecondsOnTheGameClockWhateverTheClientDoes) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto send_gate = std::make_shared<GateHttp>();
  g.pf.http = send_gate;
  AfterNewHiScore(g);
  EnterComment(g, "slow");
  ASSERT_TRUE(send_gate->WaitEntered());
  g.ranking.table[0].name = "Kept";

  // The frames go on meanwhile; the game stops waiting at the limit.
  t->clock.AdvanceUs(int64_t(kRankStepMs) * 1000 - 100000);
  EXPECT_FALSE(PollRankExchange(g));
  EXPECT_TRUE(g.ranking.busy);
  t->clock.AdvanceUs(100001);
  ASSERT_TRUE(PollRankExchange(g));
  EXPECT_FALSE(g.ranking.busy);
  EXPECT_TRUE(LogHas(g, kSendErrorText));
  EXPECT_EQ(g.my.comment(EASY), "slow");
  EXPECT_FALSE(g.panels.rank_box_visible);

  // A read that never ends shows the list as it was, and says why.
  auto read_gate = std::make_shared<GateHttp>();
  g.pf.http = read_gate;
  FetchAndShowRanking(g, 1);
  ASSERT_TRUE(read_gate->WaitEntered());
  t->clock.AdvanceUs(int64_t(kRankStepMs) * 1000 + 1);
  ASSERT_TRUE(PollRankExchange(g));
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.panels.rank_note, kRankUnreachableText);
  EXPECT_TRUE(LogHas(g, kRankUnreachableText));
  EXPECT_EQ(g.ranking.table[0].name, "Kept");

  // The answers that come late change nothing, and the workers let go.
  send_gate->Release(Ok(WireLine("Late", 1, 900) + "\r\n"));
  read_gate->Release(Ok(WireLine("Late", 1, 900) + "\r\n"));
  ASSERT_TRUE(send_gate->WaitReturned());
  ASSERT_TRUE(read_gate->WaitReturned());
  EXPECT_FALSE(PollRankExchange(g));
  EXPECT_EQ(g.ranking.table[0].name, "Kept");
  g.pf.http.reset();
  for (int i = 0; i < 500 && (send_gate.use_count() > 1 || read_gate.use_count() > 1); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(send_gate.use_count(), 1);
  EXPECT_EQ(read_gate.use_count(), 1);
}

TEST(RankingBusy, ClosingDuringAnExchangeSavesAndDoesNotWait) {
  auto gate = std::make_shared<GateHttp>();
  std::string data_dir = MakeTempDir();
  {
    auto t = MakeTestGame(1, data_dir);
    Game& g = t->g();
    g.pf.http = gate;
    AfterNewHiScore(g, 800);
    EnterComment(g, "bye");
    ASSERT_TRUE(gate->WaitEntered());
    ASSERT_TRUE(g.ranking.busy);

    Event(g, InputEvent::kClose);
    EXPECT_TRUE(g.run.quit);
    EXPECT_TRUE(RankExchangeRunning(g));
    AbandonRankExchange(g);
    EXPECT_FALSE(g.ranking.busy);
    FormDestroy(g);
    g.pf.http.reset();
  }  // the game is gone while the request still waits

  const std::string saved = text::Cp932ToUtf8Lossy(ReadWholeFile(data_dir + "/my.dat").value_or(""), text::kReplacementCharacter);
  EXPECT_NE(saved.find("bye"), std::string::npos);
  EXPECT_NE(saved.find("800"), std::string::npos);

  // The worker ends on its own later and lets go of everything it held.
  gate->Release(Ok(""));
  ASSERT_TRUE(gate->WaitReturned());
  for (int i = 0; i < 500 && gate.use_count() > 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(gate.use_count(), 1);
}

// ---- replies ----

TEST(RankingReply, ServerMessagesGoToTheLogInPink2) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  const std::string notice = text::Utf8ToCp932("[mメンテナンスのお知らせ").value();
  http->PushOk(notice + "\r\n" + WireLine("Alice", 7, 900) + "\r\n[m second\n");
  ASSERT_TRUE(ReadRanking(g, 2, nullptr));
  ASSERT_TRUE(WaitRankExchange(g, 10000));

  EXPECT_EQ(http->Requests().at(0).url, "http://localhost/zrk/zrk_rank.exe?read&2");
  EXPECT_EQ(http->Requests().at(0).method, "GET");
  std::vector<std::pair<std::string, int>> lines;
  for (const LogRecord& r : g.log.records)
    if (!r.text.empty()) lines.emplace_back(r.text, r.code);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].first, "[mメンテナンスのお知らせ");
  EXPECT_EQ(lines[1].first, "[m second");
  EXPECT_EQ(lines[0].second, LogColourCode("pink2"));
  EXPECT_EQ(lines[1].second, LogColourCode("pink2"));
  EXPECT_EQ(g.ranking.table[0].name, "Alice");
}

TEST(RankingReply, GarbageEmptiesTheTableWithoutHarm) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  g.my.name() = "Tester";
  g.ranking.table[0].name = "Old";
  std::string garbage = "\x00\xff\xfe+AAA-k[]k\r\n\x81\r\r\n+++---#{#{#{\n"s;
  garbage += std::string(3000, '\x82');
  http->PushOk(garbage);
  ASSERT_TRUE(ReadRanking(g, 1, nullptr));
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  ASSERT_EQ(g.ranking.table.size(), static_cast<std::size_t>(kRankEntries));
  for (const RankEntry& e : g.ranking.table) EXPECT_TRUE(e.name.empty());
  FillRankingList(g);
  EXPECT_EQ(g.panels.rank_selected, -1);
  EXPECT_EQ(g.panels.rank_list[0], "1    --------");
}

// ---- the ranking screen ----

TEST(RankingScreen, ARankButtonReadsAndShowsTheList) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  g.my.name() = "Tester";
  g.my.player_id() = 42;
  g.my.play_count(HARD) = 1;
  ToStartScreen(g);
  ASSERT_TRUE(ClickButton(g, "RANKING"));
  ASSERT_EQ(g.menu.screen, kRankingScreen);
  http->PushOk(WireLine("Alice", 7, 900) + "\r\n" + WireLine("Tester", 42, 300) + "\r\n");
  ListenToSounds(*t);

  ASSERT_TRUE(ClickButton(g, "HARD RANK"));
  EXPECT_TRUE(g.ranking.busy);
  EXPECT_TRUE(LogHas(g, "読み込み中........"));
  ASSERT_TRUE(WaitRankExchange(g, 10000));

  EXPECT_EQ(http->Requests().at(0).url, "http://localhost/zrk/zrk_rank.exe?read&2");
  EXPECT_TRUE(LogTexts(g).empty());
  EXPECT_EQ(g.panels.rank_l, ">>> HARD RANKING");
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.panels.rank_selected, 1);
  EXPECT_TRUE(Heard(*t, "1.wav"));
}

TEST(RankingScreen, AFailedReadShowsTheTableAsItWas) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  g.my.name() = "Tester";
  g.ranking.table[0].name = "Kept";
  g.ranking.table[0].score = 5;
  http->PushFailure();
  FetchAndShowRanking(g, 7);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.panels.rank_l, ">>> HELL RANKING");
  EXPECT_EQ(g.panels.rank_list[0].substr(0, 9), "1    5   ");
  EXPECT_EQ(http->Requests().at(0).url, "http://localhost/zrk/zrk_rank.exe?read&7");
  // Not an empty ranking: it says the server could not be reached, under the list and in the log.
  EXPECT_EQ(g.panels.rank_note, kRankUnreachableText);
  EXPECT_TRUE(LogHas(g, kRankUnreachableText));

  // Another mode's read fails after EASY was read: the list is still EASY's, and says so.
  g.panels.rank_box_visible = false;
  http->PushOk(WireLine("Easy", 1, 777) + "\r\n");
  FetchAndShowRanking(g, 1);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_TRUE(g.panels.rank_note.empty());
  http->PushFailure();
  FetchAndShowRanking(g, 2);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(g.panels.rank_l, ">>> EASY RANKING");
  EXPECT_EQ(g.panels.rank_mode, 1);
  EXPECT_EQ(g.panels.rank_note, kRankUnreachableText);
  EXPECT_TRUE(LogHas(g, kRankUnreachableText));
}

// ---- where requests go ----

TEST(RankingServerFile, OnlyAPlainHostOrHostAndPortIsUsed) {
  EXPECT_TRUE(IsValidServerHost("rank.example.org"));
  EXPECT_TRUE(IsValidServerHost("127.0.0.1:8765"));
  EXPECT_TRUE(IsValidServerHost("[::1]:8765"));
  EXPECT_TRUE(IsValidServerHost("localhost"));
  EXPECT_FALSE(IsValidServerHost("rank.example.org/evil"));
  EXPECT_FALSE(IsValidServerHost("user@host"));
  EXPECT_FALSE(IsValidServerHost("host:0"));
  EXPECT_FALSE(IsValidServerHost("host:70000"));
  EXPECT_FALSE(IsValidServerHost("host:"));
  EXPECT_FALSE(IsValidServerHost("host name"));
  EXPECT_FALSE(IsValidServerHost("http://host"));
  EXPECT_FALSE(IsValidServerHost("-host"));

  auto t = MakeTestGame();
  Game& g = t->g();
  EXPECT_FALSE(ReadServerHost(g).has_value());  // no file: the local ranking
  WriteServerFile(g, "\xEF\xBB\xBF  rank.example.org:8080 \r\nignored\r\n");
  EXPECT_EQ(ReadServerHost(g), std::optional<std::string>("rank.example.org:8080"));
  WriteServerFile(g, "\n\n");
  EXPECT_FALSE(ReadServerHost(g).has_value());
  WriteServerFile(g, "host/../x\n");
  EXPECT_EQ(ReadServerHost(g), std::optional<std::string>(""));
}

TEST(RankingServerFile, TheHostOfServerTxtIsInTheUrl) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  WriteServerFile(g, "rank.example.org:8765\n");
  http->PushOk("");
  ASSERT_TRUE(ReadRanking(g, 3, nullptr));
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(http->Requests().at(0).url, "http://rank.example.org:8765/zrk/zrk_rank.exe?read&3");
}

TEST(RankingLocal, WithNoServerTheRankingIsKeptBesideTheSave) {
  const std::string data_dir = MakeTempDir();
  {
    auto t = MakeTestGame(1, data_dir);
    Game& g = t->g();
    AfterNewHiScore(g, 1234);
    EnterComment(g, "ローカル");
    ASSERT_TRUE(WaitRankExchange(g, 10000));
    EXPECT_TRUE(g.panels.rank_box_visible);
    EXPECT_EQ(g.panels.rank_selected, 0);
    EXPECT_EQ(g.ranking.table[0].name, "Tester");
    EXPECT_EQ(g.ranking.table[0].score, 1234);
    EXPECT_EQ(g.ranking.table[0].comment, "ローカル");
    EXPECT_TRUE(FileExists(data_dir + "/ranking.db"));
  }
  // Another run of the game reads the same ranking back.
  auto t = MakeTestGame(2, data_dir);
  Game& g = t->g();
  g.my.name() = "Tester";
  g.my.player_id() = 42;
  ASSERT_TRUE(ReadRanking(g, 1, nullptr));
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(g.ranking.table[0].name, "Tester");
  EXPECT_EQ(g.ranking.table[0].score, 1234);
  EXPECT_EQ(OwnRankIndex(g), 0);
  // Other modes are kept apart.
  ASSERT_TRUE(ReadRanking(g, 2, nullptr));
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_TRUE(g.ranking.table[0].name.empty());
}

TEST(RankingLocal, AnUnwritableDataFolderFailsTheSendAndKeepsTheComment) {
  auto t = MakeTestGame(1, "/proc/kv-no-such-folder");
  Game& g = t->g();
  AfterNewHiScore(g);
  EnterComment(g, "kept");
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_FALSE(g.ranking.busy);
  EXPECT_TRUE(LogHas(g, kSendErrorText));
  EXPECT_EQ(g.my.comment(EASY), "kept");
}

namespace {

// The run's hi-score replay as the recorder keeps it.
std::string KeepHiScoreReplay(Game& g, int mode, const std::string& bytes) {
  g.recorder = std::make_shared<ReplayRecorder>();
  EXPECT_TRUE(MakeDirectories(ReplayDir(g)));
  std::ofstream(HiScoreReplayPath(g, mode), std::ios::binary) << bytes;
  return bytes;
}

std::string JoinedLog(const Game& g) {
  std::string all;
  for (const std::string& line : LogTexts(g)) all += line;
  return all;
}

}  // namespace

TEST(RankingReplay, TheRunsReplayGoesUpAfterTheRecordAndARefusalCostsOnlyALine) {
  auto t = MakeTestGame(1, MakeTempDir());
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  AfterNewHiScore(g, 500);
  const std::string replay = KeepHiScoreReplay(g, EASY, "KVRP\x01 the run's bytes"s);
  const std::string ranking = WireLine("Alice", 7, 900) + "\r\n" + WireLine("Tester", 42, 500, "hi", 12) + "\r\n";
  http->PushOk(ranking);
  http->PushOk("refused: the replay does not play as recorded: differs at frame 250\r\n", 422);

  EnterComment(g, "hi");
  ASSERT_TRUE(WaitRankExchange(g, 10000));  // the record
  ASSERT_TRUE(WaitRankExchange(g, 10000));  // its replay
  EXPECT_FALSE(g.ranking.busy);
  auto req = http->Requests();
  ASSERT_EQ(req.size(), 2u);
  EXPECT_EQ(req[1].method, "POST");
  EXPECT_EQ(req[1].url, "http://localhost/zrk/replay?1&name=%54%65%73%74%65%72&id=42&score=500");
  EXPECT_EQ(req[1].body, replay);
  // Refused: a line with the server's reason; the list and the file stay.
  EXPECT_NE(JoinedLog(g).find(kReplayUploadErrorText), std::string::npos) << JoinedLog(g);
  EXPECT_NE(g.panels.rank_note.find("differs at frame 250"), std::string::npos) << g.panels.rank_note;
  EXPECT_TRUE(g.panels.rank_box_visible);
  EXPECT_EQ(g.ranking.table[1].name, "Tester");
  EXPECT_TRUE(FileExists(HiScoreReplayPath(g, EASY)));

  // Taken: the reply is the ranking that now holds the verified record.
  g.panels.rank_box_visible = false;
  ClearLog(g);
  http->PushOk(std::string(kReplayVerifiedNote) + WireLine("Tester", 42, 500, "hi", 12) + "\r\n");
  ASSERT_TRUE(UploadReplay(g, 1, 500, HiScoreReplayPath(g, EASY), nullptr));
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(g.ranking.table[0].name, "Tester");
  EXPECT_TRUE(g.ranking.table[1].name.empty());

  // A missing file fails without a request.
  ASSERT_TRUE(UploadReplay(g, 1, 500, ReplayDir(g) + "/none.kvr", nullptr));
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(http->Requests().size(), 3u);
}

TEST(RankingReplay, TheSelectedEntrysReplayIsFetchedForTheViewer) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  g.my.name() = "Tester";
  g.my.player_id() = 42;
  http->PushOk(WireLine("Alice", 7, 900) + "\r\n" + WireLine("Tester", 42, 500) + "\r\n");
  FetchAndShowRanking(g, 3);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  ASSERT_TRUE(g.panels.rank_box_visible);
  const int x = RankBoxLayout::kReplayX + 5, y = RankBoxLayout::kReplayY + 5;

  // Nothing selected: a hint and no request.
  g.panels.rank_selected = -1;
  Event(g, InputEvent::kMouseDown, 0, x, y);
  EXPECT_EQ(g.panels.rank_note, kReplayChooseText);
  EXPECT_EQ(http->Requests().size(), 1u);

  // Alice's run: fetched and handed to the viewer.
  g.panels.rank_selected = 0;
  http->PushOk("KVRP\x01 Alice's run"s);
  Event(g, InputEvent::kMouseDown, 0, x, y);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  auto req = http->Requests();
  ASSERT_EQ(req.size(), 2u);
  EXPECT_EQ(req[1].method, "GET");
  EXPECT_EQ(req[1].url, "http://localhost/zrk/replay?3&name=%41%6C%69%63%65&id=7");
  EXPECT_EQ(g.flow.replay_bytes, "KVRP\x01 Alice's run"s);
  EXPECT_NE(g.flow.replay_title.find("Alice"), std::string::npos);
  g.flow.replay_bytes.clear();

  // None on the server: said so under the list; the table stays.
  g.panels.rank_selected = 1;
  http->PushOk("no replay for this record\r\n", 404);
  Event(g, InputEvent::kMouseDown, 0, x, y);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(g.panels.rank_note, kReplayNoneText);
  EXPECT_TRUE(g.flow.replay_bytes.empty());
  EXPECT_EQ(g.ranking.table[1].name, "Tester");
  // A failed exchange says that instead.
  http->PushFailure();
  Event(g, InputEvent::kMouseDown, 0, x, y);
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  EXPECT_EQ(g.panels.rank_note, kReplayFetchErrorText);
}


// ---- the player key ----

TEST(RankingKey, SendsAreSignedWithAKeyKeptBesideTheSave) {
  auto t = MakeTestGame();
  Game& g = t->g();
  auto http = std::make_shared<ScriptedHttp>();
  g.pf.http = http;
  AfterNewHiScore(g, 500);
  http->PushOk(WireLine("Tester", 42, 500) + "\r\n");
  EnterComment(g, "hi");
  ASSERT_TRUE(WaitRankExchange(g, 10000));
  ASSERT_EQ(http->Requests().size(), 1u);
  const ScriptedHttp::Request sent = http->Requests()[0];
  ASSERT_EQ(sent.headers.size(), 3u);
  struct stat info {};
  ASSERT_EQ(stat(KeyPath(g).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const PlayerKey key = ParsePlayerKeyFile(ReadWholeFile(KeyPath(g)).value()).value();
  const CheckedSignature check = CheckSignature({sent.headers[0].second, sent.headers[1].second, sent.headers[2].second},
                                                "POST", kRankPath, "write&1", sent.body, std::time(nullptr));
  EXPECT_EQ(check.verdict, CheckedSignature::Verdict::valid);
  EXPECT_EQ(check.public_key, key.public_key);

  // Copied to another game folder with my.dat, the key signs as before; a
  // damaged key is kept aside, never silently replaced.
  auto other = MakeTestGame();
  ASSERT_TRUE(WriteFileAtomically(KeyPath(other->g()), ReadWholeFile(KeyPath(g)).value(), nullptr));
  EXPECT_EQ(EnsurePlayerKey(other->g())->public_key, key.public_key);
  auto damaged = MakeTestGame();
  ASSERT_TRUE(WriteFileAtomically(KeyPath(damaged->g()), "kv-player-key 1\nnot hex\n", nullptr));
  EXPECT_NE(EnsurePlayerKey(damaged->g()), nullptr);
  EXPECT_EQ(ReadWholeFile(KeyPath(damaged->g()) + ".bad"), "kv-player-key 1\nnot hex\n");
}

// The key is made when the name is registered, and registering again keeps
// it. A player who copies my.dat and my.key to a new game folder is there the
// same name, id and key: the ranking server's key for that name and id.
TEST(RankingKey, RegisteringMakesTheKeyAndACopiedFolderKeepsIt) {
  auto t = MakeTestGame();
  Game& g = t->g();
  ASSERT_FALSE(std::filesystem::exists(KeyPath(g)));
  g.panels.name_l.text = "Mover";
  Button1Click(g);
  ASSERT_EQ(g.my.name(), "Mover");
  struct stat info {};
  ASSERT_EQ(stat(KeyPath(g).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string made = ReadWholeFile(KeyPath(g)).value();
  g.panels.name_l.text = "Mover";
  Button1Click(g);
  EXPECT_EQ(ReadWholeFile(KeyPath(g)), made);
  ASSERT_TRUE(WriteSave(g));

  auto moved = MakeTestGame();
  Game& m = moved->g();
  for (const char* file : {"/my.dat", "/my.key"}) {
    std::filesystem::copy_file(g.pf.data_dir + file, m.pf.data_dir + file);
  }
  LoadSave(m);
  EXPECT_EQ(m.my.name(), "Mover");
  EXPECT_EQ(m.my.player_id(), g.my.player_id());
  EXPECT_EQ(EnsurePlayerKey(m)->public_key, ParsePlayerKeyFile(made).value().public_key);
}
