// kv-bench: frame costs, start-up time and memory, one line per figure:
//   NAME median_ms=X p99_ms=Y [cpu_median_ms=A cpu_p99_ms=B]   (peak_rss_mb value=Z)
// The cpu_ figures are the thread's own CPU time, which the load of other
// programs on a shared machine does not inflate the way it does wall time.
#include <getopt.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "autoplay.h"
#include "effects/log.h"
#include "menus/menu.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/picture_file.h"
#include "replay/recorder.h"
#include "replay/replay_file.h"
#include "shell/frame.h"
#include "simlib.h"
#include "stages/enemies.h"

namespace {

using Steady = std::chrono::steady_clock;

double Ms(Steady::time_point a, Steady::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

struct Figures {
  double median = 0, p99 = 0;
};

Figures Summarise(std::vector<double> v) {
  if (v.empty()) return {NAN, NAN};
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(double(v.size()) * 0.99))]};
}

// Wall times, and the thread CPU times when there are any.
void Report(const char* name, const std::vector<double>& wall, const std::vector<double>& cpu = {}) {
  Figures w = Summarise(wall);
  std::printf("%s median_ms=%.3f p99_ms=%.3f", name, w.median, w.p99);
  if (!cpu.empty()) {
    Figures c = Summarise(cpu);
    std::printf(" cpu_median_ms=%.3f cpu_p99_ms=%.3f", c.median, c.p99);
  }
  std::printf("\n");
  std::fflush(stdout);
}

// Times one call, wall and thread CPU.
template <typename F>
void Time(std::vector<double>& wall, std::vector<double>& cpu, F&& f) {
  double c0 = ThreadCpuMs();
  auto t0 = Steady::now();
  f();
  auto t1 = Steady::now();
  cpu.push_back(ThreadCpuMs() - c0);
  wall.push_back(Ms(t0, t1));
}

// The fullest frame the pools allow: every enemy slot live in linked groups of
// ten (three orbiters, two flyers, five bullets, as the stage scripts build
// them), a boss, 100 shots, 200 items, 200 live effects with particles, and
// the log full.
void FillWorstCase(Game& g) {
  g.run.title_phase = 0;
  g.run.in_play = 1;
  g.my.stage() = 5;
  g.my.mode = NOVA;
  g.my.distance() = 500;
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  g.my.ship_size() = 10;
  g.my.level = 12;
  g.my.score() = 123456;
  g.my.lives = 5;
  g.my.barrier_timer = 20;
  g.my.barrier_size = 60;
  g.my.target_lock() = 4;
  for (int i = 1; i < kEnemySlots; ++i) {
    EnemySlot& s = g.pools.enemies[size_t(i)];
    s = EnemySlot{};
    int k = i % 10;
    s.cls = k < 3 ? 0 : k < 5 ? 1 : 2;
    s.link = i / 10 + 1;
    s.timer = 20 + i % 50;
    s.size = s.cls == 2 ? 4 : 10;
    s.hp = 1000;  // nothing dies: the frame stays worst-case
    s.kind = s.cls == 0 ? 3 : s.cls == 1 ? 21 : 10;
    s.speed = 0;
    s.radius = 60 + (i * 7) % 300;
    s.angle = (i * 37) % 360;
    s.originX = 320 + (i * 13) % 300 - 150;
    s.originY = 240 + (i * 29) % 200 - 100;
    s.lockOn = i % 3;
    s.flash = i % 2;
  }
  g.pools.enemies[1].big = 1;
  g.pools.enemies[1].kind = 16;
  g.pools.enemies[1].cls = 0;
  g.pools.boss_slot = 1;
  for (int i = 0; i < kShotSlots; ++i) {
    EnemySlot& s = g.pools.shots[size_t(i)];
    s = EnemySlot{};
    s.kind = 1 + i % 4;
    s.timer = 1 + i % 20;
    s.x = s.originX = 20 + (i * 61) % 600;
    s.y = s.originY = 20 + (i * 23) % 440;
    s.size = 5;
    s.speed = 1;
    s.angle = (i * 40) % 360;
    s.lockOn = 1 + i % 600;
  }
  for (int i = 0; i < kItemSlots; ++i) {
    EnemySlot& s = g.pools.items[size_t(i)];
    s = EnemySlot{};
    s.kind = 1 + i % 4;
    s.timer = 1 + i;
    s.size = 5;
    s.speed = 0;
    s.radius = 50 + i;
    s.angle = (i * 17) % 360;
    s.hp = 3;
  }
  const int kinds[] = {158, 160, 161, 168, 180, 189, 280, 18, 19, 177, 396, 137, 170, 249};
  for (int i = 0; i < kEffectSlots; ++i) {
    EffectSlot& e = g.fx.ring[size_t(i)];
    e = EffectSlot{};
    e.kind = kinds[i % 14];
    e.age = 2 + i % 5;
    e.x = e.x0 = e.u = 20 + (i * 31) % 600;
    e.y = e.y0 = e.v = 20 + (i * 53) % 440;
    e.text = e.kind == 18 ? "12345" : e.kind == 19 ? "Cool" : "";
  }
  g.log.count = 0;
  for (int i = 0; i < 14; ++i) AddSilverLogLine(g, "ログの行 " + std::to_string(i) + " LIFE +1");
}

struct Snapshot {
  std::array<EnemySlot, kEnemySlots> enemies;
  std::array<EnemySlot, kShotSlots> shots;
  std::array<EnemySlot, kItemSlots> items;
  std::array<EffectSlot, kEffectSlots> effects;
  Tmy my;
  int boss_slot;
};

Snapshot Take(const Game& g) { return {g.pools.enemies, g.pools.shots, g.pools.items, g.fx.ring, g.my, g.pools.boss_slot}; }
void Restore(Game& g, const Snapshot& s) {
  g.pools.enemies = s.enemies;
  g.pools.shots = s.shots;
  g.pools.items = s.items;
  g.fx.ring = s.effects;
  g.my = s.my;
  g.pools.boss_slot = s.boss_slot;
  g.run.in_play = 1;
  g.run.paused = 0;
}

// Every enemy slot but slot 0 live and still, joined in `groups` link groups
// (0: none); every third a bullet, which joins every orbiter of its group.
void FillLinkedPool(Game& g, int mode, int groups) {
  g.run.title_phase = 0;
  g.my.mode = mode;
  g.my.stage() = 3;
  g.my.player_x() = 320;
  g.my.player_y() = 240;
  for (int i = 1; i < kEnemySlots; ++i) {
    EnemySlot& e = g.pools.enemies[size_t(i)];
    e = EnemySlot{};
    e.timer = 2;
    e.kind = 30;  // no behaviour of its own: only the drawing and the links cost
    e.size = 6 + i % 10;
    e.link = groups == 0 ? 0 : 1 + i % groups;
    if (i % 3 == 0) {
      e.cls = kEnemyBullet;
      e.originX = 20 + (i * 37) % 600;
      e.originY = 20 + (i * 53) % 440;
    } else {
      e.cls = i % 3 == 1 ? kOrbiter : kFlyer;
      e.radius = 50 + (i * 7) % 300;
      e.angle = i * 13;
      e.originX = 20 + (i * 41) % 600;
      e.originY = 20 + (i * 29) % 440;
    }
  }
}

// The clocks at which --stage-shots keeps a picture of the field.
const std::set<int> kStageShotClocks = {60,   250,  420,  560,  720,  760,  830,  960,  1010, 1130, 1250,
                                        1310, 1420, 1610, 1700, 1800, 1900, 2100, 2400, 2450, 2800, 3100};

// One stage played through whole frames from its start, the ship kept out of
// harm, until it ends or `most` frames have run. With a shots folder, the
// field is kept there at the clocks above.
void StageRun(Simulator& sim, int mode, int stage, int most, const std::string& shots) {
  Game& g = sim.game();
  g.run.title_phase = 0;
  g.my.mode = mode;
  g.my.stage() = stage;
  StartStage(g);
  std::vector<double> wall, cpu;
  for (int f = 0; f < most && g.run.in_play == 1; ++f) {
    g.run.invulnerable = 1000;
    g.my.lives = 3;
    sim.audio().plays.clear();
    Time(wall, cpu, [&] { RunFrame(g); });
    if (!shots.empty() && kStageShotClocks.count(g.my.distance()))
      SavePng(*g.cg, shots + "/s" + std::to_string(stage) + "_" + kModeNames[mode] + "_" +
                         std::to_string(g.my.distance()) + ".png");
  }
  const std::string name = "stage_run_" + std::string(kModeNames[mode]) + "_" + std::to_string(stage);
  Report(name.c_str(), wall, cpu);
}

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: kv-bench [options]\n"
               "  --game-dir DIR   the game folder (default: beside kv-bench)\n"
               "  --frames N       worst-case frames to time (default 600)\n"
               "  --quick          fewer frames everywhere (100 worst-case, 1500 per autoplay run)\n"
               "  --no-autoplay    skip the autoplay runs of every mode\n"
               "  --worst-only     time the worst-case frame only (for profilers)\n"
               "  --png FILE       write the picture of the worst-case frame to FILE\n"
               "  --stages         also play every stage in EASY, NOVA and HELL, the ship kept\n"
               "                   out of harm: one line of frame figures per stage\n"
               "  --stage-shots DIR  as --stages, keeping pictures of the field at set clocks in DIR\n"
               "  --help           this text\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string game_dir = FindGameFolder(ExecutableDir()).dir;
  int frames = 600;
  int autoplay_frames = 12000;
  bool skip_autoplay = false;
  bool worst_only = false;
  bool frames_given = false;
  std::string png;
  bool stages = false;
  int stage_frames = 5000;
  std::string stage_shots;
  enum { kGameDir = 1, kFrames, kQuick, kNoAutoplay, kWorstOnly, kPng, kStages, kStageShots, kHelp };
  const option options[] = {{"game-dir", required_argument, nullptr, kGameDir},
                            {"frames", required_argument, nullptr, kFrames},
                            {"quick", no_argument, nullptr, kQuick},
                            {"no-autoplay", no_argument, nullptr, kNoAutoplay},
                            {"worst-only", no_argument, nullptr, kWorstOnly},
                            {"png", required_argument, nullptr, kPng},
                            {"stages", no_argument, nullptr, kStages},
                            {"stage-shots", required_argument, nullptr, kStageShots},
                            {"help", no_argument, nullptr, kHelp},
                            {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
    switch (c) {
      case kGameDir:
        game_dir = optarg;
        break;
      case kFrames: {
        char* end = nullptr;
        long n = std::strtol(optarg, &end, 10);
        if (end == optarg || *end != '\0' || n < 1 || n > 1000000) {
          std::fprintf(stderr, "kv-bench: --frames wants a count from 1 to 1000000, not \"%s\"\n", optarg);
          return 2;
        }
        frames = int(n);
        frames_given = true;
        break;
      }
      case kQuick:
        if (!frames_given) frames = 100;
        autoplay_frames = 1500;
        stage_frames = 500;
        break;
      case kNoAutoplay:
        skip_autoplay = true;
        break;
      case kWorstOnly:
        worst_only = true;
        break;
      case kPng:
        png = optarg;
        break;
      case kStages:
        stages = true;
        break;
      case kStageShots:
        stages = true;
        stage_shots = optarg;
        break;
      case kHelp:
        Usage(stdout);
        return 0;
      default:
        std::fprintf(stderr, "kv-bench: unknown or incomplete option \"%s\"\n", argv[optind - 1]);
        Usage(stderr);
        return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "kv-bench: unexpected argument \"%s\"\n", argv[optind]);
    Usage(stderr);
    return 2;
  }

  // The simulators' save folders, all in one removed at the end.
  TempFolder scratch("kv-bench");
  if (scratch.path().empty()) {
    std::fprintf(stderr, "kv-bench: cannot create a temporary folder\n");
    return 1;
  }

  // Start-up to the first shown frame.
  if (!worst_only) {
    std::vector<double> v;
    for (int i = 0; i < 7; ++i) {
      auto t0 = Steady::now();
      Simulator sim(game_dir, 1, scratch.NewFolder());
      if (!sim.Ok()) {
        std::fprintf(stderr, "kv-bench: %s\n", sim.Error().c_str());
        return 1;
      }
      sim.Frame();
      sim.SavePng("/dev/null");
      v.push_back(Ms(t0, Steady::now()));
    }
    Report("startup_first_frame", v);
  }

  // The worst frame, and the enemy update alone.
  {
    Simulator sim(game_dir, 1, scratch.NewFolder());
    Game& g = sim.game();
    FillWorstCase(g);
    Snapshot snap = Take(g);
    std::vector<double> frame, frame_cpu, enemies, enemies_cpu;
    for (int i = 0; i < frames; ++i) {
      Restore(g, snap);
      // The headless sound output keeps a list of every sound it was asked
      // for, which the game's real output does not: emptied between frames,
      // its growth is not timed as part of the frame.
      sim.audio().plays.clear();
      Time(frame, frame_cpu, [&] { RunFrame(g); });
    }
    if (!worst_only)
      for (int i = 0; i < frames; ++i) {
        Restore(g, snap);
        Time(enemies, enemies_cpu, [&] { UpdateEnemies(g); });
      }
    if (!png.empty() && !sim.SavePng(png)) std::fprintf(stderr, "kv-bench: cannot write %s\n", png.c_str());
    Report("frame_worst", frame, frame_cpu);
    if (!worst_only) Report("update_enemies_full", enemies, enemies_cpu);
  }

  // The enemy update with a full pool of still slots, unlinked and in fewer
  // and larger link groups: the cost of the link lines.
  if (!worst_only) {
    for (int mode : {EASY, NOVA}) {
      for (int groups : {0, 10, 70}) {
        Simulator sim(game_dir, 3, scratch.NewFolder());
        Game& g = sim.game();
        FillLinkedPool(g, mode, groups);
        std::vector<double> wall, cpu;
        for (int i = 0; i < frames; ++i) {
          g.cg->Clear(0);
          Time(wall, cpu, [&] {
            UpdateEnemies(g);
            g.cg->GetPixel(0, 0);  // the drawing done
          });
        }
        const std::string name =
            "update_enemies_linked_" + std::string(kModeNames[mode]) + "_groups" + std::to_string(groups);
        Report(name.c_str(), wall, cpu);
      }
    }
  }

  if (!skip_autoplay && !worst_only) {
    for (int m = 0; m < kModeCount; ++m) {
      Simulator sim(game_dir, uint64_t(100 + m), scratch.NewFolder());
      AutoplayResult r = Autoplay(sim, m, autoplay_frames, true);
      std::string name = std::string("frame_autoplay_") + kModeNames[m];
      Report(name.c_str(), r.frame_ms, r.frame_cpu_ms);
    }
  }

  if (stages && !worst_only) {
    for (int mode : {EASY, NOVA, HELL})
      for (int stage = 1; stage <= 6; ++stage) {
        Simulator sim(game_dir, uint64_t(11 + stage), scratch.NewFolder());
        StageRun(sim, mode, stage, stage_frames, stage_shots);
      }
  }

  // What the ranking server's look at an upload costs before any verifier
  // starts (it runs on the server's event loop): a real run, the files it
  // refuses, and the costliest file it lets through, two million frames of
  // moves with a checksum every 250 (its check then fails at frame 250).
  if (!worst_only) {
    Simulator sim(game_dir, 21, scratch.NewFolder());
    EnableRecording(sim.game());
    Autoplay(sim, HELL, 1500);
    StopRecording(sim.game());
    const std::string run = ReadWholeFile(LastReplayPath(sim.game())).value_or("");
    Replay base;
    std::string why;
    if (!DecodeReplay(run, base, &why)) {
      std::fprintf(stderr, "kv-bench: the recorded run does not read back: %s\n", why.c_str());
      return 1;
    }
    auto made_up = [&](int32_t frames, int check_every, int32_t moves) {
      Replay r = base;
      r.records.clear();
      r.frames = frames;
      for (int32_t f = 0; f <= frames; ++f) {
        if (check_every > 0 && f > 0 && f % check_every == 0) {
          ReplayRecord c;
          c.type = ReplayRecord::kCheck;
          c.frame = f;
          r.records.push_back(c);
        } else if (f < moves) {
          ReplayRecord m;
          m.frame = f;
          m.x = f % 640;
          r.records.push_back(m);
        }
      }
      return EncodeReplay(r);
    };
    std::string random(512 * 1024, '\0');
    for (size_t i = 0; i < random.size(); ++i) random[i] = char((i * 2654435761u) >> 13);
    Replay bomb = base;
    bomb.records.assign(3000000, ReplayRecord{});
    const std::pair<const char*, std::string> files[] = {
        {"replay_outline_real_run", run},
        {"replay_outline_refused_random", random},
        {"replay_outline_refused_cut", run.substr(0, run.size() * 3 / 4)},
        {"replay_outline_refused_zlib_bomb", EncodeReplay(bomb)},
        {"replay_outline_refused_2M_frames_unchecked", made_up(kReplayMaxFrames, 0, 0)},
        {"replay_outline_passed_2M_frames_made_up", made_up(kReplayMaxFrames, 250, kReplayMaxFrames)},
    };
    for (const auto& [name, bytes] : files) {
      std::vector<double> wall, cpu;
      ReplayOutline o;
      bool passed = false;
      for (int i = 0; i < 15; ++i) Time(wall, cpu, [&] { passed = OutlineReplay(bytes, o, &why); });
      Report(name, wall, cpu);
      std::printf("  %zu bytes: %s\n", bytes.size(), passed ? "passed" : why.c_str());
    }
  }

  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("peak_rss_mb value=%.1f\n", double(ru.ru_maxrss) / 1024.0);
  return 0;
}
