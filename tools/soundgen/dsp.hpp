// Small synthesis toolkit shared by the effect generator and the tracker:
// a seeded random source, band-limited oscillators, a resonant filter,
// envelopes and the loudness helpers used to balance the output.
#pragma once

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
float OscSine(double phase);
// Polynomial sine of a phase in cycles, accurate to a few parts per million.
float FastSin(double phase);
float OscTriangle(double phase);
float OscSaw(double phase, double inc);
float OscSquare(double phase, double inc, double width);

// Linear-segment ADSR; `t` and `gate` in seconds, returns 0..1.
float Adsr(double t, double gate, float attack, float decay, float sustain, float release);

// Exponential decay from 1 with the given time constant in seconds.
float Decay(double t, double tau);

// Zero-delay-feedback state-variable filter (one instance per voice).
class Svf {
 public:
  void Set(float cutoff_hz, float resonance);  // resonance 0 (none) .. ~0.95
  float Lowpass(float x);
  float Bandpass(float x);
  float Highpass(float x);

 private:
  void Tick(float x);
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
