#include "combat/player.h"

#include <cmath>
#include <string>

#include "assets/pictures.h"
#include "assets/sound.h"
#include "combat/barrier.h"
#include "combat/kills.h"
#include "combat/shots.h"
#include "effects/effects.h"
#include "state/game.h"

namespace {

constexpr uint32_t kLockRingColors[9] = {0x9999FF, 0x0000FF, 0xFF00AA, 0xAA00CC, 0x9900BB,
                                         0x880077, 0x550066, 0x440022, 0x110011};

// A fifth of the gap per frame, at most 7 pixels.
int StepToward(int pos, int target) {
  if (pos < target) {
    int step = (target - pos) / 5;
    pos += step < 7 ? step : 7;
  }
  if (pos > target) {
    int step = (pos - target) / 5;
    pos -= step < 7 ? step : 7;
  }
  return pos;
}

void DrawShip(Game& g) {
  Tmy& my = g.my;
  Canvas& cg = *g.cg;
  cg.SetPen(0x9900FF, 1);
  cg.SetBrush(0xFFFFFF);
  cg.SetBrushSolid(true);
  int r = my.ship_size() + g.run.frame_no % 3;  // pulses through three sizes
  int x = my.player_x(), y = my.player_y();
  // While invulnerable the ship blinks: hidden on odd frames.
  bool hidden = g.run.invulnerable != 0 && g.run.frame_no % 2 == 1;
  if (!hidden) cg.Ellipse(x - r, y - r, x + r, y + r);
  if (g.run.invulnerable >= 1) g.run.invulnerable -= 1;
}

void DrawTargetLockRings(Game& g) {
  Tmy& my = g.my;
  Canvas& cg = *g.cg;
  int x = my.player_x(), y = my.player_y();
  // Kept: these rings turn degrees into radians with 3.14, not the 3.1415 of
  // everything else; their diamonds' corners, and so the look, depend on it.
  constexpr double kRad = 3.14 / 180.0;
  for (int k = 1; k <= my.target_lock(); ++k) {
    cg.SetPen(kLockRingColors[(g.run.frame_no + k) % 9], 2);
    double d = my.ship_size() + 10 + k;
    for (int j = 0; j < 4; ++j) {
      double a0 = j * 90 * kRad, a1 = (j * 90 + 90) * kRad;
      cg.MoveTo(x + int(std::cos(a0) * d), y + int(std::sin(a0) * d));
      cg.LineTo(x + int(std::cos(a1) * d), y + int(std::sin(a1) * d));
    }
  }
  cg.SetPenWidth(1);
}

void ShipHit(Game& g) {
  Tmy& my = g.my;
  int x = my.player_x(), y = my.player_y();
  AddEffect(g, x, y, kFxBlobBurst);
  my.lives -= 1;
  PlayEffect(g, "hp_down.wav");
  g.run.invulnerable = 30;
  g.run.shake = 20;
  if (my.lives < 0) {
    EndGame(g);
    return;
  }
  AddEffect(g, x, y, kFxDoubleRing);
  // Every small enemy and bullet on the field turns into an item.
  ClearField(g, KillCause::kScreenClear);
  int old_level = my.level;
  my.level -= my.level / 3;
  AddEffect(g, x, y + 30, kFxHopText,
            "Lv down " + std::to_string(old_level) + "→" + std::to_string(my.level));
  PlayEffect(g, "bom.wav");
}

void ContactPass(Game& g) {
  Tmy& my = g.my;
  for (int j = 0; j < kEnemySlots; ++j) {
    const EnemySlot& e = g.pools.enemies[size_t(j)];
    if (e.timer < 1) continue;
    int bx = my.mode == NOVA ? my.barrier_x : my.player_x();
    int by = my.mode == NOVA ? my.barrier_y : my.player_y();
    if (my.barrier_timer >= 1 && e.big == 0 && Touch(HitBoxOf(e), {bx, by, my.barrier_size})) {
      KillEnemy(g, j, KillCause::kBarrier);
    }
    // A slot the barrier has just removed still hurts the ship it touches.
    int h = my.ship_size() / 2 - 1;
    if (g.run.invulnerable == 0 && Touch(HitBoxOf(e), {my.player_x(), my.player_y(), h})) ShipHit(g);
  }
}

}  // namespace

void MoveShip(Game& g) {
  Tmy& my = g.my;
  int x = StepToward(my.player_x(), g.input.mouse_x);
  int y = StepToward(my.player_y(), g.input.mouse_y);
  my.player_x() = x < 0 ? 0 : (x > 640 ? 640 : x);
  my.player_y() = y < 0 ? 0 : (y > 480 ? 480 : y);
}

void UpdatePlayer(Game& g) {
  if (g.run.in_play == 0) return;
  if (IsMovingShipMode(g.my.mode)) MoveShip(g);
  DrawShip(g);
  DrawTargetLockRings(g);
  FireVolley(g);
  LockOnBurst(g);
  RaiseBarrier(g);
  StartTimeStop(g);
  RunBarrier(g);
  RunTimeStop(g);
  ContactPass(g);
}

void EndGame(Game& g) {
  g.run.in_play = 0;
  g.run.game_over_banner = 1;
  PlayEffect(g, "gameover.wav");
  PlayMusic(g, "not");
  ShowPicture(g, "gameover.jpg");
  ApplyHiScoreRule(g);
}
