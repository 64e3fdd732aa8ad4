// Small synthesis toolkit shared by the effect generator and the tracker:
// a seeded random source, band-limited oscillators, a resonant filter,
// envelopes and the loudness helpers used to balance the output.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kv::soundgen {

inline constexpr int kSampleRate = 44100;
inline constexpr double kPi = 3.14159265358979323846;

// xorshift64* generator: fixed seeds give the same sounds on every build.
class Rng {
 public:
  explicit Rng(uint64_t seed);
  uint32_t Next();
  float Uniform();  // [0, 1)
  float Bipolar();  // [-1, 1)
  int Below(int n);  // 0 .. n-1

 private:
  uint64_t state_;
};

double MidiToHz(double midi);
float DbToGain(float db);
float GainToDb(float gain);

// Oscillators take a phase in cycles [0, 1) and the phase increment per
// sample; the saw and square use polyBLEP so high notes do not alias.
// They sit in the header so the per-sample loops can inline them.

// Polynomial sine of a phase in cycles, accurate to a few parts per million.
inline float FastSin(double phase) {
  const double p = phase - std::floor(phase);
  double x = (p < 0.5 ? p : p - 1.0) * 2.0 * kPi;  // -pi .. pi
  if (x > kPi / 2) x = kPi - x;
  else if (x < -kPi / 2) x = -kPi - x;
  const double x2 = x * x;
  return static_cast<float>(
      x * (1.0 + x2 * (-1.0 / 6 + x2 * (1.0 / 120 + x2 * (-1.0 / 5040 + x2 * (1.0 / 362880))))));
}

inline float OscSine(double phase) { return FastSin(phase); }

inline float OscTriangle(double phase) {
  const double p = phase - std::floor(phase);
  return static_cast<float>(p < 0.5 ? 4.0 * p - 1.0 : 3.0 - 4.0 * p);
}

// Band-limited step correction around a discontinuity at phase 0.
inline double PolyBlep(double t, double dt) {
  if (dt <= 0) return 0;
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0;
}

inline float OscSaw(double phase, double inc) {
  const double p = phase - std::floor(phase);
  return static_cast<float>(2.0 * p - 1.0 - PolyBlep(p, inc));
}

inline float OscSquare(double phase, double inc, double width) {
  const double p = phase - std::floor(phase);
  double v = p < width ? 1.0 : -1.0;
  v += PolyBlep(p, inc);
  double q = p - width;
  q -= std::floor(q);
  v -= PolyBlep(q, inc);
  return static_cast<float>(v);
}

// Linear-segment ADSR; `t` and `gate` in seconds, returns 0..1.
inline float AdsrHeld(double u, float attack, float decay, float sustain) {
  if (u < attack) return static_cast<float>(attack > 0 ? u / attack : 1.0);
  u -= attack;
  if (u < decay) return static_cast<float>(1.0 - (1.0 - sustain) * (u / decay));
  return sustain;
}

inline float Adsr(double t, double gate, float attack, float decay, float sustain, float release) {
  if (t < 0) return 0;
  if (t < gate) return AdsrHeld(t, attack, decay, sustain);
  const double r = t - gate;
  if (release <= 0 || r >= release) return 0;
  return static_cast<float>(AdsrHeld(gate, attack, decay, sustain) * (1.0 - r / release));
}

// Exponential decay from 1 with the given time constant in seconds.
inline float Decay(double t, double tau) { return t < 0 ? 0.0f : static_cast<float>(std::exp(-t / tau)); }

// Zero-delay-feedback state-variable filter (one instance per voice).
class Svf {
 public:
  void Set(float cutoff_hz, float resonance);  // resonance 0 (none) .. ~0.95
  float Lowpass(float x) {
    Tick(x);
    return lp_;
  }
  float Bandpass(float x) {
    Tick(x);
    return bp_;
  }
  float Highpass(float x) {
    Tick(x);
    return hp_;
  }

 private:
  void Tick(float x) {
    const float v3 = x - ic2_;
    const float v1 = a1_ * ic1_ + a2_ * v3;
    const float v2 = ic2_ + a2_ * ic1_ + a3_ * v3;
    ic1_ = 2 * v1 - ic1_;
    ic2_ = 2 * v2 - ic2_;
    lp_ = v2;
    bp_ = v1;
    hp_ = x - k_ * v1 - v2;
  }
  float g_ = 0.1f, k_ = 1.4f, a1_ = 0, a2_ = 0, a3_ = 0;
  float ic1_ = 0, ic2_ = 0;
  float lp_ = 0, bp_ = 0, hp_ = 0;
};

// RMS of the loudest window of `window` samples (the whole buffer when it
// is shorter): a stand-in for how loud a short effect sounds.
float LoudestWindowRms(const std::vector<float>& x, int window);
float Peak(const std::vector<float>& x);

// Brings an effect to its loudness target: removes any DC offset, trims the
// silent tail (or fades the last milliseconds of a sound that runs to the
// end of its buffer), scales to `target_db` (loudest-window RMS) and then
// lowers the whole sound if its peak would pass `peak_limit`.
void NormaliseEffect(std::vector<float>& x, float target_db, float peak_limit);

// Float to 16-bit with rounding and saturation.
std::vector<int16_t> ToPcm16(const std::vector<float>& x);

}  // namespace kv::soundgen
