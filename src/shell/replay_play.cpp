#include "shell/replay_play.h"

#include "assets/pictures.h"
#include "assets/sound.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "replay/recorder.h"
#include "replay/run_state.h"
#include "shell/form.h"
#include "shell/frame.h"
#include "state/game.h"

namespace {

// The replayed game ended (the hi-score rule ran): note where and with what.
void NoteEnd(ReplayPlayback& p) {
  Game& g = *p.game;
  g.run_started = 0;
  if (!g.run_ended) return;
  g.run_ended = 0;
  if (p.ended_at < 0) {
    p.ended_at = p.frames;
    p.end_score = g.run_end_score;
  }
}

}  // namespace

std::unique_ptr<ReplayPlayback> StartPlayback(const Platform& pf, const std::string& bytes,
                                              Audio* audio, std::string* error, bool blind) {
  auto p = std::make_unique<ReplayPlayback>();
  if (!DecodeReplay(bytes, p->replay, error)) return nullptr;
  Platform own = pf;
  own.audio = audio ? audio : &p->silent;
  own.dialogs = &p->dialogs;
  own.http = nullptr;
  p->game = MakeGame(own, 0);
  Game& g = *p->game;
  g.save.blocked = true;  // whatever the run does, nothing is written
  if (!CreateBitmapTable(g)) {
    if (error) *error = "the game's pictures are missing (" + CgPath(g, "title.bmp") + ")";
    return nullptr;
  }
  if (blind) {
    g.cg = std::make_unique<Canvas>(1, 1, own.fonts);
    g.bak = std::make_unique<Canvas>(1, 1, own.fonts);
  }
  // A run starts on the chapter screen, over the picture the mode start shows.
  ShowPicture(g, "1.jpg");
  if (!LoadRunState(g, p->replay.start_state, error)) return nullptr;
  if (!PlausibleRunStart(g, error)) return nullptr;
  if (g.my.mode != p->replay.mode) {
    if (error) *error = "the replay's header and its start name different modes";
    return nullptr;
  }
  return p;
}

bool StepPlayback(ReplayPlayback& p, bool stop_on_difference) {
  if (p.over) return false;
  Game& g = *p.game;
  const auto& rs = p.replay.records;
  while (p.next < rs.size() && rs[p.next].frame <= p.frames) {
    const ReplayRecord& r = rs[p.next++];
    if (r.type == ReplayRecord::kCheck) {
      if (RunChecksum(g) == r.checksum) {
        p.checks_ok += 1;
      } else if (p.first_bad_frame < 0) {
        p.first_bad_frame = r.frame;
        if (stop_on_difference) {
          p.over = true;
          return false;
        }
      }
    } else if (r.type == ReplayRecord::kAnswer) {
      p.dialogs.answers.push_back(r.key != 0);
    } else if (r.type == ReplayRecord::kMusic) {
      g.settings.music_muted = r.key != 0;
      if (p.follow_music_setting && g.pf.audio) g.pf.audio->SetMusicMuted(g.settings.music_muted);
    } else if (r.type == ReplayRecord::kClose) {
      // The window closed here; the replay stops with it.
      p.over = true;
      return false;
    } else {
      DispatchInput(g, EventOfRecord(r));
      NoteEnd(p);
    }
  }
  if (p.frames >= p.replay.frames) {
    p.over = true;
    return false;
  }
  StepSoundGuard(g);
  RunFrame(g);
  p.frames += 1;
  if (p.frames % 10 == 0) DrainSoundQueue(g);
  NoteEnd(p);
  return true;
}

bool StepVerifying(ReplayPlayback& p) {
  if (!StepPlayback(p, true)) return false;
  // A game that ends before the run did cannot be the recorded run.
  return !(p.ended_at >= 0 && p.ended_at < p.replay.frames);
}

ReplayVerdict VerifyReplay(ReplayPlayback& p) {
  while (StepVerifying(p)) {
  }
  return JudgePlayback(p);
}

ReplayVerdict JudgePlayback(const ReplayPlayback& p) {
  const Replay& r = p.replay;
  ReplayVerdict v;
  const bool ended = r.end == ReplayEnd::kGameEnded;
  v.score = ended ? (p.ended_at >= 0 ? p.end_score : p.game->my.score()) : p.game->my.score();
  const int total = r.CheckCount();
  std::string head = std::string("replay: mode=") + kModeNames[r.mode] + " score=" +
                     std::to_string(v.score) + " frames=" + std::to_string(p.frames) +
                     " checksums=" + std::to_string(p.checks_ok) + "/" + std::to_string(total);
  if (p.first_bad_frame >= 0) {
    v.line = head + " differs at frame " + std::to_string(p.first_bad_frame);
  } else if (ended && p.ended_at != r.frames) {
    v.line = head + (p.ended_at < 0 ? " the game did not end at frame "
                                    : " the game ended at frame " + std::to_string(p.ended_at) +
                                          ", not at frame ") +
             std::to_string(r.frames);
  } else if (p.frames != r.frames) {
    v.line = head + " stopped at frame " + std::to_string(p.frames) + " of " +
             std::to_string(r.frames);
  } else if (v.score != r.score) {
    v.line = head + " score differs from the claimed " + std::to_string(r.score);
  } else {
    v.verified = true;
    v.line = head + " verified";
  }
  return v;
}

ReplayCheck CheckReplayBytes(const std::string& game_dir, const std::string& bytes) {
  ReplayCheck c;
  Replay header;
  std::string err;
  if (!PeekReplayHeader(bytes, header, &err)) {
    // A file of this game in a format this build does not read is another
    // version, not damage.
    const bool other_format = bytes.size() > 4 && bytes.compare(0, 4, "KVRP") == 0 &&
                              !ReplayFormatKnown(static_cast<unsigned char>(bytes[4]));
    c.outcome = other_format ? ReplayCheckOutcome::kOtherVersion : ReplayCheckOutcome::kMalformed;
    c.why = err;
    c.line = "replay: " + err;
    return c;
  }
  c.mode = header.mode;
  c.claimed = header.score;
  if (header.version != kReplayGameVersion) {
    c.outcome = ReplayCheckOutcome::kOtherVersion;
    c.why = "recorded by another game version (" + header.version + ")";
    c.line = "replay: " + c.why;
    return c;
  }
  Platform pf;
  pf.game_dir = game_dir;
  pf.fonts = std::make_shared<FontSet>(game_dir + "/dat/ipagp.ttf");
  VirtualClock clock;
  pf.clock = &clock;
  auto p = StartPlayback(pf, bytes, nullptr, &err, true);
  if (!p) {
    c.outcome = ReplayCheckOutcome::kMalformed;
    c.why = err;
    c.line = "replay: " + err;
    return c;
  }
  c.name = p->game->my.name();
  c.player_id = p->game->my.player_id();
  ReplayVerdict v = VerifyReplay(*p);
  c.score = v.score;
  c.frames = p->frames;
  c.line = v.line;
  if (v.verified) {
    c.outcome = ReplayCheckOutcome::kVerified;
  } else {
    c.outcome = ReplayCheckOutcome::kMismatch;
    // The line's tail after the figures says where it differs.
    const std::size_t at = v.line.find(' ', v.line.find("checksums="));
    c.why = at == std::string::npos ? "does not replay" : v.line.substr(at + 1);
  }
  return c;
}
