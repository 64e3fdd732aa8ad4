// The shop (run upgrades bought with score or lives) and the volume options.
#pragma once

#include <string>
#include <vector>

struct Game;

// One button of the shop as it is offered right now.
struct ShopOffer {
  std::string caption;  // text and price, e.g. "LIFE +1(20000Pt.)"
  int id = 0;           // item id: the buy count it raises
  int price = 0;        // points, or lives when cost_kind is 1
  int cost_kind = 0;    // 0 points, 1 lives
};

// The items on sale for the current mode and buy counts, in screen order.
std::vector<ShopOffer> ShopOffers(Game& g);
// Buys item `id` at `price` (points, or lives when cost_kind is 1). Logs the
// outcome; a purchase reopens the shop so prices follow the new counts.
void Buy(Game& g, int id, int price, int cost_kind);
// One volume step: direction -1 quieter, +1 louder, within -4000..0.
void ChangeVolume(Game& g, int direction);
