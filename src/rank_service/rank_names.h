// The player names the ranking takes: the name filter the name box applies
// and the names nobody may register. The game applies them when a name is
// entered; kv-rankd refuses records and replays whose names break them.
#pragma once

#include <string>
#include <string_view>

// The name filter: "," "/" "\" '"' "?" "|" "<" ">" ":" "*" "&" "{" become "."
// and "は" becomes "ハ". Whole characters only: Japanese characters whose
// second CP932 byte looks like one of these signs stay intact.
std::string CleanName(std::string_view utf8);
// "ほろ", "ほろみ", "GM", "ＧＭ" and "ヴァルネク", compared exactly.
bool IsReservedName(std::string_view utf8);
