#include "autoplay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "menus/menu.h"
#include "platform/clock.h"
#include "stages/enemies.h"

namespace {

// Button texts of the menus the bot uses.
const char* const kStartButtons[kModeCount] = {
    "<EASY スタート>", "<HARD スタート>", "<EXTREAM スタート>", "<NOVA スタート>",
    "<SQ スタート>",   "<LIGHT スタート>", "<HELL スタート>"};
const char* const kChapterButtons[6] = {"第１章", "第２章", "第３章", "第４章", "第５章", "最終章"};
// What the bot buys. In each shop it buys, one at a time, the first item of
// this list that is offered and that it can afford, until it can afford none;
// then it goes back to the chapters. Lives pay only for "LV +5", bought below
// level 5 and only while a life is left afterwards.
struct Wish {
  const char* text;  // the start of the shop caption
  int below_lives;   // bought only below this many lives (0: any)
  int below_level;   // and below this level (0: any)
};
const Wish kShopWishes[] = {{"3 WAY", 0, 0},           {"2 WAY", 0, 0},         {"LAZER WAY+1", 0, 0},
                            {"LV +5", 0, 5},           {"SHOT POWER+1", 0, 0},  {"LIFE +1", 6, 0},
                            {"SHOT SIZE+1", 0, 0},     {"SHOT SPEED+1", 0, 0},  {"BARRIER SIZE+10", 0, 0},
                            {"BARRIER Time+10", 0, 0}, {"STOP Time+20", 0, 0}};
constexpr int kLivesKept = 1;

}  // namespace

class AutoplayBot::Impl {
 public:
  Impl(Simulator& sim, int mode, bool time_frames)
      : sim_(sim), g_(sim.game()), mode_(mode), time_frames_(time_frames) {
    r_.mode = mode;
  }

  AutoplayResult Run(int max_frames) {
    // The bot plays the mode it is asked for: modes not yet unlocked are opened
    // by giving the save the play counts that unlock them.
    Unlock();
    for (int f = 0; f < max_frames && r_.end.empty() && !g_.run.quit; ++f) {
      Decide();
      if (!r_.end.empty()) break;
      Frame();
    }
    if (r_.end.empty()) r_.end = "stuck";
    return r_;
  }

  void Frame() {
    {
      int lives = g_.my.lives;
      bool playing = g_.run.in_play != 0;
      double c0 = ThreadCpuMs();
      auto t0 = std::chrono::steady_clock::now();
      sim_.Frame();
      auto t1 = std::chrono::steady_clock::now();
      double c1 = ThreadCpuMs();
      if (playing && time_frames_) {
        r_.frame_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        r_.frame_cpu_ms.push_back(c1 - c0);
      }
      if (playing && (g_.my.lives < lives || (g_.run.in_play == 0 && g_.run.game_over_banner)))
        r_.lives_lost += 1;
      r_.frames += 1;
      if (g_.my.score() > r_.score) r_.score = g_.my.score();
      if (g_.my.stage() > r_.stage) r_.stage = g_.my.stage();
      if (playing && g_.run.in_play == 0 && g_.run.time_up && r_.stage == 6) last_timeup_ = true;
    }
  }

  const AutoplayResult& result() const { return r_; }
  bool done() const { return !r_.end.empty(); }
  void Send(const std::string& verb, std::vector<std::string> args) {
    ScriptEvent e;
    e.verb = verb;
    e.args = std::move(args);
    std::string err;
    sim_.Apply(e, &err);
  }
  void Move(int x, int y) { Send("move", {std::to_string(x), std::to_string(y)}); }
  void Down(const char* b, int x, int y) { Send("down", {b, std::to_string(x), std::to_string(y)}); }
  void Up(const char* b, int x, int y) { Send("up", {b, std::to_string(x), std::to_string(y)}); }

  void Unlock() {
    Tmy& my = g_.my;
    auto at_least = [&](int m, int n) {
      if (my.play_count(m) < n) my.play_count(m) = n;
    };
    switch (mode_) {
      case HARD: at_least(EASY, 3); break;
      case LIGHT: at_least(EASY, 4); break;
      case EXTREAM: at_least(EASY, 3); at_least(HARD, 10); break;
      case NOVA: at_least(EASY, 3); at_least(HARD, 10); at_least(EXTREAM, 10); break;
      case SQ: at_least(EASY, 4); at_least(LIGHT, 3); break;
      case HELL: at_least(EASY, 4); at_least(LIGHT, 3); at_least(SQ, 10); break;
      default: break;
    }
  }

  // A visible menu button whose caption starts with `text`, settled in place.
  const MenuItem* Button(const std::string& text) {
    for (const MenuItem& m : g_.menu.table)
      if (m.visible && m.caption.compare(0, text.size(), text) == 0) return &m;
    return nullptr;
  }
  bool ClickButton(const std::string& text) {
    const MenuItem* m = Button(text);
    if (!m || m->x != m->target_x) return false;
    int x = m->x + m->width / 2, y = m->y + m->height / 2;
    Move(x, y);
    Down("left", x, y);
    Up("left", x, y);
    return true;
  }

  void Decide() {
    if (!r_.end.empty()) return;
    if (g_.menu.screen != kShopScreen) in_shop_ = false;
    if (wait_ > 0) {
      --wait_;
      return;
    }
    if (g_.run.in_play) {
      Play();
      return;
    }
    if (holding_) {
      Up("left", g_.input.mouse_x, g_.input.mouse_y);
      holding_ = false;
    }
    if (g_.panels.hi_score_box_visible) {  // a new record: leave a comment and send it
      Send("text", {"autoplay"});
      Send("key", {"13"});
      wait_ = 2;
      return;
    }
    if (g_.panels.rank_box_visible) {
      Down("right", 300, 200);
      Up("right", 300, 200);
      wait_ = 2;
      return;
    }
    if (started_ && g_.run.game_over_banner && g_.run.record_mode == 0) {
      r_.end = clear_clicked_ ? (last_timeup_ ? "timeup" : "clear") : "gameover";
      return;
    }
    if (g_.run.title_phase < 0 || g_.run.game_over_banner || g_.run.record_mode) {
      Down("left", 600, 20);
      Up("left", 600, 20);
      wait_ = 2;
      return;
    }
    if (g_.panels.name_box_visible) {
      Send("text", {"autoplay"});
      Send("key", {"13"});
      wait_ = 2;
      return;
    }
    switch (g_.menu.screen) {
      case kStartScreen:
        if (g_.my.name().empty()) {
          if (ClickButton("名前入力")) wait_ = 2;
        } else if (ClickButton(kStartButtons[mode_])) {
          started_ = true;
          wait_ = 2;
        }
        break;
      case kChapterScreen:
        Chapter();
        break;
      case kShopScreen:
        Shop();
        break;
      default:  // options or anything else: back
        Down("right", 600, 400);
        Up("right", 600, 400);
        wait_ = 2;
        break;
    }
  }

  // Every shown button has slid into its place: a click now hits what it aims at.
  bool Settled() const {
    for (const MenuItem& m : g_.menu.table)
      if (m.visible && (m.x != m.target_x || m.y != m.target_y)) return false;
    return true;
  }

  void Chapter() {
    if (!Settled()) return;
    int s = g_.my.stage();
    if (s >= 1 && s <= 5 && !shopped_[s] && shop_tries_[s] < 3) {
      ++shop_tries_[s];
      if (ClickButton("<SHOP>")) {
        wait_ = 2;
        return;
      }
    }
    if (s >= 0 && s <= 5) {
      if (ClickButton(kChapterButtons[s])) wait_ = 2;
      return;
    }
    if (s == 6 && ClickButton("<クリア>")) {
      clear_clicked_ = true;
      wait_ = 2;
    }
  }

  void Shop() {
    const int s = g_.my.stage();
    if (!in_shop_) {
      in_shop_ = true;
      shop_misses_ = 0;
      if (s >= 0 && s <= 6) shopped_[s] = true;
      r_.shops.push_back({s, g_.my.score(), g_.my.lives, {}});
    }
    if (pending_id_ > 0) {  // the last click: did it buy?
      if (g_.my.buy_count(pending_id_) > pending_count_) r_.shops.back().bought.push_back(pending_text_);
      else ++shop_misses_;
      pending_id_ = 0;
    }
    if (!Settled()) return;  // the buttons slide in again after each purchase
    for (const Wish& wish : kShopWishes) {
      if (shop_misses_ >= 3) break;  // clicks that buy nothing: give up on this shop
      const MenuItem* m = Button(wish.text);
      if (!m || (wish.below_lives > 0 && g_.my.lives >= wish.below_lives) ||
          (wish.below_level > 0 && g_.my.level >= wish.below_level))
        continue;
      const bool afford = m->cost_kind == 0 ? m->cost <= g_.my.score() : g_.my.lives - m->cost >= kLivesKept;
      if (!afford) continue;
      pending_id_ = m->item_id;
      pending_count_ = g_.my.buy_count(m->item_id);
      pending_text_ = wish.text;
      if (ClickButton(wish.text)) {
        wait_ = 2;
        return;
      }
      pending_id_ = 0;
    }
    Down("right", 600, 400);  // back to the chapter screen
    Up("right", 600, 400);
    in_shop_ = false;
    wait_ = 2;
  }

  void Play() {
    int px = g_.my.player_x(), py = g_.my.player_y();
    // The nearest live enemy (orbiters and flyers first; bullets only to dodge).
    int best = -1;
    long best_d = 1L << 40;
    int threat = 0;
    double push_x = 0, push_y = 0;  // away from everything close to the ship
    for (int i = 1; i < kEnemySlots; ++i) {
      const EnemySlot& s = g_.pools.enemies[size_t(i)];
      if (s.timer < 1) continue;
      long dx = s.x - px, dy = s.y - py;
      long d = dx * dx + dy * dy;
      if (d < 70L * 70L) ++threat;
      long reach = 90 + s.size;
      if (d < reach * reach) {
        double dist = std::sqrt(double(d)) + 1.0;
        push_x -= dx / dist * (reach - dist);
        push_y -= dy / dist * (reach - dist);
      }
      if (s.cls == kEnemyBullet) continue;  // bullets are only dodged
      if (s.x < 0 || s.x > 640 || s.y < 0 || s.y > 480) continue;
      if (d < best_d) {
        best_d = d;
        best = i;
      }
    }
    int tx = 320, ty = 120;
    if (best >= 0) {
      tx = g_.pools.enemies[size_t(best)].x;
      ty = g_.pools.enemies[size_t(best)].y;
    }
    bool moving = IsMovingShipMode(mode_);
    int mx = tx, my = ty;
    if (moving) {
      // Fire upward from low on the field under the target (orbiters cross
      // the centre in these modes), and step away from whatever comes close.
      mx = tx;
      my = 430;
      if (push_x != 0 || push_y != 0) {
        mx = px + int(push_x * 3);
        my = py + int(push_y * 3);
      }
      mx = std::clamp(mx, 20, 620);
      my = std::clamp(my, 60, 460);
    }
    Move(mx, my);
    bool lockon = mode_ == HARD || mode_ == NOVA || mode_ == HELL;
    ++tick_;
    if (right_held_) {
      Up("right", mx, my);
      right_held_ = false;
      return;
    }
    if (threat >= 3 && g_.my.level >= 2 && g_.my.barrier_timer == 0 && g_.my.time_stop == 0 &&
        tick_ - last_right_ > 30) {
      if (holding_) {
        Up("left", mx, my);
        holding_ = false;
      }
      Down("right", mx, my);  // released on a later frame, after the weapon saw it
      right_held_ = true;
      last_right_ = tick_;
      return;
    }
    if (!holding_) {
      Down("left", mx, my);
      holding_ = true;
      held_since_ = tick_;
    } else if (lockon && tick_ - held_since_ > 18) {
      Up("left", mx, my);  // release the lock-on burst
      holding_ = false;
    }
  }

  Simulator& sim_;
  Game& g_;
  int mode_;
  bool time_frames_;
  AutoplayResult r_;
  int wait_ = 0;
  bool holding_ = false;
  bool right_held_ = false;
  int held_since_ = 0;
  int tick_ = 0;
  int last_right_ = -1000;
  bool started_ = false;
  bool clear_clicked_ = false;
  bool last_timeup_ = false;
  bool shopped_[7] = {};
  int shop_tries_[7] = {};
  bool in_shop_ = false;  // since the bot came into the shop
  int shop_misses_ = 0;
  int pending_id_ = 0;  // the item of the last click in the shop, and its count then
  int pending_count_ = 0;
  std::string pending_text_;
};

AutoplayBot::AutoplayBot(Simulator& sim, int mode, bool time_frames)
    : impl_(new Impl(sim, mode, time_frames)) {}
AutoplayBot::~AutoplayBot() { delete impl_; }
void AutoplayBot::Unlock() { impl_->Unlock(); }
void AutoplayBot::Decide() { impl_->Decide(); }
void AutoplayBot::Frame() { impl_->Frame(); }
const AutoplayResult& AutoplayBot::result() const { return impl_->result(); }
bool AutoplayBot::done() const { return impl_->done(); }

int ModeFromName(const std::string& name) {
  for (int m = 0; m < kModeCount; ++m)
    if (name == kModeNames[m]) return m;
  return -1;
}

AutoplayResult Autoplay(Simulator& sim, int mode, int max_frames, bool time_frames) {
  AutoplayBot::Impl bot(sim, mode, time_frames);
  return bot.Run(max_frames);
}

std::string AutoplaySummary(const AutoplayResult& r) {
  std::string shops;
  std::size_t bought = 0;
  for (const ShopVisit& v : r.shops) {
    bought += v.bought.size();
    shops += " [shop " + std::to_string(v.stage) + ", " + std::to_string(v.score) + " Pt., " +
             std::to_string(v.lives) + (v.lives == 1 ? " life:" : " lives:");
    for (std::size_t i = 0; i < v.bought.size(); ++i) shops += (i == 0 ? " " : ", ") + v.bought[i];
    shops += v.bought.empty() ? " nothing]" : "]";
  }
  return "play: mode=" + std::string(kModeNames[r.mode]) + " stage=" + std::to_string(r.stage) +
         " score=" + std::to_string(r.score) + " frames=" + std::to_string(r.frames) +
         " lives_lost=" + std::to_string(r.lives_lost) + " end=" + r.end + " bought=" + std::to_string(bought) + shops;
}
