#include "effects/effects.h"

#include <cstdlib>

#include "effects/log.h"
#include "state/game.h"

void AddEffect(Game& g, int x, int y, int kind, const std::string& text) {
  NextSlot(g.fx.cursor, kEffectSlots);
  EffectSlot& e = g.fx.ring[size_t(g.fx.cursor)];
  // A live announcement or double ring is never overwritten: the request is lost.
  if (e.age >= 1 && (e.kind == kFxAnnouncement || e.kind == kFxDoubleRing)) return;
  e.age = 1;
  e.x = e.x0 = x;
  e.y = e.y0 = y;
  e.u = e.v = 0;
  e.kind = kind;
  e.text = text;
  e.scratch[0] = 0;
}

void AddLinkEffect(Game& g, int x0, int y0, int x, int y, int kind) {
  NextSlot(g.fx.cursor, kEffectSlots);
  EffectSlot& e = g.fx.ring[size_t(g.fx.cursor)];
  e.age = 1;
  e.x0 = e.u = x0;
  e.y0 = e.v = y0;
  e.x = x;
  e.y = y;
  e.kind = kind;
  e.scratch[0] = 0;
}

void ClearEffects(Game& g) {
  for (EffectSlot& e : g.fx.ring) e.age = 0;
}

int BounceOffset(int age) {
  switch (age) {
    case 2: return -10;
    case 3: return 6;
    case 4: return 4;
    case 5: return -3;
    case 6: return -2;
    case 7: return 3;
    case 8: return 2;
    case 9: return -1;
    default:
      if (age <= 1) return -12;
      if (age >= 10 && age <= 99) return 1;
      return 0;
  }
}

void DrawEffects(Game& g) {
  DrawLog(g);
  for (int i = 0; i < kEffectSlots; ++i) {
    EffectSlot& e = g.fx.ring[size_t(i)];
    if (e.age < 1) continue;
    e.age += 1;
    int bounce = BounceOffset(e.age);
    DrawEffectKind(g, i, bounce);
    g.bak->SetBrushSolid(true);
  }
}

uint32_t ShiftColor(uint32_t color, int delta) {
  int ch[3] = {RedOf(color), GreenOf(color), BlueOf(color)};
  int spill = 0;
  for (int& c : ch) {
    c += delta;
    if (c < 0) {
      spill += c;
      c = 0;
    }
    if (c > 255) {
      spill += c - 255;
      c = 255;
    }
  }
  int half = spill / 2;
  for (int& c : ch) {
    c += half;
    if (c < 0) c = 0;
    if (c > 255) c = 255;
  }
  return RGB(ch[0], ch[1], ch[2]);
}

int AngleFromPlayer(Game& g, int x, int y) {
  int px = g.my.player_x(), py = g.my.player_y();
  int dx = x - px;
  int dy = y - py;
  if (dx == 0) dx = 1;
  if (dy == 0) dy = 1;
  // Kept: radians back to degrees with 3.1415, as everywhere in play; every
  // aimed shot, and so every replay, depends on it.
  int a = SlopeDegrees(double(dy) / double(dx));
  if (x < px && y > py) a = 180 - a;
  else if (x > px && y < py) a = 360 - a;
  else if (x < px && y < py) a = a + 180;
  if (x == px) {
    if (y < py) a = 270;
    else if (y > py) a = 90;
  } else if (y == py) {
    if (x < px) a = 180;
    else if (x > px) a = 0;
  }
  return a;
}
