#include "music.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

#include "dsp.hpp"

namespace kv::soundgen {

namespace {

enum PatchSlot { kPadSlot, kBassSlot, kArpSlot, kLeadSlot };

struct NoteEvent {
  double start = 0;
  double gate = 0;
  int midi = 60;
  float velocity = 1;
  PatchSlot slot = kPadSlot;
  float energy = 1;
};

enum DrumKind { kKick, kSnare, kHat, kOpenHat, kClap, kRim, kTom, kCrash, kDrumKinds };

struct DrumEvent {
  double start = 0;
  DrumKind kind = kKick;
  float velocity = 1;
};

// The mix buses a song is rendered into.
struct Bus {
  std::vector<float> left, right, reverb, echo;
  explicit Bus(size_t n) : left(n), right(n), reverb(n), echo(n) {}
};

int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int DegreeToMidi(const SongDef& s, int base, int degree) {
  const int octave = FloorDiv(degree, 7);
  return base + 12 * octave + s.scale[degree - 7 * octave];
}

// Brings a note into the octave starting at `low`.
int IntoOctave(int midi, int low) {
  while (midi < low) midi += 12;
  while (midi >= low + 12) midi -= 12;
  return midi;
}

std::vector<int> ChordDegrees(const SongDef& s, int degree) {
  std::vector<int> d = {degree, degree + 2, degree + 4};
  if (s.sevenths) d.push_back(degree + 6);
  return d;
}

float StepVelocity(char c) {
  switch (c) {
    case 'x': return 1.0f;
    case 'o': return 0.65f;
    case 'g': return 0.3f;
    default: return 0.0f;
  }
}

bool IsChordTone(int degree, int chord_degree) {
  const int rel = ((degree - chord_degree) % 7 + 7) % 7;
  return rel == 0 || rel == 2 || rel == 4;
}

int NearestChordTone(int degree, int chord_degree, Rng& rng) {
  for (int dist = 0; dist < 4; ++dist) {
    const bool up_first = rng.Below(2) == 0;
    const int a = degree + (up_first ? dist : -dist), b = degree + (up_first ? -dist : dist);
    if (IsChordTone(a, chord_degree)) return a;
    if (IsChordTone(b, chord_degree)) return b;
  }
  return degree;
}

// Lowest and highest scale degree of the lead, counted from its register.
constexpr int kLeadLow = 0;
constexpr int kLeadHigh = 11;

// One bar of the generated lead. Bars 1 and 3 of each four-bar phrase come
// from the same seed, so the motif returns over the new chord; bar 4 closes
// on the chord's root and alternates between two endings.
void LeadBar(const SongDef& s, const Section& sec, int bar_in_section, int chord, double bar_start, double step,
             float velocity, std::vector<NoteEvent>& out) {
  if (s.lead_rhythms.empty()) return;
  const int in_phrase = bar_in_section % 4;
  const int phrase_no = bar_in_section / 4;
  const int motif = in_phrase == 2 ? 0 : in_phrase;
  const uint64_t key = in_phrase == 3 ? 3 + 16 * uint64_t(phrase_no % 2) : uint64_t(motif);
  Rng rng(s.seed * 1000003ull + uint64_t(sec.melody) * 7919ull + key * 131ull + 17);
  const std::string& rhythm = s.lead_rhythms[rng.Below(int(s.lead_rhythms.size()))];
  const int n = int(rhythm.size());
  int cur = NearestChordTone(in_phrase == 0 || in_phrase == 2 ? 5 + rng.Below(3) : 4 + rng.Below(5), chord, rng);
  int dir = rng.Below(2) ? 1 : -1;
  int last_onset = -1;
  for (int i = 0; i < n; ++i)
    if (rhythm[i] == 'x') last_onset = i;
  bool first = true;
  for (int i = 0; i < n; ++i) {
    if (rhythm[i] != 'x') continue;
    if (!first) {
      if (i % 8 == 0) {
        cur = NearestChordTone(cur + rng.Below(3) - 1, chord, rng);
      } else {
        const int r = rng.Below(10);
        const int move = r < 6 ? dir : r < 8 ? 2 * dir : r < 9 ? -dir : 0;
        cur += move;
        if (i % 4 == 0 && rng.Below(2) == 0) cur = NearestChordTone(cur, chord, rng);
      }
    }
    first = false;
    if (rng.Below(5) == 0) dir = -dir;
    if (cur <= kLeadLow) {
      cur = kLeadLow;
      dir = 1;
    }
    if (cur >= kLeadHigh) {
      cur = kLeadHigh;
      dir = -1;
    }
    if (in_phrase == 3 && i == last_onset) {
      // Close the phrase on the root of the chord.
      int best = cur;
      for (int d = cur - 3; d <= cur + 3; ++d)
        if (((d - chord) % 7 + 7) % 7 == 0 && d >= kLeadLow && d <= kLeadHigh) best = d;
      cur = best;
    }
    int end = i + 1;
    while (end < n && rhythm[end] == '-') ++end;
    NoteEvent e;
    e.start = bar_start + i * step + ((i % 2) ? s.swing * step : 0.0);
    e.gate = (end - i) * step * s.lead.legato;
    e.midi = DegreeToMidi(s, s.root + s.lead_octave, cur);
    e.velocity = velocity * (i % 4 == 0 ? 1.0f : 0.85f);
    e.slot = kLeadSlot;
    e.energy = sec.energy;
    out.push_back(e);
  }
}

void PatternNotes(const std::string& pattern, double bar_start, double step, float swing, PatchSlot slot,
                  float legato, float velocity, float energy, const std::function<int(char)>& pitch,
                  std::vector<NoteEvent>& out) {
  const int n = int(pattern.size());
  for (int i = 0; i < n; ++i) {
    const char c = pattern[i];
    if (c == '.' || c == '-') continue;
    int end = i + 1;
    while (end < n && pattern[end] == '-') ++end;
    NoteEvent e;
    e.start = bar_start + i * step + ((i % 2) ? swing * step : 0.0);
    e.gate = (end - i) * step * legato;
    e.midi = pitch(c);
    e.velocity = velocity * (i % 4 == 0 ? 1.0f : 0.8f);
    e.slot = slot;
    e.energy = energy;
    out.push_back(e);
  }
}

struct Score {
  std::vector<NoteEvent> notes;
  std::vector<DrumEvent> drums;
  double seconds = 0;
};

Score Arrange(const SongDef& s, int max_bars) {
  Score score;
  const double bar = BarSeconds(s);
  const double step = bar / 16;
  int gbar = 0;
  for (const Section& sec : s.arrangement) {
    for (int b = 0; b < sec.bars; ++b, ++gbar) {
      if (max_bars > 0 && gbar >= max_bars) break;
      const double t0 = gbar * bar;
      const std::vector<int>& prog = s.progressions[size_t(sec.progression) % s.progressions.size()];
      const int chord = prog[size_t(b) % prog.size()];
      const std::vector<int> degrees = ChordDegrees(s, chord);
      float vel = 1.0f;
      if (sec.fade) vel *= 1.0f - 0.85f * float(b) / float(std::max(1, sec.bars));

      if (sec.layers & kPad) {
        for (int d : degrees) {
          NoteEvent e;
          e.start = t0;
          e.gate = bar * 0.98;
          e.midi = IntoOctave(DegreeToMidi(s, s.root, d), s.root + s.pad_octave - 3);
          e.velocity = vel;
          e.slot = kPadSlot;
          e.energy = sec.energy;
          score.notes.push_back(e);
        }
      }
      if ((sec.layers & kBass) && !s.bass_lines.empty()) {
        const int base = DegreeToMidi(s, s.root, chord);
        const int root = base > s.root + 6 ? base - 12 : base;
        auto pitch = [&](char c) {
          switch (c) {
            case 'o': return root + 12;
            case '5': return root + DegreeToMidi(s, s.root, chord + 4) - base;
            case '3': return root + DegreeToMidi(s, s.root, chord + 2) - base;
            case '7': return root + DegreeToMidi(s, s.root, chord + 6) - base;
            default: return root;
          }
        };
        const std::string& line = s.bass_lines[size_t(sec.bass) % s.bass_lines.size()];
        PatternNotes(line, t0, step, s.swing, kBassSlot, s.bass.legato, vel, sec.energy, pitch, score.notes);
      }
      if ((sec.layers & kArp) && !s.arp.empty()) {
        std::vector<int> tones;
        for (int d : degrees) tones.push_back(IntoOctave(DegreeToMidi(s, s.root, d), s.root + s.arp_octave));
        std::sort(tones.begin(), tones.end());
        const size_t k = tones.size();
        for (size_t i = 0; i < k; ++i) tones.push_back(tones[i] + 12);
        auto pitch = [&](char c) { return tones[size_t(c - '0') % tones.size()]; };
        PatternNotes(s.arp, t0, step, s.swing, kArpSlot, s.arp_patch.legato, vel * 0.9f, sec.energy, pitch,
                     score.notes);
      }
      if (sec.layers & kLead) LeadBar(s, sec, b, chord, t0, step, vel, score.notes);

      const bool drums = (sec.layers & kDrums) && !s.grooves.empty();
      const bool hats = (sec.layers & kHats) && !s.grooves.empty();
      if (drums || hats) {
        const Groove& g = s.grooves[size_t(sec.groove) % s.grooves.size()];
        const float dv = vel * (0.75f + 0.25f * sec.energy);
        auto lane = [&](const std::string& pattern, DrumKind kind) {
          if (pattern.empty()) return;
          for (int i = 0; i < 16; ++i) {
            const float v = StepVelocity(pattern[size_t(b * 16 + i) % pattern.size()]);
            if (v > 0) score.drums.push_back({t0 + i * step + ((i % 2) ? s.swing * step : 0.0), kind, v * dv});
          }
        };
        const bool fill_bar = sec.fill && b == sec.bars - 1 && drums;
        if (hats) {
          lane(g.hat, kHat);
          lane(g.open_hat, kOpenHat);
        }
        if (drums) {
          lane(g.kick, kKick);
          lane(g.clap, kClap);
          lane(g.rim, kRim);
          lane(g.tom, kTom);
          if (fill_bar) {
            // Snare roll over the last half bar, growing louder.
            for (int i = 0; i < 8; ++i)
              if (i % 2 == 0 || i >= 4) score.drums.push_back({t0 + (8 + i) * step, kSnare, dv * (0.4f + 0.08f * i)});
            lane(g.snare.substr(0, std::min<size_t>(8, g.snare.size())), kSnare);
          } else {
            lane(g.snare, kSnare);
          }
          if (sec.crash && b == 0) score.drums.push_back({t0, kCrash, dv});
        }
      }
    }
    if (max_bars > 0 && gbar >= max_bars) break;
  }
  score.seconds = gbar * bar + kSongTailSeconds;
  return score;
}

float Oscillate(const Patch& p, double phase, double inc, double mod_phase, float fm_index) {
  switch (p.osc) {
    case Patch::Osc::Saw: return OscSaw(phase, inc);
    case Patch::Osc::Square: return OscSquare(phase, inc, p.pulse_width);
    case Patch::Osc::Triangle: return OscTriangle(phase);
    case Patch::Osc::Sine: return OscSine(phase);
    case Patch::Osc::Fm: return FastSin(phase + fm_index / (2 * kPi) * FastSin(mod_phase));
    case Patch::Osc::Organ: {
      // Drawbar harmonics 1, 2, 3, 4 and 6 from one sine and cosine.
      const float s1 = FastSin(phase), c1 = FastSin(phase + 0.25);
      const float s2 = 2 * s1 * c1, c2 = 1 - 2 * s1 * s1;
      const float s3 = s1 * (3 - 4 * s1 * s1), c3 = c1 * (4 * c1 * c1 - 3);
      const float s4 = 2 * s2 * c2, s6 = 2 * s3 * c3;
      return 0.55f * s1 + 0.3f * s2 + 0.18f * s3 + 0.1f * s4 + 0.06f * s6;
    }
  }
  return 0;
}

void RenderNote(const Patch& p, const NoteEvent& e, uint64_t seed, Bus& bus) {
  const size_t first = static_cast<size_t>(e.start * kSampleRate);
  if (first >= bus.left.size()) return;
  const size_t count = std::min(static_cast<size_t>((e.gate + p.release) * kSampleRate), bus.left.size() - first);
  const int voices = std::max(1, p.voices);
  Rng rng(seed);
  const size_t nv = static_cast<size_t>(voices);
  std::vector<double> phase(nv), mod_phase(nv), ratio(nv);
  std::vector<float> gl(nv), gr(nv);
  for (int v = 0; v < voices; ++v) {
    const float pos = voices > 1 ? 2.0f * v / (voices - 1) - 1.0f : 0.0f;
    ratio[size_t(v)] = std::pow(2.0, pos * p.detune_cents / 1200.0);
    phase[size_t(v)] = voices > 1 ? rng.Uniform() : 0.0;
    const float pan = std::clamp(p.pan + p.spread * pos, -1.0f, 1.0f);
    const float angle = (pan + 1.0f) * float(kPi) / 4.0f;
    gl[size_t(v)] = std::cos(angle);
    gr[size_t(v)] = std::sin(angle);
  }
  const double hz = MidiToHz(e.midi);
  const float amp = e.velocity * p.gain / std::sqrt(float(voices));
  const float cutoff = p.cutoff * (0.55f + 0.45f * e.energy);
  Svf fl, fr;
  double sub_phase = 0;
  double fmul = 1;
  float fm_index = p.fm_index;
  for (size_t i = 0; i < count; ++i) {
    const double t = double(i) / kSampleRate;
    if (i % 32 == 0) {
      double vib = 0;
      if (p.vib_depth > 0 && t > p.vib_delay)
        vib = p.vib_depth * std::min(1.0, (t - p.vib_delay) / 0.3) * std::sin(2 * kPi * p.vib_rate * t);
      fmul = std::pow(2.0, vib / 12.0);
      const float cut = cutoff * std::pow(2.0f, p.env_octaves * Decay(t, p.env_tau));
      fl.Set(cut, p.resonance);
      fr.Set(cut, p.resonance);
      fm_index = p.fm_index * Decay(t, p.fm_tau);
    }
    const float env = Adsr(t, e.gate, p.attack, p.decay, p.sustain, p.release) * amp;
    if (env == 0.0f && t > e.gate) break;
    float sl = 0, sr = 0;
    for (size_t v = 0; v < nv; ++v) {
      const double inc = hz * ratio[v] * fmul / kSampleRate;
      const float s = Oscillate(p, phase[v], inc, mod_phase[v], fm_index);
      phase[v] += inc;
      if (phase[v] >= 1) phase[v] -= 1;
      mod_phase[v] += inc * p.fm_ratio;
      mod_phase[v] -= std::floor(mod_phase[v]);
      sl += s * gl[v];
      sr += s * gr[v];
    }
    if (p.sub > 0) {
      const float s = p.sub * OscSine(sub_phase) * 0.7071f * std::sqrt(float(voices));
      sub_phase += hz * 0.5 / kSampleRate;
      if (sub_phase >= 1) sub_phase -= 1;
      sl += s;
      sr += s;
    }
    const float l = fl.Lowpass(sl) * env, r = fr.Lowpass(sr) * env;
    const size_t j = first + i;
    bus.left[j] += l;
    bus.right[j] += r;
    bus.reverb[j] += (l + r) * 0.5f * p.reverb;
    bus.echo[j] += (l + r) * 0.5f * p.echo;
  }
}

// Drum sounds are synthesised once per song and mixed in as scaled copies.
std::vector<float> MakeDrum(DrumKind kind, uint64_t seed) {
  Rng rng(seed);
  const double seconds[kDrumKinds] = {0.45, 0.3, 0.08, 0.5, 0.3, 0.06, 0.45, 2.0};
  std::vector<float> x(static_cast<size_t>(seconds[kind] * kSampleRate));
  Svf f, f2;
  double phase = 0;
  switch (kind) {
    case kHat: case kOpenHat: f.Set(7500, 0.2f); break;
    case kSnare: f.Set(1500, 0.1f); break;
    case kClap: f.Set(1100, 0.5f); break;
    case kRim: f.Set(1800, 0.7f); break;
    case kCrash: f.Set(4500, 0.1f); f2.Set(9000, 0.1f); break;
    default: break;
  }
  for (size_t i = 0; i < x.size(); ++i) {
    const double t = double(i) / kSampleRate;
    const float noise = rng.Bipolar();
    float v = 0;
    switch (kind) {
      case kKick: {
        const double hz = 45 + 110 * std::exp(-t / 0.03);
        phase += hz / kSampleRate;
        v = OscSine(phase) * Decay(t, 0.22) + noise * 0.25f * Decay(t, 0.002);
        break;
      }
      case kSnare:
        phase += 190.0 / kSampleRate;
        v = OscTriangle(phase) * 0.5f * Decay(t, 0.05) + f.Highpass(noise) * 0.8f * Decay(t, 0.1);
        break;
      case kHat: v = f.Highpass(noise) * Decay(t, 0.022); break;
      case kOpenHat: v = f.Highpass(noise) * Decay(t, 0.2); break;
      case kClap: {
        float env = Decay(t, 0.004) + Decay(t - 0.011, 0.004) + Decay(t - 0.022, 0.004) + 0.6f * Decay(t - 0.03, 0.08);
        v = f.Bandpass(noise) * env * 1.5f;
        break;
      }
      case kRim:
        phase += 820.0 / kSampleRate;
        v = f.Bandpass(noise) * Decay(t, 0.008) + OscSine(phase) * 0.4f * Decay(t, 0.015);
        break;
      case kTom: {
        const double hz = 90 + 60 * std::exp(-t / 0.05);
        phase += hz / kSampleRate;
        v = OscSine(phase) * Decay(t, 0.2);
        break;
      }
      case kCrash: v = (f.Highpass(noise) * 0.7f + f2.Bandpass(noise) * 0.5f) * Decay(t, 0.6); break;
      default: break;
    }
    const double left = seconds[kind] - t;
    if (left < 0.01) v *= float(left / 0.01);
    x[i] = v;
  }
  return x;
}

struct DrumMix {
  float gain, pan, reverb;
};
constexpr DrumMix kDrumMix[kDrumKinds] = {
    {1.0f, 0.0f, 0.0f},   {0.7f, -0.05f, 0.15f}, {0.28f, 0.25f, 0.05f}, {0.2f, 0.25f, 0.1f},
    {0.55f, -0.1f, 0.25f}, {0.35f, -0.3f, 0.2f},  {0.6f, -0.2f, 0.2f},   {0.3f, 0.3f, 0.2f},
};

void RenderDrums(const SongDef& s, const std::vector<DrumEvent>& events, Bus& bus) {
  std::vector<std::vector<float>> kit;
  for (int k = 0; k < kDrumKinds; ++k) kit.push_back(MakeDrum(DrumKind(k), s.seed * 31 + uint64_t(k)));
  for (const DrumEvent& e : events) {
    const std::vector<float>& x = kit[e.kind];
    const DrumMix& m = kDrumMix[e.kind];
    const float angle = (m.pan + 1.0f) * float(kPi) / 4.0f;
    const float gl = std::cos(angle) * m.gain * e.velocity * 1.414f;
    const float gr = std::sin(angle) * m.gain * e.velocity * 1.414f;
    const size_t first = static_cast<size_t>(e.start * kSampleRate);
    for (size_t i = 0; i < x.size() && first + i < bus.left.size(); ++i) {
      bus.left[first + i] += x[i] * gl;
      bus.right[first + i] += x[i] * gr;
      bus.reverb[first + i] += x[i] * m.reverb * m.gain * e.velocity;
    }
  }
}

// Schroeder-style reverb: parallel damped combs and two all-passes per side,
// run on ring buffers straight into the output.
struct Comb {
  std::vector<float> line;
  size_t pos = 0;
  float store = 0;
};

void AddReverb(const std::vector<float>& send, float room, std::vector<float>& left, std::vector<float>& right) {
  constexpr int kCombs[4] = {1116, 1277, 1422, 1557};
  constexpr int kAllpasses[2] = {556, 441};
  const float feedback = 0.7f + 0.25f * room;
  const float damp = 0.3f;
  for (int side = 0; side < 2; ++side) {
    const size_t spread = side ? 23 : 0;
    Comb combs[4], allpasses[2];
    for (int c = 0; c < 4; ++c) combs[c].line.assign(size_t(kCombs[c]) + spread, 0.0f);
    for (int a = 0; a < 2; ++a) allpasses[a].line.assign(size_t(kAllpasses[a]) + spread, 0.0f);
    std::vector<float>& dst = side ? right : left;
    for (size_t i = 0; i < send.size(); ++i) {
      const float in = send[i] * 0.015f;
      float wet = 0;
      for (Comb& c : combs) {
        const float out = c.line[c.pos];
        c.store = out * (1 - damp) + c.store * damp;
        c.line[c.pos] = in + c.store * feedback;
        if (++c.pos == c.line.size()) c.pos = 0;
        wet += out;
      }
      for (Comb& a : allpasses) {
        const float buffered = a.line[a.pos];
        a.line[a.pos] = wet + buffered * 0.5f;
        if (++a.pos == a.line.size()) a.pos = 0;
        wet = buffered - wet;
      }
      dst[i] += wet * 3.0f;
    }
  }
}

// Ping-pong echo: each repeat crosses to the other side.
void AddEcho(const std::vector<float>& send, double delay, std::vector<float>& left, std::vector<float>& right) {
  const size_t d = std::max<size_t>(1, static_cast<size_t>(delay * kSampleRate));
  const float fb = 0.4f;
  std::vector<float> in(d, 0.0f), el(d, 0.0f), er(d, 0.0f);  // the last d samples
  size_t pos = 0;
  for (size_t i = 0; i < send.size(); ++i) {
    const float l = in[pos] + fb * er[pos];
    const float r = fb * el[pos];
    in[pos] = send[i];
    el[pos] = l;
    er[pos] = r;
    if (++pos == d) pos = 0;
    left[i] += l * 0.8f;
    right[i] += r * 0.8f + l * 0.2f;
  }
}

void Master(StereoBuffer& out) {
  // DC and rumble out, then a common loudness and a soft ceiling.
  for (std::vector<float>* ch : {&out.left, &out.right}) {
    float prev_x = 0, prev_y = 0;
    const float a = 0.9965f;  // about 25 Hz
    for (float& v : *ch) {
      const float y = v - prev_x + a * prev_y;
      prev_x = v;
      prev_y = y;
      v = y;
    }
  }
  double sum = 0;
  for (size_t i = 0; i < out.left.size(); ++i) sum += double(out.left[i]) * out.left[i] + double(out.right[i]) * out.right[i];
  const double rms = std::sqrt(sum / std::max<size_t>(1, 2 * out.left.size()));
  const float gain = rms > 0 ? DbToGain(kSongLoudnessDb) / float(rms) : 1.0f;
  const float knee = 0.6f, room = kSongPeakCeiling - knee;
  const size_t fade = std::min(out.left.size(), static_cast<size_t>(2.5 * kSampleRate));
  for (std::vector<float>* ch : {&out.left, &out.right}) {
    std::vector<float>& x = *ch;
    for (size_t i = 0; i < x.size(); ++i) {
      float v = x[i] * gain;
      const float m = std::fabs(v);
      if (m > knee) v = std::copysign(knee + room * std::tanh((m - knee) / room), v);
      const size_t from_end = x.size() - i;
      if (from_end <= fade) v *= float(from_end - 1) / float(fade);
      x[i] = v;
    }
  }
}

}  // namespace

double BarSeconds(const SongDef& song) { return 4.0 * 60.0 / song.bpm; }

int SongBars(const SongDef& song) {
  int bars = 0;
  for (const Section& s : song.arrangement) bars += s.bars;
  return bars;
}

double SongSeconds(const SongDef& song) { return SongBars(song) * BarSeconds(song) + kSongTailSeconds; }

StereoBuffer RenderSong(const SongDef& song, int max_bars) {
  const Score score = Arrange(song, max_bars);
  const size_t n = static_cast<size_t>(score.seconds * kSampleRate);
  Bus bus(n);
  const Patch* patches[4] = {&song.pad, &song.bass, &song.arp_patch, &song.lead};
  uint64_t k = 0;
  for (const NoteEvent& e : score.notes) RenderNote(*patches[e.slot], e, song.seed * 7777 + ++k, bus);
  RenderDrums(song, score.drums, bus);
  AddReverb(bus.reverb, song.room, bus.left, bus.right);
  AddEcho(bus.echo, BarSeconds(song) * 3.0 / 16.0, bus.left, bus.right);
  StereoBuffer out{std::move(bus.left), std::move(bus.right)};
  Master(out);
  return out;
}

}  // namespace kv::soundgen
