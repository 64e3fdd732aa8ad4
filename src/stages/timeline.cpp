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
  void O(int kind, int size, int link, int speed, int radius, int angle) const {
    SpawnOrbiter(g, kind, size, link, speed, radius, angle);
  }
  // Flyer and bullet with the arguments in reading order.
  void Flyer(int kind, int x, int y, int link, int speed, int angle, int size) const {
    SpawnFlyer(g, kind, x, link, speed, angle, size, y);
  }
  void Bullet(int kind, int x, int y, int link, int speed, int angle, int size) const {
    SpawnBullet(g, kind, x, link, speed, angle, size, y);
  }
  // Fans that swing to the other side and turn 30 degrees on every step.
  int Fan(int step) const {
    int m = n / step;
    return (m % 2) * 180 + (m % 6) * 30;
  }
  void BossWarning() const { AddEffect(g, 320, 240, kFxBossWarning, std::string()); }
  // The boss is the slot filled last: in HELL that is the twin.
  void Boss(int kind, int size, int speed, int radius, int angle) const {
    O(kind, size, 0, speed, radius, angle);
    g.pools.boss_slot = g.pools.spawn_cursor;
  }
  void RingA(int kind) const {
    for (int i = 0; i <= 71; ++i)
      if (i % 7 <= 3) O(kind, 6, i / 7, 2, 360, 5 * i);
  }
  void RingB(int kind) const {
    for (int i = 0; i <= 71; ++i)
      if (i % 7 <= 3) O(kind, 5, i / 7 + 1000, 2, 360, 5 * i + 72);
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
      s.O(kEnemyDiver, 10, r, 1, 360 + 10 * i, base + 2 * i);
      s.O(kEnemyDiver, 10, r + 1, 1, 450 + 10 * i, base + 2 * i);
    }
  }
  if (s.In(200, 299) && s.Every(4))
    for (int i = 0; i <= 3; ++i) s.O(kEnemyDart, 10, i + 1, 1, 370, (s.n % 360) + 90 * i);
  if (s.In(500, 599) && s.Every(10)) {
    int base = s.Fan(10);
    int r = s.R();
    for (int i = 0; i <= 4; ++i) s.O(kEnemyWeaver, 10, r, 3, 360, base + 3 * i);
  }
  if (s.At(700)) {
    // Spokes: a flyer carrying a star of bullets towards the ship.
    const int spokes = s.late ? 8 : 4;
    const int spacing = s.late ? 45 : 90;
    for (int sp = 0; sp < spokes; ++sp) {
      int r = s.R();
      int px = 0, py = 0;
      Tick::SpokePoint(sp * spacing + 45, 310, px, py);
      s.Flyer(kEnemyDiver, px, py, r, 2, s.Aimed(px, py), 16);
      for (int k = 0; k <= 15; ++k) {
        int d = k % 2 == 1 ? 48 : 16;
        int bx = PolarX(px, 40 * k + 45, d);
        int by = PolarY(py, 40 * k + 45, d);
        s.Bullet(kEnemyRingShot, bx, by, r, 2, s.Aimed(bx, by), 3);
      }
    }
  }
  if (s.At(800)) {
    int r = s.R();
    const int base = 2400;
    for (int i = 0; i <= 9; ++i) {
      s.O(kEnemySpiral, 6, r, 4, 360 + 5 * i, base + 2 * i);
      s.O(kEnemySpiral, 6, r, 3, 360 + 5 * i, base + 2 * i + 120);
      s.O(kEnemySpiral, 6, r, 3, 360 + 5 * i, base + 2 * i + 240);
    }
  }
  if (s.At(900) && s.late) {
    int r = s.R();
    for (int i = 0; i <= 15; ++i) {
      s.O(kEnemySpiral, 6, r, 3, 360, 20 * i);
      s.O(kEnemySpiral, 6, r, 2, 360, 20 * i + 120);
      s.O(kEnemySpiral, 6, r, 1, 360, 20 * i + 240);
    }
  }
  if (s.At(1000)) LoadStoryMessages(s.g, "1.txt");
  if (s.At(1120)) s.BossWarning();
  if (s.At(1170)) s.Boss(kBossStage1, 20, 2, 380, 270);
}

void Stage2(const Tick& s) {
  if (s.In(1, 299) && s.Every(10)) {
    int base = s.Fan(10);
    int r = s.R();
    for (int i = 0; i <= 4; ++i) s.O(kEnemyWeaver, 10, r, 3, 360, base + 3 * i);
  }
  if (s.In(300, 499) && s.Every(40)) {
    int r = s.R();
    int base = ((s.n / 40) % 6) * 60;
    for (int i = 0; i <= 9; ++i) s.O(kEnemyTurner, 6, r, 3, 360 + 5 * i, base + 2 * i);
  }
  if (s.In(500, 699) && s.Every(40)) {
    int r = s.R();
    int base = ((s.n / 40) % 6) * 60;
    for (int i = 0; i <= 9; ++i) s.O(kEnemyTurnerBack, 6, r, 3, 360 + 5 * i, base + 2 * i + 180);
  }
  if (s.At(750))
    for (int i = 0; i <= 3; ++i)
      for (int j = 0; j <= 9; ++j) s.O(kEnemyPlain, 10, i + 1, 2, 360 + 20 * j, 90 * i + 45);
  if (s.At(950))
    for (int i = 0; i <= 5; ++i)
      for (int j = 0; j <= 9; ++j) s.O(kEnemySpiral, 6, i + 1000, 3, 360 + 11 * j, 60 * i);
  if (s.In(1150, 1299)) {
    int d = s.n % 4;
    s.O(kEnemyPlain, 15, d + 2000, 1, 380, (s.n % 360) + 90 * d + 45);
  }
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) s.Boss(kBossStage2, 30, 2, 380, 270);
}

void Stage3(const Tick& s) {
  if (s.At(1))
    for (int k = 0; k <= 9; ++k) s.O(kEnemyDart, 20, 1, 4, 360, 36 * k);
  if (s.At(51) && s.late)
    for (int k = 0; k <= 11; ++k) s.O(kEnemyDart, 17, 1, 4, 360, 30 * k + 45);
  if (s.At(101))
    for (int k = 0; k <= 14; ++k) s.O(kEnemyDart, 15, 2, 3, 360, 24 * k);
  if (s.At(151) && s.late)
    for (int k = 0; k <= 17; ++k) s.O(kEnemyDart, 12, 1, 3, 360, 20 * k + 45);
  if (s.At(201))
    for (int k = 0; k <= 29; ++k) s.O(kEnemyDart, 10, 3, 2, 360, 12 * k);
  if (s.In(330, 599) && s.Every(20)) {
    int r = s.R();
    int base = ((s.n / 20) % 6) * 60;
    for (int i = 0; i <= 4; ++i) {
      int a = base + 3 * i;
      s.O(kEnemyTurner, 9, r, 2, 360 + 5 * i, a);
      s.O(kEnemyTurner, 9, r + 1, 2, 360 + 5 * i, a + 180);
      s.O(kEnemyDiver, 10, r + 2, 1, 360 + 15 * i, a + 90);
      s.O(kEnemyDiver, 10, r + 3, 1, 360 + 15 * i, a + 270);
    }
  }
  if (s.In(600, 615) && s.Every(2))
    for (int i = 0; i <= 3; ++i) s.O(kEnemyDart, 6, i + 1, 2, (s.n % 360) + 370, 90 * i + s.c - 600);
  if (s.In(630, 645) && s.Every(2))
    for (int i = 0; i <= 3; ++i) s.O(kEnemyDart, 6, i + 600, 2, (s.n % 360) + 370, 90 * i + s.c - 600);
  if (s.In(700, 749)) {
    int m = s.n % 360;
    for (int j = 0; j <= 3; ++j) s.O(kEnemySpinnerBack, 6, j + 231, 3, m + 370, m + 90 * j + 45);
  }
  if (s.In(1000, 1099) && s.Every(20)) {
    int r = s.R();
    int base = ((s.n / 20) % 6) * 60;
    for (int i = 0; i <= 3; ++i) {
      s.O(kEnemyDiver, 6, r, 3, 360 + 5 * i, base + 2 * i + 180);
      s.O(kEnemyDiver, 6, r + 1, 3, 360 + 5 * i, base + 2 * i + 300);
      s.O(kEnemyDiver, 6, r + 2, 3, 360 + 5 * i, base + 2 * i + 420);
    }
  }
  if (s.In(1100, 1199) && s.Every(20))
    for (int i = 0; i <= 2; ++i) {
      int l = Random(s.g, 100000);
      for (int j = 0; j <= 3; ++j) s.O(kEnemySpiral, 8, l, 4, 360 + 11 * j, 120 * i);
    }
  if (s.At(1280))
    for (int i = 0; i <= 17; ++i) {
      int l = Random(s.g, 100000);
      for (int j = 0; j <= 3; ++j) s.O(kEnemyPlain, 10, l, 1, 360 + 20 * j, 20 * i);
    }
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) {
    s.O(kEnemyCarrier, 10, 0, 2, 380, 60);
    s.O(kEnemyCarrier, 10, 0, 2, 380, 120);
    s.Boss(kBossStage3, 20, 2, 380, 270);
  }
}

// Four flyers from the corners or edges, one per entry {x, y, link, heading}.
void Four(const Tick& s, int kind, int speed, int size, const int (&p)[4][4]) {
  for (const auto& f : p) s.Flyer(kind, f[0], f[1], f[2], speed, f[3], size);
}

void Stage4(const Tick& s) {
  // Bursts of lone orbiters, smaller and faster each time.
  for (int w = 0; w <= 5; ++w)
    if (s.In(50 * w + (w == 0 ? 1 : 0), 50 * w + 19)) s.O(kEnemyPlain, 20 - 3 * w, 0, w + 1, 380, Random(s.g, 360));
  if (s.At(320)) s.RingA(kEnemySpinner);
  if (s.At(400)) s.RingB(kEnemySpinnerBack);
  if (s.At(500))
    for (int i = 0; i <= 89; ++i)
      if (i % 15 <= 7) s.O(kEnemyTurner, 10, i / 15 + 2000, 1, 360, 4 * i);
  if (s.At(550))
    for (int i = 0; i <= 119; ++i)
      if (i % 15 <= 7) s.O(kEnemyTurnerBack, 5, i / 15 + 3000, 1, 360, 3 * i + 144);
  if (s.In(800, 821) && s.Every(2))
    Four(s, kEnemyDart, 4, 6, {{80, 0, 1, 40}, {560, 0, 2, 130}, {560, 480, 3, 220}, {80, 480, 4, 310}});
  if (s.In(900, 921) && s.Every(3))
    Four(s, kEnemyDart, 4, 15, {{110, 0, 21, 50}, {530, 0, 22, 140}, {110, 480, 23, 320}, {530, 480, 24, 230}});
  if (s.In(950, 971) && s.Every(3))
    Four(s, kEnemyDiver, 8, 20, {{110, 0, 11, 30}, {530, 0, 12, 120}, {110, 480, 13, 300}, {530, 480, 14, 210}});
  constexpr int kDown[4][4] = {{300, 0, 31, 98}, {340, 0, 32, 82}, {300, 480, 33, 262}, {340, 480, 34, 278}};
  constexpr int kAcross[4][4] = {{0, 220, 41, 8}, {0, 260, 42, -8}, {640, 220, 43, 172}, {640, 260, 44, 188}};
  if (s.In(1000, 1079) && s.Every(3)) Four(s, kEnemyDart, 4, (s.c - 1000) / 5 + 4, kDown);
  if (s.In(1100, 1179) && s.Every(3)) Four(s, kEnemyDart, 3, (s.c - 1100) / 5 + 3, kAcross);
  if (s.In(1200, 1279) && s.Every(3)) Four(s, kEnemyWeaver, 4, 10, kDown);
  if (s.In(1300, 1379) && s.Every(3)) Four(s, kEnemyTurner, 3, 10, kAcross);
  if (s.In(1400, 1479) && s.Every(3))
    Four(s, kEnemyPlain, 3, (s.c - 1400) / 4 + 2, {{0, 220, 51, 8}, {640, 260, 52, 188}, {300, 0, 53, 98}, {340, 480, 54, 278}});
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) s.Boss(kBossStage4, 50, 2, 380, 270);
}

// A large flyer inside four rings of nine bullets that travel with it.
void EscortedFlyer(const Tick& s, int x, int y, int link, int heading) {
  s.Flyer(kEnemyRingShot, x, y, link, 2, heading, 30);
  for (int j = 0; j <= 3; ++j)
    for (int i = 0; i <= 8; ++i)
      s.Bullet(kEnemyDiver, PolarX(x, 40 * i, 6 * j + 40), PolarY(y, 40 * i, 6 * j + 40), link, 2, heading, 4);
}

void Stage5(const Tick& s) {
  auto ring_flyers = [&s](int last, int keep, int step, int kind, int link, bool own_link, int speed, int size) {
    for (int i = 0; i <= last; ++i) {
      if (i % 7 > keep) continue;
      int x = 0, y = 0;
      s.RingPoint(i, step, x, y);
      s.Flyer(kind, x, y, own_link ? i / 7 + link : link, speed, s.Aimed(x, y), size);
    }
  };
  if (s.At(5)) ring_flyers(71, 3, 5, kEnemyWeaver, s.R(), false, 3, 7);
  if (s.At(25)) ring_flyers(119, 3, 3, kEnemyWeaver, s.R(), false, 4, 7);
  if (s.In(175, 178)) ring_flyers(71, 1, 5, kEnemyTurner, 1000, true, 2, 7);
  if (s.In(250, 253)) ring_flyers(71, 1, 5, kEnemyTurnerBack, 2000, true, 3, 5);
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
        s.Flyer(kEnemyPlain, x, y, r, speed, s.Aimed(x, y) + sp, 7);
      }
    }
  };
  if (s.At(500)) spokes(30, 2);
  if (s.At(600)) spokes(40, 3);
  if (s.At(700)) spokes(50, 4);
  if (s.At(800))
    for (int q = 0; q <= 3; ++q) {
      int r = s.R();
      for (int j = 0; j <= 7; ++j) s.O(kEnemyRetreater, 7, r, 2, 360 + 10 * j, 90 * q + j + 45);
    }
  if (s.At(1000))
    Four(s, kEnemyTwinGun, 1, 20, {{280, 0, 31, 108}, {360, 0, 32, 72}, {280, 480, 33, 252}, {360, 480, 34, 288}});
  if (s.At(1200)) {
    EscortedFlyer(s, 260, -30, 91, 118);
    EscortedFlyer(s, 380, 510, 92, 242);
  }
  if (s.At(1300)) {
    EscortedFlyer(s, 260, 510, 93, 298);
    EscortedFlyer(s, 380, 30, 94, 62);
  }
  if (s.At(1400))
    for (int i = 0; i <= 3; ++i) {
      int r = s.R();
      s.O(kEnemySprayer, 15, r, 2, 360, 90 * i + 45);
    }
  if (s.At(1600)) s.BossWarning();
  if (s.At(1650)) s.Boss(kBossStage5, 50, 2, 380, 270);
}

void Stage6(const Tick& s) {
  if (s.At(1))
    for (int h = 0; h <= 1; ++h)
      for (int j = 0; j <= 3; ++j) s.O(kEnemyWeaver, 20, 10 * j + 1, 4, 360, 180 * h + 5 * j);
  if (s.At(101))
    for (int h = 0; h <= 1; ++h)
      for (int j = 0; j <= 3; ++j) {
        s.O(kEnemySpiral, 15, 10 * j + 2, 4, 360, 5 * j + 180 * h + 45);
        s.O(kEnemySpiral, 15, 10 * j + 3, 4, 360, 5 * j + 180 * h + 135);
      }
  if (s.At(201))
    for (int h = 0; h <= 1; ++h)
      for (int j = 0; j <= 3; ++j) {
        s.O(kEnemyTurnerBack, 10, 10 * j + 4, 2, 360, 180 * h + 5 * j);
        s.O(kEnemyTurnerBack, 10, 10 * j + 5, 2, 360, 180 * h + 5 * j + 60);
        s.O(kEnemyTurnerBack, 10, 10 * j + 6, 2, 360, 180 * h + 5 * j + 120);
      }
  if (s.At(301))
    for (int k = 0; k <= 35; ++k)
      for (int j = 0; j <= 3; ++j) {
        int x = 0, y = 0;
        Tick::SpokePoint(10 * k, 360 + 10 * j, x, y);
        s.Flyer(kEnemyPlain, x, y, (k % 18) + 1000, 3, s.Aimed(x, y) + 10, 7);
      }
  if (s.At(501))
    for (int k = 0; k <= 8; ++k)
      for (int j = 0; j <= 7; ++j) s.O(kEnemyDiver, 8, k + 2020, j + 1, 360 + 20 * j, 40 * k - j);
  if (s.At(601))
    for (int k = 0; k <= 17; ++k)
      for (int j = 0; j <= 3; ++j) {
        int x = 0, y = 0;
        Tick::SpokePoint(20 * k + 5 * j, 360 + 40 * j, x, y);
        s.Flyer(kEnemyDiver, x, y, k + 3030, 3, s.Aimed(x, y) + 10, 7);
      }
  if (s.In(700, 799) && s.Every(10))
    for (int i = 0; i <= 3; ++i) {
      int r = s.R();
      s.O(kEnemyRetreater, 10, r, 2, 360, (s.c % 100) + 90 * i + 45);
    }
  if (s.At(1001))
    for (int i = 0; i <= 17; ++i) {
      int link = Random(s.g, 10000) + 1;
      s.O(kEnemySprayer, 15, link, 3, 360, 20 * i + 45);
    }
  if (s.In(1200, 1289) && s.Every(10))
    for (int i = 0; i <= 3; ++i) {
      int r = s.R();
      int x = 0, y = 0;
      Tick::SpokePoint((s.c % 100) + 90 * i + 45, 360, x, y);
      s.Flyer(kEnemyTwinGun, x, y, r, 3, s.Aimed(x, y) + 20, 20);
    }
  if (s.At(1600)) LoadStoryMessages(s.g, "2.txt");
  if (s.At(1720)) s.BossWarning();
  if (s.At(1770)) s.Boss(kBossStage6, 30, 2, 380, 90);
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
    if (Random(g, 5) == 0) SpawnOrbiter(g, kEnemyPlain, 20, 0, 1, 380, Random(g, 360));
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
