// One place of the online ranking, as the game keeps it in its 1000-entry
// table and the codec reads it from the server's reply. Texts are UTF-8; an
// empty name is an empty place.
#pragma once

#include <array>
#include <string>

inline constexpr int kRankEntries = 1000;

// Fields 4, 6, 8, 10 and 11 of a record, in that order: the game always
// sends "0" in them and nothing reads them; they travel and are kept as
// they came.
inline constexpr int kSpareFields = 5;
using SpareFields = std::array<int, kSpareFields>;

struct RankEntry {
  std::string name;
  int id = 0;
  int score = 0;
  std::string comment;
  std::string date;
  int play_count = 0;
  SpareFields spare{};
};
