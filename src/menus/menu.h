// The menu: a table of text buttons rebuilt for each screen, and the click
// dispatcher of the play field.
#pragma once

#include <string>

#include "state/game.h"

struct Game;


// Button actions, numbered within their screen (a MenuItem's `action`).
enum StartScreenAction : int {
  kActionAbout = 1,       // "このゲームについて"
  kActionStartEasy = 2,
  kActionStartHard = 3,
  kActionRanking = 4,     // "RANKING"
  kActionEnterName = 5,   // "名前入力"
  kActionStartExtream = 6,
  kActionStartNova = 7,
  kActionStartSq = 8,
  kActionStartLight = 9,
  kActionStartHell = 10,
  kActionReplay = 11,     // "REPLAY": the kept runs to watch
};
enum ChapterScreenAction : int {
  kActionChapter1 = 2,  // starts a new run
  kActionOption = 3,
  kActionChapter2 = 4,
  kActionChapter3 = 5,
  kActionChapter4 = 6,
  kActionChapter5 = 7,
  kActionFinalChapter = 8,
  kActionClear = 9,  // "<クリア>": ends the run as cleared
  kActionShop = 10,
};
enum OptionScreenAction : int { kActionSound = 1 };
enum SoundScreenAction : int { kActionVolumeDown = 1, kActionVolumeUp = 2 };
// On the ranking screen the action is the ranking list code.
enum RankingScreenAction : int {
  kActionRankEasy = 1,
  kActionRankHard = 2,
  kActionRankExtream = 3,
  kActionRankNova = 4,
  kActionRankSq = 5,
  kActionRankLight = 6,
  kActionRankHell = 7,
};

void BuildMenuTable(Game& g);
void OpenMenuScreen(Game& g, int screen);
void CloseMenu(Game& g);
// The stage start of a chapter button: closes the menu and starts the stage.
void StartStage(Game& g);
void DrawMenu(Game& g);
void MenuAction(Game& g, int record);
// Mouse-down on the field outside the panels: kButtonRight, or kButtonLeft for
// the left or middle button.
void FieldClick(Game& g, int x, int y, int button);

// The font size a caption is drawn at on a button of this width (12 down to 8).
int CaptionFontSize(Game& g, const std::string& caption, int width);
