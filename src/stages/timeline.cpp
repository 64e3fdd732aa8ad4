#include "stages/timeline.h"

#include "assets/pictures.h"
#include "assets/sound.h"
#include "effects/effects.h"
#include "effects/log.h"
#include "state/game.h"
#include "stages/enemies.h"

namespace {

// What one frame of a stage script sees.
struct Tick {
  Game& g;
  int c;      // stage clock
  int n;      // frame counter
  bool late;  // SQ, LIGHT and HELL get extra waves

  bool At(int v) const { return c == v; }
  bool In(int lo, int hi) const { return c >= lo && c <= hi; }
  bool Every(int k) const { return n % k == 0; }
  int R() const { return Random(g, 100000) + 1; }  // a fresh link id
  int Aimed(int x, int y) const { return AngleFromPlayer(g, x, y) + 180; }
  // Fans that swing to the other side and turn 30 degrees on every step.
  int Fan(int step) const {
    int m = n / step;
    return (m % 2) * 180 + (m % 6) * 30;
  }
  void BossWarning() const { AddEffect(g, 320, 240, kFxBossWarning, std::string()); }
  // The boss is the slot filled last: in HELL that is the twin.
  void Boss(const EnemySpawn& boss) const {
    SpawnOrbiter(g, boss);
    g.pools.boss_slot = g.pools.spawn_cursor;
  }
  // 42 orbiters in groups of four (the last of two); the first group, link 0, is not joined.
  void RingA(int kind) const {
    for (int i = 0; i <= 71; ++i)
      if (i % 7 <= 3)
        SpawnOrbiter(g, {.kind = kind, .radius = 360, .angle = 5 * i, .speed = 2, .size = 6, .link = i / 7});
  }
  void RingB(int kind) const {
    for (int i = 0; i <= 71; ++i)
      if (i % 7 <= 3)
        SpawnOrbiter(g, {.kind = kind, .radius = 360, .angle = 5 * i + 72, .speed = 2, .size = 5,
                         .link = i / 7 + 1000});
  }
  // A group of five weavers 3 degrees apart, on the fan that swings every ten frames.
  void WeaverFan() const {
    int base = Fan(10);
    int r = R();
    for (int i = 0; i <= 4; ++i)
      SpawnOrbiter(g, {.kind = kEnemyWeaver, .radius = 360, .angle = base + 3 * i, .speed = 3, .size = 10,
                       .link = r});
  }
  // n orbiters spaced evenly round the ring, the first at `offset` degrees.
  void Ring(EnemySpawn e, int n, int offset = 0) const {
    for (int k = 0; k < n; ++k) {
      e.angle = 360 / n * k + offset;
      SpawnOrbiter(g, e);
    }
  }
  // A jittered point on a ring of radius 360 about the centre.
  void RingPoint(int i, int step, int& x, int& y) const {
    x = 310 + Random(g, 21) + PolarX(0, step * i, 360);
    y = 233 + Random(g, 15) + PolarY(0, step * i, 360);
  }
  static void SpokePoint(int a, int d, int& x, int& y) {
    x = PolarX(320, a, d);
    y = PolarY(240, a, d);
  }
};

void Stage1(const Tick& s) {
  if (s.In(1, 199) && s.Every(20)) {
    int base = s.Fan(20);
    int r = s.R();
    for (int i = 0; i <= 3; ++i) {
      SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 360 + 10 * i, .angle = base + 2 * i, .speed = 1,
                         .size = 10, .link = r});
      SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 450 + 10 * i, .angle = base + 2 * i, .speed = 1,
                         .size = 10, .link = r + 1});
    }
  }
  if (s.In(200, 299) && s.Every(4))
    for (int i = 0; i <= 3; ++i)
      SpawnOrbiter(s.g, {.kind = kEnemyDart, .radius = 370, .angle = (s.n % 360) + 90 * i, .speed = 1,
                         .size = 10, .link = i + 1});
  if (s.In(500, 599) && s.Every(10)) s.WeaverFan();
  if (s.At(700)) {
    // Spokes: a flyer carrying a star of bullets towards the ship.
    const int spokes = s.late ? 8 : 4;
    const int spacing = s.late ? 45 : 90;
    for (int sp = 0; sp < spokes; ++sp) {
      int r = s.R();
      int px = 0, py = 0;
      Tick::SpokePoint(sp * spacing + 45, 310, px, py);
      SpawnFlyer(s.g, {.kind = kEnemyDiver, .x = px, .y = py, .angle = s.Aimed(px, py), .speed = 2,
                       .size = 16, .link = r});
      for (int k = 0; k <= 15; ++k) {
        int d = k % 2 == 1 ? 48 : 16;
        int bx = PolarX(px, 40 * k + 45, d);
        int by = PolarY(py, 40 * k + 45, d);
        SpawnBullet(s.g, {.kind = kEnemyRingShot, .x = bx, .y = by, .angle = s.Aimed(bx, by), .speed = 2,
                          .size = 3, .link = r});
      }
    }
  }
  if (s.At(800)) {
    int r = s.R();
    const int base = 2400;
    for (int i = 0; i <= 9; ++i) {
      SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360 + 5 * i, .angle = base + 2 * i, .speed = 4,
                         .size = 6, .link = r});
      SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360 + 5 * i, .angle = base + 2 * i + 120, .speed = 3,
                         .size = 6, .link = r});
      SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360 + 5 * i, .angle = base + 2 * i + 240, .speed = 3,
                         .size = 6, .link = r});
    }
  }
  if (s.At(900) && s.late) {
    int r = s.R();
    for (int i = 0; i <= 15; ++i) {
      SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360, .angle = 20 * i, .speed = 3, .size = 6,
                         .link = r});
      SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360, .angle = 20 * i + 120, .speed = 2, .size = 6,
                         .link = r});
      SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360, .angle = 20 * i + 240, .speed = 1, .size = 6,
                         .link = r});
    }
  }
  if (s.At(1000)) LoadStoryMessages(s.g, "1.txt");
  if (s.At(1120)) s.BossWarning();
  if (s.At(1170)) s.Boss({.kind = kBossStage1, .radius = 380, .angle = 270, .speed = 2, .size = 20});
}

void Stage2(const Tick& s) {
  if (s.In(1, 299) && s.Every(10)) s.WeaverFan();
  if (s.In(300, 499) && s.Every(40)) {
    int r = s.R();
    int base = ((s.n / 40) % 6) * 60;
    for (int i = 0; i <= 9; ++i)
      SpawnOrbiter(s.g, {.kind = kEnemyTurner, .radius = 360 + 5 * i, .angle = base + 2 * i, .speed = 3,
                         .size = 6, .link = r});
  }
  if (s.In(500, 699) && s.Every(40)) {
    int r = s.R();
    int base = ((s.n / 40) % 6) * 60;
    for (int i = 0; i <= 9; ++i)
      SpawnOrbiter(s.g, {.kind = kEnemyTurnerBack, .radius = 360 + 5 * i, .angle = base + 2 * i + 180,
                         .speed = 3, .size = 6, .link = r});
  }
  if (s.At(750))
    for (int i = 0; i <= 3; ++i)
      for (int j = 0; j <= 9; ++j)
        SpawnOrbiter(s.g, {.kind = kEnemyPlain, .radius = 360 + 20 * j, .angle = 90 * i + 45, .speed = 2,
                           .size = 10, .link = i + 1});
  if (s.At(950))
    for (int i = 0; i <= 5; ++i)
      for (int j = 0; j <= 9; ++j)
        SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360 + 11 * j, .angle = 60 * i, .speed = 3,
                           .size = 6, .link = i + 1000});
  if (s.In(1150, 1299)) {
    int d = s.n % 4;
    SpawnOrbiter(s.g, {.kind = kEnemyPlain, .radius = 380, .angle = (s.n % 360) + 90 * d + 45, .speed = 1,
                       .size = 15, .link = d + 2000});
  }
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) s.Boss({.kind = kBossStage2, .radius = 380, .angle = 270, .speed = 2, .size = 30});
}

void Stage3(const Tick& s) {
  // Rings of darts closing in, each of more and smaller darts than the one before.
  if (s.At(1)) s.Ring({.kind = kEnemyDart, .radius = 360, .speed = 4, .size = 20, .link = 1}, 10);
  if (s.At(51) && s.late) s.Ring({.kind = kEnemyDart, .radius = 360, .speed = 4, .size = 17, .link = 1}, 12, 45);
  if (s.At(101)) s.Ring({.kind = kEnemyDart, .radius = 360, .speed = 3, .size = 15, .link = 2}, 15);
  if (s.At(151) && s.late) s.Ring({.kind = kEnemyDart, .radius = 360, .speed = 3, .size = 12, .link = 1}, 18, 45);
  if (s.At(201)) s.Ring({.kind = kEnemyDart, .radius = 360, .speed = 2, .size = 10, .link = 3}, 30);
  if (s.In(330, 599) && s.Every(20)) {
    int r = s.R();
    int base = ((s.n / 20) % 6) * 60;
    for (int i = 0; i <= 4; ++i) {
      int a = base + 3 * i;
      SpawnOrbiter(s.g, {.kind = kEnemyTurner, .radius = 360 + 5 * i, .angle = a, .speed = 2, .size = 9,
                         .link = r});
      SpawnOrbiter(s.g, {.kind = kEnemyTurner, .radius = 360 + 5 * i, .angle = a + 180, .speed = 2, .size = 9,
                         .link = r + 1});
      SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 360 + 15 * i, .angle = a + 90, .speed = 1, .size = 10,
                         .link = r + 2});
      SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 360 + 15 * i, .angle = a + 270, .speed = 1,
                         .size = 10, .link = r + 3});
    }
  }
  if (s.In(600, 615) && s.Every(2))
    for (int i = 0; i <= 3; ++i)
      SpawnOrbiter(s.g, {.kind = kEnemyDart, .radius = (s.n % 360) + 370, .angle = 90 * i + s.c - 600,
                         .speed = 2, .size = 6, .link = i + 1});
  if (s.In(630, 645) && s.Every(2))
    for (int i = 0; i <= 3; ++i)
      SpawnOrbiter(s.g, {.kind = kEnemyDart, .radius = (s.n % 360) + 370, .angle = 90 * i + s.c - 600,
                         .speed = 2, .size = 6, .link = i + 600});
  if (s.In(700, 749)) {
    int m = s.n % 360;
    for (int j = 0; j <= 3; ++j)
      SpawnOrbiter(s.g, {.kind = kEnemySpinnerBack, .radius = m + 370, .angle = m + 90 * j + 45, .speed = 3,
                         .size = 6, .link = j + 231});
  }
  if (s.In(1000, 1099) && s.Every(20)) {
    int r = s.R();
    int base = ((s.n / 20) % 6) * 60;
    for (int i = 0; i <= 3; ++i) {
      SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 360 + 5 * i, .angle = base + 2 * i + 180, .speed = 3,
                         .size = 6, .link = r});
      SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 360 + 5 * i, .angle = base + 2 * i + 300, .speed = 3,
                         .size = 6, .link = r + 1});
      SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 360 + 5 * i, .angle = base + 2 * i + 420, .speed = 3,
                         .size = 6, .link = r + 2});
    }
  }
  if (s.In(1100, 1199) && s.Every(20))
    for (int i = 0; i <= 2; ++i) {
      int l = Random(s.g, 100000);
      for (int j = 0; j <= 3; ++j)
        SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360 + 11 * j, .angle = 120 * i, .speed = 4,
                           .size = 8, .link = l});
    }
  if (s.At(1280))
    for (int i = 0; i <= 17; ++i) {
      int l = Random(s.g, 100000);
      for (int j = 0; j <= 3; ++j)
        SpawnOrbiter(s.g, {.kind = kEnemyPlain, .radius = 360 + 20 * j, .angle = 20 * i, .speed = 1,
                           .size = 10, .link = l});
    }
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) {
    SpawnOrbiter(s.g, {.kind = kEnemyCarrier, .radius = 380, .angle = 60, .speed = 2, .size = 10});
    SpawnOrbiter(s.g, {.kind = kEnemyCarrier, .radius = 380, .angle = 120, .speed = 2, .size = 10});
    s.Boss({.kind = kBossStage3, .radius = 380, .angle = 270, .speed = 2, .size = 20});
  }
}

// Four flyers like `f` from the corners or edges, one per entry {x, y, link, heading}.
void Four(const Tick& s, EnemySpawn f, const int (&p)[4][4]) {
  for (const auto& at : p) {
    f.x = at[0];
    f.y = at[1];
    f.link = at[2];
    f.angle = at[3];
    SpawnFlyer(s.g, f);
  }
}

void Stage4(const Tick& s) {
  // Bursts of lone orbiters, smaller and faster each time.
  for (int w = 0; w <= 5; ++w)
    if (s.In(50 * w + (w == 0 ? 1 : 0), 50 * w + 19))
      SpawnOrbiter(s.g, {.kind = kEnemyPlain, .radius = 380, .angle = Random(s.g, 360), .speed = w + 1,
                         .size = 20 - 3 * w});
  if (s.At(320)) s.RingA(kEnemySpinner);
  if (s.At(400)) s.RingB(kEnemySpinnerBack);
  if (s.At(500))
    for (int i = 0; i <= 89; ++i)
      if (i % 15 <= 7)
        SpawnOrbiter(s.g, {.kind = kEnemyTurner, .radius = 360, .angle = 4 * i, .speed = 1, .size = 10,
                           .link = i / 15 + 2000});
  if (s.At(550))
    for (int i = 0; i <= 119; ++i)
      if (i % 15 <= 7)
        SpawnOrbiter(s.g, {.kind = kEnemyTurnerBack, .radius = 360, .angle = 3 * i + 144, .speed = 1,
                           .size = 5, .link = i / 15 + 3000});
  if (s.In(800, 821) && s.Every(2))
    Four(s, {.kind = kEnemyDart, .speed = 4, .size = 6},
         {{80, 0, 1, 40}, {560, 0, 2, 130}, {560, 480, 3, 220}, {80, 480, 4, 310}});
  if (s.In(900, 921) && s.Every(3))
    Four(s, {.kind = kEnemyDart, .speed = 4, .size = 15},
         {{110, 0, 21, 50}, {530, 0, 22, 140}, {110, 480, 23, 320}, {530, 480, 24, 230}});
  if (s.In(950, 971) && s.Every(3))
    Four(s, {.kind = kEnemyDiver, .speed = 8, .size = 20},
         {{110, 0, 11, 30}, {530, 0, 12, 120}, {110, 480, 13, 300}, {530, 480, 14, 210}});
  constexpr int kDown[4][4] = {{300, 0, 31, 98}, {340, 0, 32, 82}, {300, 480, 33, 262}, {340, 480, 34, 278}};
  constexpr int kAcross[4][4] = {{0, 220, 41, 8}, {0, 260, 42, -8}, {640, 220, 43, 172}, {640, 260, 44, 188}};
  if (s.In(1000, 1079) && s.Every(3))
    Four(s, {.kind = kEnemyDart, .speed = 4, .size = (s.c - 1000) / 5 + 4}, kDown);
  if (s.In(1100, 1179) && s.Every(3))
    Four(s, {.kind = kEnemyDart, .speed = 3, .size = (s.c - 1100) / 5 + 3}, kAcross);
  if (s.In(1200, 1279) && s.Every(3)) Four(s, {.kind = kEnemyWeaver, .speed = 4, .size = 10}, kDown);
  if (s.In(1300, 1379) && s.Every(3)) Four(s, {.kind = kEnemyTurner, .speed = 3, .size = 10}, kAcross);
  if (s.In(1400, 1479) && s.Every(3))
    Four(s, {.kind = kEnemyPlain, .speed = 3, .size = (s.c - 1400) / 4 + 2},
         {{0, 220, 51, 8}, {640, 260, 52, 188}, {300, 0, 53, 98}, {340, 480, 54, 278}});
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) s.Boss({.kind = kBossStage4, .radius = 380, .angle = 270, .speed = 2, .size = 50});
}

// A large flyer inside four rings of nine bullets that travel with it.
// `at` gives the place, the heading and the link.
void EscortedFlyer(const Tick& s, const EnemySpawn& at) {
  SpawnFlyer(s.g, {.kind = kEnemyRingShot, .x = at.x, .y = at.y, .angle = at.angle, .speed = 2, .size = 30,
                   .link = at.link});
  for (int j = 0; j <= 3; ++j)
    for (int i = 0; i <= 8; ++i)
      SpawnBullet(s.g, {.kind = kEnemyDiver, .x = PolarX(at.x, 40 * i, 6 * j + 40),
                        .y = PolarY(at.y, 40 * i, 6 * j + 40),
                        .angle = at.angle, .speed = 2, .size = 4, .link = at.link});
}

void Stage5(const Tick& s) {
  // Flyers like `f` from the ring points i = 0..last with i mod 7 <= keep,
  // aimed at the ship; with own_link each group of seven has a link of its own
  // counted up from f's.
  auto ring_flyers = [&s](int last, int keep, int step, EnemySpawn f, bool own_link) {
    const int link = f.link;
    for (int i = 0; i <= last; ++i) {
      if (i % 7 > keep) continue;
      s.RingPoint(i, step, f.x, f.y);
      f.angle = s.Aimed(f.x, f.y);
      f.link = own_link ? i / 7 + link : link;
      SpawnFlyer(s.g, f);
    }
  };
  if (s.At(5)) ring_flyers(71, 3, 5, {.kind = kEnemyWeaver, .speed = 3, .size = 7, .link = s.R()}, false);
  if (s.At(25)) ring_flyers(119, 3, 3, {.kind = kEnemyWeaver, .speed = 4, .size = 7, .link = s.R()}, false);
  if (s.In(175, 178)) ring_flyers(71, 1, 5, {.kind = kEnemyTurner, .speed = 2, .size = 7, .link = 1000}, true);
  if (s.In(250, 253)) ring_flyers(71, 1, 5, {.kind = kEnemyTurnerBack, .speed = 3, .size = 5,
                                             .link = 2000}, true);
  if (s.At(320)) s.RingA(kEnemySpiral);
  if (s.At(400)) s.RingB(kEnemySpiral);
  auto spokes = [&s](int spread, int speed) {
    for (int h = 0; h <= 71; ++h) {
      if (h % 7 > 1) continue;
      int r = s.R();
      int sp = Random(s.g, spread);
      for (int j = 0; j <= 3; ++j) {
        int x = 0, y = 0;
        Tick::SpokePoint(5 * h, 360 + 10 * j, x, y);
        SpawnFlyer(s.g, {.kind = kEnemyPlain, .x = x, .y = y, .angle = s.Aimed(x, y) + sp, .speed = speed,
                         .size = 7, .link = r});
      }
    }
  };
  if (s.At(500)) spokes(30, 2);
  if (s.At(600)) spokes(40, 3);
  if (s.At(700)) spokes(50, 4);
  if (s.At(800))
    for (int q = 0; q <= 3; ++q) {
      int r = s.R();
      for (int j = 0; j <= 7; ++j)
        SpawnOrbiter(s.g, {.kind = kEnemyRetreater, .radius = 360 + 10 * j, .angle = 90 * q + j + 45,
                           .speed = 2, .size = 7, .link = r});
    }
  if (s.At(1000))
    Four(s, {.kind = kEnemyTwinGun, .speed = 1, .size = 20},
         {{280, 0, 31, 108}, {360, 0, 32, 72}, {280, 480, 33, 252}, {360, 480, 34, 288}});
  if (s.At(1200)) {
    EscortedFlyer(s, {.x = 260, .y = -30, .angle = 118, .link = 91});
    EscortedFlyer(s, {.x = 380, .y = 510, .angle = 242, .link = 92});
  }
  if (s.At(1300)) {
    EscortedFlyer(s, {.x = 260, .y = 510, .angle = 298, .link = 93});
    EscortedFlyer(s, {.x = 380, .y = 30, .angle = 62, .link = 94});
  }
  if (s.At(1400))
    for (int i = 0; i <= 3; ++i) {
      int r = s.R();
      SpawnOrbiter(s.g, {.kind = kEnemySprayer, .radius = 360, .angle = 90 * i + 45, .speed = 2, .size = 15,
                         .link = r});
    }
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) s.Boss({.kind = kBossStage5, .radius = 380, .angle = 270, .speed = 2, .size = 50});
}

void Stage6(const Tick& s) {
  if (s.At(1))
    for (int h = 0; h <= 1; ++h)
      for (int j = 0; j <= 3; ++j)
        SpawnOrbiter(s.g, {.kind = kEnemyWeaver, .radius = 360, .angle = 180 * h + 5 * j, .speed = 4,
                           .size = 20, .link = 10 * j + 1});
  if (s.At(101))
    for (int h = 0; h <= 1; ++h)
      for (int j = 0; j <= 3; ++j) {
        SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360, .angle = 5 * j + 180 * h + 45, .speed = 4,
                           .size = 15, .link = 10 * j + 2});
        SpawnOrbiter(s.g, {.kind = kEnemySpiral, .radius = 360, .angle = 5 * j + 180 * h + 135, .speed = 4,
                           .size = 15, .link = 10 * j + 3});
      }
  if (s.At(201))
    for (int h = 0; h <= 1; ++h)
      for (int j = 0; j <= 3; ++j) {
        SpawnOrbiter(s.g, {.kind = kEnemyTurnerBack, .radius = 360, .angle = 180 * h + 5 * j, .speed = 2,
                           .size = 10, .link = 10 * j + 4});
        SpawnOrbiter(s.g, {.kind = kEnemyTurnerBack, .radius = 360, .angle = 180 * h + 5 * j + 60, .speed = 2,
                           .size = 10, .link = 10 * j + 5});
        SpawnOrbiter(s.g, {.kind = kEnemyTurnerBack, .radius = 360, .angle = 180 * h + 5 * j + 120,
                           .speed = 2, .size = 10, .link = 10 * j + 6});
      }
  if (s.At(301))
    for (int k = 0; k <= 35; ++k)
      for (int j = 0; j <= 3; ++j) {
        int x = 0, y = 0;
        Tick::SpokePoint(10 * k, 360 + 10 * j, x, y);
        SpawnFlyer(s.g, {.kind = kEnemyPlain, .x = x, .y = y, .angle = s.Aimed(x, y) + 10, .speed = 3,
                         .size = 7, .link = (k % 18) + 1000});
      }
  if (s.At(501))
    for (int k = 0; k <= 8; ++k)
      for (int j = 0; j <= 7; ++j)
        SpawnOrbiter(s.g, {.kind = kEnemyDiver, .radius = 360 + 20 * j, .angle = 40 * k - j, .speed = j + 1,
                           .size = 8, .link = k + 2020});
  if (s.At(601))
    for (int k = 0; k <= 17; ++k)
      for (int j = 0; j <= 3; ++j) {
        int x = 0, y = 0;
        Tick::SpokePoint(20 * k + 5 * j, 360 + 40 * j, x, y);
        SpawnFlyer(s.g, {.kind = kEnemyDiver, .x = x, .y = y, .angle = s.Aimed(x, y) + 10, .speed = 3,
                         .size = 7, .link = k + 3030});
      }
  if (s.In(700, 799) && s.Every(10))
    for (int i = 0; i <= 3; ++i) {
      int r = s.R();
      SpawnOrbiter(s.g, {.kind = kEnemyRetreater, .radius = 360, .angle = (s.c % 100) + 90 * i + 45,
                         .speed = 2, .size = 10, .link = r});
    }
  if (s.At(1001))
    for (int i = 0; i <= 17; ++i) {
      int link = Random(s.g, 10000) + 1;
      SpawnOrbiter(s.g, {.kind = kEnemySprayer, .radius = 360, .angle = 20 * i + 45, .speed = 3, .size = 15,
                         .link = link});
    }
  if (s.In(1200, 1289) && s.Every(10))
    for (int i = 0; i <= 3; ++i) {
      int r = s.R();
      int x = 0, y = 0;
      Tick::SpokePoint((s.c % 100) + 90 * i + 45, 360, x, y);
      SpawnFlyer(s.g, {.kind = kEnemyTwinGun, .x = x, .y = y, .angle = s.Aimed(x, y) + 20, .speed = 3,
                       .size = 20, .link = r});
    }
  if (s.At(1600)) LoadStoryMessages(s.g, "2.txt");
  if (s.At(1720)) s.BossWarning();
  if (s.At(1770)) s.Boss({.kind = kBossStage6, .radius = 380, .angle = 90, .speed = 2, .size = 30});
}

// One story line every 25 frames while the story runs.
void StepStory(Game& g) {
  if (g.run.story_on == 0 || g.run.frame_no % 25 != 0) return;
  const int lines = int(g.run.story.size());
  if (g.run.story_index >= lines) {
    g.run.story_on = 0;
    return;
  }
  AddEffect(g, 320, 150, kFxAnnouncement, g.run.story[size_t(g.run.story_index)]);
  g.run.story_index += 1;
  if (g.run.story_index >= lines) g.run.story_on = 0;
}

}  // namespace

void RunStageTimeline(Game& g) {
  if (g.my.time_stop != 0) return;
  if (g.run.in_play == 0) {
    // Between stages lone orbiters drift in behind the menus.
    if (Random(g, 5) == 0)
      SpawnOrbiter(g, {.kind = kEnemyPlain, .radius = 380, .angle = Random(g, 360), .speed = 1, .size = 20});
    return;
  }
  if (g.run.in_play > 0) g.my.distance() += 1;
  StepStory(g);

  if (g.run.stage_end_countdown >= 1) {
    // A beaten boss: the stage closes as cleared when the countdown runs out,
    // and neither the script nor the time limit runs meanwhile.
    g.run.stage_end_countdown -= 1;
    if (g.run.stage_end_countdown == 0) {
      g.run.in_play = 0;
      g.flow.open_screen = kChapterScreen;
      ShowPicture(g, "1.jpg");
    }
    return;
  }

  const int stage = g.my.stage();
  const int mode = g.my.mode;
  const Tick s{g, g.my.distance(), g.run.frame_no, mode == SQ || mode == LIGHT || mode == HELL};
  switch (stage) {
    case 1: Stage1(s); break;
    case 2: Stage2(s); break;
    case 3: Stage3(s); break;
    case 4: Stage4(s); break;
    case 5: Stage5(s); break;
    case 6: Stage6(s); break;
    default: break;
  }

  const int limit = stage == 6 ? 4000 : 3200;
  if (stage >= 1 && stage <= 6 && g.my.distance() >= limit) {
    g.pools.boss_slot = 0;
    g.run.time_up = 1;
    g.run.in_play = 0;
    ShowPicture(g, "timeup.jpg");
    g.flow.open_screen = kChapterScreen;
  }
}

void ResetStage(Game& g) {
  g.pools.boss_slot = 0;
  g.run.time_up = 0;
  g.input.click = kClickNone;
  g.my.chain_count() = 0;
  ClearEffects(g);
  for (EnemySlot& s : g.pools.enemies) s = EnemySlot{};
  for (EnemySlot& s : g.pools.shots) s = EnemySlot{};
  g.my.distance() = 0;
  ClearLog(g);
  StageMusic(g);
}
