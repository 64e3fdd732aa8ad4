#include "combat/kills.h"

#include <cmath>

#include "assets/pictures.h"
#include "assets/sound.h"
#include "combat/chain.h"
#include "combat/items.h"
#include "effects/effects.h"
#include "stages/enemies.h"
#include "state/game.h"

namespace {

ItemPlace MeasuredPlace(Game& g, const EnemySlot& s) {
  double dx = double(s.x - g.my.player_x());
  double dy = double(g.my.player_y() - s.y);
  return {.angle = AngleFromPlayer(g, s.x, s.y), .distance = int(std::sqrt(dx * dx + dy * dy))};
}

ItemPlace OwnPlace(const EnemySlot& s) { return {.angle = s.angle, .distance = s.radius}; }

// With the ship at the centre, an orbiter's own polar fields are its true
// place; everything else is measured from the ship.
ItemPlace KillPlace(Game& g, const EnemySlot& s) {
  if (s.cls == kOrbiter && !IsMovingShipMode(g.my.mode)) return OwnPlace(s);
  return MeasuredPlace(g, s);
}

bool GroupLeft(const Game& g, int link) {
  for (const EnemySlot& o : g.pools.enemies)
    if (o.timer >= 1 && o.link == link && (o.cls == kOrbiter || o.cls == kFlyer)) return true;
  return false;
}

void ClearStage(Game& g, const EnemySlot& last_big) {
  PlayMusic(g, "not");
  g.my.chain_count() = 0;
  ClearField(g, KillCause::kStageClear);
  g.run.stage_end_countdown = 100;
  g.pools.boss_slot = 0;
  ShowPicture(g, "clear.jpg");
  SpawnItem(g, kItemStageClear, OwnPlace(last_big));
}

// A kill by the player's guns, in this order: sparks, drops, chain and the
// group's wipe-out, the carrier's ring, and a big slot's death with the stage
// clear after the last one.
void ShotKill(Game& g, int j, bool by_laser) {
  EnemySlot& e = g.pools.enemies[size_t(j)];
  PlayEffect(g, "enemy_down.wav");
  if (g.run.shake == 0) g.run.shake = 2;
  AddEffect(g, e.x, e.y, kFxDiagonalSparks);
  e.timer = 0;
  e.flash = 0;

  const ItemPlace place = KillPlace(g, e);
  SpawnItem(g, kItemScore, place);
  if (by_laser) SpawnItem(g, kItemLaserBonus, place);

  if (e.link >= 1 && e.cls != kEnemyBullet) {
    ChainHit(g, e.link, e.x, e.y);
    if (!GroupLeft(g, e.link)) {
      // The whole linked group is down.
      if (g.pools.boss_slot == 0) {
        AddEffect(g, e.x, e.y, kFxTickCross);
        AddEffect(g, e.x, e.y, kFxHopText, "Cool");
        PlayEffect(g, "item.wav");
        SpawnItem(g, kItemLevelUp, place);
      }
      // Its bullets go down with it and turn into items.
      for (int b = 0; b < kEnemySlots; ++b) {
        const EnemySlot& s = g.pools.enemies[size_t(b)];
        if (s.timer < 1 || s.link != e.link || s.cls != kEnemyBullet) continue;
        KillEnemy(g, b, KillCause::kLinkBolt);
        if (s.x > -5 && s.x < 645 && s.y > -5 && s.y < 485) AddLinkEffect(g, e.x, e.y, s.x, s.y, kFxLinkLine);
      }
    }
  }

  if (e.kind == kEnemyCarrier) {
    AddEffect(g, e.x, e.y, kFxDoubleRing);
    PlayEffect(g, "boss.wav");
    g.run.shake = 10;
  }

  if (e.big >= 1) {
    AddEffect(g, e.x, e.y, kFxDoubleRing);
    PlayEffect(g, "boss.wav");
    g.run.shake = 15;
    e.big = 0;
    e.timer = 0;
    for (const EnemySlot& o : g.pools.enemies) {
      if (o.big >= 1) return;
    }
    ClearStage(g, e);
  }
}

}  // namespace

void KillEnemy(Game& g, int j, KillCause cause) {
  if (cause == KillCause::kShot || cause == KillCause::kLaser) {
    ShotKill(g, j, cause == KillCause::kLaser);
    return;
  }
  EnemySlot& e = g.pools.enemies[size_t(j)];
  e.timer = 0;
  // The link bolt's bullets go down without a sound of their own.
  if (cause != KillCause::kLinkBolt) PlayEffect(g, "enemy_down.wav");
  AddEffect(g, e.x, e.y, kFxSparkBurst);
  AddEffect(g, e.x, e.y, kFxDiagonalSparks);
  switch (cause) {
    case KillCause::kLinkBolt: SpawnItem(g, kItemScore, MeasuredPlace(g, e)); break;
    case KillCause::kScreenClear:
    case KillCause::kStageClear: SpawnItem(g, kItemScore, OwnPlace(e)); break;
    default: break;
  }
}

void ClearField(Game& g, KillCause cause) {
  for (int j = 0; j < kEnemySlots; ++j) {
    const EnemySlot& e = g.pools.enemies[size_t(j)];
    if (e.timer < 1 || e.big != 0) continue;
    if (cause == KillCause::kScreenClear && e.hp > 20) continue;
    if (!(e.x > 0 && e.x < 640 && e.y > 0 && e.y < 480)) continue;
    KillEnemy(g, j, cause);
  }
}
