// kv-soundgen OUTDIR: synthesises every sound effect and stage track of the
// game into OUTDIR (the game's dat/ folder).
#include <chrono>
#include <ctime>
#include <cstdio>
#include <exception>

#include "generate.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kv-soundgen OUTDIR\n");
    return 2;
  }
  try {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const std::filesystem::path dir = argv[1];
    const int effects = kv::soundgen::WriteEffects(dir);
    const auto after_effects = Clock::now();
    // Two tracks at a time: the build machines have two cores.
    const auto tracks = kv::soundgen::WriteTracks(dir, 2);
    const auto end = Clock::now();
    std::printf("kv-soundgen: %d effects in %.2f s\n", effects,
                std::chrono::duration<double>(after_effects - start).count());
    for (const auto& t : tracks)
      std::printf("kv-soundgen: %-40s %6.1f s audio, render %.2f s, encode %.2f s, %zu bytes\n", t.file.c_str(),
                  t.seconds, t.render_seconds, t.encode_seconds, t.bytes);
    std::printf("kv-soundgen: total %.2f s wall, %.2f s CPU\n", std::chrono::duration<double>(end - start).count(),
                double(std::clock()) / CLOCKS_PER_SEC);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kv-soundgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
