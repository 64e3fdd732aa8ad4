// The game's two exchanges as routes of kv-rankd's HTTP front:
// GET /zrk/zrk_rank.exe?read&N answers the mode's ranking from memory, and
// POST /zrk/zrk_rank.exe?write&N keeps the record and answers with the note
// and the ranking that holds it.
#pragma once

#include "rank_board.h"
#include "rank_http_server.h"

void AddRankingRoutes(HttpRouter& router, RankBoard& board);
