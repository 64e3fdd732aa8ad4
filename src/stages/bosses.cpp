#include "stages/bosses.h"

#include <algorithm>

#include "assets/sound.h"
#include "effects/effects.h"
#include "state/game.h"
#include "stages/enemies.h"

namespace {

bool In(int t, int lo, int hi) { return t >= lo && t <= hi; }
bool Every(const Game& g, int k) { return g.run.frame_no % k == 0; }

int Aimed(Game& g, int x, int y) { return AngleFromPlayer(g, x, y) + 180; }

// A boss circles the centre in a band: beyond its outer edge it is pulled in
// two steps, inside its inner edge pushed out one, and its angle stays within
// a turn. sp is the boss's step (its speed).
void KeepInBand(EnemySlot& b, int sp, int inner, int outer) {
  if (b.radius > outer) b.radius -= 2 * sp;
  if (b.radius < inner) b.radius += sp;
  if (b.angle > 360) b.angle -= 360;
}
// A step in that does not cross the inner edge.
void HoldIn(EnemySlot& b, int sp, int inner) {
  if (b.radius - sp >= inner) b.radius -= sp;
}
// Two steps out that do not cross the outer edge.
void PushOut(EnemySlot& b, int sp, int outer) {
  if (b.radius + 2 * sp <= outer) b.radius += 2 * sp;
}

// A span of a boss's swing: from clock `from` to `to` its orbit grows by its
// step plus `grow` each frame, and it turns `turn` degrees.
struct Swing {
  int from, to, grow, turn;
};

// Moves the boss by the span of the swing that holds t; false when none does.
template <size_t N>
bool RunSwing(EnemySlot& b, int sp, int t, const Swing (&swing)[N]) {
  for (const Swing& s : swing) {
    if (!In(t, s.from, s.to)) continue;
    b.radius += sp + s.grow;
    b.angle += s.turn;
    return true;
  }
  return false;
}

// Stage 2's boss swings out and back, turning faster each time.
constexpr Swing kBoss2Swing[] = {
    {50, 149, 1, 1}, {150, 249, -1, -2}, {250, 349, 1, 3}, {350, 449, -1, -4}, {450, 549, 2, 1},
};
// The last boss breathes in and out in shorter swings.
constexpr Swing kLastBossSwing[] = {
    {50, 149, -1, 1},  {150, 199, -1, -2}, {200, 249, 2, 2},  {250, 299, -2, -3},
    {300, 349, 2, 3},  {350, 449, -2, -4}, {450, 549, 2, 1},
};

// Stage 2: swings in and out, sheds rings of small orbiters.
uint32_t StageBoss2(Game& g, EnemySlot& b) {
  const int t = b.timer, sp = b.speed;
  if (b.radius > 200) b.radius -= 2 * sp;
  if (!RunSwing(b, sp, t, kBoss2Swing) && t == 550) b.timer = 49;
  if (b.radius < b.size) b.radius += 2 * sp;

  const bool even = g.run.frame_no % 2 == 0;
  if (In(t, 150, 249) && even) SpawnOrbiterAt(g, b, {.kind = kEnemyTurner, .speed = 3, .size = 6});
  if (In(t, 250, 349) && even) SpawnOrbiterAt(g, b, {.kind = kEnemyTurnerBack, .speed = 3, .size = 6});
  if (In(t, 450, 549) && Every(g, g.my.mode == EASY ? 4 : 2)) {
    int size = 15 - (t - 450) / 10;
    SpawnOrbiterAt(g, b, {.kind = kEnemySpinner, .speed = 4, .size = size});
    SpawnOrbiterAt(g, b, {.kind = kEnemySpinnerBack, .speed = 4, .size = size});
  }
  return 0xCC00FF;
}

// Stage 4: grows as it comes nearer the centre and sprays flyers.
uint32_t StageBoss4(Game& g, EnemySlot& b) {
  const int t = b.timer, sp = b.speed;
  b.size = std::max((240 - b.radius) / 4 + 5, 5);
  KeepInBand(b, sp, 120, 240);
  // Flyers leave from the boss's centre.
  auto flyer = [&g, &b](EnemySpawn f) {
    f.x = b.x;
    f.y = b.y;
    SpawnFlyer(g, f);
  };
  auto aimed = [&g, &b] { return Aimed(g, b.x, b.y) + Random(g, 10); };

  if (In(t, 1, 49)) {
    b.angle += 2;
    if (Every(g, 3)) flyer({.kind = kEnemyPlain, .angle = aimed(), .speed = 2, .size = (t - 50) / 10 + 8});
  } else if (In(t, 50, 99)) {
    HoldIn(b, sp, 120);
    b.angle += 1;
  } else if (In(t, 100, 149)) {
    b.angle -= 2;
    if (Every(g, 10))
      for (int k = 0; k < 6; ++k) flyer({.kind = kEnemyPlain, .angle = 60 * k, .speed = 1, .size = 30});
  } else if (In(t, 150, 199)) {
    b.radius += 2 * sp;
    b.angle += 1;
    if (Every(g, 10))
      for (int k = 0; k < 18; ++k)
        flyer({.kind = kEnemySpinner, .angle = (t - 150) * 2 + 20 * k, .speed = 8, .size = (t - 150) / 10 + 5});
  } else if (In(t, 200, 299)) {
    if (b.radius - 2 * sp >= 120) b.radius -= 2 * sp;
    b.angle += 2;
  } else if (In(t, 300, 349)) {
    PushOut(b, sp, 240);
    b.angle += 4;
    if (Every(g, 3)) flyer({.kind = kEnemyDart, .angle = aimed(), .speed = 2, .size = (t - 300) / 10 + 8});
  } else if (In(t, 350, 399)) {
    HoldIn(b, sp, 120);
    b.angle += 6;
    if (Every(g, 4)) flyer({.kind = kEnemyDart, .angle = aimed(), .speed = 4, .size = (t - 350) / 10 + 8});
  } else if (In(t, 400, 449)) {
    b.radius += sp;
    b.angle += 8;
    if (Every(g, 2))
      flyer({.kind = kEnemySpinnerBack, .angle = aimed(), .speed = 8, .size = (t - 450) / 10 + 8});
  } else if (In(t, 450, 499)) {
    PushOut(b, sp, 240);
    b.angle += 3;
  } else if (t == 500) {
    b.timer = 1;
  }
  return 0x9999FF;
}

// Stage 5: volleys of bullets joined to an orbiter launched with them.
uint32_t StageBoss5(Game& g, EnemySlot& b) {
  const int t = b.timer, sp = b.speed;
  KeepInBand(b, sp, 160, 240);
  const int x = b.x, y = b.y;
  // A bullet placed at distance d in direction p from the boss's centre.
  auto bullet = [&g, x, y](EnemySpawn s, int d, int p) {
    s.x = PolarX(x, p, d);
    s.y = PolarY(y, p, d);
    SpawnBullet(g, s);
  };
  // Rings of 36 size-4 bullets, 10 px apart, each heading twice its direction.
  auto ring_volley = [&bullet](EnemySpawn s, int rings) {
    s.size = 4;
    for (int h = 0; h < rings; ++h)
      for (int m = 0; m < 36; ++m) {
        s.angle = 20 * m;
        bullet(s, 10 * h + 10, 10 * m);
      }
  };
  // Four size-4 bullets in a line, each aimed at the ship with its own spread.
  auto aimed_line = [&g, &bullet, x, y](EnemySpawn s) {
    s.size = 4;
    for (int h = 0; h < 4; ++h) {
      s.angle = Aimed(g, x, y) + Random(g, 10);
      bullet(s, 10 * h, s.angle);
    }
  };

  if (In(t, 1, 49)) {
    b.angle += 2;
  } else if (In(t, 50, 99)) {
    HoldIn(b, sp, 160);
    b.angle += 1;
    if (Every(g, 4)) {
      for (int a : {0, 90})
        bullet({.kind = kEnemyFanShot, .angle = a, .speed = 1, .size = 5, .link = 51}, 30, a);
    }
    if (t == 90) SpawnOrbiterAt(g, b, {.kind = kEnemyWeaver, .speed = 1, .size = 35, .link = 51});
  } else if (In(t, 100, 149)) {
    b.radius += 2 * sp;
    b.angle -= 2;
  } else if (In(t, 150, 199)) {
    b.angle += 2;
    if (t == 150) {
      for (int h = 0; h < 8; ++h)
        for (int m = 0; m < 18; ++m)
          bullet({.kind = kEnemySpinner, .angle = 20 * m, .speed = 4, .size = 4,
                  .link = 151}, 10 * h + 10, 20 * m);
      SpawnOrbiterAt(g, b, {.kind = kEnemyPlain, .speed = 1, .size = 35, .link = 151});
    }
  } else if (In(t, 200, 299)) {
    HoldIn(b, sp, 160);
    b.angle += 5;
    if (t == 200) {
      ring_volley({.kind = kEnemyDiver, .speed = 3, .link = 201}, 4);
      SpawnOrbiterAt(g, b, {.kind = kEnemyPlain, .speed = 1, .size = 35, .link = 201});
    }
  } else if (In(t, 300, 349)) {
    PushOut(b, sp, 240);
    b.angle += 4;
    if (Every(g, 3)) aimed_line({.kind = kEnemyRingShot, .speed = 2, .link = 300});
    if (t == 340) SpawnOrbiterAt(g, b, {.kind = kEnemyTurnerBack, .speed = 2, .size = 35, .link = 300});
  } else if (In(t, 350, 399)) {
    HoldIn(b, sp, 160);
    b.angle += 6;
  } else if (In(t, 400, 449)) {
    PushOut(b, sp, 240);
    b.angle += 8;
    if (g.run.frame_no % 2 == 0) aimed_line({.kind = kEnemyNeedle, .speed = 1, .link = 400});
    if (t == 440) SpawnOrbiterAt(g, b, {.kind = kEnemyPlain, .speed = 1, .size = 35, .link = 400});
  } else if (In(t, 450, 499)) {
    if (b.radius + sp <= 240) b.radius += sp;
    b.angle += 5;
    if (t == 450) {
      ring_volley({.kind = kEnemyWeaver, .speed = 2, .link = 201}, 4);
      SpawnOrbiterAt(g, b, {.kind = kEnemyDart, .speed = 1, .size = 35, .link = 201});
    }
  } else if (t == 500) {
    b.timer = 1;
  }
  return 0x99CC99;
}

// Stage 6, the last boss: breathes in and out, then locks onto the ship and
// lets go a final burst.
uint32_t LastBoss(Game& g, EnemySlot& b) {
  const int t = b.timer, sp = b.speed;
  KeepInBand(b, sp, 100, 200);
  const bool even = g.run.frame_no % 2 == 0;
  // A flyer of a group of its own from the boss's centre, aimed 20 degrees off.
  auto flyer = [&g, &b](int kind) {
    const int link = Random(g, 100000) + 1;
    SpawnFlyer(g, {.kind = kind, .x = b.x, .y = b.y, .angle = Aimed(g, b.x, b.y) + 20, .speed = 3, .size = 5,
                   .link = link});
  };

  if (RunSwing(b, sp, t, kLastBossSwing)) {
    // It shrinks as it swings in, and grows again on the last swing out.
    if (In(t, 350, 449)) b.size = std::max(b.size - 1, 5);
    if (In(t, 450, 549)) b.size = std::min(b.size + 1, 30);
  } else if (In(t, 600, 679)) {
    b.angle += 3;
  } else if (t == 681) {
    b.timer = 49;
  }
  if (b.radius < b.size) b.radius += 2 * sp;

  if (In(t, 150, 199) && even) SpawnOrbiterAt(g, b, {.kind = kEnemyTurner, .speed = 3, .size = 6});
  if (In(t, 200, 249) && Every(g, 4)) flyer(kEnemyTwinGun);
  if (In(t, 250, 299) && even) SpawnOrbiterAt(g, b, {.kind = kEnemyTurnerBack, .speed = 3, .size = 6});
  if (In(t, 300, 349) && Every(g, 4)) flyer(kEnemyFanShot);
  if (In(t, 450, 499) && Every(g, 4))
    SpawnOrbiterAt(g, b, {.kind = kEnemySprayer, .speed = 3, .size = 15 - (t - 450) / 10});
  if (In(t, 500, 549) && even) {
    int size = 15 - (t - 500) / 10;
    SpawnOrbiterAt(g, b, {.kind = kEnemySpinner, .speed = 4, .size = size});
    SpawnOrbiterAt(g, b, {.kind = kEnemySpinnerBack, .speed = 4, .size = size});
  }
  if (In(t, 600, 679)) {
    if (even) {
      // Target lock: rings close in about the ship.
      g.my.target_lock() += 1;
      PlayEffect(g, "target.wav");
      AddEffect(g, g.my.player_x(), g.my.player_y(), kFxPlayerLockOn);
    }
    if (t == 670) {
      AddEffect(g, b.x, b.y, kFxGreenStreaks);
      AddEffect(g, b.x, b.y, kFxGreenRing);
    }
  }
  if (t == 680) {
    PlayEffect(g, "bom3.wav");
    AddEffect(g, b.x, b.y, kFxBombRing);
    g.my.target_lock() = 0;
    for (EffectSlot& e : g.fx.ring)
      if (e.age >= 1 && e.kind == kFxPlayerLockOn) e.age = 0;
    const bool aimed_bullets = g.my.mode == EXTREAM || g.my.mode == NOVA;
    const int x = b.x, y = b.y, radius = b.radius, angle = b.angle;
    for (int n = 0; n <= 10; ++n) {
      if (aimed_bullets) {
        int a = Aimed(g, x, y);
        for (int d : {5, -5})
          SpawnBullet(g, {.kind = kEnemyPlain, .x = x, .y = y, .angle = a + d, .speed = 10, .size = 10});
      } else {
        for (int d : {5, -5})
          SpawnOrbiter(g, {.kind = kEnemyPlain, .radius = radius - 2 * n, .angle = angle + d, .speed = 10,
                           .size = 10});
      }
    }
  }
  return 0xFF00CC;
}

}  // namespace

uint32_t RunBossPattern(Game& g, int i) {
  EnemySlot& b = g.pools.enemies[size_t(i)];
  switch (b.kind) {
    case kBossStage2:
      return StageBoss2(g, b);
    case kBossStage4:
      return StageBoss4(g, b);
    case kBossStage5:
      return StageBoss5(g, b);
    case kBossStage6:
      return LastBoss(g, b);
    default:
      return 0x889988;
  }
}
