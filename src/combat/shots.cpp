#include "combat/shots.h"

#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

#include "assets/sound.h"
#include "combat/kills.h"
#include "effects/effects.h"
#include "platform/simd.h"
#include "state/game.h"
#include "stages/enemies.h"

namespace {

// The volley of one direction A: one shot from the ship, or two or three
// half-size shots from fan points laid out behind the ship about A.
// `straight_up` fixes the headings near -90 instead of A.
void Volley(Game& g, int kind, int speed, int a, bool straight_up) {
  Tmy& my = g.my;
  int px = my.player_x(), py = my.player_y();
  int z = my.shot_size() + 8;
  int ways = my.shot_way();
  if (ways == 0) {
    SpawnShot(g, {.kind = kind, .x = px, .y = py, .angle = straight_up ? -90 : a, .speed = speed, .size = z});
    return;
  }
  if (ways != 1 && ways != 2) return;
  int bx = PolarX(px, a, -12), by = PolarY(py, a, -12);
  const int fan2[2] = {-20, 20};
  const int fan3[3] = {-20, 0, 20};
  const int up2[2] = {-91, -89};
  const int up3[3] = {-91, -90, -89};
  int n = ways + 1;
  for (int k = 0; k < n; ++k) {
    int fa = a + (n == 2 ? fan2[k] : fan3[k]);
    int heading = straight_up ? (n == 2 ? up2[k] : up3[k]) : a;
    SpawnShot(g, {.kind = kind, .x = PolarX(bx, fa, 12), .y = PolarY(by, fa, 12), .angle = heading,
                  .speed = speed, .size = z / 2});
  }
}

struct BoltColors {
  uint32_t bak;
  uint32_t cg;
};

BoltColors BoltBase(int mode, int phase) {
  if (mode == HELL) {
    switch (phase) {
      case 0: return {0x0000FF, 0x000099};
      case 1: return {0x0000BB, 0x000055};
      default: return {0x000033, 0x000022};
    }
  }
  switch (phase) {
    case 0: return {0xEE00FF, 0xCC0000};
    case 1: return {0xAA00BB, 0x990033};
    default: return {0x770033, 0x220055};
  }
}

// A homing bolt: a jagged line of 21 segments from its origin to its head on
// both canvases, brightening toward the head.
void DrawBolt(Game& g, const EnemySlot& s, int index) {
  Canvas& bak = *g.bak;
  Canvas& cg = *g.cg;
  bak.SetPenWidth(Random(g, 2) + 1);
  cg.SetPenWidth(Random(g, 3) + 3);
  BoltColors c = BoltBase(g.my.mode, (s.timer + index) % 3);
  int wx = s.originX, wy = s.originY;
  for (int i = 0; i <= 20; ++i) {
    c.bak = ShiftColor(c.bak, i);
    c.cg = ShiftColor(c.cg, i);
    bak.SetPenColor(c.bak);
    cg.SetPenColor(c.cg);
    int nx = s.x, ny = s.y;
    if (i < 20) {
      int step_x = std::abs(s.originX - s.x) / 20;
      if (step_x < 2) step_x = 2;
      nx = s.x < wx ? wx - (Random(g, 2 * step_x) + 1) : wx + (Random(g, 2 * step_x) + 1);
      int step_y = std::abs(s.originY - s.y) / 20;
      if (step_y < 2) step_y = 2;
      ny = s.y < wy ? wy - (Random(g, 2 * step_y) + 1) : wy + (Random(g, 2 * step_y) + 1);
    }
    bak.MoveTo(wx, wy);
    bak.LineTo(nx, ny);
    cg.MoveTo(wx, wy);
    cg.LineTo(nx, ny);
    wx = nx;
    wy = ny;
  }
  bak.SetPenWidth(1);
  cg.SetPenWidth(1);
}

void MoveAndDrawShot(Game& g, int index) {
  EnemySlot& s = g.pools.shots[size_t(index)];
  s.timer += 1;
  int d = s.kind == kShotBolt ? (s.timer - 1) * s.speed : s.timer * s.speed;
  s.x = PolarX(s.originX, s.angle, d);
  s.y = PolarY(s.originY, s.angle, d);
  Canvas& cg = *g.cg;
  if (s.kind == kShotBolt) {
    int t = s.lockOn;
    if (t >= 0 && t < kEnemySlots) {
      // Steer toward the target's last place, alive or not, from the next frame on.
      const EnemySlot& target = g.pools.enemies[size_t(t)];
      s.angle = AngleFromPlayer(g, target.x, target.y);
    }
    DrawBolt(g, s, index);
    return;
  }
  int width = 2;
  uint32_t color;
  switch (s.kind) {
    case kShotPlain: color = 0x9900FF; break;
    case kShotMarker: color = 0x999999; break;
    case kShotLaser: color = 0xEEFFEE; width = 6; break;
    default: return;
  }
  cg.SetPen(color, width);
  cg.SetBrushColor(color);
  int len = s.size + 1;
  if (s.kind == kShotLaser) len *= 2;
  cg.MoveTo(PolarX(s.x, s.angle, len), PolarY(s.y, s.angle, len));
  cg.LineTo(PolarX(s.x, s.angle + 180, len), PolarY(s.y, s.angle + 180, len));
}

bool BoltMayHit(const Game& g, const EnemySlot& shot, int j) {
  if (shot.lockOn == j) return true;
  // A bolt whose target is gone hits whatever it meets.
  if (shot.lockOn < 0 || shot.lockOn >= kEnemySlots) return true;
  return g.pools.enemies[size_t(shot.lockOn)].timer == 0;
}

// Every enemy slot's box side by side, taken before the shots move: nothing
// moves an enemy or brings one to life while shots resolve, so a slot outside
// its box then is outside it throughout. A dead slot's box is empty.
struct HitBoxes {
  static constexpr int kBlocks = Blocks32(kEnemySlots);
  static constexpr size_t kSize = size_t(kBlocks) * 32;
  std::array<int32_t, kSize> lo_x, hi_x, lo_y, hi_y;

  explicit HitBoxes(const Game& g) {
    lo_x.fill(INT32_MAX);
    lo_y.fill(INT32_MAX);
    hi_x.fill(INT32_MIN);
    hi_y.fill(INT32_MIN);
    for (int j = 0; j < kEnemySlots; ++j) {
      const EnemySlot& e = g.pools.enemies[size_t(j)];
      if (e.timer < 1) continue;
      lo_x[size_t(j)] = e.x - e.size;
      hi_x[size_t(j)] = e.x + e.size;
      lo_y[size_t(j)] = e.y - e.size;
      hi_y[size_t(j)] = e.y + e.size;
    }
  }
};

void ResolveHits(Game& g, int index, const HitBoxes& boxes) {
  EnemySlot& shot = g.pools.shots[size_t(index)];
  const int mode = g.my.mode;
  // Only the slots whose box meets the shot's are looked at, in pool order;
  // each is then checked in full as it stands.
  for (int block = 0; block < HitBoxes::kBlocks && shot.timer >= 1; ++block) {
    const size_t at = size_t(block) * 32;
    for (uint32_t near = OverlapMask32(&boxes.lo_x[at], &boxes.hi_x[at], &boxes.lo_y[at], &boxes.hi_y[at],
                                       shot.x - shot.size, shot.x + shot.size, shot.y - shot.size,
                                       shot.y + shot.size);
         near != 0; near &= near - 1) {
      const int j = int(at) + std::countr_zero(near);
      EnemySlot& e = g.pools.enemies[size_t(j)];
      if (e.timer < 1) continue;
      // Enemy bullets: immune in NOVA; in HELL only lasers reach them.
      if (e.cls == kEnemyBullet && mode == NOVA) continue;
      if (e.cls == kEnemyBullet && mode == HELL && shot.kind != kShotLaser) continue;
      if (shot.timer < 1) break;  // spent earlier in this loop
      if (!Touch(HitBoxOf(e), HitBoxOf(shot))) continue;
      if (shot.kind == kShotMarker) {
        shot.timer = 0;
        e.lockOn += 1;
        PlayEffect(g, "target.wav");
        AddEffect(g, e.x, e.y, kFxEnemyLockOn, std::to_string(j));
        continue;
      }
      bool damages = shot.kind == kShotPlain || shot.kind == kShotLaser ||
                     (shot.kind == kShotBolt && BoltMayHit(g, shot, j));
      if (!damages) continue;
      int dmg = 1;
      if (g.my.shot_power() >= 1 && Random(g, 2) == 0) dmg = 1 + Random(g, g.my.shot_power() + 1);
      // The last boss's parts cannot be hurt until late in the final stage.
      if (g.my.stage() == 6 && g.pools.boss_slot >= 1 && e.kind == kBossStage6 && g.my.distance() <= 1900) dmg = 0;
      e.hp -= dmg;
      e.flash = 2;
      AddEffect(g, shot.x, shot.y, kFxSparkBurst);
      PlayEffect(g, "enemy_cut.wav");
      bool laser = shot.kind == kShotLaser;
      if (laser) {
        // A laser passes through, shrinking with every hit.
        shot.size -= 1;
        if (shot.size < 5) shot.timer = 0;
      } else {
        shot.timer = 0;
      }
      if (e.hp <= 0) KillEnemy(g, j, laser ? KillCause::kLaser : KillCause::kShot);
    }
  }
  if (shot.x + shot.size < 0 || shot.x - shot.size > 640 || shot.y + shot.size < 0 ||
      shot.y - shot.size > 480) {
    shot.timer = 0;
  }
}

}  // namespace

void SpawnShot(Game& g, const ShotSpawn& spawn) {
  NextSlot(g.pools.shot_cursor, kShotSlots);
  EnemySlot& s = g.pools.shots[size_t(g.pools.shot_cursor)];
  s.x = s.originX = spawn.x;
  s.y = s.originY = spawn.y;
  s.size = spawn.size;
  s.timer = 1;
  s.angle = spawn.angle;
  s.kind = spawn.kind;
  s.lockOn = 0;
  if (spawn.kind == kShotBolt) {
    s.speed = spawn.size - 2;
    s.lockOn = spawn.target;
  } else {
    s.speed = spawn.speed;
  }
}

void FireVolley(Game& g) {
  if (g.input.click != kClickFire) return;
  PlayEffect(g, "tama.wav");
  Tmy& my = g.my;
  int a = AngleFromPlayer(g, g.input.mouse_x, g.input.mouse_y);
  int s = my.shot_speed() + 8;
  switch (my.mode) {
    case EASY:
    case SQ:
      Volley(g, kShotPlain, s, a, false);
      break;
    case LIGHT:
      for (int k = 0; k < 3; ++k) Volley(g, kShotPlain, s - 1, a + 120 * k, false);
      break;
    case EXTREAM:
      Volley(g, kShotPlain, s, a, true);
      break;
    case HARD:
      Volley(g, kShotMarker, s + 1, a, false);
      break;
    case NOVA:
    case HELL:
      Volley(g, kShotMarker, s, a, true);
      break;
    default:
      break;
  }
}

void LockOnBurst(Game& g) {
  Tmy& my = g.my;
  bool hell_press = my.mode == HELL && g.input.click == kClickRight && my.level >= 2 && my.time_stop == 0;
  if (g.run.burst_request < 1 && !hell_press) return;
  g.run.burst_request = 0;
  for (EnemySlot& s : g.pools.shots) s.timer = 0;
  PlayEffect(g, "bom3.wav");
  AddEffect(g, 320, 240, kFxBombRing);
  for (int i = 0; i < kEnemySlots; ++i) {
    EnemySlot& e = g.pools.enemies[size_t(i)];
    if (e.lockOn < 1) continue;
    // Every mark becomes one bolt, even when the marked slot has died since.
    for (int k = 0; k < e.lockOn; ++k) {
      SpawnShot(g, {.kind = kShotBolt, .x = my.player_x(), .y = my.player_y(),
                    .angle = AngleFromPlayer(g, e.x, e.y), .size = 55, .target = i});
    }
    e.lockOn = 0;
  }
}

void UpdateShots(Game& g) {
  if (g.run.in_play == 0) return;
  const HitBoxes boxes(g);
  for (int i = 0; i < kShotSlots; ++i) {
    if (g.pools.shots[size_t(i)].timer < 1) continue;
    MoveAndDrawShot(g, i);
    ResolveHits(g, i, boxes);
  }
  g.cg->SetPenWidth(1);
}
