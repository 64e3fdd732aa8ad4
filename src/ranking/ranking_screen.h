// The ranking screen's fetch: reads one mode's ranking from the server and
// shows it as the list.
#pragma once

struct Game;

// list_code 1..7: EASY, HARD, EXTREAM, NOVA, SQ, LIGHT, HELL. The caller has
// logged "読み込み中........" and composed a frame; this starts the read and,
// when it has ended, clears the log, sets the list title, shows the list and
// plays "1.wav". When the server cannot be reached the list shows the ranking
// as it was before, titled with the mode it holds, and says so under the list
// and in the message log.
void FetchAndShowRanking(Game& g, int list_code);

// The line under the list (and in the log, with the reason) after a failed read.
inline constexpr const char* kRankUnreachableText = "ランキングサーバーに接続できませんでした";
