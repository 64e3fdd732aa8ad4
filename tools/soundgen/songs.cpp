// The six stage tracks. Each is its own piece: key, tempo, patterns and
// sounds differ, from the calm moonlit opening to the driving finale.
#include "music.hpp"

namespace kv::soundgen {

namespace {

constexpr std::array<int, 7> kDorian{0, 2, 3, 5, 7, 9, 10};
constexpr std::array<int, 7> kPhrygian{0, 1, 3, 5, 7, 8, 10};
constexpr std::array<int, 7> kMinor{0, 2, 3, 5, 7, 8, 10};
constexpr std::array<int, 7> kHarmonicMinor{0, 2, 3, 5, 7, 8, 11};

constexpr unsigned kAll = kPad | kBass | kArp | kLead | kDrums | kHats;

// Stage 1: calm and moonlit. Slow dorian sevenths, a bell lead, soft drums.
SongDef Moonlit() {
  SongDef s;
  s.file = "ZRK byCorvane.mp3";
  s.bpm = 84;
  s.root = 38;  // D
  s.scale = kDorian;
  s.sevenths = true;
  s.progressions = {{0, 6, 3, 0}, {2, 6, 0, 4}, {3, 3, 0, 0}};
  s.grooves = {
      {.kick = "x.........x.....", .snare = "", .hat = "x.g.x.g.x.g.x.g.", .rim = "........o......."},
      {.kick = "x......x..x.....", .snare = "....o.......o...", .hat = "x.g.x.g.x.g.x.gg",
       .open_hat = "..............g."},
  };
  s.bass_lines = {"x-------5-------", "x-----x-o---5---"};
  s.arp = "0.1.2.3.4.3.2.1.";
  s.lead_rhythms = {"x-------x---x---", "x-----x-x-------", "x---x---x-------", "x-----------x---"};
  s.pad = {.osc = Patch::Osc::Saw, .voices = 3, .detune_cents = 12, .spread = 0.6f, .attack = 0.9f, .decay = 1.0f,
           .sustain = 0.8f, .release = 1.6f, .cutoff = 900, .gain = 0.22f, .reverb = 0.5f};
  s.bass = {.osc = Patch::Osc::Triangle, .attack = 0.02f, .decay = 0.4f, .sustain = 0.6f, .release = 0.3f,
            .cutoff = 600, .gain = 0.55f, .reverb = 0.05f};
  s.arp_patch = {.osc = Patch::Osc::Fm, .attack = 0.003f, .decay = 0.5f, .sustain = 0.0f, .release = 0.4f,
                 .cutoff = 6000, .fm_ratio = 2, .fm_index = 1.2f, .fm_tau = 0.15f, .gain = 0.2f, .pan = 0.3f,
                 .reverb = 0.4f, .echo = 0.35f};
  s.lead = {.osc = Patch::Osc::Fm, .attack = 0.005f, .decay = 1.2f, .sustain = 0.25f, .release = 0.6f,
            .cutoff = 7000, .fm_ratio = 3.5f, .fm_index = 1.8f, .fm_tau = 0.4f, .vib_rate = 5, .vib_depth = 0.12f,
            .gain = 0.3f, .pan = -0.15f, .reverb = 0.45f, .echo = 0.25f};
  s.pad_octave = 12;
  s.arp_octave = 24;
  s.lead_octave = 24;
  s.room = 0.8f;
  s.arrangement = {
      {.bars = 4, .progression = 0, .layers = kPad | kArp, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kPad | kArp | kBass, .energy = 0.7f},
      {.bars = 8, .progression = 0, .layers = kPad | kArp | kBass | kLead | kHats, .melody = 0, .energy = 0.8f},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .crash = true},
      {.bars = 4, .progression = 2, .layers = kPad | kLead, .melody = 2, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .bass = 1, .melody = 0, .fill = true,
       .crash = true},
      {.bars = 8, .progression = 1, .layers = kPad | kArp | kBass, .energy = 0.6f, .fade = true},
  };
  s.seed = 101;
  s.min_seconds = 130;
  return s;
}

// Stage 2: liquid and uneasy. Phrygian, squelching bass, dripping blips.
SongDef Fluids() {
  SongDef s;
  s.file = "MoonlitHarrowRayX byPellaquin.mp3";
  s.bpm = 100;
  s.root = 40;  // E
  s.scale = kPhrygian;
  s.progressions = {{0, 1, 0, 6}, {5, 6, 0, 0}, {3, 1, 3, 1}};
  s.grooves = {
      {.kick = "x.....x...x.....", .snare = "....x.......x...", .hat = "x.x.x.x.x.x.x.x."},
      {.kick = "x..x..x...x..x..", .snare = "....x.......x..g", .hat = "xgxgxgxgxgxgxgxg",
       .clap = "............x..."},
  };
  s.bass_lines = {"x..x..x.x..x.5..", "x-.o.x-.5.x..o.x"};
  s.arp = "0.2.1.3.2.4.3.5.";
  s.lead_rhythms = {"x--x--x-x---x---", "x-x-x---x--.x-x-", "x-----x-x-x-x---", "x---x-x-----x---"};
  s.pad = {.osc = Patch::Osc::Saw, .voices = 2, .detune_cents = 8, .spread = 0.5f, .attack = 0.4f, .decay = 0.8f,
           .sustain = 0.7f, .release = 1.0f, .cutoff = 700, .resonance = 0.5f, .vib_rate = 0.3f,
           .vib_depth = 0.08f, .vib_delay = 0, .gain = 0.2f, .reverb = 0.45f};
  s.bass = {.osc = Patch::Osc::Saw, .attack = 0.005f, .decay = 0.25f, .sustain = 0.5f, .release = 0.1f,
            .cutoff = 300, .env_octaves = 3, .env_tau = 0.12f, .resonance = 0.6f, .sub = 0.5f, .gain = 0.45f,
            .reverb = 0.05f};
  s.arp_patch = {.osc = Patch::Osc::Fm, .attack = 0.002f, .decay = 0.15f, .sustain = 0.0f, .release = 0.1f,
                 .cutoff = 5000, .fm_ratio = 1, .fm_index = 3, .fm_tau = 0.03f, .gain = 0.25f, .pan = 0.4f,
                 .reverb = 0.3f, .echo = 0.4f};
  s.lead = {.osc = Patch::Osc::Square, .pulse_width = 0.3f, .attack = 0.02f, .decay = 0.3f, .sustain = 0.7f,
            .release = 0.2f, .cutoff = 2500, .env_octaves = 1, .vib_rate = 5.5f, .vib_depth = 0.25f,
            .vib_delay = 0.15f, .gain = 0.2f, .pan = -0.2f, .reverb = 0.35f, .echo = 0.2f};
  s.pad_octave = 12;
  s.arp_octave = 24;
  s.lead_octave = 24;
  s.swing = 0.12f;
  s.room = 0.6f;
  s.arrangement = {
      {.bars = 4, .progression = 0, .layers = kPad | kBass, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kPad | kBass | kArp | kHats, .energy = 0.8f},
      {.bars = 8, .progression = 0, .layers = kAll, .melody = 0, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .fill = true},
      {.bars = 4, .progression = 2, .layers = kPad | kArp | kLead, .melody = 2, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .fill = true},
      {.bars = 8, .progression = 0, .layers = kPad | kArp | kBass, .energy = 0.6f, .fade = true},
  };
  s.seed = 202;
  s.min_seconds = 130;
  return s;
}

// Stage 3: stately and old. Harmonic minor, organ, brass lead, half time.
SongDef Lineage() {
  SongDef s;
  s.file = "VESPER-X byCorvane.mp3";
  s.bpm = 112;
  s.root = 33;  // A
  s.scale = kHarmonicMinor;
  s.progressions = {{0, 5, 3, 4}, {5, 3, 0, 4}, {3, 4, 0, 0}};
  s.grooves = {
      {.kick = "x.......x.x.....", .snare = "........x.......", .hat = "x.x.x.x.x.x.x.x.",
       .tom = "..............oo"},
      {.kick = "x..x....x.x..x..", .snare = "....x.......x...", .hat = "x.xgx.x.x.xgx.x.",
       .open_hat = "..............x."},
  };
  s.bass_lines = {"x.o.x.o.x.o.x.o.", "x---x---5---x-o-"};
  s.arp = "0.1.2.3.4.5.4.3.";
  s.lead_rhythms = {"x-----x-x---x---", "x---x---x-------", "x--x--x-x-------", "x-------x-x-x-x-"};
  s.pad = {.osc = Patch::Osc::Organ, .voices = 2, .detune_cents = 6, .spread = 0.5f, .attack = 0.08f,
           .decay = 0.3f, .sustain = 0.85f, .release = 0.5f, .cutoff = 3000, .gain = 0.17f, .reverb = 0.5f};
  s.bass = {.osc = Patch::Osc::Saw, .voices = 2, .detune_cents = 10, .attack = 0.005f, .decay = 0.3f,
            .sustain = 0.7f, .release = 0.1f, .cutoff = 500, .env_octaves = 1.5f, .env_tau = 0.15f, .sub = 0.6f,
            .gain = 0.4f, .reverb = 0.05f};
  s.arp_patch = {.osc = Patch::Osc::Square, .attack = 0.001f, .decay = 0.25f, .sustain = 0.0f, .release = 0.1f,
                 .cutoff = 1500, .env_octaves = 2.5f, .env_tau = 0.06f, .gain = 0.15f, .pan = 0.35f,
                 .reverb = 0.3f, .echo = 0.15f};
  s.lead = {.osc = Patch::Osc::Saw, .voices = 3, .detune_cents = 9, .spread = 0.3f, .attack = 0.06f,
            .decay = 0.4f, .sustain = 0.8f, .release = 0.25f, .cutoff = 900, .env_octaves = 2, .env_tau = 0.35f,
            .vib_rate = 5, .vib_depth = 0.15f, .vib_delay = 0.3f, .gain = 0.26f, .reverb = 0.4f};
  s.pad_octave = 24;
  s.arp_octave = 36;
  s.lead_octave = 36;
  s.room = 0.85f;
  s.arrangement = {
      {.bars = 4, .progression = 2, .layers = kPad | kBass, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kPad | kBass | kArp, .energy = 0.7f},
      {.bars = 8, .progression = 0, .layers = kAll, .melody = 0, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .bass = 1, .melody = 1, .fill = true},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .crash = true},
      {.bars = 4, .progression = 2, .layers = kPad | kLead, .melody = 2, .energy = 0.6f},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .crash = true},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .fill = true},
      {.bars = 8, .progression = 0, .layers = kPad | kArp | kBass, .energy = 0.6f, .fade = true},
  };
  s.seed = 303;
  s.min_seconds = 130;
  return s;
}

// Stage 4: a castle ballroom. Harpsichord figures, walking bass, a flute.
SongDef Castle() {
  SongDef s;
  s.file = "QWTN-reload-byPellaquim.mp3";
  s.bpm = 124;
  s.root = 37;  // C#
  s.scale = kHarmonicMinor;
  s.progressions = {{0, 3, 1, 4, 0, 5, 3, 4}, {5, 3, 4, 0}, {0, 0, 3, 3}};
  s.grooves = {
      {.kick = "x.......x.......", .snare = "....x..g....x.gg", .hat = "x.x.x.x.x.x.x.x."},
      {.kick = "x..x....x..x....", .snare = "....x.......x.x.", .hat = "xgxgxgxgxgxgxgxg",
       .rim = "..x.......x....."},
  };
  s.bass_lines = {"x.5.o.5.x.3.5.7.", "x-x-o-o-5-5-o-x-"};
  s.arp = "0212021202120212";
  s.lead_rhythms = {"x-x-x---x-x-x---", "x--xx-x-x---x---", "x---x-x-x-x-x---", "x-xxx---x-------"};
  s.pad = {.osc = Patch::Osc::Saw, .voices = 3, .detune_cents = 10, .spread = 0.7f, .attack = 0.25f,
           .decay = 0.5f, .sustain = 0.8f, .release = 0.6f, .cutoff = 1800, .gain = 0.14f, .reverb = 0.5f};
  s.bass = {.osc = Patch::Osc::Square, .pulse_width = 0.4f, .attack = 0.002f, .decay = 0.3f, .sustain = 0.3f,
            .release = 0.1f, .cutoff = 700, .env_octaves = 2, .env_tau = 0.08f, .sub = 0.4f, .gain = 0.38f,
            .reverb = 0.1f};
  s.arp_patch = {.osc = Patch::Osc::Saw, .voices = 2, .detune_cents = 4, .spread = 0.5f, .attack = 0.001f,
                 .decay = 0.35f, .sustain = 0.0f, .release = 0.15f, .cutoff = 1800, .env_octaves = 3,
                 .env_tau = 0.05f, .resonance = 0.2f, .gain = 0.17f, .reverb = 0.35f};
  s.lead = {.osc = Patch::Osc::Triangle, .attack = 0.04f, .decay = 0.2f, .sustain = 0.85f, .release = 0.15f,
            .cutoff = 5000, .vib_rate = 5.5f, .vib_depth = 0.2f, .vib_delay = 0.2f, .gain = 0.32f, .pan = -0.2f,
            .reverb = 0.45f, .echo = 0.2f};
  s.pad_octave = 24;
  s.arp_octave = 36;
  s.lead_octave = 36;
  s.room = 0.75f;
  s.arrangement = {
      {.bars = 4, .progression = 2, .layers = kPad | kArp, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kPad | kArp | kBass, .energy = 0.7f},
      {.bars = 8, .progression = 0, .layers = kAll, .melody = 0, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .fill = true},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .crash = true},
      {.bars = 4, .progression = 2, .layers = kPad | kArp | kLead, .melody = 2, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kAll, .melody = 1, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 0},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .fill = true},
      {.bars = 8, .progression = 2, .layers = kPad | kArp | kBass, .energy = 0.6f, .fade = true},
  };
  s.seed = 404;
  s.min_seconds = 130;
  return s;
}

// Stage 5: running through embers. Breakbeat, acid bass, minor stabs.
SongDef Cinder() {
  SongDef s;
  s.file = "CinderRunners X byCorvane.mp3";
  s.bpm = 138;
  s.root = 29;  // F
  s.scale = kMinor;
  s.progressions = {{0, 0, 5, 6}, {3, 5, 6, 0}, {0, 3, 0, 4}};
  s.grooves = {
      {.kick = "x.x.......x.....", .snare = "....x..g.g..x..g", .hat = "x.x.x.x.x.x.x.x.",
       .open_hat = "..............x."},
      {.kick = "x.x...x...xx....", .snare = "....x.g.....x.gx", .hat = "xgxxxgxxxgxxxgxx",
       .clap = "....x.......x..."},
  };
  s.bass_lines = {"x.xox.x5x.xox.7o", "xxo.xx5.xxo.x7o."};
  s.arp = "0.2.4.2.1.3.5.3.";
  s.lead_rhythms = {"x-x-x-x-x---x-x-", "x--x--x-x-x-x---", "x-----x-x-x-x-x-", "x-x---x---x-x---"};
  s.pad = {.osc = Patch::Osc::Saw, .voices = 2, .detune_cents = 14, .spread = 0.6f, .attack = 0.02f,
           .decay = 0.4f, .sustain = 0.5f, .release = 0.3f, .cutoff = 1400, .resonance = 0.3f, .gain = 0.17f,
           .reverb = 0.35f};
  s.bass = {.osc = Patch::Osc::Saw, .attack = 0.002f, .decay = 0.2f, .sustain = 0.4f, .release = 0.05f,
            .cutoff = 250, .env_octaves = 4, .env_tau = 0.09f, .resonance = 0.8f, .sub = 0.3f, .gain = 0.35f,
            .reverb = 0.05f, .legato = 0.8f};
  s.arp_patch = {.osc = Patch::Osc::Square, .pulse_width = 0.25f, .attack = 0.001f, .decay = 0.1f,
                 .sustain = 0.2f, .release = 0.05f, .cutoff = 3000, .env_octaves = 1, .env_tau = 0.05f,
                 .gain = 0.12f, .pan = 0.4f, .reverb = 0.2f, .echo = 0.3f};
  s.lead = {.osc = Patch::Osc::Saw, .voices = 3, .detune_cents = 15, .spread = 0.4f, .attack = 0.01f,
            .decay = 0.3f, .sustain = 0.7f, .release = 0.15f, .cutoff = 2500, .env_octaves = 1.5f,
            .env_tau = 0.2f, .resonance = 0.2f, .vib_rate = 6, .vib_depth = 0.15f, .gain = 0.2f,
            .reverb = 0.3f, .echo = 0.2f};
  s.pad_octave = 24;
  s.arp_octave = 36;
  s.lead_octave = 36;
  s.room = 0.5f;
  s.arrangement = {
      {.bars = 4, .progression = 0, .layers = kBass | kHats, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kBass | kDrums | kHats | kArp, .energy = 0.8f},
      {.bars = 8, .progression = 0, .layers = kAll, .melody = 0, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .fill = true},
      {.bars = 8, .progression = 2, .layers = kPad | kBass | kDrums | kHats | kArp, .energy = 0.9f},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .crash = true},
      {.bars = 4, .progression = 2, .layers = kPad | kLead, .melody = 2, .energy = 0.6f},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .crash = true},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .fill = true},
      {.bars = 8, .progression = 2, .layers = kAll, .bass = 1, .melody = 2, .crash = true},
      {.bars = 8, .progression = 0, .layers = kPad | kBass | kArp, .energy = 0.6f, .fade = true},
  };
  s.seed = 505;
  s.min_seconds = 130;
  return s;
}

// Final stage: driving. Four on the floor, rolling bass, wide saw lead.
SongDef Finale() {
  SongDef s;
  s.file = "harmovienX byCorvane featHalvek.mp3";
  s.bpm = 150;
  s.root = 35;  // B
  s.scale = kMinor;
  s.progressions = {{0, 5, 2, 6}, {5, 6, 0, 0}, {3, 4, 5, 6}};
  s.grooves = {
      {.kick = "x...x...x...x...", .snare = "....x.......x...", .hat = "..x...x...x...x."},
      {.kick = "x...x...x...x...", .snare = "....x.......x..g", .hat = "xgxgxgxgxgxgxgxg",
       .open_hat = "..x...x...x...x.", .clap = "....x.......x..."},
      {.kick = "x...x...x...x...", .snare = "x.x.x.x.x.x.xxxx", .hat = "x.x.x.x.x.x.x.x."},
  };
  s.bass_lines = {".xox.xox.xox.xox", ".x.x.x.x.o.o.5.5"};
  s.arp = "0123432101234321";
  s.lead_rhythms = {"x-x-x-x-x-x-x---", "x---x-x-x---x-x-", "x-x---x-x-x---x-", "x-----x-x-x-x-x-"};
  s.pad = {.osc = Patch::Osc::Saw, .voices = 5, .detune_cents = 20, .spread = 0.8f, .attack = 0.05f,
           .decay = 0.5f, .sustain = 0.8f, .release = 0.4f, .cutoff = 2500, .gain = 0.14f, .reverb = 0.4f};
  s.bass = {.osc = Patch::Osc::Saw, .voices = 2, .detune_cents = 6, .attack = 0.002f, .decay = 0.12f,
            .sustain = 0.3f, .release = 0.04f, .cutoff = 400, .env_octaves = 2.5f, .env_tau = 0.07f,
            .resonance = 0.4f, .sub = 0.5f, .gain = 0.38f, .reverb = 0.03f, .legato = 0.8f};
  s.arp_patch = {.osc = Patch::Osc::Saw, .attack = 0.001f, .decay = 0.12f, .sustain = 0.0f, .release = 0.08f,
                 .cutoff = 2000, .env_octaves = 2.5f, .env_tau = 0.06f, .gain = 0.13f, .pan = 0.35f,
                 .reverb = 0.25f, .echo = 0.3f};
  s.lead = {.osc = Patch::Osc::Saw, .voices = 5, .detune_cents = 18, .spread = 0.5f, .attack = 0.005f,
            .decay = 0.4f, .sustain = 0.75f, .release = 0.2f, .cutoff = 3500, .env_octaves = 1, .env_tau = 0.3f,
            .vib_rate = 6, .vib_depth = 0.12f, .gain = 0.2f, .reverb = 0.35f, .echo = 0.2f};
  s.pad_octave = 24;
  s.arp_octave = 36;
  s.lead_octave = 36;
  s.room = 0.6f;
  s.arrangement = {
      {.bars = 8, .progression = 0, .layers = kPad | kArp | kHats, .energy = 0.6f},
      {.bars = 8, .progression = 0, .layers = kBass | kDrums | kHats | kArp, .energy = 0.8f, .crash = true},
      {.bars = 8, .progression = 0, .layers = kAll, .melody = 0, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .fill = true},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .crash = true},
      {.bars = 4, .progression = 2, .layers = kPad | kArp | kLead, .melody = 2, .energy = 0.6f},
      {.bars = 4, .progression = 2, .layers = kPad | kArp | kBass | kDrums, .groove = 2, .energy = 0.8f,
       .fill = true},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 1, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 0},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 2, .crash = true},
      {.bars = 8, .progression = 1, .layers = kAll, .groove = 1, .bass = 1, .melody = 1, .fill = true},
      {.bars = 8, .progression = 2, .layers = kAll, .groove = 1, .melody = 2, .crash = true},
      {.bars = 8, .progression = 0, .layers = kAll, .groove = 1, .melody = 0, .crash = true},
      {.bars = 8, .progression = 0, .layers = kPad | kArp | kBass | kDrums, .energy = 0.7f, .fade = true},
  };
  s.seed = 606;
  s.min_seconds = 160;
  return s;
}

}  // namespace

std::vector<SongDef> StageSongs() { return {Moonlit(), Fluids(), Lineage(), Castle(), Cinder(), Finale()}; }

}  // namespace kv::soundgen
