#include "menus/shop.h"

#include <algorithm>
#include <cstdint>

#include "assets/sound.h"
#include "effects/log.h"
#include "state/game.h"

namespace {

// Which modes offer an item.
enum class Offered { kAlways, kBarrierModes, kTimeStopModes };

struct Item {
  const char* text;
  int id;
  int unit;      // price per step: (n + 1) x unit, or the fixed price
  bool stepped;  // price rises with each purchase
  bool halved;   // half price in EASY
  int min_buys;  // offered only once bought this often ("3 WAY" after "2 WAY")
  int max_buys;  // left out once bought this often
  Offered offered;
  int cost_kind;
};

// The shop's rows in screen order.
constexpr Item kItems[] = {
    {"LIFE +1", kShopLife, 20000, true, true, 0, 6, Offered::kAlways, kCostPoints},
    {"SHOT SIZE+1", kShopShotSize, 4000, true, true, 0, 6, Offered::kAlways, kCostPoints},
    {"SHOT POWER+1", kShopShotPower, 20000, true, true, 0, 6, Offered::kAlways, kCostPoints},
    {"2 WAY", kShopShotWay, 100000, false, false, 0, 1, Offered::kAlways, kCostPoints},
    {"3 WAY", kShopShotWay, 200000, false, false, 1, 2, Offered::kAlways, kCostPoints},
    {"SHOT SPEED+1", kShopShotSpeed, 15000, true, false, 0, 6, Offered::kAlways, kCostPoints},
    {"BARRIER SIZE+10", kShopBarrierSize, 10000, true, true, 0, 4, Offered::kBarrierModes, kCostPoints},
    {"BARRIER Time+10", kShopBarrierTime, 8000, true, true, 0, 6, Offered::kBarrierModes, kCostPoints},
    {"STOP Time+20", kShopStopTime, 19000, true, false, 0, 6, Offered::kTimeStopModes, kCostPoints},
    {"LAZER WAY+1", kShopLaserWay, 15000, true, false, 0, 6, Offered::kTimeStopModes, kCostPoints},
    {"LV +5", kShopLevel, 1, false, false, 0, 3, Offered::kAlways, kCostLives},
};

bool OnSale(const Item& it, int mode, int n) {
  if (n < it.min_buys || n >= it.max_buys) return false;
  // SQ and HELL stop time instead of raising a barrier.
  bool time_stop = mode == SQ || mode == HELL;
  if (it.offered == Offered::kBarrierModes && time_stop) return false;
  if (it.offered == Offered::kTimeStopModes && !time_stop) return false;
  return true;
}

// Applies the upgrade and returns its confirmation line.
std::string Apply(Game& g, int id) {
  Tmy& my = g.my;
  bool light = my.mode == LIGHT;
  switch (id) {
    case kShopLife:
      my.lives += 1;
      return "LIFE +1";
    case kShopShotSize:
      my.shot_size() += 1;
      return "SHOT SIZE +1→" + std::to_string(my.shot_size());
    case kShopShotPower:
      my.shot_power() += 1;
      return "SHOT POWER +1→" + std::to_string(my.shot_power());
    case kShopShotWay:
      my.shot_way() += 1;
      return "SHOT WAY +1→" + std::to_string(my.shot_way() + 1);
    case kShopShotSpeed:
      my.shot_speed() += light ? 2 : 1;
      return light ? "SHOT SPEED +2→" + std::to_string(my.shot_speed() + 2)
                   : "SHOT SPEED +1→" + std::to_string(my.shot_speed() + 1);
    case kShopBarrierSize:
      my.barrier_size += light ? 20 : 10;
      return std::string(light ? "BARRIER SIZE +20→" : "BARRIER SIZE +10→") +
             std::to_string(my.barrier_size - 30);
    case kShopBarrierTime:
      my.barrier_time += 10;
      return "BARRIER TIME +10→" + std::to_string(my.barrier_time + 25);
    case kShopStopTime:
      my.stop_time += 20;
      return "STOP TIME +20→" + std::to_string(my.stop_time + 30);
    case kShopLaserWay:
      my.laser_way() += 1;
      return "LAZER WAY +1→" + std::to_string(my.laser_way());
    case kShopLevel:
      my.level += 5;
      return "LV +5→" + std::to_string(my.level);
    default:
      return "";
  }
}

}  // namespace

std::vector<ShopOffer> ShopOffers(Game& g) {
  std::vector<ShopOffer> out;
  int mode = g.my.mode;
  for (const Item& it : kItems) {
    int n = g.my.buy_count(it.id);
    if (!OnSale(it, mode, n)) continue;
    int price = it.stepped ? (n + 1) * it.unit : it.unit;
    if (it.halved && mode == EASY) price /= 2;
    std::string tag = it.cost_kind == kCostLives ? "(LIFE -" + std::to_string(price) + ")"
                                                 : "(" + std::to_string(price) + "Pt.)";
    out.push_back({it.text + tag, it.id, price, it.cost_kind});
  }
  return out;
}

void Buy(Game& g, int id, int price, int cost_kind) {
  Tmy& my = g.my;
  if (id < kShopLife || id > kShopItemLast) return;
  if (cost_kind == kCostPoints) {
    if (my.score() < price) {
      AddSilverLogLine(g, "スコアが足りません");
      return;
    }
    my.score() -= price;
    AddSilverLogLine(g, std::to_string(price) + "Pt.を消費");
  } else {
    if (my.lives < price) {
      AddSilverLogLine(g, "LIFEが足りません");
      return;
    }
    my.lives -= price;
    AddSilverLogLine(g, "LIFE " + std::to_string(price) + "を消費");
  }
  PlayEffect(g, "katan.wav");
  PlayEffect(g, "up.wav");
  my.buy_count(id) += 1;
  // A life-priced item only upgrades when it is the level item.
  if (cost_kind == kCostPoints || id == kShopLevel) AddSilverLogLine(g, Apply(g, id));
  // The shop screen is built anew (prices and counts changed) once the click is done.
  g.flow.open_screen = kShopScreen;
}

void ChangeVolume(Game& g, int direction) {
  // Worked out in 64 bits: the step can never overflow, whatever was stored.
  int32_t& v = g.my.se_volume;
  int64_t n = int64_t(v) + (direction < 0 ? -400 : 400);
  if (direction < 0 && n <= -4000) n = -4000;
  if (direction >= 0 && n >= 0) n = 0;
  v = int32_t(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));
  AddSilverLogLine(g, "音量＝" + std::to_string(v));
  PlayEffect(g, "1.wav");
}
