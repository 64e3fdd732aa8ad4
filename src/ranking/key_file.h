// The player's key file, my.key beside the save file: the key that signs the
// player's records and replays. Written atomically, readable by the player
// alone (mode 0600). Moving the game to another machine means copying my.dat
// and my.key together.
#pragma once

#include <memory>
#include <string>

#include "rank_service/player_key.h"

struct Game;

std::string KeyPath(const Game& g);
// The player's key, read from my.key on first use and made (and written) when
// there is none: at the name's registration, or at the first send of a save
// from before keys. A damaged file is kept aside as my.key.bad, said on stderr,
// and a new key is made. nullptr only when no key can be made or written.
std::shared_ptr<const PlayerKey> EnsurePlayerKey(Game& g);
