// The whole state of one game: the player record `my`, the three pools, the
// effect ring, the log, the menu table and every run-time value. Everything is
// fixed in size and lives in one `Game` value that is passed by reference.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "rank_service/rank_entry.h"

class Audio;
class Dialogs;
class Clock;
class Http;
class RankStore;
struct PlayerKey;
struct RankJob;
struct ReplayRecorder;
struct ReplayView;

// Difficulty modes as stored in my.mode.
enum Mode : int32_t { EASY = 0, HARD = 1, EXTREAM = 2, NOVA = 3, SQ = 4, LIGHT = 5, HELL = 6 };
constexpr int kModeCount = 7;
extern const char* const kModeNames[kModeCount];  // "EASY" .. "HELL"

inline bool IsMovingShipMode(int mode) { return mode == EXTREAM || mode == NOVA || mode == HELL; }

// One record of the enemy, shot and item pools: 19 signed 32-bit integers.
struct EnemySlot {
  int32_t passed = 0;
  int32_t links = 0;
  int32_t lockOn = 0;
  int32_t retreat = 0;
  int32_t cls = 0;
  int32_t big = 0;
  int32_t link = 0;
  int32_t flash = 0;
  int32_t hp = 0;
  int32_t originX = 0;
  int32_t originY = 0;
  int32_t x = 0;
  int32_t y = 0;
  int32_t size = 0;
  int32_t timer = 0;
  int32_t radius = 0;
  int32_t angle = 0;
  int32_t speed = 0;
  int32_t kind = 0;
};

constexpr int kEnemySlots = 700;
constexpr int kShotSlots = 100;
constexpr int kItemSlots = 200;

// A square box about a centre. Two things touch when their boxes overlap on
// both axes; boxes that only share an edge do not touch.
struct HitBox {
  int32_t x, y, half;
};
inline HitBox HitBoxOf(const EnemySlot& s) { return {s.x, s.y, s.size}; }
inline bool Touch(const HitBox& a, const HitBox& b) {
  return a.x - a.half < b.x + b.half && a.x + a.half > b.x - b.half && a.y - a.half < b.y + b.half &&
         a.y + a.half > b.y - b.half;
}

// Moves a ring cursor on by one slot: past the last of `slots` it wraps to
// `first` (the enemy pool never hands out slot 0).
inline void NextSlot(int32_t& cursor, int slots, int first = 0) {
  cursor += 1;
  if (cursor >= slots) cursor = first;
}

// Moves the cursor on to the next free slot of a pool: after 1000 further
// steps over live slots the one reached is taken, live or not.
template <size_t N>
EnemySlot& NextFreeSlot(std::array<EnemySlot, N>& pool, int32_t& cursor, int first = 0) {
  NextSlot(cursor, int(N), first);
  for (int steps = 0; pool[size_t(cursor)].timer >= 1 && steps < 1000; ++steps) NextSlot(cursor, int(N), first);
  return pool[size_t(cursor)];
}

// The player record.
struct Tmy {
  // String slots 0..6 hold the per-mode hi-score comments (slot order LIGHT,
  // HELL, SQ, EASY, HARD, EXTREAM, NOVA); slot 7 the player name.
  std::string str[8];
  int32_t se_volume = 0;
  int32_t level = 0;
  int32_t time_stop = 0;
  int32_t stop_time = 0;
  int32_t barrier_time = 0;
  int32_t barrier_timer = 0;
  int32_t barrier_x = 0;
  int32_t barrier_y = 0;
  int32_t barrier_size = 0;
  int32_t ring_step = 0;
  int32_t ring_radius = 0;
  int32_t mode = 0;
  int32_t lives = 0;
  int32_t num[299] = {};

  // Where each mode keeps its saved values.
  static constexpr int kHiScoreIndex[kModeCount] = {288, 289, 290, 291, 292, 286, 287};
  static constexpr int kPlayCountIndex[kModeCount] = {263, 264, 262, 261, 260, 259, 258};
  static constexpr int kCommentSlot[kModeCount] = {3, 4, 5, 6, 2, 0, 1};

  int32_t& buy_count(int id) { return num[id]; }
  int32_t buy_count(int id) const { return num[id]; }
  int32_t& player_id() { return num[102]; }
  int32_t player_id() const { return num[102]; }
  int32_t& stage() { return num[107]; }
  int32_t stage() const { return num[107]; }
  int32_t& distance() { return num[109]; }
  int32_t distance() const { return num[109]; }
  int32_t& play_count(int mode) { return num[kPlayCountIndex[mode]]; }
  int32_t play_count(int mode) const { return num[kPlayCountIndex[mode]]; }
  int32_t& shot_size() { return num[267]; }
  int32_t shot_size() const { return num[267]; }
  int32_t& shot_power() { return num[268]; }
  int32_t shot_power() const { return num[268]; }
  int32_t& shot_way() { return num[269]; }
  int32_t shot_way() const { return num[269]; }
  int32_t& shot_speed() { return num[270]; }
  int32_t shot_speed() const { return num[270]; }
  int32_t& laser_way() { return num[271]; }
  int32_t laser_way() const { return num[271]; }
  int32_t& chain_link() { return num[272]; }
  int32_t chain_link() const { return num[272]; }
  int32_t& chain_count() { return num[273]; }
  int32_t chain_count() const { return num[273]; }
  int32_t& player_x() { return num[275]; }
  int32_t player_x() const { return num[275]; }
  int32_t& player_y() { return num[276]; }
  int32_t player_y() const { return num[276]; }
  int32_t& ship_size() { return num[281]; }
  int32_t ship_size() const { return num[281]; }
  int32_t& score() { return num[285]; }
  int32_t score() const { return num[285]; }
  int32_t& hi_score(int mode) { return num[kHiScoreIndex[mode]]; }
  int32_t hi_score(int mode) const { return num[kHiScoreIndex[mode]]; }
  int32_t& target_lock() { return num[298]; }
  int32_t target_lock() const { return num[298]; }
  std::string& comment(int mode) { return str[kCommentSlot[mode]]; }
  const std::string& comment(int mode) const { return str[kCommentSlot[mode]]; }
  std::string& name() { return str[7]; }
  const std::string& name() const { return str[7]; }
};

// One slot of the effect ring.
struct EffectSlot {
  int32_t age = 0;
  int32_t x = 0, y = 0;
  int32_t x0 = 0, y0 = 0;
  int32_t u = 0, v = 0;
  int32_t kind = 0;
  std::string text;
  int32_t scratch[230] = {};
};
constexpr int kEffectSlots = 200;

// One record of the message log.
struct LogRecord {
  std::string text;
  int32_t code = 0;
};
constexpr int kLogRecords = 21;

// One button of the menu table.
struct MenuItem {
  std::string caption;  // empty: the button does not exist
  int32_t cost_kind = 0;
  int32_t action = 0;
  int32_t visible = 0;
  int32_t enabled = 0;
  int32_t cost = 0;
  int32_t screen = 0;
  int32_t x = 0, y = 0;
  int32_t target_x = 0, target_y = 0;
  int32_t width = 0, height = 0;
  int32_t back = 0;
  int32_t item_id = 0;  // shop: the item id whose buy count the button raises
};
constexpr int kMenuRecords = 3000;

// One speed line of the background.
struct SpeedLine {
  int32_t count = 0;
  int32_t look = 0;
  int32_t radius = 0;
  int32_t angle = 0;
  int32_t length = 0;
  int32_t speed = 0;
};
constexpr int kSpeedLines = 20;

// A single-line text field of the name and comment panels.
struct EditBox {
  std::string text;         // UTF-8
  std::string composition;  // IME text being composed, not yet part of text (shown at the caret)
  int max_bytes = 0;        // limit in CP932 bytes
  // The caret and the other end of the selection, in UTF-8 bytes counted from
  // the end of text (0: at the end), so text set from outside keeps the caret
  // at its end. Equal: nothing is selected.
  int caret_back = 0;
  int anchor_back = 0;
};

// The services the game reaches the outside world through.
struct Platform {
  Audio* audio = nullptr;
  Dialogs* dialogs = nullptr;
  Clock* clock = nullptr;
  // When set, every ranking exchange goes here (tests, tools); otherwise
  // server.txt in data_dir names the server, or the local ranking is used.
  std::shared_ptr<Http> http;
  std::shared_ptr<FontSet> fonts;
  std::string game_dir;  // folder holding cg/ and dat/, without a trailing slash
  std::string data_dir;  // folder of the save file (normally game_dir + "/dat")
};

// The three pools and their spawn cursors; boss_slot is the enemy slot of the
// running boss (0: none).
struct Pools {
  std::array<EnemySlot, kEnemySlots> enemies{};
  std::array<EnemySlot, kShotSlots> shots{};
  std::array<EnemySlot, kItemSlots> items{};
  int32_t spawn_cursor = 0;
  int32_t shot_cursor = 0;
  int32_t item_cursor = 0;
  int32_t boss_slot = 0;
  // Counts slots filled by spawns, so that a scan can tell when a slot has a
  // new occupant (and perhaps a new link) since it last looked.
  uint32_t fills = 0;
};

// The run flow: title phases, play, stage end, pause, the story messages of
// the running stage and the close of the window.
struct RunFlow {
  int32_t title_phase = -2;
  int32_t in_play = 0;
  int32_t stage_end_countdown = 0;
  int32_t time_up = 0;
  int32_t shake = 0;
  int32_t paused = 0;
  int32_t record_mode = 0;
  int32_t backdrop_on = 0;
  int32_t game_over_banner = 0;
  int32_t chapter_run = 0;
  int32_t burst_request = 0;
  int32_t frame_no = 0;
  int32_t invulnerable = 0;
  int32_t closing_mark = 0;
  std::vector<std::string> story;
  int32_t story_index = 0;
  int32_t story_on = 0;
  bool quit = false;  // the window should close (the close handler has run)
};

// What the button held in play asks of the weapons (`click`): the left (or
// middle) button fires, the right one raises the barrier or stops time.
enum Click : int32_t { kClickNone = 0, kClickFire = 1, kClickRight = 2 };

// The pointer as the game sees it.
struct Pointer {
  int32_t mouse_x = 0, mouse_y = 0;
  int32_t click = kClickNone;
  // The window program's hold on a quick press (WindowInput in the shell): a
  // press the field keeps for the next frame stays down until a frame has
  // run, and a release that comes before that waits here until then. Not part
  // of the run state: the game, and a replay, get the release after the frame.
  bool press_unseen = false;
  bool release_held = false;
  int32_t held_button = 0, held_x = 0, held_y = 0;
};

// Menu screens (menu_screen values; 0 = no menu shown).
enum MenuScreen : int32_t {
  kNoMenu = 0,
  kChapterScreen = 1,
  kOptionScreen = 3,
  kSoundScreen = 4,
  kStartScreen = 5,
  kShopScreen = 6,
  kRankingScreen = 7,
  kReplayScreen = 8,  // the kept runs to watch
};

// The menu table and the screen it shows.
struct MenuState {
  std::vector<MenuItem> table = std::vector<MenuItem>(kMenuRecords);
  int32_t screen = 0;
  int32_t back = 0;
  int32_t hovered = 0;
};

// Sound: repeat guard, queue and the named wave cache (-1 = failed load).
struct SoundState {
  std::string last;
  int32_t last_hold = 0;
  std::deque<std::string> queue;
  std::map<std::string, int> waves;
};

// The frame clock.
struct FrameTiming {
  double next_frame = 0, next_second = 0, next_sound = 0;
  int32_t frame_interval_ms = 0;
};

// The effect ring and the speed lines of the background.
struct Effects {
  std::array<EffectSlot, kEffectSlots> ring{};
  int32_t cursor = 0;
  std::array<SpeedLine, kSpeedLines> speed_lines{};
};

// The message log.
struct MessageLog {
  std::array<LogRecord, kLogRecords> records{};
  int32_t count = 0;
};

// The panels: name entry, hi-score comment entry, ranking list.
struct Panels {
  bool name_box_visible = false;
  int32_t name_box_x = 3, name_box_y = 490;
  EditBox name_l{{}, {}, 12};
  bool hi_score_box_visible = false;
  int32_t hi_score_box_x = -1, hi_score_box_y = 286;
  EditBox hi_score_l{{}, {}, 30};
  bool rank_box_visible = false;
  std::string rank_l = "RANKING";
  int32_t rank_mode = 0;  // wire number of the mode the list shows (0: none)
  std::string rank_note;  // a line under the list: how the last replay request went
  std::vector<std::string> rank_list;
  std::vector<int32_t> rank_comment_at;  // where each line's comment begins (bytes; its length when none)
  int32_t rank_selected = -1;
  int32_t rank_top = 0;    // first list line shown
  int32_t rank_drag = -1;  // while the list's scroll bar is dragged: the grab offset in the thumb
  // The key help over the field (the window program's; no frame runs while it shows).
  bool help_visible = false;
};

// The online ranking: the 1000-entry table the list shows, the exchange
// running on its worker thread, and the local ranking (opened on first use
// when no server is set).
struct RankingState {
  bool busy = false;  // a ranking exchange is running
  std::vector<RankEntry> table = std::vector<RankEntry>(kRankEntries);
  int32_t table_mode = 0;  // wire number of the mode whose ranking the table holds (0: none read yet)
  std::string error;  // why the last ranking read or send failed (empty after a success)
  std::shared_ptr<RankJob> job;
  std::shared_ptr<RankStore> store;
  std::shared_ptr<const PlayerKey> key;  // signs records and replays (read from my.key on first use)
  std::string refusal;  // the server's reason when it refused a replay upload or fetch (UTF-8)
  std::string fetched;  // the replay the last fetch brought
};

// Save file: the saved values as last written, and the bytes of a damaged file
// that must be kept aside before it is first overwritten.
struct SaveState {
  std::string snapshot;
  std::string damaged_bytes;
  bool damaged = false;
  bool damaged_large = false;  // too large to hold: copied from the disk when kept
  bool blocked = false;  // the file exists but cannot be read: never overwrite it
  std::string error;     // the last write failure, empty when fine
};

// Flow changes that a lower layer asks for and the layer owning them carries
// out at a fixed point: the stage timeline closes a stage and the menus open
// the chapter screen right after the timeline's step of the frame; a ranking
// button has the frame drawn with its waiting text before the list is fetched;
// a replay button has the window program start watching once its input is done.
struct FlowRequests {
  int32_t open_screen = kNoMenu;
  int32_t ranking_list = 0;  // the ranking list code to fetch, 0 = none
  std::string replay_path;
  std::string replay_title;
  std::string replay_bytes;  // a replay to watch held in memory (fetched), instead of a path
};

// The player's settings (settings.txt beside the save; not part of my.dat),
// and a short notice the window shows over the field about them.
struct Settings {
  bool music_muted = false;
  std::string notice;
  double notice_until = 0;  // clock days
};

struct Game {
  Platform pf;

  Tmy my;  // the player record
  Pools pools;
  RunFlow run;
  Pointer input;
  MenuState menu;
  Panels panels;
  RankingState ranking;
  SaveState save;
  SoundState sound;
  FrameTiming timing;
  Effects fx;
  MessageLog log;
  FlowRequests flow;
  Settings settings;

  // Canvases: cg is what the window shows; effects glow on bak, which is
  // OR-ed onto cg once per frame. memo only measures text for the log.
  std::unique_ptr<Canvas> cg, bak, memo;
  // The bitmap table; only entries that hold a picture are allocated.
  std::array<std::unique_ptr<Canvas>, 50> bitmaps;

  // The one random generator of the game.
  std::mt19937 rng;

  // Replays: the recorder (set by the window program and the tools that
  // record), and the marks a run leaves for it: a mode start sets run_started,
  // the hi-score rule at the end of a game sets run_ended with the score the
  // game ended with. Whoever watches the run clears them.
  std::shared_ptr<ReplayRecorder> recorder;
  int32_t run_started = 0;
  int32_t run_ended = 0;
  int32_t run_end_score = 0;
  // The replay being watched.
  std::shared_ptr<ReplayView> replay_view;
};

// A uniform integer 0..n-1 (0 when n < 1).
int Random(Game& g, int n);

// Builds a game on the given platform: canvases, bitmap table, new-game reset.
// Does not load anything from disk (FormCreate does).
std::unique_ptr<Game> MakeGame(const Platform& pf, uint64_t seed);

// The new-game reset.
void ResetGame(Game& g);
// The hi-score rule: a strictly greater score becomes the mode's hi score and
// sets record_mode; then the new-game reset.
void ApplyHiScoreRule(Game& g);

// Paths inside the game folder.
std::string CgPath(const Game& g, const std::string& file);
std::string DatPath(const Game& g, const std::string& file);
std::string SavePath(const Game& g);
