#include "assets/sound.h"

#include "effects/effects.h"
#include "platform/audio.h"
#include "state/game.h"

namespace {
struct StageTune {
  const char* file;
  const char* title;
};
constexpr StageTune kStageTunes[6] = {
    {"ZRK byCorvane.mp3", "< Welcome to moonlit world >"},
    {"MoonlitHarrowRayX byPellaquin.mp3", "< Body fluids >"},
    {"VESPER-X byCorvane.mp3", "< Lineage >"},
    {"QWTN-reload-byPellaquim.mp3", "< Ladies castle >"},
    {"CinderRunners X byCorvane.mp3", "< X >"},
    {"harmovienX byCorvane featHalvek.mp3", "< V >"},
};
}  // namespace

std::string StageTrack(int stage) {
  return stage >= 1 && stage <= 6 ? kStageTunes[stage - 1].file : "";
}
std::string StageTitle(int stage) {
  return stage >= 1 && stage <= 6 ? kStageTunes[stage - 1].title : "";
}

void PlayEffect(Game& g, const std::string& name) {
  if (name.empty() || name == g.sound.last) return;
  g.sound.last = name;
  g.sound.last_hold = 1;
  if (!g.pf.audio) return;
  auto it = g.sound.waves.find(name);
  if (it == g.sound.waves.end()) {
    // Loaded once; a file that cannot be read stays an empty entry for the run.
    int handle = g.pf.audio->LoadWave(DatPath(g, name));
    it = g.sound.waves.emplace(name, handle).first;
  }
  if (it->second >= 0) g.pf.audio->PlayWave(it->second, g.my.se_volume);
}

void QueueEffect(Game& g, const std::string& name) {
  if (!name.empty()) g.sound.queue.push_back(name);
}

void StepSoundGuard(Game& g) {
  if (g.sound.last_hold > 0) {
    g.sound.last_hold -= 1;
    if (g.sound.last_hold == 0) g.sound.last.clear();
  }
}

void DrainSoundQueue(Game& g) {
  if (g.sound.queue.empty()) return;
  std::string name = g.sound.queue.front();
  g.sound.queue.pop_front();
  PlayEffect(g, name);
}

void PlayMusic(Game& g, const std::string& name) {
  if (name == "not") {
    if (g.pf.audio) g.pf.audio->StopMusic();
    return;
  }
  if (name.empty()) return;
  AddEffect(g, 640, 450, kFxMusicTicker, name);
  if (g.pf.audio) g.pf.audio->PlayMusic(DatPath(g, name));
}

void StageMusic(Game& g) {
  int s = g.my.stage();
  if (s < 1 || s > 6) return;
  PlayMusic(g, StageTrack(s));
  AddEffect(g, 320, 240, kFxStageCard, StageTitle(s));
}
