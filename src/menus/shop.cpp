#include "menus/shop.h"

#include <algorithm>
#include <cstdint>

#include "assets/sound.h"
#include "effects/log.h"
#include "menus/menu.h"
#include "state/game.h"

namespace {

struct Item {
  const char* text;
  int id;
  int unit;      // price per step: (n + 1) x unit, or the fixed price
  bool stepped;  // price rises with each purchase
  bool halved;   // half price in EASY
  int max_buys;  // left out once bought this often
};

constexpr Item kItems[] = {
    {"LIFE +1", 1, 20000, true, true, 6},
    {"SHOT SIZE+1", 2, 4000, true, true, 6},
    {"SHOT POWER+1", 3, 20000, true, true, 6},
    {"2 WAY", 4, 100000, false, false, 1},
    {"3 WAY", 4, 200000, false, false, 2},
    {"SHOT SPEED+1", 5, 15000, true, false, 6},
    {"BARRIER SIZE+10", 6, 10000, true, true, 4},
    {"BARRIER Time+10", 7, 8000, true, true, 6},
    {"STOP Time+20", 9, 19000, true, false, 6},
    {"LAZER WAY+1", 10, 15000, true, false, 6},
};

constexpr int kLevelItem = 8;
constexpr int kLevelItemMaxBuys = 3;

bool OnSale(const Item& it, int mode, int n) {
  if (n >= it.max_buys) return false;
  bool sq_or_hell = mode == SQ || mode == HELL;
  if (std::string(it.text) == "3 WAY" && n == 0) return false;  // only after "2 WAY"
  if ((it.id == 6 || it.id == 7) && sq_or_hell) return false;   // no barrier there
  if ((it.id == 9 || it.id == 10) && !sq_or_hell) return false;  // time stop modes only
  return true;
}

// Applies the upgrade and returns its confirmation line.
std::string Apply(Game& g, int id) {
  Tmy& my = g.my;
  bool light = my.mode == LIGHT;
  switch (id) {
    case 1:
      my.lives += 1;
      return "LIFE +1";
    case 2:
      my.shot_size() += 1;
      return "SHOT SIZE +1→" + std::to_string(my.shot_size());
    case 3:
      my.shot_power() += 1;
      return "SHOT POWER +1→" + std::to_string(my.shot_power());
    case 4:
      my.shot_way() += 1;
      return "SHOT WAY +1→" + std::to_string(my.shot_way() + 1);
    case 5:
      my.shot_speed() += light ? 2 : 1;
      return light ? "SHOT SPEED +2→" + std::to_string(my.shot_speed() + 2)
                   : "SHOT SPEED +1→" + std::to_string(my.shot_speed() + 1);
    case 6:
      my.barrier_size += light ? 20 : 10;
      return std::string(light ? "BARRIER SIZE +20→" : "BARRIER SIZE +10→") +
             std::to_string(my.barrier_size - 30);
    case 7:
      my.barrier_time += 10;
      return "BARRIER TIME +10→" + std::to_string(my.barrier_time + 25);
    case 9:
      my.stop_time += 20;
      return "STOP TIME +20→" + std::to_string(my.stop_time + 30);
    case 10:
      my.laser_way() += 1;
      return "LAZER WAY +1→" + std::to_string(my.laser_way());
    case kLevelItem:
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
    out.push_back({std::string(it.text) + "(" + std::to_string(price) + "Pt.)", it.id, price, 0});
  }
  if (g.my.buy_count(kLevelItem) < kLevelItemMaxBuys)
    out.push_back({"LV +5(LIFE -1)", kLevelItem, 1, 1});
  return out;
}

void Buy(Game& g, int id, int price, int cost_kind) {
  Tmy& my = g.my;
  if (id < 1 || id > 10) return;
  if (cost_kind == 0) {
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
  if (cost_kind == 0 || id == kLevelItem) AddSilverLogLine(g, Apply(g, id));
  OpenMenuScreen(g, kShopScreen);
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
