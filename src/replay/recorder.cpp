#include "replay/recorder.h"

#include <algorithm>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/window.h"
#include "replay/run_state.h"
#include "state/game.h"

namespace {

// Passes dialogs through to the game's own and notes each answer, which the
// replay then gives back in the same place.
class AnswerTap : public Dialogs {
 public:
  AnswerTap(Dialogs* inner, ReplayRecorder& rec) : inner_(inner), rec_(rec) {}
  void Message(const std::string& text) override {
    if (inner_) inner_->Message(text);
  }
  bool Confirm(const std::string& text) override { return Note(!inner_ || inner_->Confirm(text)); }
  bool ConfirmDefaultNo(const std::string& text) override {
    return Note(inner_ && inner_->ConfirmDefaultNo(text));
  }

 private:
  bool Note(bool yes) {
    if (rec_.recording) {
      ReplayRecord a;
      a.type = ReplayRecord::kAnswer;
      a.frame = rec_.replay.frames;
      a.key = yes ? 1 : 0;
      // Before the event that asked, so the answer is waiting when it is replayed.
      auto& rs = rec_.replay.records;
      size_t at = std::min(rec_.event_at, rs.size());
      rs.insert(rs.begin() + long(at), a);
      rec_.event_at = at + 1;
    }
    return yes;
  }

  Dialogs* inner_;
  ReplayRecorder& rec_;
};

void Begin(Game& g) {
  ReplayRecorder& rec = *g.recorder;
  rec.replay = Replay{};
  rec.replay.mode = g.my.mode;
  rec.replay.start_state = SaveRunState(g);
  rec.recording = true;
  rec.event_at = 0;
  // Music is on unless a record says otherwise.
  if (g.settings.music_muted) RecordMusicSetting(g);
}

void Write(Game& g, ReplayEnd end, int32_t score) {
  ReplayRecorder& rec = *g.recorder;
  rec.recording = false;
  rec.replay.end = end;
  rec.replay.score = score;
  std::string bytes = EncodeReplay(rec.replay);
  std::string err;
  auto put = [&](const std::string& path) {
    if (WriteFileAtomically(path, bytes, &err)) {
      rec.last_written = path;
      rec.error.clear();
    } else {
      rec.error = err;
    }
  };
  if (!rec.out_path.empty()) {
    put(rec.out_path);
  } else if (MakeDirectories(ReplayDir(g))) {
    put(LastReplayPath(g));
    // This run set the mode's hi score: it is the run the ranking gets.
    if (end == ReplayEnd::kGameEnded && g.run.record_mode == rec.replay.mode + 1)
      put(HiScoreReplayPath(g, rec.replay.mode));
  } else {
    rec.error = "cannot create " + ReplayDir(g);
  }
  rec.runs_written += 1;
  rec.replay = Replay{};
}

void Serve(Game& g) {
  ReplayRecorder& rec = *g.recorder;
  if (rec.recording && g.run_ended) Write(g, ReplayEnd::kGameEnded, g.run_end_score);
  g.run_ended = 0;
  if (g.run_started) {
    g.run_started = 0;
    // A run left on the chapter screen before it was played is dropped.
    Begin(g);
  }
}

// Each window event a replay keeps and the record it is kept as.
struct KeptEvent {
  InputEvent::Type event;
  ReplayRecord::Type record;
};
constexpr KeptEvent kKeptEvents[] = {
    {InputEvent::kMouseDown, ReplayRecord::kMouseDown},
    {InputEvent::kMouseUp, ReplayRecord::kMouseUp},
    {InputEvent::kMouseMove, ReplayRecord::kMouseMove},
    {InputEvent::kMouseWheel, ReplayRecord::kWheel},
    {InputEvent::kKeyDown, ReplayRecord::kKeyDown},
    {InputEvent::kTextInput, ReplayRecord::kText},
    {InputEvent::kTextEditing, ReplayRecord::kTextEditing},
    {InputEvent::kClose, ReplayRecord::kClose},
};

// The fields an event and its record share, copied either way.
template <class From, class To>
void CopyEventFields(const From& from, To& to) {
  to.button = from.button;
  to.x = from.x;
  to.y = from.y;
  to.key = from.key;
  to.wheel = from.wheel;
}

}  // namespace

bool RecordOfEvent(const InputEvent& e, ReplayRecord& r) {
  for (const KeptEvent& k : kKeptEvents) {
    if (k.event != e.type) continue;
    r.type = k.record;
    CopyEventFields(e, r);
    r.text = e.text.substr(0, kReplayMaxText);
    return true;
  }
  return false;
}

InputEvent EventOfRecord(const ReplayRecord& r) {
  InputEvent e;
  for (const KeptEvent& k : kKeptEvents)
    if (k.record == r.type) e.type = k.event;
  CopyEventFields(r, e);
  e.text = r.text;
  return e;
}

void EnableRecording(Game& g, const std::string& out_path) {
  g.recorder = std::make_shared<ReplayRecorder>();
  g.recorder->out_path = out_path;
  g.recorder->inner_dialogs = g.pf.dialogs;
  g.recorder->answer_tap = std::make_unique<AnswerTap>(g.pf.dialogs, *g.recorder);
  g.pf.dialogs = g.recorder->answer_tap.get();
}

void RecordInput(Game& g, const InputEvent& e) {
  if (!g.recorder || !g.recorder->recording) return;
  ReplayRecorder& rec = *g.recorder;
  ReplayRecord r;
  if (!RecordOfEvent(e, r)) return;  // focus and exposure do not reach the game
  r.frame = rec.replay.frames;
  auto& rs = rec.replay.records;
  // Moves in a row within one frame only leave the last position behind.
  if (r.type == ReplayRecord::kMouseMove && !rs.empty() &&
      rs.back().type == ReplayRecord::kMouseMove && rs.back().frame == r.frame) {
    rs.back() = r;
    rec.event_at = rs.size() - 1;
    return;
  }
  rec.event_at = rs.size();
  rs.push_back(std::move(r));
}

void AfterRecordedInput(Game& g) {
  if (!g.recorder) return;  // a replay being watched reads the marks itself
  Serve(g);
  if (g.run.quit && g.recorder->recording) StopRecording(g);
}

void RecordFrame(Game& g) {
  if (!g.recorder) return;
  ReplayRecorder& rec = *g.recorder;
  if (rec.recording) {
    rec.replay.frames += 1;
    if (rec.replay.frames % kReplayCheckEvery == 0) {
      ReplayRecord c;
      c.type = ReplayRecord::kCheck;
      c.frame = rec.replay.frames;
      c.checksum = RunChecksum(g);
      rec.replay.records.push_back(c);
    }
  }
  Serve(g);
}

void RecordMusicSetting(Game& g) {
  if (!g.recorder || !g.recorder->recording) return;
  ReplayRecord m;
  m.type = ReplayRecord::kMusic;
  m.frame = g.recorder->replay.frames;
  m.key = g.settings.music_muted ? 1 : 0;
  g.recorder->replay.records.push_back(m);
}

void StopRecording(Game& g) {
  if (!g.recorder || !g.recorder->recording) return;
  Write(g, ReplayEnd::kCut, g.my.score());
}

std::string ReplayDir(const Game& g) { return g.pf.data_dir + "/replays"; }
std::string LastReplayPath(const Game& g) { return ReplayDir(g) + "/last.kvr"; }
std::string HiScoreReplayPath(const Game& g, int mode) {
  return ReplayDir(g) + "/" + kModeNames[mode] + ".kvr";
}
