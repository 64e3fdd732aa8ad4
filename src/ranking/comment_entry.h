// The hi-score comment entry: the panel hi_score_box, its OK button and the
// send of the new record to the ranking.
#pragma once

#include <string>

struct Game;
class Canvas;

// The panel and its parts, relative to the panel's top-left corner.
struct CommentBoxLayout {
  static constexpr int kLeft = 0, kTop = 286;  // where the click after a game over shows it
  static constexpr int kWidth = 641, kHeight = 119;
  static constexpr int kLabel1X = 10, kLabel1Y = 6;
  static constexpr int kLabel2X = 10, kLabel2Y = 24;
  static constexpr int kEditX = 10, kEditY = 48, kEditW = 380, kEditH = 40;
  static constexpr int kOkX = 404, kOkY = 48, kOkW = 110, kOkH = 40;
  static constexpr int kEditFontPoints = 16;
};

inline constexpr const char* kCommentLabel1 = "HI SCOREを更新。コメントを入力して下さい。";
inline constexpr const char* kCommentLabel2 = "コメントを一部の文字は使用できません。";
inline constexpr const char* kSendingText = "送信中....";
inline constexpr const char* kSendErrorText = "エラー　しばらく待って再度お試し下さい";
inline constexpr const char* kReplayUploadErrorText = "リプレイを送れませんでした";

// The list header of a mode (0..6): ">>> EASY RANKING" and so on.
std::string RankingHeader(int mode);

// The OK button: stores the comment as typed, sends the record and, when the
// send succeeds, shows the mode's ranking with the player's line selected and
// uploads the run's replay (the mode's hi-score replay) in a second exchange.
// A failed send logs kSendErrorText; the comment stays stored either way. A
// failed upload logs kReplayUploadErrorText and the server's reason.
void Button2Click(Game& g);

// Panel hooks for the comment box (true when the box took the event).
bool CommentBoxMouseDown(Game& g, int button, int x, int y);
bool CommentBoxKeyDown(Game& g, int key, bool shift = false, bool ctrl = false);
void DrawCommentBox(Game& g, Canvas& screen);
