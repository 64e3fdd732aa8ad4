// Checks of the generated sounds as the game and the player meet them: the
// files the game names exist and decode, nothing clips, no effect drowns the
// others, rapid-fire sounds stay short, output is reproducible, and the
// stage tracks are valid MP3 streams of the promised length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dsp.hpp"
#include "effects.hpp"
#include "generate.hpp"
#include "mp3.hpp"
#include "music.hpp"
#include "wav.hpp"

namespace fs = std::filesystem;
using namespace kv::soundgen;

namespace {

// Every effect file the game plays, as the game spells it.
const std::vector<std::string> kGameEffects = {
    "1.wav",       "2.wav",       "3.wav",       "mes.wav",     "katan.wav",   "up.wav",
    "moji.wav",    "stage.wav",   "警告音.wav",  "tama.wav",    "bom.wav",     "bom3.wav",
    "baria.wav",   "combo5.wav",  "combo6.wav",  "chain01.wav", "chain02.wav", "chain03.wav",
    "chain04.wav", "chain05.wav", "chain06.wav", "chain_x.wav", "target.wav",  "enemy_cut.wav",
    "enemy_down.wav", "hp_down.wav", "item.wav", "item_get.wav", "point.wav",  "lvup.wav",
    "boss.wav",    "gameover.wav"};

// Sounds that can repeat every frame or two.
const std::vector<std::string> kRapidEffects = {"tama.wav", "enemy_cut.wav", "moji.wav", "target.wav"};
const std::vector<std::string> kBlasts = {"bom.wav", "bom3.wav", "boss.wav", "hp_down.wav", "enemy_down.wav"};

const std::vector<std::string> kStageTracks = {
    "ZRK byCorvane.mp3",           "MoonlitHarrowRayX byPellaquin.mp3", "VESPER-X byCorvane.mp3",
    "QWTN-reload-byPellaquim.mp3", "CinderRunners X byCorvane.mp3",     "harmovienX byCorvane featHalvek.mp3"};

std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

struct Wav {
  bool ok = false;
  std::string error;
  int channels = 0, rate = 0, bits = 0;
  std::vector<float> mono;  // first channel, -1..1
  double Seconds() const { return rate ? double(mono.size()) / rate : 0; }
};

// A strict reader: RIFF size, a PCM fmt chunk and a data chunk that fits.
Wav ParseWav(const std::vector<uint8_t>& b) {
  Wav w;
  if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) {
    w.error = "not RIFF/WAVE";
    return w;
  }
  if (Le32(b, 4) + 8 != b.size()) {
    w.error = "RIFF size does not match the file";
    return w;
  }
  bool have_fmt = false;
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = Le32(b, at + 4);
    const size_t body = at + 8;
    if (body + size > b.size()) {
      w.error = "chunk runs past the end";
      return w;
    }
    if (!std::memcmp(b.data() + at, "fmt ", 4)) {
      if (size < 16 || Le16(b, body) != 1) {
        w.error = "not PCM";
        return w;
      }
      w.channels = Le16(b, body + 2);
      w.rate = int(Le32(b, body + 4));
      w.bits = Le16(b, body + 14);
      const uint16_t align = Le16(b, body + 12);
      if (align != w.channels * w.bits / 8 || Le32(b, body + 8) != uint32_t(w.rate) * align) {
        w.error = "inconsistent block align or byte rate";
        return w;
      }
      have_fmt = true;
    } else if (!std::memcmp(b.data() + at, "data", 4)) {
      if (!have_fmt || w.bits != 16 || w.channels < 1) {
        w.error = "data before a 16-bit fmt chunk";
        return w;
      }
      const size_t frames = size / (2 * size_t(w.channels));
      for (size_t i = 0; i < frames; ++i)
        w.mono.push_back(int16_t(Le16(b, body + i * 2 * size_t(w.channels))) / 32768.0f);
      w.ok = true;
      return w;
    }
    at = body + size + (size & 1);
  }
  w.error = "no data chunk";
  return w;
}

float PeakOf(const std::vector<float>& x) {
  float p = 0;
  for (float v : x) p = std::max(p, std::fabs(v));
  return p;
}

// RMS of the loudest 50 ms, in dB below full scale.
double LoudnessDb(const std::vector<float>& x) {
  const size_t w = std::min<size_t>(x.size(), 44100 / 20);
  double best = 0;
  for (size_t start = 0; start + w <= x.size(); start += 64) {
    double sum = 0;
    for (size_t i = start; i < start + w; ++i) sum += double(x[i]) * x[i];
    best = std::max(best, sum / w);
  }
  return 10 * std::log10(std::max(best, 1e-12));
}

// Fundamental by autocorrelation, searched between 150 Hz and 3 kHz.
double PitchHz(const std::vector<float>& x, size_t from, size_t len) {
  const int min_lag = 44100 / 3000, max_lag = 44100 / 150;
  std::vector<double> r(size_t(max_lag) + 1);
  for (int lag = min_lag; lag <= max_lag; ++lag) {
    double s = 0;
    for (size_t i = from; i + size_t(lag) < from + len && i + size_t(lag) < x.size(); ++i) s += double(x[i]) * x[i + lag];
    r[size_t(lag)] = s;
  }
  const double top = *std::max_element(r.begin(), r.end());
  // The first lag that comes close to the strongest one is the period.
  for (int lag = min_lag + 1; lag < max_lag; ++lag)
    if (r[size_t(lag)] >= 0.9 * top && r[size_t(lag)] >= r[size_t(lag) - 1] && r[size_t(lag)] >= r[size_t(lag) + 1])
      return 44100.0 / lag;
  return 0;
}

struct Mp3Stream {
  bool ok = false;
  std::string error;
  int frames = 0;  // audio frames, the Info frame not counted
  bool info_frame = false;
  int rate = 0, kbps = 0;
  bool stereo = false;
  double Seconds() const { return rate ? frames * 1152.0 / rate : 0; }
};

// Walks MPEG-1 Layer III frame headers from the first byte to the last.
Mp3Stream ParseMp3(const std::vector<uint8_t>& b) {
  static constexpr int kBitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr int kRates[4] = {44100, 48000, 32000, 0};
  Mp3Stream s;
  size_t at = 0;
  int index = 0;
  while (at < b.size()) {
    if (at + 4 > b.size() || b[at] != 0xFF || (b[at + 1] & 0xFE) != 0xFA) {
      s.error = "lost frame sync at byte " + std::to_string(at);
      return s;
    }
    const int kbps = kBitrates[b[at + 2] >> 4];
    const int rate = kRates[(b[at + 2] >> 2) & 3];
    const int padding = (b[at + 2] >> 1) & 1;
    if (kbps == 0 || rate == 0) {
      s.error = "bad bitrate or sample rate";
      return s;
    }
    if (index == 0) {
      s.rate = rate;
      s.kbps = kbps;
      s.stereo = (b[at + 3] >> 6) != 3;
    } else if (rate != s.rate || kbps != s.kbps) {
      s.error = "frame parameters change mid-stream";
      return s;
    }
    const size_t size = size_t(144 * kbps * 1000 / rate + padding);
    if (at + size > b.size()) {
      s.error = "truncated last frame";
      return s;
    }
    const bool tagged = index == 0 && (std::search(b.begin() + long(at), b.begin() + long(at + size),
                                                   std::begin("Info"), std::end("Info") - 1) !=
                                       b.begin() + long(at + size));
    if (tagged)
      s.info_frame = true;
    else
      ++s.frames;
    at += size;
    ++index;
  }
  s.ok = index > 0;
  return s;
}

class EffectFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(fs::temp_directory_path() / ("kv-soundgen-test-" + std::to_string(::getpid())));
    fs::remove_all(*dir_);
    written_ = WriteEffects(*dir_);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
  }
  static Wav Load(const std::string& name) { return ParseWav(ReadFile(*dir_ / name)); }
  static fs::path* dir_;
  static int written_;
};
fs::path* EffectFiles::dir_ = nullptr;
int EffectFiles::written_ = 0;

}  // namespace

TEST_F(EffectFiles, EveryEffectTheGameNamesIsAValidPcmWave) {
  EXPECT_EQ(written_, int(kGameEffects.size()));
  for (const std::string& name : kGameEffects) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(*dir_ / name));
    const Wav w = Load(name);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.rate, 44100);
    EXPECT_EQ(w.bits, 16);
    EXPECT_GE(w.Seconds(), 0.02);
    EXPECT_LE(w.Seconds(), 3.5);
  }
  // Only finished files are left behind: no temporaries, no strays.
  std::set<std::string> present;
  for (const auto& entry : fs::directory_iterator(*dir_)) present.insert(entry.path().filename().string());
  EXPECT_EQ(present, std::set<std::string>(kGameEffects.begin(), kGameEffects.end()));
}

TEST_F(EffectFiles, NothingClipsAndNothingIsSilent) {
  for (const std::string& name : kGameEffects) {
    SCOPED_TRACE(name);
    const Wav w = Load(name);
    ASSERT_TRUE(w.ok);
    const float peak = PeakOf(w.mono);
    EXPECT_LT(peak, 0.95f);
    EXPECT_GT(peak, 0.1f);
  }
}

TEST_F(EffectFiles, LoudnessIsBalanced) {
  std::map<std::string, double> loud;
  for (const std::string& name : kGameEffects) loud[name] = LoudnessDb(Load(name).mono);
  double lo = 0, hi = -100;
  for (const auto& [name, db] : loud) {
    SCOPED_TRACE(name);
    EXPECT_GE(db, -26.0);
    EXPECT_LE(db, -8.0);
    lo = std::min(lo, db);
    hi = std::max(hi, db);
  }
  EXPECT_LE(hi - lo, 14.0) << "quietest and loudest effects too far apart";
  // Rapid-fire sounds must sit under the blasts, or firing would bury them.
  for (const std::string& rapid : kRapidEffects)
    for (const std::string& blast : kBlasts) EXPECT_LT(loud[rapid] + 3.0, loud[blast]) << rapid << " vs " << blast;
}

TEST_F(EffectFiles, ShotsAndTicksAreShort) {
  for (const std::string& name : kRapidEffects) {
    SCOPED_TRACE(name);
    EXPECT_LT(Load(name).Seconds(), 0.15);
  }
  // Explosions and the warning are meant to carry.
  EXPECT_GT(Load("boss.wav").Seconds(), 1.0);
  EXPECT_GT(Load("警告音.wav").Seconds(), 1.0);
}

TEST_F(EffectFiles, ChainSoundsRiseStepByStep) {
  double previous = 0;
  for (int n = 1; n <= 6; ++n) {
    const std::string name = "chain0" + std::to_string(n) + ".wav";
    SCOPED_TRACE(name);
    const Wav w = Load(name);
    // The held second note of each chain sound.
    const double hz = PitchHz(w.mono, size_t(0.09 * 44100), size_t(0.06 * 44100));
    EXPECT_GT(hz, previous * 1.05);
    previous = hz;
  }
}

TEST(EffectSynthesis, SameBytesEveryRun) {
  for (const char* name : {"tama.wav", "bom.wav", "警告音.wav", "chain_x.wav"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> a = EffectWav(name), b = EffectWav(name);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);
  }
}

TEST(EffectSynthesis, CatalogueMatchesTheGameAndUnknownNamesGiveNothing) {
  std::vector<std::string> names;
  for (const EffectInfo& e : EffectCatalogue()) names.push_back(e.name);
  std::vector<std::string> want = kGameEffects;
  std::sort(names.begin(), names.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(names, want);
  EXPECT_TRUE(RenderEffect("nosuch.wav").empty());
  EXPECT_TRUE(RenderEffect("").empty());
}

TEST(WavEncoding, HeaderDescribesTheSamples) {
  const std::vector<int16_t> stereo = {1, -1, 32767, -32768, 0, 5};
  const Wav w = ParseWav(EncodeWav(stereo, 2, 22050));
  ASSERT_TRUE(w.ok) << w.error;
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.rate, 22050);
  ASSERT_EQ(w.mono.size(), 3u);
  EXPECT_FLOAT_EQ(w.mono[1], 32767 / 32768.0f);
  EXPECT_FLOAT_EQ(w.mono[0], 1 / 32768.0f);
  // An empty sound is still a well-formed file.
  EXPECT_TRUE(ParseWav(EncodeWav({}, 1, 44100)).ok);
}

TEST(Loudness, NormalisingRespectsTheCeilingAndTheTarget) {
  std::vector<float> spike(4410, 0.0f);
  spike[100] = 0.5f;  // one sharp click: the ceiling wins over the target
  NormaliseEffect(spike, -10.0f, 0.89f);
  EXPECT_NEAR(Peak(spike), 0.89f, 1e-4f);
  std::vector<float> tone(44100);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.01f * std::sin(float(i) * 0.05f);
  NormaliseEffect(tone, -20.0f, 0.89f);
  EXPECT_NEAR(GainToDb(LoudestWindowRms(tone, 2205)), -20.0f, 0.2f);
  EXPECT_LT(Peak(tone), 0.89f);
}

TEST(Mp3Encoding, ShortInputGivesAValidStreamOfTheRightLength) {
  const size_t n = 44100 * 3 + 500;  // not a whole number of frames
  std::vector<float> l(n), r(n);
  for (size_t i = 0; i < n; ++i) {
    l[i] = 0.5f * std::sin(2 * 3.14159265f * 440.0f * float(i) / 44100);
    r[i] = 0.5f * std::sin(2 * 3.14159265f * 660.0f * float(i) / 44100);
  }
  const std::vector<uint8_t> mp3 = EncodeMp3(l, r, 44100, 112);
  const Mp3Stream s = ParseMp3(mp3);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_TRUE(s.info_frame);
  EXPECT_EQ(s.rate, 44100);
  EXPECT_EQ(s.kbps, 112);
  EXPECT_TRUE(s.stereo);
  // The encoder adds its own delay and padding: at most a few frames.
  const int exact = int(n / 1152);
  EXPECT_GE(s.frames, exact);
  EXPECT_LE(s.frames, exact + 3);
  EXPECT_EQ(EncodeMp3(l, r, 44100, 112), mp3) << "encoding is not reproducible";
}

TEST(Mp3Encoding, RejectsMismatchedChannels) {
  EXPECT_THROW(EncodeMp3(std::vector<float>(10), std::vector<float>(11), 44100), std::runtime_error);
}

TEST(Mp3Encoding, SilenceAndFullScaleInputStillEncode) {
  const Mp3Stream quiet = ParseMp3(EncodeMp3(std::vector<float>(44100), std::vector<float>(44100), 44100));
  EXPECT_TRUE(quiet.ok) << quiet.error;
  std::vector<float> loud(44100);
  for (size_t i = 0; i < loud.size(); ++i) loud[i] = (i / 50) % 2 ? 1.5f : -1.5f;  // over range: clamped
  const Mp3Stream hot = ParseMp3(EncodeMp3(loud, loud, 44100));
  EXPECT_TRUE(hot.ok) << hot.error;
}

TEST(StageSongs, SixTracksInStageOrderLongEnough) {
  const std::vector<SongDef> songs = StageSongs();
  ASSERT_EQ(songs.size(), kStageTracks.size());
  for (size_t i = 0; i < songs.size(); ++i) {
    SCOPED_TRACE(songs[i].file);
    EXPECT_EQ(songs[i].file, kStageTracks[i]);
    EXPECT_GE(SongSeconds(songs[i]), i == 5 ? 160.0 : 130.0);
    EXPECT_LE(SongSeconds(songs[i]), 240.0);
  }
  // Calm first stage, driving last one, and every song its own tempo.
  std::set<double> tempos;
  for (const SongDef& s : songs) {
    tempos.insert(s.bpm);
    EXPECT_GT(songs.back().bpm, s.bpm - 1e-9 + (&s == &songs.back() ? -1 : 0));
    EXPECT_LE(songs.front().bpm, s.bpm);
  }
  EXPECT_EQ(tempos.size(), songs.size());
}

TEST(StageSongs, OpeningBarsAreStereoUnclippedAndReproducible) {
  for (const SongDef& song : StageSongs()) {
    SCOPED_TRACE(song.file);
    // Skip the intro: take the first bars where the full band plays.
    SongDef busy = song;
    busy.arrangement.erase(busy.arrangement.begin(), busy.arrangement.begin() + 2);
    const StereoBuffer a = RenderSong(busy, 2);
    ASSERT_EQ(a.left.size(), a.right.size());
    EXPECT_NEAR(double(a.left.size()) / kSampleRate, 2 * BarSeconds(song) + kSongTailSeconds, 0.01);
    EXPECT_LE(std::max(PeakOf(a.left), PeakOf(a.right)), kSongPeakCeiling + 1e-4f);
    EXPECT_GT(PeakOf(a.left), 0.1f);
    EXPECT_NE(a.left, a.right) << "no stereo image";
    const StereoBuffer b = RenderSong(busy, 2);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
  }
}

TEST(BuiltGameFolder, StageTracksAreValidMp3OfFullLength) {
  const fs::path dat = fs::path(KV_GAME_DIR) / "dat";
  for (size_t i = 0; i < kStageTracks.size(); ++i) {
    SCOPED_TRACE(kStageTracks[i]);
    const std::vector<uint8_t> bytes = ReadFile(dat / kStageTracks[i]);
    ASSERT_FALSE(bytes.empty()) << "missing from " << dat;
    const Mp3Stream s = ParseMp3(bytes);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.rate, 44100);
    EXPECT_TRUE(s.stereo);
    EXPECT_GE(s.Seconds(), i == 5 ? 160.0 : 130.0);
  }
  for (const std::string& name : kGameEffects) EXPECT_TRUE(fs::exists(dat / name)) << name;
}
