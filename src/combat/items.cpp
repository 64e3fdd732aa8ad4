#include "combat/items.h"

#include <string>

#include "assets/sound.h"
#include "effects/effects.h"
#include "state/game.h"

namespace {

// Size, closing speed and colour of each item type.
struct ItemLook {
  int type;
  int size;
  int speed;
  uint32_t colour;
};
constexpr ItemLook kItemLooks[] = {
    {kItemScore, 5, 40, 0xCCFF00},
    {kItemLevelUp, 10, 4, 0x00CCCC},
    {kItemStageClear, 50, 4, 0xCCFF00},
    {kItemLaserBonus, 5, 15, 0xDDCC00},
};

const ItemLook* LookOf(int type) {
  for (const ItemLook& l : kItemLooks)
    if (l.type == type) return &l;
  return nullptr;
}

uint32_t ItemColor(int type, int frame_no) {
  const ItemLook* look = LookOf(type);
  return ShiftColor(look != nullptr ? look->colour : 0xCCFF00, (frame_no % 3) * 10);
}

void DrawItem(Game& g, const EnemySlot& it) {
  Canvas& cg = *g.cg;
  int r = it.radius / 50 + it.size;  // a far item looks larger
  uint32_t c = ItemColor(it.kind, g.run.frame_no);
  cg.SetPen(c, 1);
  cg.SetBrushColor(c);
  cg.MoveTo(PolarX(it.x, it.timer, r), PolarY(it.y, it.timer, r));
  if (LookOf(it.kind) == nullptr) return;
  // A triangle turning one degree per frame.
  for (int k = 0; k <= 3; ++k) {
    int a = it.timer + 120 * k;
    cg.LineTo(PolarX(it.x, a, r), PolarY(it.y, a, r));
  }
  if (it.kind == kItemLevelUp) {
    // The level-up item adds the inverted triangle.
    for (int k = 0; k <= 3; ++k) {
      int a = it.timer + 180 + 120 * k;
      cg.LineTo(PolarX(it.x, a, r), PolarY(it.y, a, r));
    }
  }
}

// A paying pickup: the points paid hop about `rise` pixels above the ship.
void PayScore(Game& g, int value, int rise) {
  int sx = g.my.player_x(), sy = g.my.player_y();
  AddEffect(g, sx, sy, kFxPickupStreaks);
  PlayEffect(g, "item_get.wav");
  int dy = Random(g, 11);
  int dx = Random(g, 21);
  int points = AddScore(g, value);
  if (points != 0) AddEffect(g, sx - 10 + dx, sy - rise + dy, kFxBonusNumber, std::to_string(points));
}

void PickUp(Game& g, EnemySlot& it) {
  Tmy& my = g.my;
  int sx = my.player_x(), sy = my.player_y();
  switch (it.kind) {
    case kItemScore: PayScore(g, it.hp, 30); break;
    case kItemLevelUp:
      AddEffect(g, sx, sy, kFxItemRing);
      PlayEffect(g, "lvup.wav");
      my.level += 1;
      AddEffect(g, sx, sy - 25, kFxHopText, "Lvup→" + std::to_string(my.level));
      break;
    case kItemStageClear: {
      AddEffect(g, sx, sy, kFxPickupStreaks);
      PlayEffect(g, "point.wav");
      // The stage-clear item pays a flat sum: no level multiplier, no boss cut.
      int bonus = my.stage() * 10000;
      AddScore(g, bonus, Gain::kFlat);
      AddEffect(g, sx, sy - 20, kFxBonusNumber, std::to_string(bonus));
      break;
    }
    case kItemLaserBonus: PayScore(g, 5 * it.hp, 40); break;
    default:
      break;
  }
  it.timer = 0;
}

}  // namespace

void SpawnItem(Game& g, int type, ItemPlace at) {
  EnemySlot& it = NextFreeSlot(g.pools.items, g.pools.item_cursor);
  if (const ItemLook* look = LookOf(type)) {
    it.size = look->size;
    it.speed = look->speed;
  }
  // An orbiter that has sunk past the centre still sits at the centre: its
  // drop is worth what a drop at distance 0 is worth, never less.
  const int distance = at.distance < 0 ? 0 : at.distance;
  it.timer = 1;
  it.angle = at.angle;
  it.radius = distance;
  it.hp = distance / 100 + 1;
  it.kind = type;
  it.cls = 0;  // items share the enemy slot layout; the class is unused
}

void UpdateItems(Game& g) {
  Tmy& my = g.my;
  for (int i = 0; i < kItemSlots; ++i) {
    EnemySlot& it = g.pools.items[size_t(i)];
    if (it.timer < 1) continue;
    it.timer += 1;
    it.radius -= it.speed;
    int d = it.radius < 0 ? 0 : it.radius;
    it.x = PolarX(my.player_x(), it.angle, d);
    it.y = PolarY(my.player_y(), it.angle, d);
    DrawItem(g, it);
    // The pickup box is the ship's full size, much larger than its hit box.
    if (Touch(HitBoxOf(it), {my.player_x(), my.player_y(), my.ship_size()})) PickUp(g, it);
  }
}

int AddScore(Game& g, int value, Gain gain) {
  if (value == 0) return 0;
  int points = value;
  if (gain == Gain::kLevelled) {
    points *= g.my.level + 1;
    // A boss fight pays a tenth.
    if (g.pools.boss_slot >= 1) points = points / 10 + 1;
  }
  g.my.score() += points;
  return points;
}
