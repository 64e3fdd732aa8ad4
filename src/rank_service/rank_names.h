// The player names the ranking takes: the name filter the name box applies
// and the names nobody may register. The game applies them when a name is
// entered; kv-rankd refuses records and replays whose names break them.
#pragma once

#include <string>
#include <optional>
#include <string_view>

// The name filter: "," "/" "\" '"' "?" "|" "<" ">" ":" "*" "&" "{" become "."
// and "は" becomes "ハ". Whole characters only: Japanese characters whose
// second CP932 byte looks like one of these signs stay intact.
std::string CleanName(std::string_view utf8);
// "ほろ", "ほろみ", "GM", "ＧＭ" and "ヴァルネク", compared exactly.
bool IsReservedName(std::string_view utf8);

// Why the ranking refuses a record or replay under this name (CP932, as on
// the wire): 403 for a reserved name, 400 for one the name filter would
// change or that is no CP932 text; nullopt when the name is fine.
struct NameRefusal {
  int status;
  const char* why;
};
std::optional<NameRefusal> RefuseName(std::string_view name_cp932);
