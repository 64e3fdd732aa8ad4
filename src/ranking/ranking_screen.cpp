#include "ranking/ranking_screen.h"

#include "assets/sound.h"
#include "effects/log.h"
#include "ranking/comment_entry.h"
#include "ranking/exchange.h"
#include "ranking/rank_list.h"
#include "state/game.h"

namespace {

// After the read: the list shows the table, freshly read or, when the read
// failed, as it was, under the title of the mode it holds; the line under the
// list and the message log say that the server could not be reached.
void AfterRankingRead(Game& g, int result, int mode_number) {
  ClearLog(g);
  const int shown = result == 0 || g.ranking.table_mode == 0 ? mode_number : g.ranking.table_mode;
  g.panels.rank_l = RankingHeader(shown - 1);
  g.panels.rank_mode = shown;
  FillRankingList(g);
  if (result != 0) {
    g.panels.rank_note = kRankUnreachableText;
    // The reason on a line of its own: the first line stays whole however long the reason is.
    AddSilverLogLine(g, kRankUnreachableText);
    AddSilverLogLine(g, "(" + RankingHeader(mode_number - 1).substr(4) + ": " + g.ranking.error + ")");
  }
  PlayEffect(g, "1.wav");
}

}  // namespace

void FetchAndShowRanking(Game& g, int list_code) {
  if (list_code < 1 || list_code > kModeCount) return;
  ReadRanking(g, list_code, AfterRankingRead);
}
