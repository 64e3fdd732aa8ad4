#include "simlib.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "platform/window.h"
#include "ranking/exchange.h"
#include "shell/form.h"
#include "shell/frame.h"

namespace {

constexpr double kUsPerDay = 86400e6;

bool ToInt(const std::string& s, int& out) {
  if (s.empty()) return false;
  size_t i = 0;
  if (s[0] == '-' || s[0] == '+') i = 1;
  if (i >= s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > 1000000000) return false;
  }
  out = int(s[0] == '-' ? -v : v);
  return true;
}

int ButtonNumber(const std::string& s) {
  if (s == "left") return 0;
  if (s == "right") return 1;
  if (s == "middle") return 2;
  return -1;
}

// JSON text output.
class Json {
 public:
  void Key(const char* k) {
    Sep();
    Raw(k);
    out_ += ':';
    fresh_ = true;
  }
  void Int(long long v) {
    Sep();
    out_ += std::to_string(v);
  }
  void Str(const std::string& s) {
    Sep();
    Raw(s);
  }
  void Raw(const std::string& s) {
    out_ += '"';
    for (unsigned char c : s) {
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out_ += buf;
          } else {
            out_ += char(c);
          }
      }
    }
    out_ += '"';
  }
  void Bool(bool b) {
    Sep();
    out_ += b ? "true" : "false";
  }
  void Open(char c) {
    Sep();
    out_ += c;
    fresh_ = true;
  }
  void Close(char c) {
    out_ += c;
    fresh_ = false;
  }
  void KInt(const char* k, long long v) { Key(k); Int(v); }
  void KStr(const char* k, const std::string& v) { Key(k); Str(v); }
  std::string Take() { return std::move(out_); }

 private:
  void Sep() {
    if (!fresh_ && !out_.empty()) out_ += ',';
    fresh_ = false;
  }
  std::string out_;
  bool fresh_ = true;
};

void Slot(Json& j, int index, const EnemySlot& s) {
  j.Open('{');
  j.KInt("index", index);
  j.KInt("passed", s.passed);
  j.KInt("links", s.links);
  j.KInt("lockOn", s.lockOn);
  j.KInt("retreat", s.retreat);
  j.KInt("cls", s.cls);
  j.KInt("big", s.big);
  j.KInt("link", s.link);
  j.KInt("flash", s.flash);
  j.KInt("hp", s.hp);
  j.KInt("originX", s.originX);
  j.KInt("originY", s.originY);
  j.KInt("x", s.x);
  j.KInt("y", s.y);
  j.KInt("size", s.size);
  j.KInt("timer", s.timer);
  j.KInt("radius", s.radius);
  j.KInt("angle", s.angle);
  j.KInt("speed", s.speed);
  j.KInt("kind", s.kind);
  j.Close('}');
}

template <size_t N>
void Pool(Json& j, const char* name, const std::array<EnemySlot, N>& pool) {
  j.Key(name);
  j.Open('[');
  for (size_t i = 0; i < N; ++i)
    if (pool[i].timer >= 1) Slot(j, int(i), pool[i]);
  j.Close(']');
}

}  // namespace

bool ParseScript(const std::string& text, std::vector<ScriptEvent>& out, std::string* error) {
  std::istringstream in(text);
  std::string line;
  int no = 0;
  while (std::getline(in, line)) {
    ++no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] == '#') continue;
    std::istringstream ls(line);
    std::string frame, verb;
    ls >> frame >> verb;
    ScriptEvent e;
    e.line = no;
    if (!ToInt(frame, e.frame) || e.frame < 0 || verb.empty()) {
      if (error) *error = "script line " + std::to_string(no) + ": expected FRAME EVENT ARGS";
      return false;
    }
    e.verb = verb;
    if (verb == "text") {
      // The rest of the line after one blank, as typed.
      size_t at = line.find("text", line.find_first_not_of(" \t") + frame.size());
      std::string rest = at == std::string::npos ? "" : line.substr(at + 4);
      if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
      e.args.push_back(rest);
    } else {
      std::string a;
      while (ls >> a) e.args.push_back(a);
    }
    out.push_back(e);
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const ScriptEvent& a, const ScriptEvent& b) { return a.frame < b.frame; });
  return true;
}

Simulator::Simulator(const std::string& game_dir, uint64_t seed, const std::string& data_dir) {
  Platform pf;
  pf.audio = &audio_;
  pf.dialogs = &dialogs_;
  pf.clock = &clock_;
  pf.fonts = std::make_shared<FontSet>(game_dir + "/dat/ipagp.ttf");
  pf.game_dir = game_dir;
  pf.data_dir = data_dir.empty() ? game_dir + "/dat" : data_dir;
  game_ = MakeGame(pf, seed);
  screen_ = std::make_unique<Canvas>(640, 480, pf.fonts);
  ok_ = FormCreate(*game_, &error_);
}

bool Simulator::Apply(const ScriptEvent& e, std::string* error) {
  Game& g = *game_;
  InputEvent ev;
  auto bad = [&](const char* what) {
    if (error) *error = "script line " + std::to_string(e.line) + ": " + what;
    return false;
  };
  const auto& a = e.args;
  if (e.verb == "move") {
    if (a.size() != 2 || !ToInt(a[0], ev.x) || !ToInt(a[1], ev.y)) return bad("move X Y");
    ev.type = InputEvent::kMouseMove;
  } else if (e.verb == "down" || e.verb == "up") {
    if (a.size() != 3 || (ev.button = ButtonNumber(a[0])) < 0 || !ToInt(a[1], ev.x) ||
        !ToInt(a[2], ev.y))
      return bad("down|up left|right|middle X Y");
    ev.type = e.verb == "down" ? InputEvent::kMouseDown : InputEvent::kMouseUp;
    // The pointer is where the press happens.
    InputEvent mv;
    mv.type = InputEvent::kMouseMove;
    mv.x = ev.x;
    mv.y = ev.y;
    DispatchInput(g, mv);
  } else if (e.verb == "key") {
    if (a.size() != 1 || !ToInt(a[0], ev.key)) return bad("key CODE");
    ev.type = InputEvent::kKeyDown;
  } else if (e.verb == "text") {
    ev.type = InputEvent::kTextInput;
    ev.text = a.empty() ? "" : a[0];
  } else if (e.verb == "answer") {
    if (a.size() != 1 || (a[0] != "yes" && a[0] != "no")) return bad("answer yes|no");
    dialogs_.answers.push_back(a[0] == "yes");
    return true;
  } else if (e.verb == "close") {
    ev.type = InputEvent::kClose;
  } else {
    return bad("unknown event");
  }
  DispatchInput(g, ev);
  // A ranking exchange the event started ends before anything else happens,
  // so a script plays the same whatever the server's speed.
  WaitRankExchange(g);
  AfterInput(g);
  return true;
}

void Simulator::Frame() {
  Game& g = *game_;
  WaitRankExchange(g);
  for (int ticks = 0; ticks < 100000; ++ticks)
    if (DXTimer1Timer(g)) break;
  AfterInput(g);
  ++frames_run_;
  // Jump to 1 ms before the next deadline (plus a hair), so the next tick's
  // 1 ms sleep lands just past it: frames come exactly 40 ms apart.
  double wait_us = (g.timing.next_frame - clock_.NowDays()) * kUsPerDay;
  if (wait_us > 1000) clock_.AdvanceUs(int64_t(wait_us) - 1000 + 1);
}

bool Simulator::Run(int frames, const std::vector<ScriptEvent>& script, std::string* error) {
  size_t next = 0;
  for (int f = 0; f < frames && !game_->run.quit; ++f) {
    while (next < script.size() && script[next].frame <= f) {
      if (!Apply(script[next], error)) return false;
      ++next;
      if (game_->run.quit) return true;
    }
    Frame();
  }
  // Events scheduled at or after the last frame still apply (e.g. a final close).
  while (next < script.size() && !game_->run.quit) {
    if (!Apply(script[next], error)) return false;
    ++next;
  }
  return true;
}

bool Simulator::SavePng(const std::string& path) {
  ComposeWindow(*game_, *screen_);
  return screen_->SavePng(path);
}

std::string Simulator::DumpJson() {
  Game& g = *game_;
  Tmy& my = g.my;
  Json j;
  j.Open('{');
  j.KInt("frames_run", frames_run_);
  j.KInt("title_phase", g.run.title_phase);
  j.KInt("in_play", g.run.in_play);
  j.KInt("stage_end_countdown", g.run.stage_end_countdown);
  j.KInt("time_up", g.run.time_up);
  j.KInt("shake", g.run.shake);
  j.KInt("paused", g.run.paused);
  j.KInt("record_mode", g.run.record_mode);
  j.KInt("backdrop_on", g.run.backdrop_on);
  j.KInt("game_over_banner", g.run.game_over_banner);
  j.KInt("menu_screen", g.menu.screen);
  j.KInt("menu_back", g.menu.back);
  j.KInt("chapter_run", g.run.chapter_run);
  j.KInt("mouse_x", g.input.mouse_x);
  j.KInt("mouse_y", g.input.mouse_y);
  j.KInt("click", g.input.click);
  j.KInt("burst_request", g.run.burst_request);
  j.KInt("boss_slot", g.pools.boss_slot);
  j.KInt("frame_no", g.run.frame_no);
  j.KInt("invulnerable", g.run.invulnerable);
  j.KInt("closing_mark", g.run.closing_mark);
  j.KInt("story_index", g.run.story_index);
  j.KInt("story_on", g.run.story_on);
  j.KInt("story_lines", int(g.run.story.size()));
  j.KInt("spawn_cursor", g.pools.spawn_cursor);
  j.KInt("shot_cursor", g.pools.shot_cursor);
  j.KInt("item_cursor", g.pools.item_cursor);
  j.KInt("effect_cursor", g.fx.cursor);
  j.KInt("log_count", g.log.count);
  j.KInt("frame_interval_ms", g.timing.frame_interval_ms);
  j.KStr("last_sound", g.sound.last);
  j.Key("sound_queue");
  j.Open('[');
  for (const std::string& s : g.sound.queue) j.Str(s);
  j.Close(']');
  j.Key("name_box_visible");
  j.Bool(g.panels.name_box_visible);
  j.KStr("name_l", g.panels.name_l.text);
  j.Key("hi_score_box_visible");
  j.Bool(g.panels.hi_score_box_visible);
  j.KStr("hi_score_l", g.panels.hi_score_l.text);
  j.Key("rank_box_visible");
  j.Bool(g.panels.rank_box_visible);
  j.KStr("rank_l", g.panels.rank_l);
  j.KInt("rank_selected", g.panels.rank_selected);
  j.KInt("rank_lines", int(g.panels.rank_list.size()));
  j.Key("busy");
  j.Bool(g.ranking.busy);
  j.KStr("rank_status", g.ranking.status);
  // The filled entries of the ranking table, in rank order.
  j.Key("ranking");
  j.Open('[');
  for (size_t i = 0; i < g.ranking.table.size(); ++i) {
    const RankEntry& r = g.ranking.table[i];
    if (r.name.empty()) continue;
    j.Open('{');
    j.KInt("rank", int(i) + 1);
    j.KStr("name", r.name);
    j.KInt("id", r.id);
    j.KInt("score", r.score);
    j.KStr("comment", r.comment);
    j.KStr("date", r.date);
    j.KInt("play_count", r.play_count);
    j.Close('}');
  }
  j.Close(']');
  // The list as shown: its lines up to the first empty place after the last
  // filled one (the rest are all "--------").
  j.Key("rank_list");
  j.Open('{');
  j.Key("visible");
  j.Bool(g.panels.rank_box_visible);
  j.KInt("selected", g.panels.rank_selected);
  j.KInt("top", g.panels.rank_top);
  j.KInt("line_count", int(g.panels.rank_list.size()));
  size_t shown = 0;
  for (size_t i = 0; i < g.ranking.table.size() && i < g.panels.rank_list.size(); ++i)
    if (!g.ranking.table[i].name.empty()) shown = i + 1;
  shown = std::min(g.panels.rank_list.size(), shown + 1);
  j.Key("lines");
  j.Open('[');
  for (size_t i = 0; i < shown; ++i) j.Str(g.panels.rank_list[i]);
  j.Close(']');
  j.Close('}');
  j.KStr("save_error", g.save.error);

  j.Key("my");
  j.Open('{');
  j.KInt("mode", my.mode);
  j.KInt("stage", my.stage());
  j.KInt("distance", my.distance());
  j.KInt("score", my.score());
  j.KInt("lives", my.lives);
  j.KInt("level", my.level);
  j.KStr("name", my.name());
  j.KInt("player_id", my.player_id());
  j.KInt("se_volume", my.se_volume);
  j.KInt("time_stop", my.time_stop);
  j.KInt("stop_time", my.stop_time);
  j.KInt("barrier_time", my.barrier_time);
  j.KInt("barrier_timer", my.barrier_timer);
  j.KInt("barrier_x", my.barrier_x);
  j.KInt("barrier_y", my.barrier_y);
  j.KInt("barrier_size", my.barrier_size);
  j.KInt("ring_step", my.ring_step);
  j.KInt("ring_radius", my.ring_radius);
  j.KInt("shot_size", my.shot_size());
  j.KInt("shot_power", my.shot_power());
  j.KInt("shot_way", my.shot_way());
  j.KInt("shot_speed", my.shot_speed());
  j.KInt("laser_way", my.laser_way());
  j.KInt("chain_link", my.chain_link());
  j.KInt("chain_count", my.chain_count());
  j.KInt("player_x", my.player_x());
  j.KInt("player_y", my.player_y());
  j.KInt("ship_size", my.ship_size());
  j.KInt("target_lock", my.target_lock());
  j.Key("buy_count");
  j.Open('[');
  for (int i = 0; i <= 10; ++i) j.Int(my.buy_count(i));
  j.Close(']');
  j.Key("hi_score");
  j.Open('[');
  for (int m = 0; m < kModeCount; ++m) j.Int(my.hi_score(m));
  j.Close(']');
  j.Key("play_count");
  j.Open('[');
  for (int m = 0; m < kModeCount; ++m) j.Int(my.play_count(m));
  j.Close(']');
  j.Key("comment");
  j.Open('[');
  for (int m = 0; m < kModeCount; ++m) j.Str(my.comment(m));
  j.Close(']');
  j.Close('}');

  Pool(j, "enemies", g.pools.enemies);
  Pool(j, "shots", g.pools.shots);
  Pool(j, "items", g.pools.items);

  j.Key("effects");
  j.Open('[');
  for (int i = 0; i < kEffectSlots; ++i) {
    const EffectSlot& e = g.fx.ring[size_t(i)];
    if (e.age < 1) continue;
    j.Open('{');
    j.KInt("index", i);
    j.KInt("kind", e.kind);
    j.KInt("age", e.age);
    j.KInt("x", e.x);
    j.KInt("y", e.y);
    j.KStr("text", e.text);
    j.Close('}');
  }
  j.Close(']');

  j.Key("log");
  j.Open('[');
  for (const LogRecord& r : g.log.records) {
    j.Open('{');
    j.KStr("text", r.text);
    j.KInt("code", r.code);
    j.Close('}');
  }
  j.Close(']');

  j.Key("menu");
  j.Open('[');
  for (const MenuItem& m : g.menu.table) {
    if (!m.visible) continue;
    j.Open('{');
    j.KStr("caption", m.caption);
    j.KInt("x", m.x);
    j.KInt("y", m.y);
    j.KInt("width", m.width);
    j.KInt("height", m.height);
    j.Close('}');
  }
  j.Close(']');

  j.Key("dialogs");
  j.Open('[');
  for (const std::string& s : dialogs_.shown) j.Str(s);
  j.Close(']');
  j.Key("sounds");
  j.Open('[');
  for (const auto& p : audio_.plays) {
    size_t slash = p.path.find_last_of('/');
    j.Str(slash == std::string::npos ? p.path : p.path.substr(slash + 1));
  }
  j.Close(']');
  j.Key("music");
  j.Open('[');
  for (const std::string& m : audio_.music) {
    size_t slash = m.find_last_of('/');
    j.Str(slash == std::string::npos ? m : m.substr(slash + 1));
  }
  j.Close(']');
  j.Close('}');
  std::string out = j.Take();
  out += '\n';
  return out;
}
