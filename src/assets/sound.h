// Sound effects by file name, the sound queue and the stage music.
#pragma once

#include <string>

struct Game;

void PlayEffect(Game& g, const std::string& name);
void QueueEffect(Game& g, const std::string& name);
void PlayMusic(Game& g, const std::string& name);
// Plays the current stage's track and shows its title card.
void StageMusic(Game& g);

// Once per tick: the repeat guard forgets the last effect after one tick.
void StepSoundGuard(Game& g);
// Every 0.4 s: starts the first queued effect, if any.
void DrainSoundQueue(Game& g);

// Music file and title card of a stage (1..6); empty outside that range.
std::string StageTrack(int stage);
std::string StageTitle(int stage);
