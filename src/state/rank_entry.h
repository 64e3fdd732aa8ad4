// One place of the online ranking, as the game keeps it in its 1000-entry
// table and the codec reads it from the server's reply. Texts are UTF-8; an
// empty name is an empty place.
#pragma once

#include <string>

inline constexpr int kRankEntries = 1000;

struct RankEntry {
  std::string name;
  int id = 0;
  int score = 0;
  int field4 = 0;
  std::string comment;
  int field6 = 0;
  std::string date;
  int field8 = 0;
  int play_count = 0;
  int field10 = 0;
  int field11 = 0;
};
