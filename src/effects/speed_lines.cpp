#include "effects/speed_lines.h"

#include <algorithm>

#include "effects/effects.h"
#include "state/game.h"

void DrawSpeedLines(Game& g) {
  if (g.run.in_play == 0) return;
  bool normal = g.pools.boss_slot < 1;
  int look = normal ? 1 : 0;
  Canvas& bak = *g.bak;
  for (SpeedLine& l : g.fx.speed_lines) {
    if (l.count == 0 || l.look != look) {
      l.look = look;
      l.radius = 360 + Random(g, 100);
      l.angle = Random(g, 360);
      if (normal) {
        int b = Random(g, 20);
        l.length = b + 5;
        l.speed = b + 5;
      } else {
        int b = Random(g, 35);
        l.length = b + 15;
        l.speed = 6 * b + 90;
      }
    }
    l.count += 1;
    int w = normal ? l.radius / 120 : l.radius / 60;
    bak.SetPenWidth(w > 0 ? w + 1 : 1);
    bak.SetPenColor(normal ? ShiftColor(0x888888, (l.radius - 360) / 2)
                           : ShiftColor(0x7700CC, (l.radius - 360) / 3));
    int inner = std::max(l.radius - l.length, 0);
    int outer = l.radius + l.length;
    bak.MoveTo(PolarX(320, l.angle, inner), PolarY(240, l.angle, inner));
    bak.LineTo(PolarX(320, l.angle, outer), PolarY(240, l.angle, outer));
    l.radius -= l.speed;
    l.speed = std::max(l.speed - l.speed / 2 - 1, normal ? 4 : 8);
    l.length = std::max(l.length - l.length / 5 - 1, normal ? 1 : 4);
    if (normal ? l.radius <= 90 : l.radius <= 0) l.count = 0;
  }
  bak.SetPenWidth(1);
}
