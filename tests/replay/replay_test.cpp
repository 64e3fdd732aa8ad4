// Replays: a bot's run recorded and checked, then the same file tampered with
// in the ways a cheat or a damaged disk would.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "autoplay.h"
#include "platform/files.h"
#include "replay/recorder.h"
#include "replay/replay_file.h"
#include "platform/window.h"
#include "shell/form.h"
#include "shell/replay_play.h"
#include "simlib.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder; all of them go when the test program ends.
std::string TempDir() {
  static TempFolder root("kv-replay-test");
  return root.NewFolder();
}

ReplayVerdict Check(const std::string& bytes, std::string* refused = nullptr,
                    const std::string& data_dir = "") {
  Platform pf;
  pf.game_dir = KV_GAME_DIR;
  pf.data_dir = data_dir;
  pf.fonts = std::make_shared<FontSet>(std::string(KV_GAME_DIR) + "/dat/ipagp.ttf");
  VirtualClock clock;
  pf.clock = &clock;
  std::string err;
  auto p = StartPlayback(pf, bytes, nullptr, &err, true);
  if (!p) {
    if (refused) *refused = err;
    return {};
  }
  return VerifyReplay(*p);
}

// One HELL run of the bot to its game over (the shortest full run), recorded
// into the data folder as the window program does.
struct Recorded {
  std::string dir;
  std::string bytes;
  int hi_score = 0;
};

const Recorded& HellRun() {
  static const Recorded run = [] {
    Recorded r;
    r.dir = TempDir();
    Simulator sim(KV_GAME_DIR, 1, r.dir);
    EnableRecording(sim.game());
    AutoplayResult a = Autoplay(sim, HELL, 6000);
    EXPECT_EQ(a.end, "gameover");
    r.hi_score = sim.game().my.hi_score(HELL);
    r.bytes = ReadWholeFile(LastReplayPath(sim.game())).value_or("");
    return r;
  }();
  return run;
}

std::string Reencode(const std::string& bytes, void (*change)(Replay&)) {
  Replay r;
  std::string err;
  EXPECT_TRUE(DecodeReplay(bytes, r, &err)) << err;
  change(r);
  return EncodeReplay(r);
}

}  // namespace

TEST(Replay, RecordedRunVerifiesAndIsKeptAsLastAndHiScoreRun) {
  const Recorded& run = HellRun();
  ASSERT_FALSE(run.bytes.empty());
  EXPECT_GT(run.hi_score, 0);
  // The first game of the mode set its hi score: the same run is kept for the ranking.
  EXPECT_EQ(ReadWholeFile(run.dir + "/replays/HELL.kvr").value_or(""), run.bytes);
  EXPECT_FALSE(FileExists(run.dir + "/replays/last.kvr.tmp"));

  // Played back with a data folder of its own: nothing is written there.
  std::string watch_dir = TempDir();
  ReplayVerdict v = Check(run.bytes, nullptr, watch_dir);
  EXPECT_TRUE(v.verified) << v.line;
  EXPECT_EQ(v.score, run.hi_score);
  EXPECT_NE(v.line.find("replay: mode=HELL score=" + std::to_string(run.hi_score)), std::string::npos);
  EXPECT_TRUE(fs::is_empty(watch_dir));
}

TEST(Replay, ChangedEventsScoresAndHeadersAreCaught) {
  const std::string& bytes = HellRun().bytes;
  // One press moved: play goes another way, found at the next checksum.
  std::string moved = Reencode(bytes, [](Replay& r) {
    for (ReplayRecord& e : r.records)
      if (e.type == ReplayRecord::kMouseDown && e.frame > 300) {
        e.x += 40;
        break;
      }
  });
  ReplayVerdict v = Check(moved);
  EXPECT_FALSE(v.verified);
  EXPECT_NE(v.line.find("differs at frame"), std::string::npos) << v.line;

  // A claim above what the run scored.
  v = Check(Reencode(bytes, [](Replay& r) { r.score += 1000; }));
  EXPECT_FALSE(v.verified);
  EXPECT_NE(v.line.find("score differs from the claimed"), std::string::npos) << v.line;

  // A run that claims to be longer than the game lasted.
  v = Check(Reencode(bytes, [](Replay& r) { r.frames += 500; }));
  EXPECT_FALSE(v.verified);
  EXPECT_NE(v.line.find("the game ended at frame"), std::string::npos) << v.line;

  // Another version, and any byte of the header changed.
  std::string why;
  Check(Reencode(bytes, [](Replay& r) { r.version = "K.V. 3.1 play-0"; }), &why);
  EXPECT_NE(why.find("another game version (K.V. 3.1 play-0)"), std::string::npos) << why;
  for (size_t at : {5u, 8u, 30u, 40u}) {
    std::string bad = bytes;
    bad[at] = char(bad[at] ^ 0x11);
    why.clear();
    Check(bad, &why);
    EXPECT_FALSE(why.empty()) << "byte " << at;
  }
}

TEST(Replay, CutAndRandomFilesAreRefused) {
  const std::string& bytes = HellRun().bytes;
  Replay r;
  std::string why;
  for (size_t n = 0; n < bytes.size(); n += 1 + n / 8) {
    EXPECT_FALSE(DecodeReplay(bytes.substr(0, n), r, &why)) << n;
    EXPECT_FALSE(why.empty());
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::string junk(size_t(rng() % 400), '\0');
    for (char& c : junk) c = char(rng());
    if (i % 2) junk.replace(0, std::min<size_t>(4, junk.size()), "KVRP");
    EXPECT_FALSE(DecodeReplay(junk, r, &why));
  }
  EXPECT_FALSE(DecodeReplay(bytes + "x", r, &why));
  EXPECT_NE(why.find("after its end"), std::string::npos);
}

TEST(Replay, QuickClicksInTheWindowAreRecordedAsPlayedAndReplay) {
  // The window holds a release that comes before any frame saw its press; the
  // replay gets the release after that frame and so plays the taps back.
  const std::string dir = TempDir();
  Simulator sim(KV_GAME_DIR, 1, dir);
  EnableRecording(sim.game());
  Game& g = sim.game();
  AutoplayBot bot(sim, EASY);
  bot.Unlock();
  for (int f = 0; f < 3000 && g.run.in_play == 0; ++f) {
    bot.Decide();
    bot.Frame();
  }
  ASSERT_NE(g.run.in_play, 0);
  InputEvent e;
  int taps_fired = 0;
  for (int f = 0; f < 120; ++f) {
    if (f % 6 == 0) {
      e.x = 100 + 4 * f;
      e.y = 60;
      e.button = 0;
      e.type = InputEvent::kMouseDown;
      WindowInput(g, e);
      e.type = InputEvent::kMouseUp;
      WindowInput(g, e);
      const int before = g.pools.shot_cursor;
      sim.Frame();
      taps_fired += g.pools.shot_cursor != before;
    } else {
      sim.Frame();
    }
  }
  EXPECT_EQ(taps_fired, 20);
  e = InputEvent{};
  e.type = InputEvent::kKeyDown;
  e.key = 81;  // Q: give up, the run ends and is kept
  WindowInput(g, e);
  AfterInput(g);
  const std::string bytes = ReadWholeFile(LastReplayPath(g)).value_or("");
  ASSERT_FALSE(bytes.empty());
  Replay r;
  std::string err;
  ASSERT_TRUE(DecodeReplay(bytes, r, &err)) << err;
  int ups_after_their_press = 0, down_at = -1;
  for (const ReplayRecord& rec : r.records) {
    if (rec.type == ReplayRecord::kMouseDown) down_at = rec.frame;
    if (rec.type == ReplayRecord::kMouseUp) ups_after_their_press += rec.frame == down_at + 1;
  }
  EXPECT_GE(ups_after_their_press, 20);
  ReplayVerdict v = Check(bytes);
  EXPECT_TRUE(v.verified) << v.line;
}

namespace {

// A run the way a stranger could make one up: a real start, `frames` frames
// claimed, a checksum (of nothing) every `check_every` frames and a move in
// every frame between.
std::string MadeUpRun(int32_t frames, int check_every, bool moves = true) {
  Replay r;
  std::string why;
  EXPECT_TRUE(DecodeReplay(HellRun().bytes, r, &why)) << why;
  r.records.clear();
  r.frames = frames;
  for (int32_t f = 1; f <= frames; ++f) {
    if (check_every > 0 && f % check_every == 0) {
      ReplayRecord c;
      c.type = ReplayRecord::kCheck;
      c.frame = f;
      c.checksum = uint32_t(f);
      r.records.push_back(c);
    } else if (moves) {
      ReplayRecord m;
      m.frame = f;
      m.x = f % 640;
      m.y = 200;
      r.records.push_back(m);
    }
  }
  return EncodeReplay(r);
}

// The start state's byte where the player record keeps its lives.
size_t LivesAt(const std::string& start) {
  size_t at = 0;
  for (int i = 0; i < kStartStrings; ++i) {
    uint32_t n = 0;
    for (int k = 0; k < 4; ++k) n |= uint32_t(uint8_t(start[at + k])) << (8 * k);
    at += 4 + n;
  }
  return at + 4 * kStartLivesField;
}

std::string Refusal(const std::string& bytes) {
  ReplayOutline o;
  std::string why;
  return OutlineReplay(bytes, o, &why) ? std::string("accepted") : why;
}

}  // namespace

// What the ranking server reads before it lets a verifier play a file: the
// outline of a real run is what the run replays to, and every golden run
// passes.
TEST(ReplayOutline, RealRunsAreOutlinedAsTheyReplay) {
  const std::string& bytes = HellRun().bytes;
  ReplayOutline o;
  std::string why;
  ASSERT_TRUE(OutlineReplay(bytes, o, &why)) << why;
  const ReplayCheck played = CheckReplayBytes(KV_GAME_DIR, bytes);
  ASSERT_EQ(played.outcome, ReplayCheckOutcome::kVerified) << played.line;
  EXPECT_EQ(o.mode, played.mode);
  EXPECT_EQ(o.score, played.claimed);
  EXPECT_EQ(o.frames, played.frames);
  EXPECT_EQ(o.name, played.name);
  EXPECT_EQ(o.player_id, played.player_id);
  EXPECT_EQ(o.checks, o.frames / kReplayCheckEvery);
  for (const char* mode : {"EASY", "HARD", "EXTREAM", "NOVA", "SQ", "LIGHT", "HELL"}) {
    const std::string golden = ReadWholeFile(std::string(KV_GOLDEN_DIR) + "/" + mode + ".kvr").value_or("");
    EXPECT_EQ(Refusal(golden), "accepted") << mode;
  }
}

TEST(ReplayOutline, FilesThatCannotBeTheRunTheyClaimAreRefusedUnplayed) {
  const std::string& bytes = HellRun().bytes;
  // Cut anywhere, random, or with bytes after its end.
  for (size_t n = 0; n < bytes.size(); n += 1 + n / 4) EXPECT_NE(Refusal(bytes.substr(0, n)), "accepted") << n;
  std::mt19937 rng(11);
  for (int i = 0; i < 100; ++i) {
    std::string junk(size_t(rng() % 4000), '\0');
    for (char& c : junk) c = char(rng());
    if (i % 2) junk.replace(0, std::min<size_t>(4, junk.size()), "KVRP");
    EXPECT_NE(Refusal(junk), "accepted");
  }
  EXPECT_NE(Refusal(bytes + "x").find("after its end"), std::string::npos);

  // Two million frames and no checksum: refused from the header alone.
  EXPECT_NE(Refusal(MadeUpRun(kReplayMaxFrames, 0, false)).find("with only 0 checksums"), std::string::npos);
  // Checksums, but not all the way: play past the last one would go unchecked.
  std::string partly = Reencode(MadeUpRun(5000, 250), [](Replay& r) {
    r.frames = 8000;
    for (int i = 0; i < 12; ++i) {
      ReplayRecord c;
      c.type = ReplayRecord::kCheck;
      c.frame = 5000;
      r.records.push_back(c);
    }
  });
  EXPECT_NE(Refusal(partly).find("no checksum between frames 5000 and 8000"), std::string::npos) << Refusal(partly);
  std::string skipped = Reencode(MadeUpRun(5000, 250), [](Replay& r) {
    for (ReplayRecord& e : r.records)
      if (e.type == ReplayRecord::kCheck) e.frame += 1;
  });
  EXPECT_NE(Refusal(skipped).find("no checksum between frames 0 and 251"), std::string::npos) << Refusal(skipped);
  // An event after the frames it claims.
  std::string late = Reencode(MadeUpRun(1000, 250), [](Replay& r) { r.frames = 990; });
  EXPECT_NE(Refusal(late).find("after its last frame"), std::string::npos) << Refusal(late);
  // A start that is no new game, or another mode's.
  std::string wounded = Reencode(bytes, [](Replay& r) { r.start_state[LivesAt(r.start_state)] = 2; });
  EXPECT_NE(Refusal(wounded).find("does not start as a new game"), std::string::npos) << Refusal(wounded);
  std::string other = Reencode(bytes, [](Replay& r) { r.mode = (r.mode + 1) % 7; });
  EXPECT_NE(Refusal(other).find("different modes"), std::string::npos);
  std::string older = Reencode(bytes, [](Replay& r) { r.version = "K.V. 3.1 play-0"; });
  EXPECT_NE(Refusal(older).find("another game version"), std::string::npos);

  // A zlib bomb: millions of records packed into a few KB, at frame 0.
  Replay bomb;
  std::string why;
  ASSERT_TRUE(DecodeReplay(bytes, bomb, &why)) << why;
  bomb.frames = 0;
  bomb.records.assign(3000000, ReplayRecord{});
  const std::string packed = EncodeReplay(bomb);
  EXPECT_LT(packed.size(), 64u * 1024);
  EXPECT_NE(Refusal(packed).find("3000000 records for 0 frames"), std::string::npos) << Refusal(packed);
  // The same records spread over frames with their checksums: consistent,
  // so it passes; kv-verify finds the first checksum wrong within 250 frames.
  EXPECT_EQ(Refusal(MadeUpRun(200000, 250)), "accepted");
}
// The music records came with format 2; every golden run (format 1, from
// before them) still reads and writes back to the very same bytes.
TEST(Replay, GoldenRunsOfTheFirstFormatWriteBackByteForByte) {
  for (const char* mode : {"EASY", "HARD", "EXTREAM", "NOVA", "SQ", "LIGHT", "HELL"}) {
    const std::string bytes =
        ReadWholeFile(std::string(KV_GOLDEN_DIR) + "/" + mode + ".kvr").value_or("");
    ASSERT_GT(bytes.size(), 5u) << mode;
    EXPECT_EQ(bytes[4], 1) << mode;
    Replay r;
    std::string why;
    ASSERT_TRUE(DecodeReplay(bytes, r, &why)) << mode << ": " << why;
    EXPECT_EQ(EncodeReplay(r), bytes) << mode;
  }
}
