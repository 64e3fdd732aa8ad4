// A small tracker: songs are chord progressions, drum and bass patterns,
// an arpeggio figure and a generated lead, arranged into sections and
// rendered with the oscillators of dsp.hpp into 44.1 kHz stereo.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::soundgen {

struct Patch {
  enum class Osc { Saw, Square, Triangle, Sine, Fm, Organ };
  Osc osc = Osc::Saw;
  int voices = 1;           // unison copies
  float detune_cents = 0;   // spread of the unison copies
  float spread = 0;         // stereo spread of the unison copies, 0..1
  float pulse_width = 0.5f;
  float attack = 0.005f, decay = 0.2f, sustain = 0.7f, release = 0.2f;
  float cutoff = 8000;      // low-pass, Hz
  float env_octaves = 0;    // filter envelope depth, octaves above cutoff
  float env_tau = 0.2f;     // filter envelope decay, s
  float resonance = 0.1f;
  float fm_ratio = 2, fm_index = 0, fm_tau = 0.3f;
  float vib_rate = 0, vib_depth = 0, vib_delay = 0.25f;  // depth in semitones
  float sub = 0;            // sine one octave below
  float gain = 1;
  float pan = 0;            // -1 left .. 1 right
  float reverb = 0.2f;      // send levels
  float echo = 0;
  float legato = 0.9f;      // share of the step gap a note is held
};

// Drum lanes, one character per sixteenth: 'x' full, 'o' medium, 'g' ghost,
// '.' silent. A lane may cover several bars; it loops.
struct Groove {
  std::string kick{}, snare{}, hat{}, open_hat{}, clap{}, rim{}, tom{};
};

enum Layer : unsigned { kPad = 1, kBass = 2, kArp = 4, kLead = 8, kDrums = 16, kHats = 32 };

struct Section {
  int bars = 8;
  int progression = 0;
  unsigned layers = 0;
  int groove = 0;
  int bass = 0;
  int melody = 0;       // which generated lead line (same number, same tune)
  float energy = 1.0f;  // opens filters and raises drum velocity
  bool fill = false;    // snare roll in the last bar
  bool crash = false;   // cymbal on the first beat
  bool fade = false;    // fades out over the section
};

struct SongDef {
  std::string file;
  double bpm = 120;
  int root = 40;                      // MIDI note of the bass register's tonic
  std::array<int, 7> scale{0, 2, 3, 5, 7, 8, 10};
  std::vector<std::vector<int>> progressions;  // scale degrees (0-based), one per bar
  bool sevenths = false;
  std::vector<Groove> grooves;
  // Bass lines per bar: 'x' root, 'o' octave, '5' fifth, '3' third,
  // '7' seventh, '-' hold, '.' rest.
  std::vector<std::string> bass_lines;
  // Arpeggio: digits pick chord tones counted upward over two octaves,
  // '-' holds, '.' rests.
  std::string arp;
  // Lead rhythms, one bar each: 'x' new note, '-' hold, '.' rest.
  std::vector<std::string> lead_rhythms;
  Patch pad, bass, arp_patch, lead;
  int pad_octave = 12, arp_octave = 24, lead_octave = 24;
  float swing = 0;        // delay of odd sixteenths, share of a step
  float room = 0.5f;      // reverb size 0..1
  std::vector<Section> arrangement;
  uint64_t seed = 1;
  double min_seconds = 130;
};

struct StereoBuffer {
  std::vector<float> left, right;
};

// The six stage tracks in stage order.
std::vector<SongDef> StageSongs();

double BarSeconds(const SongDef& song);
int SongBars(const SongDef& song);
// Length of the finished track: the arrangement plus the closing ring-out.
double SongSeconds(const SongDef& song);

// Renders the whole song, or only its first `max_bars` bars when that is
// above zero. The result is balanced to a common loudness and peaks
// below full scale.
StereoBuffer RenderSong(const SongDef& song, int max_bars = 0);

inline constexpr double kSongTailSeconds = 3.0;
inline constexpr float kSongPeakCeiling = 0.9f;
inline constexpr float kSongLoudnessDb = -17.0f;  // RMS over the track

}  // namespace kv::soundgen
