// The run state a replay starts from and the checksum it is checked by.
#pragma once

#include <cstdint>
#include <string>

struct Game;

// Everything a run reads that is not rebuilt by the run itself: the player
// record with its saved values, the pools, the effect ring, the log, the
// speed lines, the menu table, the panels, the story and the random
// generator. Pictures, sounds, the frame clock and the ranking are left out.
std::string SaveRunState(const Game& g);
// Puts a saved state into a game; false (the game untouched) when the bytes
// are not a state this build wrote.
bool LoadRunState(Game& g, const std::string& bytes, std::string* error);
// A checksum of the pools, the player record, the effect ring, the random
// generator and the flow values that steer play.
uint32_t RunChecksum(const Game& g);
// Whether a start state is one a mode start can leave: the new-game values
// (score 0, 3 lives, level 0, nothing bought, no stage), the chapter screen
// open and nothing in play. A file that starts from anything else is not a
// run of this game, whatever it replays to.
bool PlausibleRunStart(const Game& g, std::string* why);
