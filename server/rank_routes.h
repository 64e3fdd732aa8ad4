// The game's two exchanges as routes of kv-rankd's HTTP front:
// GET /zrk/zrk_rank.exe?read&N answers the mode's ranking from memory, and
// POST /zrk/zrk_rank.exe?write&N keeps the record and answers with the note
// and the ranking that holds it.
//
// Replays of ranked records: POST /zrk/replay?N&name=..&id=..&score=.. takes
// the replay of the player's best run, has it checked and answers after the
// check (200 "verified", else 4xx and the reason); GET /zrk/replay?N&name=..&id=..
// hands out a ranked record's replay. The query is rank_codec.h's.
#pragma once

#include "rank_board.h"
#include "rank_http_server.h"
#include "replay_verifier.h"

void AddRankingRoutes(HttpRouter& router, RankBoard& board);

// `verifier` null: replays are not taken (POST answers 503). `fetches` runs
// the replay reads off the event loop.
void AddReplayRoutes(HttpRouter& router, RankBoard& board, RankStore& store, ReplayVerifier* verifier,
                     TaskPool& fetches);
