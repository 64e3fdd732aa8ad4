// An Http that hands requests straight to a RankStore in this process, so the
// game keeps its rankings locally, through the very same request bytes, when
// no ranking server is set up.
#pragma once

#include <memory>

#include "platform/http.h"
#include "rank_service/rank_service.h"

std::unique_ptr<Http> MakeLocalRankHttp(RankStore& store);
