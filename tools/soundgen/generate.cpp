#include "generate.hpp"

#include <atomic>
#include <chrono>
#include <exception>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "dsp.hpp"
#include "effects.hpp"
#include "mp3.hpp"
#include "music.hpp"
#include "wav.hpp"

namespace kv::soundgen {

namespace fs = std::filesystem;

void WriteFileAtomically(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::path tmp = path;
  tmp += ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + tmp.string());
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("write failed: " + tmp.string());
  }
  fs::rename(tmp, path);
}

std::vector<uint8_t> EffectWav(const std::string& name) { return EncodeWav(RenderEffect(name), 1, kSampleRate); }

int WriteEffects(const fs::path& dir) {
  fs::create_directories(dir);
  int count = 0;
  for (const EffectInfo& e : EffectCatalogue()) {
    WriteFileAtomically(dir / e.name, EffectWav(e.name));
    ++count;
  }
  return count;
}

std::vector<TrackReport> WriteTracks(const fs::path& dir, int threads) {
  fs::create_directories(dir);
  const std::vector<SongDef> songs = StageSongs();
  std::vector<TrackReport> reports(songs.size());
  std::atomic<size_t> next{0};
  std::mutex error_lock;
  std::exception_ptr error;
  auto worker = [&] {
    for (size_t i = next++; i < songs.size(); i = next++) {
      try {
        using Clock = std::chrono::steady_clock;
        const auto t0 = Clock::now();
        const StereoBuffer pcm = RenderSong(songs[i]);
        const auto t1 = Clock::now();
        const std::vector<uint8_t> mp3 = EncodeMp3(pcm.left, pcm.right, kSampleRate);
        const auto t2 = Clock::now();
        WriteFileAtomically(dir / songs[i].file, mp3);
        reports[i] = {songs[i].file, double(pcm.left.size()) / kSampleRate,
                      std::chrono::duration<double>(t1 - t0).count(), std::chrono::duration<double>(t2 - t1).count(),
                      mp3.size()};
      } catch (...) {
        std::lock_guard<std::mutex> hold(error_lock);
        if (!error) error = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < std::max(1, threads); ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
  if (error) std::rethrow_exception(error);
  return reports;
}

}  // namespace kv::soundgen
