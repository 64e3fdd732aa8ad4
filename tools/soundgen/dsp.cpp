#include "dsp.hpp"

#include <algorithm>
#include <cmath>

namespace kv::soundgen {

Rng::Rng(uint64_t seed) : state_(seed ? seed * 0x9E3779B97F4A7C15ull : 0x2545F4914F6CDD1Dull) {}

uint32_t Rng::Next() {
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1Dull) >> 32);
}

float Rng::Uniform() { return static_cast<float>(Next() >> 8) / 16777216.0f; }
float Rng::Bipolar() { return Uniform() * 2.0f - 1.0f; }
int Rng::Below(int n) { return n <= 1 ? 0 : static_cast<int>(Next() % static_cast<uint32_t>(n)); }

double MidiToHz(double midi) { return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0); }
float DbToGain(float db) { return std::pow(10.0f, db / 20.0f); }
float GainToDb(float gain) { return 20.0f * std::log10(std::max(gain, 1e-9f)); }

void Svf::Set(float cutoff_hz, float resonance) {
  float fc = std::clamp(cutoff_hz, 20.0f, kSampleRate * 0.45f);
  g_ = std::tan(static_cast<float>(kPi) * fc / kSampleRate);
  k_ = 2.0f - 2.0f * std::clamp(resonance, 0.0f, 0.98f);
  a1_ = 1.0f / (1.0f + g_ * (g_ + k_));
  a2_ = g_ * a1_;
  a3_ = g_ * a2_;
}

float LoudestWindowRms(const std::vector<float>& x, int window) {
  if (x.empty()) return 0;
  size_t w = std::min(x.size(), static_cast<size_t>(std::max(window, 1)));
  double sum = 0;
  for (size_t i = 0; i < w; ++i) sum += double(x[i]) * x[i];
  double best = sum;
  for (size_t i = w; i < x.size(); ++i) {
    sum += double(x[i]) * x[i] - double(x[i - w]) * x[i - w];
    best = std::max(best, sum);
  }
  return static_cast<float>(std::sqrt(std::max(best, 0.0) / w));
}

float Peak(const std::vector<float>& x) {
  float p = 0;
  for (float v : x) p = std::max(p, std::fabs(v));
  return p;
}

void NormaliseEffect(std::vector<float>& x, float target_db, float peak_limit) {
  // Block DC first: pulse waves and blasts lean to one side, and an offset
  // clicks when the sound starts and stops in the mixer.
  float prev_in = 0, prev_out = 0;
  for (float& v : x) {
    const float y = v - prev_in + 0.9972f * prev_out;  // about 20 Hz
    prev_in = v;
    prev_out = y;
    v = y;
  }
  float peak = Peak(x);
  if (peak <= 0) return;
  // Drop the tail once it has fallen 70 dB below the peak.
  float floor = peak * DbToGain(-70.0f);
  size_t end = x.size();
  while (end > 1 && std::fabs(x[end - 1]) < floor) --end;
  if (end < x.size()) {
    x.resize(end);  // already quiet at the cut
  } else {
    // The sound runs to the end of its buffer: fade the last few
    // milliseconds so it never stops on a step.
    const size_t fade = std::min<size_t>(x.size() / 4, kSampleRate / 200);
    for (size_t i = 0; i < fade; ++i) x[x.size() - 1 - i] *= static_cast<float>(i) / fade;
  }

  float rms = LoudestWindowRms(x, kSampleRate / 20);
  float gain = DbToGain(target_db) / std::max(rms, 1e-9f);
  float new_peak = Peak(x) * gain;
  if (new_peak > peak_limit) gain *= peak_limit / new_peak;
  for (float& v : x) v *= gain;
}

std::vector<int16_t> ToPcm16(const std::vector<float>& x) {
  std::vector<int16_t> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    float v = std::round(std::clamp(x[i], -1.0f, 1.0f) * 32767.0f);
    out[i] = static_cast<int16_t>(v);
  }
  return out;
}

}  // namespace kv::soundgen
