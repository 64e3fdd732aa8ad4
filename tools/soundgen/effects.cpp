#include "effects.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "dsp.hpp"

namespace kv::soundgen {

namespace {

using Buffer = std::vector<float>;

Buffer Silence(double seconds) { return Buffer(static_cast<size_t>(seconds * kSampleRate), 0.0f); }

enum class Wave { Sine, Triangle, Saw, Square, Pulse };

struct Tone {
  double start = 0;
  double length = 0.1;
  double f0 = 440, f1 = 0;  // f1 = 0: no glide; glides are exponential
  Wave wave = Wave::Sine;
  float amp = 1;
  float attack = 0.002f;
  float tau = 0;        // decay time constant, 0 = held at full level
  float vib_rate = 0;   // vibrato in Hz
  float vib_depth = 0;  // semitones
  float lowpass = 0;    // Hz, 0 = none
  float trem_rate = 0;  // amplitude wobble
  float trem_depth = 0;
};

void AddTone(Buffer& buf, const Tone& t) {
  const size_t first = static_cast<size_t>(t.start * kSampleRate);
  const size_t count = static_cast<size_t>(t.length * kSampleRate);
  const double f1 = t.f1 > 0 ? t.f1 : t.f0;
  const double release = std::min(0.006, t.length * 0.3);
  Svf lp;
  if (t.lowpass > 0) lp.Set(t.lowpass, 0.1f);
  double phase = 0;
  for (size_t i = 0; i < count && first + i < buf.size(); ++i) {
    const double time = double(i) / kSampleRate;
    const double u = time / t.length;
    double f = t.f0 * std::pow(f1 / t.f0, u);
    if (t.vib_depth > 0) f *= std::pow(2.0, t.vib_depth / 12.0 * std::sin(2 * kPi * t.vib_rate * time));
    const double inc = f / kSampleRate;
    float s = 0;
    switch (t.wave) {
      case Wave::Sine: s = OscSine(phase); break;
      case Wave::Triangle: s = OscTriangle(phase); break;
      case Wave::Saw: s = OscSaw(phase, inc); break;
      case Wave::Square: s = OscSquare(phase, inc, 0.5); break;
      case Wave::Pulse: s = OscSquare(phase, inc, 0.25); break;
    }
    phase += inc;
    if (phase >= 1) phase -= 1;
    if (t.lowpass > 0) s = lp.Lowpass(s);
    float env = time < t.attack ? float(time / t.attack) : 1.0f;
    if (t.tau > 0) env *= Decay(time - t.attack, t.tau);
    const double left = t.length - time;
    if (left < release) env *= float(left / release);
    if (t.trem_depth > 0) env *= 1.0f - t.trem_depth * 0.5f * (1.0f + std::sin(float(2 * kPi * t.trem_rate * time)));
    buf[first + i] += t.amp * env * s;
  }
}

enum class Filter { Low, Band, High };

struct Noise {
  double start = 0;
  double length = 0.1;
  float cut0 = 2000, cut1 = 0;  // exponential sweep; cut1 = 0 keeps cut0
  float resonance = 0.2f;
  Filter filter = Filter::Low;
  float amp = 1;
  float attack = 0.001f;
  float tau = 0.05f;
  uint64_t seed = 1;
  float crackle = 0;  // 0..1: sparse sharp grains on top of the hiss
};

void AddNoise(Buffer& buf, const Noise& n) {
  const size_t first = static_cast<size_t>(n.start * kSampleRate);
  const size_t count = static_cast<size_t>(n.length * kSampleRate);
  const float c1 = n.cut1 > 0 ? n.cut1 : n.cut0;
  const double release = std::min(0.008, n.length * 0.3);
  Rng rng(n.seed);
  Svf f;
  float grain = 0;
  for (size_t i = 0; i < count && first + i < buf.size(); ++i) {
    const double time = double(i) / kSampleRate;
    if (i % 16 == 0) f.Set(n.cut0 * std::pow(c1 / n.cut0, float(time / n.length)), n.resonance);
    float x = rng.Bipolar();
    if (n.crackle > 0) {
      if (rng.Uniform() < 0.002f * n.crackle) grain = rng.Bipolar() * 6.0f;
      x += grain;
      grain *= 0.93f;
    }
    float s = n.filter == Filter::Low ? f.Lowpass(x) : n.filter == Filter::Band ? f.Bandpass(x) : f.Highpass(x);
    float env = time < n.attack ? float(time / n.attack) : Decay(time - n.attack, n.tau);
    const double left = n.length - time;
    if (left < release) env *= float(left / release);
    buf[first + i] += n.amp * env * s;
  }
}

// Two-operator FM bell: the modulation index fades faster than the tone.
void AddBell(Buffer& buf, double start, double hz, float amp, float tau, float ratio = 3.5f, float index = 2.5f,
             double length = 0) {
  if (length <= 0) length = tau * 6;
  const size_t first = static_cast<size_t>(start * kSampleRate);
  const size_t count = static_cast<size_t>(length * kSampleRate);
  double pc = 0, pm = 0;
  for (size_t i = 0; i < count && first + i < buf.size(); ++i) {
    const double time = double(i) / kSampleRate;
    const float env = std::min(1.0f, float(time / 0.002)) * Decay(time, tau);
    const float idx = index * Decay(time, tau * 0.4);
    const float mod = OscSine(pm) * idx;
    buf[first + i] += amp * env * static_cast<float>(std::sin(2 * kPi * pc + mod));
    pc += hz / kSampleRate;
    pm += hz * ratio / kSampleRate;
    pc -= std::floor(pc);
    pm -= std::floor(pm);
  }
}

// Low thump with a falling pitch, the body of every blast.
void AddThump(Buffer& buf, double start, double f0, double f1, double length, float amp, float tau) {
  AddTone(buf, {.start = start, .length = length, .f0 = f0, .f1 = f1, .amp = amp, .attack = 0.001f, .tau = tau});
}

void AddExplosion(Buffer& buf, double start, float size, uint64_t seed) {
  Noise body;
  body.start = start;
  body.length = 0.35 + 0.7 * size;
  body.cut0 = 2500 + 2500 * size;
  body.cut1 = 120;
  body.resonance = 0.3f;
  body.amp = 1.4f;
  body.attack = 0.003f;
  body.tau = 0.08f + 0.22f * size;
  body.seed = seed;
  body.crackle = 0.6f + size;
  AddNoise(buf, body);
  AddThump(buf, start, 110 + 30 * size, 32, 0.25 + 0.45 * size, 0.9f, 0.07f + 0.15f * size);
  Noise hiss;
  hiss.start = start;
  hiss.length = 0.15 + 0.2 * size;
  hiss.cut0 = 6000;
  hiss.filter = Filter::High;
  hiss.amp = 0.25f;
  hiss.tau = 0.03f + 0.04f * size;
  hiss.seed = seed * 7 + 3;
  AddNoise(buf, hiss);
}

void Saturate(Buffer& buf, float drive) {
  for (float& v : buf) v = std::tanh(v * drive) / std::tanh(drive);
}

// A gentle feedback echo that gives chimes a sense of room.
void Echo(Buffer& buf, double delay, float feedback, double tail) {
  const size_t d = static_cast<size_t>(delay * kSampleRate);
  buf.resize(buf.size() + static_cast<size_t>(tail * kSampleRate), 0.0f);
  Svf damp;
  damp.Set(3500, 0);
  for (size_t i = d; i < buf.size(); ++i) buf[i] += feedback * damp.Lowpass(buf[i - d]);
}

double Note(double midi) { return MidiToHz(midi); }

// ---- menu and text ----

Buffer MenuClick() {  // 1.wav
  Buffer b = Silence(0.14);
  AddTone(b, {.start = 0, .length = 0.04, .f0 = Note(88), .wave = Wave::Square, .amp = 0.5f, .tau = 0.015f,
              .lowpass = 6000});
  AddTone(b, {.start = 0.035, .length = 0.1, .f0 = Note(93), .wave = Wave::Sine, .amp = 0.8f, .tau = 0.03f});
  return b;
}

Buffer MenuOpen() {  // 2.wav
  Buffer b = Silence(0.4);
  const double notes[] = {72, 76, 79, 84};
  for (int i = 0; i < 4; ++i) {
    AddTone(b, {.start = i * 0.045, .length = 0.2, .f0 = Note(notes[i]), .wave = Wave::Triangle, .amp = 0.6f,
                .tau = 0.06f});
    AddTone(b, {.start = i * 0.045, .length = 0.2, .f0 = Note(notes[i] + 12), .wave = Wave::Sine, .amp = 0.25f,
                .tau = 0.04f});
  }
  return b;
}

Buffer MenuClose() {  // 3.wav
  Buffer b = Silence(0.35);
  AddTone(b, {.start = 0, .length = 0.1, .f0 = Note(79), .f1 = Note(78), .wave = Wave::Triangle, .amp = 0.6f,
              .tau = 0.05f});
  AddTone(b, {.start = 0.07, .length = 0.25, .f0 = Note(72), .f1 = Note(70), .wave = Wave::Triangle, .amp = 0.6f,
              .tau = 0.07f});
  return b;
}

Buffer MessageChime() {  // mes.wav
  Buffer b = Silence(0.7);
  AddBell(b, 0, Note(81), 0.5f, 0.18f, 2.0f, 1.5f);
  AddBell(b, 0.12, Note(88), 0.5f, 0.22f, 2.0f, 1.5f);
  Echo(b, 0.11, 0.3f, 0.3);
  return b;
}

Buffer Purchase() {  // katan.wav: the register's clack
  Buffer b = Silence(0.25);
  AddNoise(b, {.start = 0, .length = 0.05, .cut0 = 2200, .resonance = 0.7f, .filter = Filter::Band, .amp = 2.0f,
               .tau = 0.012f, .seed = 11});
  AddNoise(b, {.start = 0.055, .length = 0.08, .cut0 = 1500, .resonance = 0.75f, .filter = Filter::Band,
               .amp = 2.2f, .tau = 0.018f, .seed = 12});
  AddTone(b, {.start = 0.055, .length = 0.15, .f0 = 990, .wave = Wave::Square, .amp = 0.15f, .tau = 0.03f,
              .lowpass = 3000});
  AddBell(b, 0.06, 1480, 0.25f, 0.05f, 1.41f, 3.0f, 0.18);
  return b;
}

Buffer Upgrade() {  // up.wav
  Buffer b = Silence(0.6);
  const double notes[] = {72, 76, 79, 84, 88};
  for (int i = 0; i < 5; ++i)
    AddTone(b, {.start = i * 0.04, .length = 0.16, .f0 = Note(notes[i]), .wave = Wave::Pulse, .amp = 0.35f,
                .tau = 0.05f, .lowpass = 5000});
  AddTone(b, {.start = 0.2, .length = 0.35, .f0 = Note(88), .f1 = Note(96), .wave = Wave::Sine, .amp = 0.35f,
              .tau = 0.12f, .vib_rate = 14, .vib_depth = 0.3f});
  return b;
}

Buffer TypeClick() {  // moji.wav: heard every frame while text types out
  Buffer b = Silence(0.03);
  AddTone(b, {.start = 0, .length = 0.025, .f0 = 2093, .f1 = 1800, .wave = Wave::Square, .amp = 0.3f,
              .tau = 0.005f, .lowpass = 5000});
  AddNoise(b, {.start = 0, .length = 0.02, .cut0 = 3000, .filter = Filter::High, .amp = 0.4f, .tau = 0.003f,
               .seed = 21});
  return b;
}

Buffer StageCard() {  // stage.wav
  Buffer b = Silence(1.9);
  // A rising whoosh into a wide minor chord with a bell on top.
  AddNoise(b, {.start = 0, .length = 0.45, .cut0 = 300, .cut1 = 5000, .resonance = 0.6f, .filter = Filter::Band,
               .amp = 0.8f, .attack = 0.35f, .tau = 1.0f, .seed = 31});
  const double chord[] = {45, 52, 59, 60, 64};
  for (double n : chord) {
    AddTone(b, {.start = 0.4, .length = 1.4, .f0 = Note(n), .wave = Wave::Saw, .amp = 0.22f, .attack = 0.005f,
                .tau = 0.45f, .lowpass = 2200});
    AddTone(b, {.start = 0.4, .length = 1.4, .f0 = Note(n) * 1.004, .wave = Wave::Saw, .amp = 0.18f,
                .attack = 0.005f, .tau = 0.45f, .lowpass = 1800});
  }
  AddThump(b, 0.4, 90, 40, 0.5, 0.6f, 0.15f);
  AddBell(b, 0.42, Note(81), 0.3f, 0.4f, 3.0f, 1.5f, 1.3);
  Echo(b, 0.18, 0.25f, 0.0);
  return b;
}

Buffer BossWarning() {  // 警告音.wav: a two-tone siren
  Buffer b = Silence(2.2);
  for (int k = 0; k < 4; ++k) {
    const double t0 = k * 0.5;
    AddTone(b, {.start = t0, .length = 0.25, .f0 = 880, .f1 = 900, .wave = Wave::Pulse, .amp = 0.35f,
                .attack = 0.01f, .vib_rate = 9, .vib_depth = 0.15f, .lowpass = 3200});
    AddTone(b, {.start = t0 + 0.25, .length = 0.25, .f0 = 660, .f1 = 640, .wave = Wave::Pulse, .amp = 0.35f,
                .attack = 0.01f, .vib_rate = 9, .vib_depth = 0.15f, .lowpass = 3200});
    AddTone(b, {.start = t0, .length = 0.5, .f0 = 220, .f1 = 165, .wave = Wave::Saw, .amp = 0.25f, .attack = 0.01f,
                .lowpass = 900});
  }
  return b;
}

// ---- weapons and hits ----

Buffer Shot() {  // tama.wav: may sound every frame, kept soft and dry
  Buffer b = Silence(0.07);
  AddTone(b, {.start = 0, .length = 0.065, .f0 = 1300, .f1 = 380, .wave = Wave::Triangle, .amp = 0.7f,
              .tau = 0.018f});
  AddNoise(b, {.start = 0, .length = 0.03, .cut0 = 4000, .cut1 = 1500, .filter = Filter::Low, .amp = 0.5f,
               .tau = 0.006f, .seed = 41});
  return b;
}

Buffer HitTick() {  // enemy_cut.wav
  Buffer b = Silence(0.06);
  AddNoise(b, {.start = 0, .length = 0.04, .cut0 = 4200, .resonance = 0.6f, .filter = Filter::Band, .amp = 1.2f,
               .tau = 0.006f, .seed = 51});
  AddTone(b, {.start = 0, .length = 0.05, .f0 = 2600, .f1 = 1700, .wave = Wave::Sine, .amp = 0.5f,
              .tau = 0.012f});
  return b;
}

Buffer LockOn() {  // target.wav: can repeat every other frame
  Buffer b = Silence(0.075);
  AddTone(b, {.start = 0, .length = 0.03, .f0 = Note(91), .wave = Wave::Square, .amp = 0.35f, .tau = 0.02f,
              .lowpass = 4000});
  AddTone(b, {.start = 0.03, .length = 0.045, .f0 = Note(96), .wave = Wave::Sine, .amp = 0.5f, .tau = 0.015f});
  return b;
}

Buffer SmallBlast() {  // enemy_down.wav
  Buffer b = Silence(0.5);
  AddExplosion(b, 0, 0.35f, 61);
  AddTone(b, {.start = 0, .length = 0.06, .f0 = 900, .f1 = 200, .wave = Wave::Square, .amp = 0.25f, .tau = 0.02f,
              .lowpass = 3000});
  Saturate(b, 1.5f);
  return b;
}

Buffer Blast() {  // bom.wav
  Buffer b = Silence(1.0);
  AddExplosion(b, 0, 0.8f, 71);
  Saturate(b, 2.0f);
  return b;
}

Buffer BigBlast() {  // bom3.wav: the screen-wide burst
  Buffer b = Silence(1.5);
  AddExplosion(b, 0, 1.0f, 81);
  AddExplosion(b, 0.1, 1.2f, 82);
  AddThump(b, 0, 70, 28, 0.9, 0.8f, 0.3f);
  Saturate(b, 2.2f);
  return b;
}

Buffer BossBlast() {  // boss.wav
  Buffer b = Silence(2.4);
  AddExplosion(b, 0, 0.9f, 91);
  AddExplosion(b, 0.22, 1.1f, 92);
  AddExplosion(b, 0.55, 1.5f, 93);
  AddThump(b, 0.55, 60, 25, 1.4, 0.8f, 0.45f);
  Saturate(b, 2.0f);
  return b;
}

Buffer HeavyHit() {  // hp_down.wav
  Buffer b = Silence(0.7);
  AddThump(b, 0, 140, 38, 0.5, 1.3f, 0.12f);
  AddNoise(b, {.start = 0, .length = 0.4, .cut0 = 2500, .cut1 = 300, .resonance = 0.4f, .amp = 1.0f,
               .tau = 0.08f, .seed = 101, .crackle = 1.0f});
  AddBell(b, 0, 180, 0.5f, 0.1f, 1.41f, 6.0f, 0.5);
  Saturate(b, 3.0f);
  return b;
}

Buffer GameOver() {  // gameover.wav: three falling chords to a low end
  Buffer b = Silence(3.0);
  const double chords[3][3] = {{67, 70, 74}, {66, 69, 73}, {62, 65, 69}};
  const double starts[3] = {0, 0.35, 0.7};
  const double lengths[3] = {0.33, 0.33, 2.0};
  for (int c = 0; c < 3; ++c)
    for (double n : chords[c]) {
      AddTone(b, {.start = starts[c], .length = lengths[c], .f0 = Note(n), .wave = Wave::Saw, .amp = 0.2f,
                  .attack = 0.01f, .tau = c == 2 ? 0.8f : 0.0f, .lowpass = 2000});
      AddTone(b, {.start = starts[c], .length = lengths[c], .f0 = Note(n - 12) * 1.003, .wave = Wave::Square,
                  .amp = 0.12f, .attack = 0.01f, .tau = c == 2 ? 0.8f : 0.0f, .vib_rate = 5,
                  .vib_depth = c == 2 ? 0.12f : 0.0f, .lowpass = 1200});
    }
  AddThump(b, 0.7, 80, 36, 1.2, 0.5f, 0.4f);
  Echo(b, 0.23, 0.25f, 0.0);
  return b;
}

// ---- barrier, time stop, lasers ----

Buffer Barrier() {  // baria.wav
  Buffer b = Silence(0.9);
  const double base[] = {110, 165, 220.7};
  for (double f : base)
    AddTone(b, {.start = 0, .length = 0.85, .f0 = f, .f1 = f * 1.06, .wave = Wave::Saw, .amp = 0.3f,
                .attack = 0.04f, .tau = 0.5f, .lowpass = 1600, .trem_rate = 13, .trem_depth = 0.5f});
  AddTone(b, {.start = 0, .length = 0.85, .f0 = 1760, .f1 = 2100, .wave = Wave::Sine, .amp = 0.18f,
              .attack = 0.08f, .tau = 0.35f, .vib_rate = 17, .vib_depth = 0.4f});
  AddNoise(b, {.start = 0, .length = 0.5, .cut0 = 800, .cut1 = 4000, .resonance = 0.7f, .filter = Filter::Band,
               .amp = 0.3f, .attack = 0.05f, .tau = 0.2f, .seed = 111});
  return b;
}

Buffer TimeStop() {  // combo5.wav: everything winds down, then the clock ticks
  Buffer b = Silence(1.35);
  AddTone(b, {.start = 0, .length = 0.9, .f0 = 2400, .f1 = 70, .wave = Wave::Triangle, .amp = 0.55f,
              .attack = 0.01f, .tau = 0.8f});
  AddTone(b, {.start = 0, .length = 0.9, .f0 = 2450, .f1 = 72, .wave = Wave::Saw, .amp = 0.2f, .attack = 0.01f,
              .tau = 0.6f, .lowpass = 3000});
  AddNoise(b, {.start = 0, .length = 0.6, .cut0 = 6000, .cut1 = 400, .resonance = 0.8f, .filter = Filter::Band,
               .amp = 0.5f, .attack = 0.01f, .tau = 0.3f, .seed = 121});
  for (int k = 0; k < 2; ++k) {
    AddNoise(b, {.start = 0.95 + k * 0.2, .length = 0.04, .cut0 = 3000, .resonance = 0.8f,
                 .filter = Filter::Band, .amp = 2.0f, .tau = 0.008f, .seed = uint64_t(122 + k)});
    AddTone(b, {.start = 0.95 + k * 0.2, .length = 0.05, .f0 = k ? 1500.0 : 1800.0, .wave = Wave::Sine, .amp = 0.4f,
                .tau = 0.012f});
  }
  return b;
}

Buffer LaserRelease() {  // combo6.wav
  Buffer b = Silence(0.8);
  AddTone(b, {.start = 0, .length = 0.7, .f0 = 3200, .f1 = 160, .wave = Wave::Saw, .amp = 0.45f,
              .attack = 0.002f, .tau = 0.25f, .lowpass = 5000});
  AddTone(b, {.start = 0, .length = 0.7, .f0 = 3260, .f1 = 150, .wave = Wave::Square, .amp = 0.25f,
              .attack = 0.002f, .tau = 0.25f, .lowpass = 4000});
  AddTone(b, {.start = 0, .length = 0.6, .f0 = 82, .wave = Wave::Square, .amp = 0.3f, .tau = 0.2f,
              .lowpass = 700});
  AddNoise(b, {.start = 0, .length = 0.3, .cut0 = 8000, .cut1 = 2000, .filter = Filter::High, .amp = 0.4f,
               .tau = 0.06f, .seed = 131});
  Saturate(b, 1.5f);
  return b;
}

// ---- chains, items, level ----

// Pentatonic steps of the six chain sounds.
constexpr double kChainSteps[6] = {0, 2, 4, 7, 9, 12};

Buffer ChainStep(int n) {  // chain01.wav .. chain06.wav, each step higher
  const double root = 72 + kChainSteps[n - 1];
  Buffer b = Silence(0.5);
  AddTone(b, {.start = 0, .length = 0.08, .f0 = Note(root), .wave = Wave::Pulse, .amp = 0.35f, .tau = 0.05f,
              .lowpass = 6000});
  AddTone(b, {.start = 0.06, .length = 0.25, .f0 = Note(root + 7), .wave = Wave::Pulse, .amp = 0.35f,
              .tau = 0.08f, .lowpass = 6000});
  AddBell(b, 0.06, Note(root + 19), 0.25f, 0.1f, 2.0f, 1.0f, 0.3);
  Echo(b, 0.09, 0.25f, 0.0);
  return b;
}

Buffer ChainClimax() {  // chain_x.wav
  Buffer b = Silence(1.3);
  const double run[] = {72, 74, 76, 79, 81, 84, 86, 88, 91, 93};
  for (int i = 0; i < 10; ++i)
    AddTone(b, {.start = i * 0.03, .length = 0.12, .f0 = Note(run[i]), .wave = Wave::Pulse, .amp = 0.25f,
                .tau = 0.05f, .lowpass = 7000});
  const double chord[] = {84, 88, 91, 96};
  for (double n : chord)
    AddTone(b, {.start = 0.3, .length = 0.9, .f0 = Note(n), .wave = Wave::Triangle, .amp = 0.25f,
                .attack = 0.005f, .tau = 0.35f, .vib_rate = 7, .vib_depth = 0.15f});
  AddBell(b, 0.3, Note(108), 0.2f, 0.3f, 3.0f, 1.0f, 0.9);
  Echo(b, 0.12, 0.3f, 0.0);
  return b;
}

Buffer ItemChime() {  // item.wav
  Buffer b = Silence(0.3);
  AddTone(b, {.start = 0, .length = 0.07, .f0 = Note(95), .wave = Wave::Sine, .amp = 0.6f, .tau = 0.04f});
  AddTone(b, {.start = 0.05, .length = 0.2, .f0 = Note(100), .wave = Wave::Sine, .amp = 0.6f, .tau = 0.06f});
  AddTone(b, {.start = 0.05, .length = 0.2, .f0 = Note(88), .wave = Wave::Triangle, .amp = 0.3f, .tau = 0.05f});
  return b;
}

Buffer ItemPickup() {  // item_get.wav: frequent, short and light
  Buffer b = Silence(0.13);
  AddTone(b, {.start = 0, .length = 0.12, .f0 = 1200, .f1 = 2500, .wave = Wave::Sine, .amp = 0.6f, .tau = 0.05f});
  AddTone(b, {.start = 0, .length = 0.12, .f0 = 600, .f1 = 1250, .wave = Wave::Triangle, .amp = 0.3f,
              .tau = 0.04f});
  return b;
}

Buffer PointCoin() {  // point.wav
  Buffer b = Silence(0.4);
  AddTone(b, {.start = 0, .length = 0.07, .f0 = Note(83), .wave = Wave::Square, .amp = 0.3f, .tau = 0.0f,
              .lowpass = 4500});
  AddTone(b, {.start = 0.07, .length = 0.3, .f0 = Note(88), .wave = Wave::Square, .amp = 0.3f, .tau = 0.1f,
              .lowpass = 4500});
  return b;
}

Buffer LevelUp() {  // lvup.wav
  Buffer b = Silence(1.1);
  const double notes[] = {72, 76, 79, 84};
  for (int i = 0; i < 4; ++i)
    AddTone(b, {.start = i * 0.06, .length = 0.15, .f0 = Note(notes[i]), .wave = Wave::Square, .amp = 0.25f,
                .tau = 0.08f, .lowpass = 5000});
  const double chord[] = {72, 76, 79, 84, 88};
  for (double n : chord)
    AddTone(b, {.start = 0.26, .length = 0.75, .f0 = Note(n), .wave = Wave::Pulse, .amp = 0.14f,
                .attack = 0.005f, .tau = 0.3f, .lowpass = 4000, .trem_rate = 10, .trem_depth = 0.3f});
  AddBell(b, 0.26, Note(96), 0.2f, 0.3f, 2.0f, 1.0f, 0.8);
  return b;
}

struct Recipe {
  EffectInfo info;
  std::function<Buffer()> make;
};

std::vector<Recipe> Recipes() {
  // Frequent, tiny sounds sit well below the big moments so rapid fire
  // never buries an explosion or a warning.
  std::vector<Recipe> r = {
        {{"1.wav", -16}, MenuClick},
        {{"2.wav", -16}, MenuOpen},
        {{"3.wav", -16}, MenuClose},
        {{"mes.wav", -16}, MessageChime},
        {{"katan.wav", -15}, Purchase},
        {{"up.wav", -16}, Upgrade},
        {{"moji.wav", -22}, TypeClick},
        {{"stage.wav", -13}, StageCard},
        {{"警告音.wav", -14}, BossWarning},
        {{"tama.wav", -22}, Shot},
        {{"bom.wav", -11}, Blast},
        {{"bom3.wav", -10}, BigBlast},
        {{"baria.wav", -15}, Barrier},
        {{"combo5.wav", -14}, TimeStop},
        {{"combo6.wav", -13}, LaserRelease},
    };
    for (int n = 1; n <= 6; ++n)
      r.push_back({{"chain0" + std::to_string(n) + ".wav", -16}, [n] { return ChainStep(n); }});
    std::vector<Recipe> rest = {
        {{"chain_x.wav", -14}, ChainClimax},
        {{"target.wav", -20}, LockOn},
        {{"enemy_cut.wav", -20}, HitTick},
        {{"enemy_down.wav", -15}, SmallBlast},
        {{"hp_down.wav", -11}, HeavyHit},
        {{"item.wav", -16}, ItemChime},
        {{"item_get.wav", -18}, ItemPickup},
        {{"point.wav", -16}, PointCoin},
        {{"lvup.wav", -14}, LevelUp},
        {{"boss.wav", -10}, BossBlast},
        {{"gameover.wav", -13}, GameOver},
    };
  r.insert(r.end(), rest.begin(), rest.end());
  return r;
}

}  // namespace

std::vector<EffectInfo> EffectCatalogue() {
  std::vector<EffectInfo> list;
  for (const Recipe& r : Recipes()) list.push_back(r.info);
  return list;
}

std::vector<float> SynthesiseEffect(const std::string& name) {
  for (const Recipe& r : Recipes())
    if (r.info.name == name) return r.make();
  return {};
}

std::vector<int16_t> RenderEffect(const std::string& name) {
  for (const Recipe& r : Recipes()) {
    if (r.info.name != name) continue;
    Buffer b = r.make();
    NormaliseEffect(b, r.info.loudness_db, kEffectPeakLimit);
    return ToPcm16(b);
  }
  return {};
}

}  // namespace kv::soundgen
