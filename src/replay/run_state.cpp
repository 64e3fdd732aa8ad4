#include "replay/run_state.h"

#include <zlib.h>

#include <memory>
#include <sstream>
#include <type_traits>

#include "state/game.h"

namespace {

// One list of the fields, walked by the writer, the reader and the checksum.
class StateWriter {
 public:
  void Int(const int32_t& v) {
    for (int i = 0; i < 4; ++i) out += char(uint8_t(uint32_t(v) >> (8 * i)));
  }
  void Flag(const bool& v) { out += char(v ? 1 : 0); }
  void Str(const std::string& s) {
    int32_t n = int32_t(s.size());
    Int(n);
    out += s;
  }
  std::string out;
};

class StateReader {
 public:
  explicit StateReader(const std::string& b) : b_(b) {}
  void Int(int32_t& v) {
    if (!Need(4)) return;
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= uint32_t(uint8_t(b_[at_++])) << (8 * i);
    v = int32_t(u);
  }
  void Flag(bool& v) {
    if (!Need(1)) return;
    v = b_[at_++] != 0;
  }
  void Str(std::string& s) {
    int32_t n = 0;
    Int(n);
    if (n < 0 || !Need(size_t(n))) {
      ok = false;
      return;
    }
    s.assign(b_, at_, size_t(n));
    at_ += size_t(n);
  }
  bool Done() const { return ok && at_ == b_.size(); }
  bool ok = true;

 private:
  bool Need(size_t k) {
    if (!ok || b_.size() - at_ < k) ok = false;
    return ok;
  }
  const std::string& b_;
  size_t at_ = 0;
};

template <class IO, class G>
void Slots(IO& io, G& pool) {
  for (auto& s : pool) {
    io.Int(s.passed); io.Int(s.links); io.Int(s.lockOn); io.Int(s.retreat);
    io.Int(s.cls); io.Int(s.big); io.Int(s.link); io.Int(s.flash); io.Int(s.hp);
    io.Int(s.originX); io.Int(s.originY); io.Int(s.x); io.Int(s.y); io.Int(s.size);
    io.Int(s.timer); io.Int(s.radius); io.Int(s.angle); io.Int(s.speed); io.Int(s.kind);
  }
}

template <class IO, class M>
void Player(IO& io, M& my) {
  for (auto& s : my.str) io.Str(s);
  io.Int(my.se_volume); io.Int(my.level); io.Int(my.time_stop); io.Int(my.stop_time);
  io.Int(my.barrier_time); io.Int(my.barrier_timer); io.Int(my.barrier_x);
  io.Int(my.barrier_y); io.Int(my.barrier_size); io.Int(my.ring_step);
  io.Int(my.ring_radius); io.Int(my.mode); io.Int(my.lives);
  for (auto& v : my.num) io.Int(v);
}

template <class IO, class E>
void EffectRing(IO& io, E& effects) {
  for (auto& e : effects) {
    io.Int(e.age); io.Int(e.x); io.Int(e.y); io.Int(e.x0); io.Int(e.y0);
    io.Int(e.u); io.Int(e.v); io.Int(e.kind); io.Str(e.text);
    for (auto& v : e.scratch) io.Int(v);
  }
}

// The values that steer play from frame to frame.
template <class IO, class G>
void Flow(IO& io, G& g) {
  io.Int(g.pools.spawn_cursor); io.Int(g.pools.shot_cursor); io.Int(g.pools.item_cursor);
  io.Int(g.run.title_phase); io.Int(g.run.in_play); io.Int(g.run.stage_end_countdown);
  io.Int(g.run.time_up); io.Int(g.run.shake); io.Int(g.run.paused); io.Int(g.run.record_mode);
  io.Int(g.run.backdrop_on); io.Int(g.run.game_over_banner); io.Int(g.menu.screen);
  io.Int(g.menu.back); io.Int(g.menu.hovered); io.Int(g.run.chapter_run);
  io.Int(g.input.mouse_x); io.Int(g.input.mouse_y); io.Int(g.input.click); io.Int(g.run.burst_request);
  io.Int(g.pools.boss_slot); io.Int(g.run.frame_no); io.Int(g.run.invulnerable);
  io.Int(g.run.story_index); io.Int(g.run.story_on); io.Int(g.fx.cursor); io.Int(g.log.count);
}

template <class IO, class G>
void Whole(IO& io, G& g) {
  Player(io, g.my);
  Slots(io, g.pools.enemies);
  Slots(io, g.pools.shots);
  Slots(io, g.pools.items);
  Flow(io, g);
  io.Int(g.run.closing_mark);
  int32_t lines = int32_t(g.run.story.size());
  io.Int(lines);
  if constexpr (!std::is_const_v<G>) {
    if (lines < 0 || lines > 100000) {
      io.ok = false;
      return;
    }
    g.run.story.resize(size_t(lines));
  }
  for (auto& s : g.run.story) io.Str(s);
  io.Str(g.sound.last);
  io.Int(g.sound.last_hold);
  EffectRing(io, g.fx.ring);
  for (auto& r : g.log.records) {
    io.Str(r.text);
    io.Int(r.code);
  }
  for (auto& l : g.fx.speed_lines) {
    io.Int(l.count); io.Int(l.look); io.Int(l.radius); io.Int(l.angle);
    io.Int(l.length); io.Int(l.speed);
  }
  for (auto& m : g.menu.table) {
    io.Str(m.caption); io.Int(m.cost_kind); io.Int(m.action); io.Int(m.visible);
    io.Int(m.enabled); io.Int(m.cost); io.Int(m.screen); io.Int(m.x); io.Int(m.y);
    io.Int(m.target_x); io.Int(m.target_y); io.Int(m.width); io.Int(m.height);
    io.Int(m.back); io.Int(m.item_id);
  }
  io.Flag(g.panels.name_box_visible); io.Int(g.panels.name_box_x); io.Int(g.panels.name_box_y);
  io.Str(g.panels.name_l.text); io.Str(g.panels.name_l.composition);
  io.Flag(g.panels.hi_score_box_visible); io.Int(g.panels.hi_score_box_x); io.Int(g.panels.hi_score_box_y);
  io.Str(g.panels.hi_score_l.text); io.Str(g.panels.hi_score_l.composition);
  io.Flag(g.panels.rank_box_visible);
}

std::string RandomState(const std::mt19937& rng) {
  std::ostringstream s;
  s << rng;
  return s.str();
}

// The reader's variant of Whole needs `ok` on the writer too.
struct CountingWriter : StateWriter {
  bool ok = true;
};

}  // namespace

std::string SaveRunState(const Game& g) {
  CountingWriter w;
  Whole(w, g);
  w.Str(RandomState(g.rng));
  return std::move(w.out);
}

bool LoadRunState(Game& g, const std::string& bytes, std::string* error) {
  // Read into a copy of the state part first, so a bad state changes nothing.
  auto fresh = std::make_unique<Game>();
  StateReader r(bytes);
  Whole(r, *fresh);
  std::string rng_text;
  r.Str(rng_text);
  std::mt19937 rng;
  if (r.ok) {
    std::istringstream in(rng_text);
    in >> rng;
    if (in.fail()) r.ok = false;
  }
  if (!r.Done()) {
    if (error) *error = "the replay's start state does not fit this game";
    return false;
  }
  // The bytes are known good now: read them into the game itself.
  StateReader again(bytes);
  Whole(again, g);
  g.rng = rng;
  return true;
}

uint32_t RunChecksum(const Game& g) {
  CountingWriter w;
  Player(w, g.my);
  Slots(w, g.pools.enemies);
  Slots(w, g.pools.shots);
  Slots(w, g.pools.items);
  EffectRing(w, g.fx.ring);
  Flow(w, g);
  w.Str(RandomState(g.rng));
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(w.out.data()), uInt(w.out.size())));
}

bool PlausibleRunStart(const Game& g, std::string* why) {
  const Tmy& my = g.my;
  auto no = [&](const char* what) {
    if (why) *why = std::string("the replay does not start as a new game does (") + what + ")";
    return false;
  };
  if (my.mode < 0 || my.mode >= kModeCount) return no("mode");
  if (my.num[285] != 0 || my.lives != 3 || my.level != 0) return no("score, lives or level");
  if (my.num[107] != 0 || my.num[109] != 0) return no("stage");
  for (int i : {267, 268, 269, 270, 271, 272, 273, 298})
    if (my.num[i] != 0) return no("shot, laser or chain values");
  for (int i = 0; i < 100; ++i)
    if (my.num[i] != 0) return no("buy counts");
  if (my.barrier_size != 30 || my.barrier_time != 0 || my.stop_time != 0)
    return no("barrier or time stop");
  if (g.run.in_play != 0 || g.run.chapter_run != 0 || g.run.paused != 0 || g.pools.boss_slot != 0 ||
      g.run.game_over_banner != 0 || g.run.record_mode != 0 || g.run.title_phase != 0)
    return no("flow");
  if (g.menu.screen != 1) return no("chapter screen");
  for (const EnemySlot& s : g.pools.items)
    if (s.timer != 0) return no("items");
  return true;
}
