#include "simlib.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/window.h"
#include "platform/picture_file.h"
#include "platform/text.h"
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

using Json = nlohmann::ordered_json;

Json Slot(int index, const EnemySlot& s) {
  return Json{{"index", index},     {"passed", s.passed},   {"links", s.links},   {"lockOn", s.lockOn},
              {"retreat", s.retreat}, {"cls", s.cls},         {"big", s.big},       {"link", s.link},
              {"flash", s.flash},   {"hp", s.hp},           {"originX", s.originX}, {"originY", s.originY},
              {"x", s.x},           {"y", s.y},             {"size", s.size},     {"timer", s.timer},
              {"radius", s.radius}, {"angle", s.angle},     {"speed", s.speed},   {"kind", s.kind}};
}

template <size_t N>
Json Pool(const std::array<EnemySlot, N>& pool) {
  Json out = Json::array();
  for (size_t i = 0; i < N; ++i)
    if (pool[i].timer >= 1) out.push_back(Slot(int(i), pool[i]));
  return out;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ParseScript(const std::string& text, std::vector<ScriptEvent>& out, std::string* error) {
  const std::vector<std::string_view> lines = text::Lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const int no = int(i) + 1;
    const std::string line(lines[i]);
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
  return ::SavePng(*screen_, path);
}

std::string Simulator::DumpJson() {
  Game& g = *game_;
  Tmy& my = g.my;
  Json j;
  j["frames_run"] = frames_run_;
  j["title_phase"] = g.run.title_phase;
  j["in_play"] = g.run.in_play;
  j["stage_end_countdown"] = g.run.stage_end_countdown;
  j["time_up"] = g.run.time_up;
  j["shake"] = g.run.shake;
  j["paused"] = g.run.paused;
  j["record_mode"] = g.run.record_mode;
  j["backdrop_on"] = g.run.backdrop_on;
  j["game_over_banner"] = g.run.game_over_banner;
  j["menu_screen"] = g.menu.screen;
  j["menu_back"] = g.menu.back;
  j["chapter_run"] = g.run.chapter_run;
  j["mouse_x"] = g.input.mouse_x;
  j["mouse_y"] = g.input.mouse_y;
  j["click"] = g.input.click;
  j["burst_request"] = g.run.burst_request;
  j["boss_slot"] = g.pools.boss_slot;
  j["frame_no"] = g.run.frame_no;
  j["invulnerable"] = g.run.invulnerable;
  j["closing_mark"] = g.run.closing_mark;
  j["story_index"] = g.run.story_index;
  j["story_on"] = g.run.story_on;
  j["story_lines"] = g.run.story.size();
  j["spawn_cursor"] = g.pools.spawn_cursor;
  j["shot_cursor"] = g.pools.shot_cursor;
  j["item_cursor"] = g.pools.item_cursor;
  j["effect_cursor"] = g.fx.cursor;
  j["log_count"] = g.log.count;
  j["frame_interval_ms"] = g.timing.frame_interval_ms;
  j["last_sound"] = g.sound.last;
  j["sound_queue"] = Json(g.sound.queue);
  j["name_box_visible"] = g.panels.name_box_visible;
  j["name_l"] = g.panels.name_l.text;
  j["hi_score_box_visible"] = g.panels.hi_score_box_visible;
  j["hi_score_l"] = g.panels.hi_score_l.text;
  j["rank_box_visible"] = g.panels.rank_box_visible;
  j["rank_l"] = g.panels.rank_l;
  j["rank_selected"] = g.panels.rank_selected;
  j["rank_lines"] = g.panels.rank_list.size();
  j["busy"] = g.ranking.busy;
  // The filled entries of the ranking table, in rank order.
  Json& ranking = j["ranking"] = Json::array();
  for (size_t i = 0; i < g.ranking.table.size(); ++i) {
    const RankEntry& r = g.ranking.table[i];
    if (r.name.empty()) continue;
    ranking.push_back({{"rank", i + 1}, {"name", r.name}, {"id", r.id}, {"score", r.score},
                       {"comment", r.comment}, {"date", r.date}, {"play_count", r.play_count}});
  }
  // The list as shown: its lines up to the first empty place after the last
  // filled one (the rest are all "--------").
  size_t shown = 0;
  for (size_t i = 0; i < g.ranking.table.size() && i < g.panels.rank_list.size(); ++i)
    if (!g.ranking.table[i].name.empty()) shown = i + 1;
  shown = std::min(g.panels.rank_list.size(), shown + 1);
  j["rank_list"] = {{"visible", g.panels.rank_box_visible},
                    {"selected", g.panels.rank_selected},
                    {"top", g.panels.rank_top},
                    {"line_count", g.panels.rank_list.size()},
                    {"lines", std::vector<std::string>(g.panels.rank_list.begin(), g.panels.rank_list.begin() + long(shown))}};
  j["save_error"] = g.save.error;

  Json m;
  m["mode"] = my.mode;
  m["stage"] = my.stage();
  m["distance"] = my.distance();
  m["score"] = my.score();
  m["lives"] = my.lives;
  m["level"] = my.level;
  m["name"] = my.name();
  m["player_id"] = my.player_id();
  m["se_volume"] = my.se_volume;
  m["time_stop"] = my.time_stop;
  m["stop_time"] = my.stop_time;
  m["barrier_time"] = my.barrier_time;
  m["barrier_timer"] = my.barrier_timer;
  m["barrier_x"] = my.barrier_x;
  m["barrier_y"] = my.barrier_y;
  m["barrier_size"] = my.barrier_size;
  m["ring_step"] = my.ring_step;
  m["ring_radius"] = my.ring_radius;
  m["shot_size"] = my.shot_size();
  m["shot_power"] = my.shot_power();
  m["shot_way"] = my.shot_way();
  m["shot_speed"] = my.shot_speed();
  m["laser_way"] = my.laser_way();
  m["chain_link"] = my.chain_link();
  m["chain_count"] = my.chain_count();
  m["player_x"] = my.player_x();
  m["player_y"] = my.player_y();
  m["ship_size"] = my.ship_size();
  m["target_lock"] = my.target_lock();
  for (int i = 0; i <= 10; ++i) m["buy_count"].push_back(my.buy_count(i));
  for (int k = 0; k < kModeCount; ++k) {
    m["hi_score"].push_back(my.hi_score(k));
    m["play_count"].push_back(my.play_count(k));
    m["comment"].push_back(my.comment(k));
  }
  j["my"] = std::move(m);

  j["enemies"] = Pool(g.pools.enemies);
  j["shots"] = Pool(g.pools.shots);
  j["items"] = Pool(g.pools.items);

  Json& effects = j["effects"] = Json::array();
  for (int i = 0; i < kEffectSlots; ++i) {
    const EffectSlot& e = g.fx.ring[size_t(i)];
    if (e.age < 1) continue;
    effects.push_back({{"index", i}, {"kind", e.kind}, {"age", e.age}, {"x", e.x}, {"y", e.y}, {"text", e.text}});
  }
  Json& log = j["log"] = Json::array();
  for (const LogRecord& r : g.log.records) log.push_back({{"text", r.text}, {"code", r.code}});
  Json& menu = j["menu"] = Json::array();
  for (const MenuItem& b : g.menu.table)
    if (b.visible)
      menu.push_back({{"caption", b.caption}, {"x", b.x}, {"y", b.y}, {"width", b.width}, {"height", b.height}});
  j["dialogs"] = dialogs_.shown;
  Json& sounds = j["sounds"] = Json::array();
  for (const auto& p : audio_.plays) sounds.push_back(BaseName(p.path));
  Json& music = j["music"] = Json::array();
  for (const std::string& path : audio_.music) music.push_back(BaseName(path));
  // Text that is not valid UTF-8 is shown with replacement characters rather than refused.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
