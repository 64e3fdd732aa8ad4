#include "ranking/ranking_screen.h"

#include "assets/sound.h"
#include "effects/log.h"
#include "ranking/comment_entry.h"
#include "ranking/exchange.h"
#include "ranking/rank_list.h"
#include "state/game.h"

namespace {

// After the read: the list shows the table, freshly read or, when the read
// failed, as it was.
void AfterRankingRead(Game& g, int result, int mode_number) {
  (void)result;
  ClearLog(g);
  g.panels.rank_l = RankingHeader(mode_number - 1);
  g.panels.rank_mode = mode_number;
  FillRankingList(g);
  PlayEffect(g, "1.wav");
}

}  // namespace

void FetchAndShowRanking(Game& g, int list_code) {
  if (list_code < 1 || list_code > kModeCount) return;
  ReadRanking(g, list_code, AfterRankingRead);
}
