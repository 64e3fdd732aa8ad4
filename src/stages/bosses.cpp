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

// An escort orbiter at the boss's own radius and angle.
void SpawnAtBoss(Game& g, int i, int kind, int size, int link, int speed) {
  const EnemySlot& b = g.pools.enemies[size_t(i)];
  SpawnOrbiter(g, kind, size, link, speed, b.radius, b.angle);
}

// Stage 2: swings in and out, sheds rings of small orbiters.
uint32_t StageBoss2(Game& g, int i) {
  EnemySlot& b = g.pools.enemies[size_t(i)];
  const int t = b.timer;
  const int sp = b.speed;
  if (b.radius > 200) b.radius -= 2 * sp;
  if (In(t, 50, 149)) {
    b.radius += sp + 1;
    b.angle += 1;
  } else if (In(t, 150, 249)) {
    b.radius += sp - 1;
    b.angle -= 2;
  } else if (In(t, 250, 349)) {
    b.radius += sp + 1;
    b.angle += 3;
  } else if (In(t, 350, 449)) {
    b.radius += sp - 1;
    b.angle -= 4;
  } else if (In(t, 450, 549)) {
    b.radius += sp + 2;
    b.angle += 1;
  } else if (t == 550) {
    b.timer = 49;
  }
  if (b.radius < b.size) b.radius += 2 * sp;

  const bool even = g.run.frame_no % 2 == 0;
  if (In(t, 150, 249) && even) SpawnAtBoss(g, i, kEnemyTurner, 6, 0, 3);
  if (In(t, 250, 349) && even) SpawnAtBoss(g, i, kEnemyTurnerBack, 6, 0, 3);
  if (In(t, 450, 549) && Every(g, g.my.mode == EASY ? 4 : 2)) {
    int size = 15 - (t - 450) / 10;
    SpawnAtBoss(g, i, kEnemySpinner, size, 0, 4);
    SpawnAtBoss(g, i, kEnemySpinnerBack, size, 0, 4);
  }
  return 0xCC00FF;
}

// Stage 4: grows as it comes nearer the centre and sprays flyers.
uint32_t StageBoss4(Game& g, int i) {
  EnemySlot& b = g.pools.enemies[size_t(i)];
  const int t = b.timer;
  const int sp = b.speed;
  b.size = std::max((240 - b.radius) / 4 + 5, 5);
  if (b.radius > 240) b.radius -= 2 * sp;
  if (b.radius < 120) b.radius += sp;
  if (b.angle > 360) b.angle -= 360;
  auto hold_in = [&b, sp] {
    if (b.radius - sp >= 120) b.radius -= sp;
  };
  auto push_out = [&b, sp] {
    if (b.radius + 2 * sp <= 240) b.radius += 2 * sp;
  };
  auto flyer = [&g, &b](int kind, int speed, int angle, int size) {
    SpawnFlyer(g, kind, b.x, 0, speed, angle, size, b.y);
  };
  auto aimed = [&g, &b] { return Aimed(g, b.x, b.y) + Random(g, 10); };

  if (In(t, 1, 49)) {
    b.angle += 2;
    if (Every(g, 3)) flyer(kEnemyPlain, 2, aimed(), (t - 50) / 10 + 8);
  } else if (In(t, 50, 99)) {
    hold_in();
    b.angle += 1;
  } else if (In(t, 100, 149)) {
    b.angle -= 2;
    if (Every(g, 10))
      for (int k = 0; k < 6; ++k) flyer(kEnemyPlain, 1, 60 * k, 30);
  } else if (In(t, 150, 199)) {
    b.radius += 2 * sp;
    b.angle += 1;
    if (Every(g, 10))
      for (int k = 0; k < 18; ++k) flyer(kEnemySpinner, 8, (t - 150) * 2 + 20 * k, (t - 150) / 10 + 5);
  } else if (In(t, 200, 299)) {
    if (b.radius - 2 * sp >= 120) b.radius -= 2 * sp;
    b.angle += 2;
  } else if (In(t, 300, 349)) {
    push_out();
    b.angle += 4;
    if (Every(g, 3)) flyer(kEnemyDart, 2, aimed(), (t - 300) / 10 + 8);
  } else if (In(t, 350, 399)) {
    hold_in();
    b.angle += 6;
    if (Every(g, 4)) flyer(kEnemyDart, 4, aimed(), (t - 350) / 10 + 8);
  } else if (In(t, 400, 449)) {
    b.radius += sp;
    b.angle += 8;
    if (Every(g, 2)) flyer(kEnemySpinnerBack, 8, aimed(), (t - 450) / 10 + 8);
  } else if (In(t, 450, 499)) {
    push_out();
    b.angle += 3;
  } else if (t == 500) {
    b.timer = 1;
  }
  return 0x9999FF;
}

// Stage 5: volleys of bullets joined to an orbiter launched with them.
uint32_t StageBoss5(Game& g, int i) {
  EnemySlot& b = g.pools.enemies[size_t(i)];
  const int t = b.timer;
  const int sp = b.speed;
  if (b.radius > 240) b.radius -= 2 * sp;
  if (b.radius < 160) b.radius += sp;
  if (b.angle > 360) b.angle -= 360;
  auto hold_in = [&b, sp] {
    if (b.radius - sp >= 160) b.radius -= sp;
  };
  auto push_out = [&b, sp] {
    if (b.radius + 2 * sp <= 240) b.radius += 2 * sp;
  };
  const int x = b.x, y = b.y;
  // Bullets placed at distance d in direction p about the centre, heading h.
  auto bullet = [&g, x, y](int kind, int link, int speed, int size, int d, int p, int h) {
    SpawnBullet(g, kind, PolarX(x, p, d), link, speed, h, size, PolarY(y, p, d));
  };
  auto ring_volley = [&bullet](int link, int kind, int speed, int rings) {
    for (int h = 0; h < rings; ++h)
      for (int m = 0; m < 36; ++m) bullet(kind, link, speed, 4, 10 * h + 10, 10 * m, 20 * m);
  };
  auto aimed_line = [&g, &bullet, x, y](int kind, int link, int speed) {
    for (int h = 0; h < 4; ++h) {
      int a = Aimed(g, x, y) + Random(g, 10);
      bullet(kind, link, speed, 4, 10 * h, a, a);
    }
  };

  if (In(t, 1, 49)) {
    b.angle += 2;
  } else if (In(t, 50, 99)) {
    hold_in();
    b.angle += 1;
    if (Every(g, 4)) {
      bullet(kEnemyFanShot, 51, 1, 5, 30, 0, 0);
      bullet(kEnemyFanShot, 51, 1, 5, 30, 90, 90);
    }
    if (t == 90) SpawnAtBoss(g, i, kEnemyWeaver, 35, 51, 1);
  } else if (In(t, 100, 149)) {
    b.radius += 2 * sp;
    b.angle -= 2;
  } else if (In(t, 150, 199)) {
    b.angle += 2;
    if (t == 150) {
      for (int h = 0; h < 8; ++h)
        for (int m = 0; m < 18; ++m) bullet(kEnemySpinner, 151, 4, 4, 10 * h + 10, 20 * m, 20 * m);
      SpawnAtBoss(g, i, kEnemyPlain, 35, 151, 1);
    }
  } else if (In(t, 200, 299)) {
    hold_in();
    b.angle += 5;
    if (t == 200) {
      ring_volley(201, kEnemyDiver, 3, 4);
      SpawnAtBoss(g, i, kEnemyPlain, 35, 201, 1);
    }
  } else if (In(t, 300, 349)) {
    push_out();
    b.angle += 4;
    if (Every(g, 3)) aimed_line(kEnemyRingShot, 300, 2);
    if (t == 340) SpawnAtBoss(g, i, kEnemyTurnerBack, 35, 300, 2);
  } else if (In(t, 350, 399)) {
    hold_in();
    b.angle += 6;
  } else if (In(t, 400, 449)) {
    push_out();
    b.angle += 8;
    if (g.run.frame_no % 2 == 0) aimed_line(kEnemyNeedle, 400, 1);
    if (t == 440) SpawnAtBoss(g, i, kEnemyPlain, 35, 400, 1);
  } else if (In(t, 450, 499)) {
    if (b.radius + sp <= 240) b.radius += sp;
    b.angle += 5;
    if (t == 450) {
      ring_volley(201, kEnemyWeaver, 2, 4);
      SpawnAtBoss(g, i, kEnemyDart, 35, 201, 1);
    }
  } else if (t == 500) {
    b.timer = 1;
  }
  return 0x99CC99;
}

// Stage 6, the last boss: breathes in and out, then locks onto the ship and
// lets go a final burst.
uint32_t LastBoss(Game& g, int i) {
  EnemySlot& b = g.pools.enemies[size_t(i)];
  const int t = b.timer;
  const int sp = b.speed;
  if (b.radius > 200) b.radius -= 2 * sp;
  if (b.radius < 100) b.radius += sp;
  if (b.angle > 360) b.angle -= 360;
  const bool even = g.run.frame_no % 2 == 0;
  auto flyer = [&g, &b](int kind) {
    SpawnFlyer(g, kind, b.x, Random(g, 100000) + 1, 3, Aimed(g, b.x, b.y) + 20, 5, b.y);
  };

  if (In(t, 50, 149)) {
    b.radius += sp - 1;
    b.angle += 1;
  } else if (In(t, 150, 199)) {
    b.radius += sp - 1;
    b.angle -= 2;
  } else if (In(t, 200, 249)) {
    b.radius += sp + 2;
    b.angle += 2;
  } else if (In(t, 250, 299)) {
    b.radius += sp - 2;
    b.angle -= 3;
  } else if (In(t, 300, 349)) {
    b.radius += sp + 2;
    b.angle += 3;
  } else if (In(t, 350, 449)) {
    b.radius += sp - 2;
    b.angle -= 4;
    b.size = std::max(b.size - 1, 5);
  } else if (In(t, 450, 549)) {
    b.radius += sp + 2;
    b.angle += 1;
    b.size = std::min(b.size + 1, 30);
  } else if (In(t, 600, 679)) {
    b.angle += 3;
  } else if (t == 681) {
    b.timer = 49;
  }
  if (b.radius < b.size) b.radius += 2 * sp;

  if (In(t, 150, 199) && even) SpawnAtBoss(g, i, kEnemyTurner, 6, 0, 3);
  if (In(t, 200, 249) && Every(g, 4)) flyer(kEnemyTwinGun);
  if (In(t, 250, 299) && even) SpawnAtBoss(g, i, kEnemyTurnerBack, 6, 0, 3);
  if (In(t, 300, 349) && Every(g, 4)) flyer(kEnemyFanShot);
  if (In(t, 450, 499) && Every(g, 4)) SpawnAtBoss(g, i, kEnemySprayer, 15 - (t - 450) / 10, 0, 3);
  if (In(t, 500, 549) && even) {
    int size = 15 - (t - 500) / 10;
    SpawnAtBoss(g, i, kEnemySpinner, size, 0, 4);
    SpawnAtBoss(g, i, kEnemySpinnerBack, size, 0, 4);
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
        SpawnBullet(g, kEnemyPlain, x, 0, 10, a + 5, 10, y);
        SpawnBullet(g, kEnemyPlain, x, 0, 10, a - 5, 10, y);
      } else {
        SpawnOrbiter(g, kEnemyPlain, 10, 0, 10, radius - 2 * n, angle + 5);
        SpawnOrbiter(g, kEnemyPlain, 10, 0, 10, radius - 2 * n, angle - 5);
      }
    }
  }
  return 0xFF00CC;
}

}  // namespace

uint32_t RunBossPattern(Game& g, int i) {
  switch (g.pools.enemies[size_t(i)].kind) {
    case kBossStage2:
      return StageBoss2(g, i);
    case kBossStage4:
      return StageBoss4(g, i);
    case kBossStage5:
      return StageBoss5(g, i);
    case kBossStage6:
      return LastBoss(g, i);
    default:
      return 0x889988;
  }
}
