#include "video.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/audio.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/picture_file.h"
#include "platform/video/media_encoder.h"
#include "platform/video/sound_mixer.h"
#include "shell/form.h"
#include "shell/replay_play.h"
#include "state/game.h"

namespace {

constexpr int kFps = 25;
constexpr int kRate = 48000;
constexpr int kSamplesPerFrame = kRate / kFps;
// --web: what a served video may spend a second. At 500 kbit/s a six-stage
// run is about 45 MB (240 MB at constant quality), its pictures about 37 dB
// from the game's (41 dB at constant quality).
constexpr int kWebVideoKbps = 500;
constexpr int kWebSoundKbps = 64;

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

// Catches Ctrl-C and a stop while it lives, so the half-made file goes.
class StopSignals {
 public:
  StopSignals() {
    struct sigaction sa = {};
    sa.sa_handler = OnStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_int_);
    sigaction(SIGTERM, &sa, &old_term_);
    sigaction(SIGHUP, &sa, &old_hup_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    sigaction(SIGHUP, &old_hup_, nullptr);
  }

 private:
  struct sigaction old_int_ = {}, old_term_ = {}, old_hup_ = {};
};

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::string PlayTime(int frames) {
  const int s = frames / kFps;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d", s / 60, s % 60);
  return buf;
}

// A replay ready to play with pictures, its sound going to `audio`.
struct Loaded {
  std::unique_ptr<VirtualClock> clock;
  std::unique_ptr<ReplayPlayback> playback;
  std::unique_ptr<Canvas> screen;
};

bool Load(const std::string& game_dir, const std::string& path, Audio* audio, Loaded& out) {
  auto bytes = ReadWholeFile(path);
  if (!bytes) {
    std::fprintf(stderr, "kv-sim: cannot read %s\n", path.c_str());
    return false;
  }
  Platform pf;
  pf.game_dir = game_dir;
  pf.fonts = std::make_shared<FontSet>(game_dir + "/dat/ipagp.ttf");
  out.clock = std::make_unique<VirtualClock>();
  pf.clock = out.clock.get();
  std::string err;
  out.playback = StartPlayback(pf, *bytes, audio, &err);
  if (!out.playback) {
    std::fprintf(stderr, "kv-sim: %s: %s\n", path.c_str(), err.c_str());
    return false;
  }
  out.screen = std::make_unique<Canvas>(640, 480, pf.fonts);
  return true;
}

struct SoundTally {
  int effects = 0, tracks = 0;
  int first = -1;  // frame of the first sound started
};

// Hands the sounds the game started in the frame just played to the mixer.
void PassCues(RecordingAudio& audio, SoundMixer& mixer, SoundTally& tally) {
  for (const RecordingAudio::Cue& c : audio.cues) {
    if (c.kind == RecordingAudio::Cue::kWave || c.kind == RecordingAudio::Cue::kMusic) {
      (c.kind == RecordingAudio::Cue::kWave ? tally.effects : tally.tracks) += 1;
      if (tally.first < 0) tally.first = c.frame;
    }
    switch (c.kind) {
      case RecordingAudio::Cue::kWave: mixer.PlayWave(c.path, c.volume_mb); break;
      case RecordingAudio::Cue::kMusic: mixer.PlayMusic(c.path); break;
      case RecordingAudio::Cue::kMusicStop: mixer.StopMusic(); break;
      case RecordingAudio::Cue::kMusicMuted: mixer.SetMusicMuted(true); break;
      case RecordingAudio::Cue::kMusicOn: mixer.SetMusicMuted(false); break;
    }
  }
  audio.cues.clear();
  audio.plays.clear();
  audio.music.clear();
}

class ProgressBar {
 public:
  ProgressBar(bool on, int total) : on_(on && isatty(STDERR_FILENO)), total_(total) {}
  void Show(int done) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double share = total_ > 0 ? double(done) / total_ : 1.0;
    const int width = 30, filled = int(share * width);
    const double left = done > 0 ? elapsed * (total_ - done) / done : 0;
    std::fprintf(stderr, "\rvideo [%s%s] %3d%%  %d/%d frames  %d:%02d left ",
                 std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), '.').c_str(), int(share * 100), done, total_,
                 int(left) / 60, int(left) % 60);
    std::fflush(stderr);
    shown_ = true;
  }
  ~ProgressBar() {
    if (shown_) std::fprintf(stderr, "\r%60s%20s\r", "", "");
  }

 private:
  bool on_;
  int total_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_{};
};

}  // namespace

int RenderReplayVideo(const VideoRequest& r) {
  if (r.scale != 1 && r.scale != 2) {
    std::fprintf(stderr, "kv-sim: --scale is 1 or 2\n");
    return 2;
  }
  const auto wall_start = std::chrono::steady_clock::now();
  const double cpu_start = CpuSeconds();
  g_stop = 0;
  StopSignals signals;
  RecordingAudio audio;
  audio.keep_cues = true;
  Loaded l;
  if (!Load(r.game_dir, r.replay_path, &audio, l)) return 1;
  ReplayPlayback& p = *l.playback;
  p.follow_music_setting = true;

  EncoderSettings es;
  es.path = r.out_path;
  es.scale = r.scale;
  es.fps = kFps;
  es.sample_rate = kRate;
  if (r.web) {
    es.video_kbps = kWebVideoKbps;
    es.sound_kbps = kWebSoundKbps;
  }
  std::string err;
  auto enc = OpenMediaEncoder(es, &err);
  if (!enc) {
    std::fprintf(stderr, "kv-sim: no video written: %s\n", err.c_str());
    return 1;
  }
  SoundMixer mixer(kRate);
  SoundTally tally;
  std::vector<float> sound(size_t(kSamplesPerFrame) * 2);
  ProgressBar bar(r.progress, p.replay.frames);
  bool ok = true;
  for (;;) {
    // Sounds are placed at the start of the frame that started them.
    audio.frame = p.frames;
    if (g_stop) {
      err = "stopped";
      ok = false;
      break;
    }
    const bool more = StepVerifying(p);
    if (p.frames == audio.frame) break;  // no frame was played
    PassCues(audio, mixer, tally);
    ComposeWindow(*p.game, *l.screen);
    mixer.Mix(sound.data(), kSamplesPerFrame);
    if (!enc->AddPicture(l.screen->Data(), l.screen->Stride()) ||
        !enc->AddSound(sound.data(), kSamplesPerFrame)) {
      err = enc->Error();
      ok = false;
      break;
    }
    bar.Show(p.frames);
    if (!more) break;
  }
  if (ok) {
    const ReplayVerdict v = JudgePlayback(p);
    if (!v.verified) {
      err = "the replay does not verify (" + v.line + ")";
      ok = false;
    }
  }
  if (ok && !enc->Finish()) {
    err = enc->Error();
    ok = false;
  }
  const std::string what = enc->Describe();
  enc.reset();  // a video not finished is removed here
  if (!ok) {
    std::fprintf(stderr, "%skv-sim: no video written: %s\n", isatty(STDERR_FILENO) ? "\n" : "",
                 err.c_str());
    return 1;
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  const double cpu = CpuSeconds() - cpu_start;
  const double play = double(p.frames) / kFps;
  std::printf("video: %s frames=%d length=%s %s\n", r.out_path.c_str(), p.frames,
              PlayTime(p.frames).c_str(), what.c_str());
  std::printf("sound: %d effects, %d music tracks, the first at frame %d\n", tally.effects,
              tally.tracks, tally.first);
  std::printf("render: %.1f s (CPU %.1f s) for %s of play, %.1fx its playing speed\n", wall, cpu,
              PlayTime(p.frames).c_str(), wall > 0 ? play / wall : 0.0);
  return 0;
}

int SaveReplayPicture(const std::string& game_dir, const std::string& replay_path, int frames,
                      const std::string& png_path) {
  Loaded l;
  if (!Load(game_dir, replay_path, nullptr, l)) return 1;
  ReplayPlayback& p = *l.playback;
  while (p.frames < frames && StepPlayback(p)) {
  }
  if (p.frames < frames) {
    std::fprintf(stderr, "kv-sim: %s has %d frames, not %d\n", replay_path.c_str(), p.frames, frames);
    return 1;
  }
  ComposeWindow(*p.game, *l.screen);
  if (!SavePng(*l.screen, png_path)) {
    std::fprintf(stderr, "kv-sim: cannot write %s\n", png_path.c_str());
    return 1;
  }
  return 0;
}
