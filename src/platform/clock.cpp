#include "platform/clock.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace {
class SystemClock : public Clock {
 public:
  double NowDays() override {
    using namespace std::chrono;
    auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return double(us) / 86400e6;
  }
  void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  void Today(int& month, int& day) override {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    month = tm.tm_mon + 1;
    day = tm.tm_mday;
  }
  uint64_t Seed() override {
    return uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           uint64_t(std::time(nullptr));
  }
};
}  // namespace

std::unique_ptr<Clock> MakeSystemClock() { return std::make_unique<SystemClock>(); }

int MsPast(Clock& clock, double days) {
  const double ms = (days - clock.NowDays()) * 86400e3;
  if (ms < 0) return 0;
  return ms >= 1e9 ? 1000000000 : int(std::floor(ms)) + 1;
}

double ThreadCpuMs() {
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}
