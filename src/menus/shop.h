// The shop (run upgrades bought with score or lives) and the volume options.
#pragma once

#include <string>
#include <vector>

struct Game;

// Shop item ids: each counts its purchases in its own buy count. "2 WAY" and
// "3 WAY" share kShopShotWay.
enum ShopItem : int {
  kShopLife = 1,
  kShopShotSize = 2,
  kShopShotPower = 3,
  kShopShotWay = 4,
  kShopShotSpeed = 5,
  kShopBarrierSize = 6,
  kShopBarrierTime = 7,
  kShopLevel = 8,  // "LV +5", paid with a life
  kShopStopTime = 9,
  kShopLaserWay = 10,
};
constexpr int kShopItemLast = kShopLaserWay;

// How an item is paid (a shop button's `cost_kind`).
enum ShopCost : int { kCostPoints = 0, kCostLives = 1 };

// One button of the shop as it is offered right now.
struct ShopOffer {
  std::string caption;  // text and price, e.g. "LIFE +1(20000Pt.)"
  int id = 0;           // item id: the buy count it raises
  int price = 0;        // points, or lives for kCostLives
  int cost_kind = kCostPoints;
};

// The items on sale for the current mode and buy counts, in screen order.
std::vector<ShopOffer> ShopOffers(Game& g);
// Buys item `id` at `price` (points, or lives for kCostLives). Logs the
// outcome; a purchase reopens the shop so prices follow the new counts.
void Buy(Game& g, int id, int price, int cost_kind);
// One volume step: direction -1 quieter, +1 louder, within -4000..0.
void ChangeVolume(Game& g, int direction);
