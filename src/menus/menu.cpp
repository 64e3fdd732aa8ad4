#include "menus/menu.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "assets/pictures.h"
#include "assets/sound.h"
#include "combat/player.h"
#include "effects/log.h"
#include "menus/shop.h"
#include "platform/files.h"
#include "platform/window.h"
#include "ranking/edit_box.h"
#include "ranking/name_entry.h"
#include "ranking/ranking_screen.h"
#include "replay/recorder.h"
#include "stages/timeline.h"
#include "state/game.h"

namespace {

constexpr uint32_t kButtonFrame = 8421504;
constexpr uint32_t kWhite = 0xFFFFFF;
// The hovered button's fill, pulsing with the frame number.
constexpr uint32_t kHoverPulse[8] = {5592405, 4473924, 3355443, 2236962,
                                     0,       2236962, 3355443, 4473924};

struct Button {
  const char* caption;
  int action;
};

// The fixed screens, each in layout order.
constexpr Button kChapterButtons[] = {
    {"第１章", kActionChapter1},     {"第２章", kActionChapter2}, {"第３章", kActionChapter3},
    {"第４章", kActionChapter4},     {"第５章", kActionChapter5}, {"最終章", kActionFinalChapter},
    {"<クリア>", kActionClear},      {"<SHOP>", kActionShop},     {"OPTION", kActionOption},
};
constexpr Button kStartButtons[] = {
    {"このゲームについて", kActionAbout},        {"<LIGHT スタート>", kActionStartLight},
    {"<EASY スタート>", kActionStartEasy},       {"<HARD スタート>", kActionStartHard},
    {"<EXTREAM スタート>", kActionStartExtream}, {"<NOVA スタート>", kActionStartNova},
    {"<SQ スタート>", kActionStartSq},           {"<HELL スタート>", kActionStartHell},
    {"RANKING", kActionRanking},                 {"REPLAY", kActionReplay},
    {"名前入力", kActionEnterName},
};
constexpr Button kRankingButtons[] = {
    {"LIGHT RANK", kActionRankLight},     {"EASY RANK", kActionRankEasy}, {"HARD RANK", kActionRankHard},
    {"EXTREAM RANK", kActionRankExtream}, {"NOVA RANK", kActionRankNova}, {"SQ RANK", kActionRankSq},
    {"HELL RANK", kActionRankHell},
};

// The mode of each ranking list code.
constexpr int kListMode[8] = {-1, EASY, HARD, EXTREAM, NOVA, SQ, LIGHT, HELL};

struct ModeStart {
  int action;
  int mode;
  const char* text;
};
constexpr ModeStart kModeStarts[] = {
    {kActionStartEasy, EASY, "EASY スタートします"},
    {kActionStartHard, HARD, "HARD スタートします"},
    {kActionStartExtream, EXTREAM, "EXTREAM スタートします"},
    {kActionStartNova, NOVA, "NOVA スタートします"},
    {kActionStartSq, SQ, "SQ スタートします"},
    {kActionStartLight, LIGHT, "LIGHT スタートします"},
    {kActionStartHell, HELL, "HELL スタートします"},
};

// Builds the record in place; returns the next free record number.
int Put(Game& g, int record, int screen, const std::string& caption, int action, int back,
        int width = 200) {
  g.menu.table[size_t(record)] =
      MenuItem{.caption = caption, .action = action, .screen = screen, .width = width, .height = 25, .back = back};
  return record + 1;
}

// The kept runs, in the order of the replay screen: the last run, then each
// mode's hi-score run in the start screen's order. Action = index + 1.
constexpr int kReplayModes[] = {-1, LIGHT, EASY, HARD, EXTREAM, NOVA, SQ, HELL};

std::string KeptReplayPath(const Game& g, int action) {
  int mode = kReplayModes[action - 1];
  return mode < 0 ? LastReplayPath(g) : HiScoreReplayPath(g, mode);
}

bool AnyReplayKept(const Game& g) {
  for (int a = 1; a <= 8; ++a)
    if (FileExists(KeptReplayPath(g, a))) return true;
  return false;
}

// Whether a start-screen button is left out for this player.
bool StartButtonHidden(Game& g, int action) {
  Tmy& my = g.my;
  bool named = !my.name().empty();
  switch (action) {
    case kActionAbout: return false;
    case kActionEnterName: return named;
    case kActionRanking: return !named;
    case kActionStartEasy: return !named;
    case kActionStartLight: return !named || my.play_count(EASY) < 4;
    case kActionStartHard: return !named || my.play_count(EASY) < 3;
    case kActionStartExtream: return !named || my.play_count(HARD) < 10;
    case kActionStartNova: return !named || my.play_count(EXTREAM) < 10;
    case kActionStartSq: return !named || my.play_count(LIGHT) < 3;
    case kActionStartHell: return !named || my.play_count(SQ) < 10;
    case kActionReplay: return !named || !AnyReplayKept(g);
    default: return true;
  }
}

bool ChapterButtonHidden(Game& g, int action) {
  int s = g.my.stage();
  switch (action) {
    case kActionChapter1: return s != 0;
    case kActionChapter2: return s != 1;
    case kActionChapter3: return s != 2;
    case kActionChapter4: return s != 3;
    case kActionChapter5: return s != 4;
    case kActionFinalChapter: return s != 5;
    case kActionClear: return s != 6;
    case kActionShop: return s < 1;
    default: return false;
  }
}

void StartAction(Game& g, int action) {
  Tmy& my = g.my;
  if (action == kActionAbout) {
    PlayEffect(g, "1.wav");
    AddSilverLogLine(g, "左Click:ショット　右Click:バリア　[Q]key:自殺 [Space]:一時停止");
    const int listed[] = {EASY, HARD, EXTREAM, NOVA, SQ};
    for (int m : listed) {
      if (my.play_count(m) > 0)
        AddSilverLogLine(g, std::string(kModeNames[m]) + " プレー回数 " +
                                std::to_string(my.play_count(m)) + "回");
    }
    return;
  }
  if (action == kActionRanking) {
    ShowPicture(g, "net.jpg");
    OpenMenuScreen(g, kRankingScreen);
    return;
  }
  if (action == kActionReplay) {
    OpenMenuScreen(g, kReplayScreen);
    return;
  }
  if (action == kActionEnterName) {
    CloseMenu(g);
    AddSilverLogLine(g, "あなたの名前を入力して下さい");
    ShowNameBox(g);
    return;
  }
  for (const ModeStart& s : kModeStarts) {
    if (s.action != action) continue;
    AddSilverLogLine(g, s.text);
    g.run.record_mode = 0;
    OpenMenuScreen(g, kChapterScreen);
    ShowPicture(g, "1.jpg");
    ResetGame(g);
    my.mode = s.mode;
    if (my.play_count(s.mode) < INT32_MAX) my.play_count(s.mode) += 1;  // never wraps
    g.run_started = 1;
    return;
  }
}

void ChapterAction(Game& g, int action) {
  switch (action) {
    case kActionChapter1:
      CloseMenu(g);
      ResetGame(g);
      g.run.chapter_run = 1;
      g.my.stage() += 1;
      PlayEffect(g, "1.wav");
      StartStage(g);
      break;
    case kActionChapter2:
    case kActionChapter3:
    case kActionChapter4:
    case kActionChapter5:
    case kActionFinalChapter:
      CloseMenu(g);
      g.my.stage() += 1;
      PlayEffect(g, "1.wav");
      StartStage(g);
      break;
    case kActionClear:
      CloseMenu(g);
      AddSilverLogLine(g, "クリアおめでとうございます");
      EndGame(g);
      break;
    case kActionShop:
      AddSilverLogLine(g, "ポイントを消費し、特殊効果を購入できます");
      OpenMenuScreen(g, kShopScreen);
      break;
    case kActionOption:
      OpenMenuScreen(g, kOptionScreen);
      break;
    default:
      break;
  }
}

void RankingAction(Game& g, int code) {
  if (code < kActionRankEasy || code > kActionRankHell) return;
  AddSilverLogLine(g, "読み込み中........");
  // The window program draws the frame with the waiting text, then fetches.
  g.flow.ranking_list = code;
}

}  // namespace

void BuildMenuTable(Game& g) {
  for (MenuItem& m : g.menu.table) m = MenuItem{};
  int r = 1;
  for (const Button& b : kChapterButtons)
    r = Put(g, r, kChapterScreen, ChapterButtonHidden(g, b.action) ? "" : b.caption, b.action, 0);
  r = Put(g, r, kOptionScreen, "SOUND", kActionSound, kChapterScreen);
  r = Put(g, r, kSoundScreen, "SE音量を下げる", kActionVolumeDown, kOptionScreen);
  r = Put(g, r, kSoundScreen, "SE音量を上げる", kActionVolumeUp, kOptionScreen);
  for (const Button& b : kStartButtons)
    r = Put(g, r, kStartScreen, StartButtonHidden(g, b.action) ? "" : b.caption, b.action, 0);
  for (const ShopOffer& o : ShopOffers(g)) {
    r = Put(g, r, kShopScreen, o.caption, o.id, 0, 250);
    MenuItem& m = g.menu.table[size_t(r - 1)];
    m.cost_kind = o.cost_kind;
    m.cost = o.price;
    m.item_id = o.id;
  }
  for (const Button& b : kRankingButtons) {
    int mode = kListMode[b.action];
    bool hidden = mode != EASY && g.my.play_count(mode) == 0;
    r = Put(g, r, kRankingScreen, hidden ? "" : b.caption, b.action, kStartScreen);
  }
  for (int a = 1; a <= 8; ++a) {
    int mode = kReplayModes[a - 1];
    std::string caption = mode < 0 ? "LAST RUN" : std::string(kModeNames[mode]) + " HI SCORE RUN";
    r = Put(g, r, kReplayScreen, FileExists(KeptReplayPath(g, a)) ? caption : "", a, kStartScreen);
  }
}

void OpenMenuScreen(Game& g, int screen) {
  PlayEffect(g, "2.wav");
  for (MenuItem& m : g.menu.table) m.visible = 0;
  g.menu.back = kChapterScreen;
  g.log.count = 0;
  BuildMenuTable(g);
  g.menu.screen = screen;
  int n = 0;
  for (MenuItem& m : g.menu.table) {
    if (m.screen != screen || m.caption.empty()) continue;
    m.visible = 1;
    m.enabled = 1;
    m.x = -50;
    m.target_x = 0;
    m.y = m.target_y = (m.height - 1) * n + 25;
    if (m.back != 0) g.menu.back = m.back;
    n += 1;
  }
}

void CloseMenu(Game& g) {
  ClearLog(g);
  g.log.count = 0;
  PlayEffect(g, "3.wav");
  for (MenuItem& m : g.menu.table) m.visible = 0;
  g.menu.screen = kNoMenu;
}

void StartStage(Game& g) {
  CloseMenu(g);
  g.run.backdrop_on = 0;
  ResetStage(g);
  g.run.in_play = 1;
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  g.my.ship_size() = 10;
}

int CaptionFontSize(Game& g, const std::string& caption, int width) {
  Canvas& c = *g.cg;
  c.SetFontBold(true);
  int size = 12;
  for (; size > 8; --size) {
    c.SetFontSize(size);
    if (c.TextWidth(caption) < width) break;
  }
  c.SetFontSize(size);
  return size;
}

void DrawMenu(Game& g) {
  if (g.run.in_play != 0) return;
  Canvas& c = *g.cg;
  g.menu.hovered = 0;
  for (size_t i = 1; i < g.menu.table.size(); ++i) {
    MenuItem& m = g.menu.table[i];
    if (!m.visible) continue;
    auto step = [](int32_t& v, int32_t target) {
      int d = std::abs(target - v) / 2 + 1;
      if (v < target) v = v + d > target ? target : v + d;
      else if (v > target) v = v - d < target ? target : v - d;
    };
    step(m.x, m.target_x);
    step(m.y, m.target_y);
    bool hovered = g.input.mouse_x >= m.x && g.input.mouse_x < m.x + m.width && g.input.mouse_y >= m.y &&
                   g.input.mouse_y < m.y + m.height - 1;
    if (hovered) g.menu.hovered = int32_t(i);

    uint32_t fill = hovered ? kHoverPulse[g.run.frame_no % 8] : 0;
    c.SetPen(kButtonFrame, 1);
    c.SetBrush(fill);
    c.SetBrushSolid(true);
    c.Rectangle(m.x, m.y, m.x + m.width, m.y + m.height);

    CaptionFontSize(g, m.caption, m.width);
    c.SetFontColor(kWhite);
    c.SetBrushSolid(false);
    TextSize t = c.MeasureText(m.caption);
    c.TextOut(m.x + (m.width - t.width) / 2, m.y + (m.height - t.height) / 2, m.caption);
    c.SetBrushSolid(true);
  }
  if (g.input.click != kClickNone) {
    g.input.click = kClickNone;
    int h = g.menu.hovered;
    if (h != 0 && g.menu.table[size_t(h)].enabled) MenuAction(g, h);
  }
}

void MenuAction(Game& g, int record) {
  if (record < 1 || record >= int(g.menu.table.size())) return;
  ClearLog(g);
  g.log.count = 0;
  const MenuItem m = g.menu.table[size_t(record)];  // a copy: actions rebuild the table
  switch (m.screen) {
    case kStartScreen: StartAction(g, m.action); break;
    case kChapterScreen: ChapterAction(g, m.action); break;
    case kRankingScreen: RankingAction(g, m.action); break;
    case kOptionScreen:
      if (m.action == kActionSound) OpenMenuScreen(g, kSoundScreen);
      break;
    case kSoundScreen: ChangeVolume(g, m.action == kActionVolumeUp ? +1 : -1); break;
    case kShopScreen: Buy(g, m.item_id, m.cost, m.cost_kind); break;
    case kReplayScreen:
      // The window program starts watching when this frame's input is done.
      g.flow.replay_path = KeptReplayPath(g, m.action);
      g.flow.replay_title = m.caption;
      break;
    default: break;
  }
}

void FieldClick(Game& g, int x, int y, int button) {
  if (g.panels.hi_score_box_visible) return;
  // While the name is being entered the field takes no clicks: a right click
  // would otherwise go "back" to the chapter screen and start a run unnamed.
  if (g.panels.name_box_visible) return;
  if (g.run.record_mode >= 1) {
    g.panels.hi_score_box_visible = true;
    g.panels.hi_score_box_x = 0;
    g.panels.hi_score_box_y = 286;
    int m = g.my.mode >= 0 && g.my.mode < kModeCount ? g.my.mode : 0;
    EditBoxPreset(g.panels.hi_score_l, g.my.comment(m));
    return;
  }
  if (g.run.game_over_banner >= 1) {
    g.run.game_over_banner = 0;
    ShowPicture(g, "0.jpg");
    OpenMenuScreen(g, kStartScreen);
    return;
  }
  if (g.run.in_play != 0) {
    g.input.mouse_x = x;
    g.input.mouse_y = y;
    g.input.click = button == kButtonRight ? kClickRight : kClickFire;
    return;
  }
  if (button == kButtonLeft) {
    g.input.mouse_x = x;
    g.input.mouse_y = y;
    g.input.click = kClickFire;
    DrawMenu(g);
  }
  if (g.run.title_phase == -2) {
    g.run.title_phase = -1;
    PlayEffect(g, "1.wav");
    ShowPicture(g, "0.jpg");
    return;
  }
  if (g.run.title_phase == -1) {
    g.run.title_phase = 0;
    OpenMenuScreen(g, kStartScreen);
    return;
  }
  if (button == kButtonRight) {
    int d = g.menu.back;
    if (d != kNoMenu && d != g.menu.screen && g.menu.screen != kStartScreen) {
      if (d == kChapterScreen) ShowPicture(g, "1.jpg");
      if (d == kStartScreen) ShowPicture(g, "0.jpg");
      OpenMenuScreen(g, d);
      return;
    }
    if (g.menu.screen == kChapterScreen && g.run.chapter_run == 0) {
      ShowPicture(g, "0.jpg");
      OpenMenuScreen(g, kStartScreen);
    }
  }
}
