// The effect ring: short-lived visuals queued anywhere, aged and drawn once per
// composed frame.
#pragma once

#include <cstdint>
#include <string>

struct Game;

void AddEffect(Game& g, int x, int y, int kind, const std::string& text = std::string());
void AddLinkEffect(Game& g, int x0, int y0, int x, int y, int kind);
void ClearEffects(Game& g);
// Draws the message log, then steps and draws every live effect.
void DrawEffects(Game& g);

// The vertical hop of bouncing texts for a (stepped) age.
int BounceOffset(int age);

// Draws one effect slot by its kind; returns false when the kind has no rule
// (the slot then stays live and is drawn as nothing).
bool DrawEffectKind(Game& g, int slot, int bounce);

// Brightens (delta > 0) or darkens a 0x00BBGGRR colour; a channel that
// saturates passes half of its excess on to the others.
uint32_t ShiftColor(uint32_t color, int delta);
// Direction from the ship to (x, y) in whole degrees 0..359, 0 = right, 90 = down.
int AngleFromPlayer(Game& g, int x, int y);

// Point at angle a (whole degrees) and distance d from (cx, cy).
int PolarX(int cx, double a_deg, double d);
int PolarY(int cy, double a_deg, double d);
