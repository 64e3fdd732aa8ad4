#include "stages/enemies.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "effects/effects.h"
#include "platform/simd.h"
#include "state/game.h"
#include "stages/bosses.h"

namespace {

constexpr uint32_t kGrey = 0x889988;

// Lock-on diamonds cycle through these colours.
constexpr uint32_t kLockColors[9] = {0x9999FF, 0x0000FF, 0xFF00AA, 0xAA00CC, 0x9900BB,
                                     0x880077, 0x550066, 0x440022, 0x110011};

bool TimeStopped(const Game& g) { return g.my.time_stop != 0; }

// EXTREAM, NOVA, SQ, LIGHT and HELL: the ordinary orbiters fire only there.
bool FiringMode(const Game& g) { return g.my.mode != EASY && g.my.mode != HARD; }

bool Even(const Game& g) { return g.run.frame_no % 2 == 0; }
bool Every(const Game& g, int k) { return g.run.frame_no % k == 0; }

// Where an orbiter is drawn for a stored radius and angle.
void OrbiterPoint(const Game& g, const EnemySlot& e, int& r, int& a) {
  if (!IsMovingShipMode(g.my.mode)) {
    r = std::max(e.radius, 0);
    a = e.angle;
  } else if (e.passed == 0) {
    r = e.radius;
    a = e.angle;
  } else {
    r = e.radius;
    a = e.angle - 180;
  }
}

// The shared slot search of the three spawns. Returns the slot to fill, or -1
// when the search ends on a live big slot (bosses are never overwritten).
int FindSlot(Game& g) {
  EnemySlot& s = NextFreeSlot(g.pools.enemies, g.pools.spawn_cursor, 1);
  if (s.timer >= 1 && s.big != 0) return -1;
  return g.pools.spawn_cursor;
}

// A slot cleared whole and filled with what every spawn shares.
EnemySlot& FreshSlot(Game& g, int s, int cls, const EnemySpawn& sp) {
  EnemySlot& e = g.pools.enemies[size_t(s)];
  e = EnemySlot{};
  g.pools.fills += 1;
  e.size = sp.size;
  e.hp = sp.size / 5 + 1;
  e.timer = 1;
  e.radius = sp.radius;
  e.angle = sp.angle;
  e.kind = sp.kind;
  e.speed = sp.speed;
  e.link = sp.link;
  e.cls = cls;
  if (cls != kOrbiter) {
    e.originX = e.x = sp.x;
    e.originY = e.y = sp.y;
  }
  return e;
}

// Fills one orbiter slot. A spawn starts from a cleared slot so nothing of the
// previous occupant (a boss's big mark, a running hit flash, its lock-ons) is
// carried over.
bool PlaceOrbiter(Game& g, const EnemySpawn& sp) {
  int s = FindSlot(g);
  if (s < 0) return false;
  EnemySlot& e = FreshSlot(g, s, kOrbiter, sp);
  int r = 0, a = 0;
  OrbiterPoint(g, e, r, a);
  e.x = PolarX(320, a, r);
  e.y = PolarY(240, a, r);
  SetEnemyHitPoints(g, s);
  return true;
}

bool PlaceFlyer(Game& g, const EnemySpawn& sp) {
  int s = FindSlot(g);
  if (s < 0) return false;
  FreshSlot(g, s, kFlyer, sp);
  SetEnemyHitPoints(g, s);
  return true;
}

int Aimed(Game& g, const EnemySlot& e) { return AngleFromPlayer(g, e.x, e.y) + 180; }

// fire k (sp, a): a size-4 bullet from the slot's centre with its own link.
void Fire(Game& g, const EnemySlot& e, int kind, int speed, int angle) {
  SpawnBullet(g, {.kind = kind, .x = e.x, .y = e.y, .angle = angle, .speed = speed, .size = 4, .link = e.link});
}

// The weaver and the spiral move the same way in both classes, only the
// radius runs the other way: an orbiter's outward, a flyer's back home. Each
// is gone once it is past the field's edge or home.
constexpr int kOutward = 1;
constexpr int kHomeward = -1;

void Recede(EnemySlot& e, int dir, int by) {
  e.radius += dir * by;
  if (dir > 0 ? e.radius > 359 : e.radius <= 0) e.timer = 0;
}

void Weave(EnemySlot& e, int t, int dir) {
  if (t >= 50 && t <= 69) {
    e.radius += dir * e.speed;
    e.angle += 1;
  } else if (t >= 100 && t <= 119) {
    e.radius += dir * e.speed;
    e.angle -= 1;
  } else if (t >= 130 && t <= 169) {
    Recede(e, dir, 4 * e.speed);
  }
}

void Spiral(EnemySlot& e, int t, int dir) {
  if (t >= 80 && t <= 180) {
    e.radius += dir * e.speed;
    e.angle += 2;
  } else if (t >= 181 && t <= 999) {
    Recede(e, dir, 2 * e.speed);
  }
}

// The kind behaviour of an ordinary orbiter; returns its pen colour.
uint32_t OrbiterKind(Game& g, int i) {
  EnemySlot& e = g.pools.enemies[size_t(i)];
  const int t = e.timer;
  const bool fire = FiringMode(g);
  switch (e.kind) {
    case kEnemyPlain:
      if (fire && t == 100) Fire(g, e, kEnemyDart, 2, Aimed(g, e) + Random(g, 5));
      return 0x9900FF;
    case kEnemyWeaver:
      Weave(e, t, kOutward);
      if (fire && t == 60) Fire(g, e, kEnemyDiver, 4, Aimed(g, e) + 30);
      return 0x9999FF;
    case kEnemyTurner:
    case kEnemyTurnerBack:
      e.angle += e.kind == kEnemyTurner ? 1 : -1;
      if (fire && t == 50) Fire(g, e, kEnemyNeedle, 2, Aimed(g, e) + Random(g, 10));
      return 0x0099FF;
    case kEnemySpiral:
      Spiral(e, t, kOutward);
      if (fire && t == 50) Fire(g, e, kEnemyDiver, 4, Aimed(g, e));
      return 0x99CCFF;
    case kEnemySpinner:
    case kEnemySpinnerBack:
      if (Even(g)) e.speed = std::max(e.speed - 1, 1);
      e.angle += e.kind == kEnemySpinner ? e.speed : -e.speed;
      if (fire && t == 70) {
        if (e.kind == kEnemySpinnerBack) {
          Fire(g, e, kEnemyPlain, 3, Aimed(g, e));
        } else if (g.pools.boss_slot == 0 || i % 2 == 0) {
          // While a boss is alive only every other ring member shoots.
          Fire(g, e, kEnemySpinner, 3, Aimed(g, e));
        }
      }
      return 0x6699CC;
    case kEnemyDiver:
      e.angle += 1;
      if (t < 90) {
        if (Every(g, 21)) e.speed += 1;
        if (e.radius < 50) e.timer = 89;
      } else if (t <= 99) {
        e.speed -= e.speed / 2 + 1;
        if (e.speed < 1) {
          e.speed = 0;
          e.timer = 99;
        }
      } else if (t <= 999) {
        e.speed -= 3;  // it backs away
        if (e.radius > 360) e.timer = 0;
      }
      if (g.my.stage() >= 2 && fire && t == 40) {
        int a = Aimed(g, e);
        for (int k = 0; k < 6; ++k)
          SpawnBullet(g, {.kind = kEnemyRingShot, .x = e.x, .y = e.y, .angle = a + 60 * k, .speed = 3,
                          .size = 4});
      }
      return 0xCC99FF;
    case kEnemyDart:
      if (fire && t == 20) Fire(g, e, kEnemyNeedle, 3, Aimed(g, e) + Random(g, 5));
      return 0xCCCCFF;
    case kBossStage1:
      if (e.radius > 240) e.radius -= 2 * e.speed;
      if (e.radius < 100) e.radius += e.speed;
      e.angle -= 2;
      if (t >= 60 && t <= 109) e.radius += 2 * e.speed;
      if (t == 159) e.timer = 1;
      if (fire && t % 60 == 0) {
        int a = Aimed(g, e);
        for (int k = 0; k < 18; ++k) Fire(g, e, kEnemyRingShot, 4, a + 20 * k);
      }
      if ((g.my.mode == SQ || g.my.mode == LIGHT || g.my.mode == HELL) && t % 90 >= 70) {
        int a = Aimed(g, e);
        for (int k = 0; k < 9; ++k) Fire(g, e, kEnemyDart, 3, a + 40 * k);
      }
      return 0x9999CC;
    case kBossStage3:
      if (e.radius > 240) e.radius -= 2 * e.speed;
      if (e.radius < 150) e.radius += e.speed;
      e.angle -= 2;
      if (t >= 60 && t <= 109) {
        e.radius += 2 * e.speed;
        if (Every(g, 4)) SpawnOrbiterAt(g, e, {.kind = kEnemySpinner, .speed = 4, .size = (t - 50) / 10 + 5});
      }
      if (t == 159) e.timer = 1;
      return 0xFF99CC;
    case kEnemyCarrier:
      if (e.radius > 240) e.radius -= 2 * e.speed;
      if (e.radius < 70) e.radius += e.speed;
      e.angle += 1;
      if (t >= 40 && t <= 89) e.radius += 2 * e.speed;
      if (t >= 90 && t <= 128 && Every(g, 3))
        SpawnOrbiterAt(g, e, {.kind = kEnemyPlain, .speed = 2, .size = 6});
      if (t == 139) e.timer = 1;
      if (fire && t % 60 == 0) {
        int a = Aimed(g, e);
        for (int k = 0; k < 36; ++k)
          if (k % 12 <= 5) Fire(g, e, kEnemyFanShot, 4, a + 10 * k);
      }
      return 0x99CCCC;
    case kEnemySprayer:
      e.angle += 1;
      if (t % 50 <= 10) Fire(g, e, kBossStage1, 2, Aimed(g, e) + Random(g, 30));
      return 0x99CC99;
    case kEnemyRetreater:
      e.angle -= 1;
      if (e.radius < 50) e.retreat = 1;
      if (e.retreat != 0) {
        e.radius += 2 * e.speed;
        if (e.radius > 359) e.timer = 0;
      }
      if (t % 150 == 60)
        for (int k = 0; k < 6; ++k) Fire(g, e, kEnemyPlain, 2, e.angle + 60 * k - 135);
      return 0xCC00FF;
    case kBossStage2:
    case kBossStage4:
    case kBossStage5:
    case kBossStage6:
      return RunBossPattern(g, i);
    default:
      return kGrey;
  }
}

// The kind behaviour of a flyer or enemy bullet; returns its pen colour.
uint32_t FlyerKind(Game& g, int i) {
  EnemySlot& e = g.pools.enemies[size_t(i)];
  const int t = e.timer;
  switch (e.kind) {
    case kEnemyPlain:
      return 0x9900FF;
    case kEnemyWeaver:
      Weave(e, t, kHomeward);  // it flies back to where it came from
      return 0x9999FF;
    case kEnemyTurner:
      if (t % 50 > 40) e.angle += 1;
      return 0x0099FF;
    case kEnemyTurnerBack:
      if (t % 50 > 40) e.angle -= 1;
      return 0x0099FF;
    case kEnemySpiral:
      Spiral(e, t, kHomeward);
      return 0x99CCFF;
    case kEnemySpinner:
      if (Even(g)) e.speed = std::max(e.speed - 1, 1);
      return 0x66CCFF;
    case kEnemySpinnerBack:
      if (Even(g)) e.speed = std::max(e.speed - 1, 1);
      return 0xCCCCFF;
    case kEnemyDiver:
      return 0xFF00CC;
    case kEnemyDart:
      return 0xCCCCFF;
    case kEnemyTwinGun:
      if ((t + 10 * i) % 80 <= 10 && Every(g, 3)) {
        int b = AngleFromPlayer(g, e.x, e.y);
        // Two darts at the ship from either side of the flyer (whose slot the
        // first may take over in a full pool).
        const int x = e.x, y = e.y, link = e.link;
        for (int side : {240, 120}) {
          SpawnBullet(g, {.kind = kEnemyDart, .x = PolarX(x, b + side, 25), .y = PolarY(y, b + side, 25),
                          .angle = b + 180, .speed = 4, .size = 4, .link = link});
        }
      }
      return 0xCC99FF;
    case kEnemyRingShot:
      return 0xCC99FF;
    case kEnemyFanShot:
      if ((t + 10 * i) % 60 <= 20 && Every(g, 8)) {
        int a = Aimed(g, e) - 20 + Random(g, 41);
        Fire(g, e, kEnemyDart, 3, a);
      }
      return 0x66CC66;
    case kEnemyNeedle:
      return 0x66CCFF;
    default:
      return kGrey;
  }
}

// Hit flash: counts down, lights the pen on even frames and shakes the slot.
uint32_t Flash(Game& g, EnemySlot& e, uint32_t colour) {
  if (e.flash > 0) {
    e.flash -= 1;
    if (Even(g)) colour = ShiftColor(colour, 160);
    e.x += Random(g, 3) - 1;
    e.y += Random(g, 3) - 1;
  }
  return colour;
}

// A closed outline of `corners` vertices turning with the slot's age.
void DrawOutline(Canvas& p, const EnemySlot& e, int step, int corners, bool fill, TurnMemo& turns) {
  int pts[2 * 8];
  for (int k = 0; k <= corners; ++k) {
    const int a = e.timer + step * k;
    pts[2 * k] = turns.X(e.x, a, e.size);
    pts[2 * k + 1] = turns.Y(e.y, a, e.size);
  }
  if (fill)
    p.FillPolygon(pts, corners);
  else
    p.Polyline(pts, corners + 1);
}

// Lock-on diamonds about a marked slot.
void DrawLockOns(Canvas& p, const EnemySlot& e, int i) {
  if (e.lockOn <= 0) return;
  // Kept: the diamonds turn degrees with 3.14, not 3.1415; their corners, and
  // so the look of a marked enemy, depend on it.
  constexpr double kRad314 = 3.14 / 180.0;
  double cosines[5], sines[5];  // the diamond's corners, the same for every ring
  for (int k = 0; k <= 4; ++k) {
    double a = 90.0 * k * kRad314;
    cosines[k] = std::cos(a);
    sines[k] = std::sin(a);
  }
  for (int g = 1; g <= e.lockOn; ++g) {
    p.SetPen(kLockColors[unsigned(e.timer + i + g) % 9], 2);
    int d = e.size + g + 10;
    int pts[10];
    for (int k = 0; k <= 4; ++k) {
      pts[2 * k] = e.x + int(cosines[k] * d);
      pts[2 * k + 1] = e.y + int(sines[k] * d);
    }
    p.Polyline(pts, 5);
  }
}

// The link of every enemy slot side by side, so that a link group is found by
// comparing 32 slots at a time rather than reading the whole pool; copied
// again once a spawn has filled a slot since.
struct LinkTable {
  static constexpr int kBlocks = Blocks32(kEnemySlots);
  std::array<int32_t, size_t(kBlocks) * 32> link{};  // past the pool: 0, the link of no group
  uint32_t fills = 0;

  explicit LinkTable(const Game& g) { Copy(g); }
  void Copy(const Game& g) {
    for (int j = 0; j < kEnemySlots; ++j) link[size_t(j)] = g.pools.enemies[size_t(j)].link;
    fills = g.pools.fills;
  }
};

const LinkTable& LinksOf(const Game& g, LinkTable& t) {
  if (t.fills != g.pools.fills) t.Copy(g);
  return t;
}

// Lines from slot i through the slots of its link group, in pool order: for an
// orbiter the orbiters before it on the same parity, at most nine lines ending
// on any one slot; for a flyer the flyers before it; for both every bullet of
// the group.
void DrawLinks(Game& g, Canvas& p, int i, int* pts, LinkTable& table) {
  const EnemySlot& e = g.pools.enemies[size_t(i)];
  if (e.link == 0) return;
  const bool orbiter = e.cls == kOrbiter;
  const int32_t link = e.link;
  pts[0] = e.x;
  pts[1] = e.y;
  int n = 1;
  const LinkTable& links = LinksOf(g, table);
  for (int block = 0; block < LinkTable::kBlocks; ++block) {
    // bit k: slot 32 block + k is in the group
    for (uint32_t members = EqualMask32(links.link.data() + 32 * block, link); members != 0;
         members &= members - 1) {
      const int j = 32 * block + std::countr_zero(members);
      EnemySlot& o = g.pools.enemies[size_t(j)];
      if (o.link != link || o.timer < 1 || j == i) continue;  // the slot as it stands
      if (orbiter && o.links > 8) continue;
      const bool earlier = o.cls == e.cls && j < i && (!orbiter || j % 2 == i % 2);
      if (!earlier && o.cls != kEnemyBullet) continue;
      if (orbiter) o.links += 1;
      pts[2 * n] = o.x;
      pts[2 * n + 1] = o.y;
      ++n;
    }
  }
  if (n > 1) p.Polyline(pts, n);
}

uint32_t StepOrbiter(Game& g, Canvas& p, int i, int* pts, LinkTable& links, TurnMemo& turns) {
  EnemySlot& e = g.pools.enemies[size_t(i)];
  const bool ts = TimeStopped(g);
  // An old orbiter far out starts its age again; under time stop it is gone.
  if (e.timer >= 300 && e.radius >= 360) e.timer = 0;
  if (!ts) e.timer += 1;
  if (e.timer < 1) return kGrey;

  if (!IsMovingShipMode(g.my.mode)) {
    if (!ts) e.radius -= e.speed;  // it settles on the centre
  } else if (e.passed == 0) {
    if (!ts) e.radius -= e.speed;
    if (e.radius < 0) e.passed = 1;
  } else {
    e.speed = std::max(e.speed, 1);
    if (!ts) e.radius += e.speed;
  }
  const bool leaving = IsMovingShipMode(g.my.mode) && e.passed != 0;
  if (leaving && e.radius > 400) e.timer = 0;
  int r = 0, a = 0;
  OrbiterPoint(g, e, r, a);
  e.x = PolarX(320, a, r);
  e.y = PolarY(240, a, r);

  uint32_t colour = kGrey;
  if (!ts && e.timer >= 1) colour = OrbiterKind(g, i);
  colour = Flash(g, e, colour);

  p.SetPen(colour, e.big != 0 ? 2 : 1);
  DrawOutline(p, e, 60, 6, false, turns);

  DrawLinks(g, p, i, pts, links);
  DrawLockOns(p, e, i);
  return colour;
}

uint32_t StepFlyer(Game& g, Canvas& p, int i, int* pts, LinkTable& links, TurnMemo& turns) {
  EnemySlot& e = g.pools.enemies[size_t(i)];
  const bool ts = TimeStopped(g);
  if (!ts) {
    e.timer += 1;
    e.radius += e.speed;
  }
  int d = std::max(e.radius, 0);
  e.x = PolarX(e.originX, e.angle, d);
  e.y = PolarY(e.originY, e.angle, d);

  uint32_t colour = kGrey;
  if (!ts) colour = FlyerKind(g, i);
  if (e.timer >= 150 && (e.x + e.size < -50 || e.x - e.size > 690 || e.y + e.size < -50 || e.y - e.size > 530))
    e.timer = 0;  // drawn once more this frame
  colour = Flash(g, e, colour);
  colour = OffsetColor(colour, 50, -40, -20);

  p.SetPen(colour, e.big != 0 ? 2 : 1);
  if (e.cls == kFlyer)
    DrawOutline(p, e, 72, 5, false, turns);
  else
    DrawOutline(p, e, 90, 4, true, turns);

  if (e.cls == kFlyer) DrawLinks(g, p, i, pts, links);
  DrawLockOns(p, e, i);
  return colour;
}

// Hit points by kind (other kinds keep size / 5 + 1): plain, in HARD, NOVA and
// HELL, and whether the slot is big.
constexpr int kSizeHp = -1;  // size / 5 + 1 + 5
struct KindHitPoints {
  int kind;
  int hp;
  int hp_tough;
  bool big;
};
constexpr KindHitPoints kHitPoints[] = {
    {kBossStage2, 250, 250, true},     {kEnemyDiver, 1, 1, false},
    {kEnemyDart, 1, 1, false},         {kBossStage1, 150, 150, true},
    {kBossStage3, 300, 350, true},     {kEnemyCarrier, 100, 100, false},
    {kBossStage4, 400, 500, true},     {kEnemySprayer, kSizeHp, kSizeHp, false},
    {kEnemyRetreater, kSizeHp, kSizeHp, false}, {kEnemyTwinGun, kSizeHp, kSizeHp, false},
    {kEnemyRingShot, kSizeHp, kSizeHp, false},  {kEnemyFanShot, kSizeHp, kSizeHp, false},
    {kEnemyNeedle, kSizeHp, kSizeHp, false},    {kBossStage5, 500, 650, true},
    {kBossStage6, 700, 900, true},
};

const KindHitPoints* HitPointsOf(int kind) {
  for (const KindHitPoints& r : kHitPoints)
    if (r.kind == kind) return &r;
  return nullptr;
}

// A HELL twin's group: its own, 512 above the first one's.
int TwinLink(int link) { return link != 0 ? link + 512 : 0; }

}  // namespace

void SpawnOrbiter(Game& g, EnemySpawn s) {
  if (!PlaceOrbiter(g, s)) return;
  if (g.my.mode != HELL) return;
  // HELL: a twin on the far side, farther out and one step slower.
  s.link = TwinLink(s.link);
  s.speed = std::max(s.speed - 1, 1);
  s.radius += 50;
  s.angle += 180;
  PlaceOrbiter(g, s);
}

void SpawnFlyer(Game& g, EnemySpawn s) {
  s.radius = 0;
  if (!PlaceFlyer(g, s)) return;
  if (g.my.mode != HELL) return;
  // HELL: a twin that waits at the origin a while and turns 30 degrees off.
  s.link = TwinLink(s.link);
  s.speed = std::max(s.speed - 1, 1);
  s.angle += 30;
  s.radius = -50;
  PlaceFlyer(g, s);
}

void SpawnBullet(Game& g, EnemySpawn s) {
  if (s.x < -100 || s.x > 740 || s.y < -100 || s.y > 580) return;
  int slot = FindSlot(g);
  if (slot < 0) return;
  s.radius = 0;
  FreshSlot(g, slot, kEnemyBullet, s).hp = 1;
}

void SpawnOrbiterAt(Game& g, const EnemySlot& at, EnemySpawn s) {
  s.radius = at.radius;
  s.angle = at.angle;
  SpawnOrbiter(g, s);
}

void SetEnemyHitPoints(Game& g, int slot) {
  if (slot < 0 || slot >= kEnemySlots) return;
  EnemySlot& e = g.pools.enemies[size_t(slot)];
  const int mode = g.my.mode;
  const int stage = g.my.stage();
  const bool tough = mode == HARD || mode == NOVA || mode == HELL;
  const bool boss_alive = g.pools.boss_slot != 0;
  const KindHitPoints* row = HitPointsOf(e.kind);
  if (row != nullptr) {
    e.hp = row->hp == kSizeHp ? e.size / 5 + 1 + 5 : tough ? row->hp_tough : row->hp;
    if (row->big) e.big = 1;
  }
  if (e.kind == kBossStage6) {
    // The last boss grows with the ship's guns.
    if (g.my.shot_way() >= 1) e.hp += 50 * g.my.shot_power();
    e.hp += 200 * g.my.shot_way();
  }
  // Later stages are tougher in the gentler modes (bosses excepted).
  if ((mode == EASY || mode == EXTREAM || mode == SQ || mode == LIGHT) && e.big == 0 && !boss_alive) {
    if (stage == 3) e.hp += e.hp / 5 + 1;
    else if (stage == 4) e.hp += e.hp / 4 + 1;
    else if (stage == 5) e.hp += e.hp / 3 + 1;
    else if (stage == 6) e.hp += e.hp / 2 + 1;
  }
  // The hard modes thin everything out a little, less so later on.
  if (tough) {
    if (stage >= 0 && stage <= 2) e.hp -= e.hp / 3;
    else if (stage == 3) e.hp -= e.hp / 4;
    else if (stage == 4) e.hp -= e.hp / 5;
    else if (stage == 5) e.hp -= e.hp / 6;
    else if (stage == 6) e.hp -= e.hp / 7;
  }
  if (e.big != 0) {
    if (g.my.shot_way() >= 1) e.hp += 100;
    if (g.my.shot_way() >= 2) e.hp += 100;
  }
  if (mode == HELL && boss_alive && stage >= 3) e.hp += 100;
}

void UpdateEnemies(Game& g) {
  for (EnemySlot& e : g.pools.enemies) e.links = 0;
  Canvas& painter = *g.cg;
  // Room for a polyline through the whole pool.
  int pts[2 * (kEnemySlots + 1)];
  LinkTable links(g);
  TurnMemo turns;
  bool drawn = false;
  uint32_t last = 0;
  for (int i = 0; i < kEnemySlots; ++i) {
    EnemySlot& e = g.pools.enemies[size_t(i)];
    if (e.timer < 1) continue;
    if (e.cls == kOrbiter) {
      last = StepOrbiter(g, painter, i, pts, links, turns);
      drawn = true;
    } else if (e.cls == kFlyer || e.cls == kEnemyBullet) {
      last = StepFlyer(g, painter, i, pts, links, turns);
      drawn = true;
    }
  }
  // The field's pen and brush are left as the last enemy drew.
  if (drawn) {
    g.cg->SetPen(last, 1);
    g.cg->SetBrushColor(last);
  }
}

uint32_t OffsetColor(uint32_t color, int d_blue, int d_red, int d_green) {
  int r = std::clamp(RedOf(color) + d_red, 0, 255);
  int gr = std::clamp(GreenOf(color) + d_green, 0, 255);
  int b = std::clamp(BlueOf(color) + d_blue, 0, 255);
  return RGB(r, gr, b);
}
