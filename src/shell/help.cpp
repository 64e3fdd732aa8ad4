#include "shell/help.h"

#include <cstdint>
#include <utility>

#include "platform/canvas.h"
#include "platform/window.h"
#include "ranking/panels.h"
#include "state/game.h"

namespace {

// Key, then what it does.
constexpr std::pair<const char*, const char*> kControls[] = {
    {"マウス", "照準 (EXTREAM・NOVA・HELL では自機が向かう)"},
    {"左ボタン", "ショット (押している間)・メニューを選ぶ"},
    {"左ボタンを離す", "ロックオン弾 (HARD・NOVA・HELL)"},
    {"右ボタン", "バリア / タイムストップ (Lv2から)・メニューを戻る"},
    {"Space", "ポーズ / 再開"},
    {"S", "ストーリーを飛ばす"},
    {"Q", "ゲームをあきらめる"},
    {"Esc", "タイトル画面で: セーブデータの初期化"},
    {"M", "音楽を消す / 戻す"},
    {"Alt+Enter, F11", "フルスクリーン / ウィンドウ"},
    {"F1, ?", "このヘルプ"},
};

}  // namespace

HelpAnswer HelpInput(Game& g, const InputEvent& e) {
  if (g.panels.help_visible) {
    switch (e.type) {
      case InputEvent::kKeyDown:
        // A held F1 repeating leaves it open.
        if (!e.repeat) g.panels.help_visible = false;
        return HelpAnswer::kTaken;
      case InputEvent::kMouseDown:
        g.panels.help_visible = false;
        return HelpAnswer::kTaken;
      case InputEvent::kMouseWheel:
      case InputEvent::kTextInput:
      case InputEvent::kTextEditing:
        return HelpAnswer::kTaken;
      default:
        return HelpAnswer::kNotMine;  // moves, releases, the window's close still go to the game
    }
  }
  if (e.type != InputEvent::kKeyDown || e.repeat || (e.key != kKeyF1 && e.key != kKeySlash)) return HelpAnswer::kNotMine;
  // A text box has the keyboard (? is typed there), and an exchange drops keys.
  if (g.ranking.busy || PanelsWantText(g)) return HelpAnswer::kNotMine;
  g.panels.help_visible = true;
  return g.run.in_play >= 1 && g.run.paused == 0 ? HelpAnswer::kTakenToPause : HelpAnswer::kTaken;
}

void DrawHelp(const Game& g, Canvas& c) {
  if (!g.panels.help_visible) return;
  // The field shows through, darkened to a quarter.
  uint8_t* d = c.MutableData();
  for (int y = 0; y < c.Height(); ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(d + y * c.Stride());
    for (int x = 0; x < c.Width(); ++x) row[x] = (row[x] >> 2) & 0x3F3F3F;
  }
  const int x0 = 60, y0 = 50, w = 520, h = 380;
  c.SetPen(0xA0A0A0, 1);
  c.SetBrush(0x201818);
  c.SetBrushSolid(true);
  c.Rectangle(x0, y0, x0 + w, y0 + h);
  c.SetBrushSolid(false);
  c.SetFontBold(true);
  c.SetFontSize(16);
  c.SetFontColor(0xFFFFFF);
  c.TextOut(x0 + 20, y0 + 14, "操作方法");
  c.SetFontSize(11);
  int y = y0 + 52;
  for (const auto& [key, what] : kControls) {
    c.SetFontBold(true);
    c.SetFontColor(0xFFCC66);
    c.TextOut(x0 + 24, y, key);
    c.SetFontBold(false);
    c.SetFontColor(0xFFFFFF);
    c.TextOut(x0 + 170, y, what);
    y += 26;
  }
  c.SetFontColor(0xB0B0B0);
  c.TextOut(x0 + 24, y0 + h - 34, "どれかキーを押すか、クリックすると閉じます");
  c.SetBrushSolid(true);
}
