// The game's sound effects: one synthesis recipe per file name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::soundgen {

struct EffectInfo {
  std::string name;   // file name in dat/, UTF-8
  float loudness_db;  // loudest-50ms RMS the effect is brought to
};

// Every effect file the game plays, in a fixed order.
std::vector<EffectInfo> EffectCatalogue();

// Mono float samples at kSampleRate, before loudness balancing.
// Unknown names give an empty buffer.
std::vector<float> SynthesiseEffect(const std::string& name);

// The finished effect: balanced, peak-limited, as 16-bit mono PCM.
std::vector<int16_t> RenderEffect(const std::string& name);

// Peak ceiling of every effect (a little below full scale).
inline constexpr float kEffectPeakLimit = 0.89f;

}  // namespace kv::soundgen
