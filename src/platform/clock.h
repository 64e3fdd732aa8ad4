// Wall clock and sleep, in the units the frame clock uses (days).
#pragma once

#include <cstdint>
#include <memory>

class Clock {
 public:
  virtual ~Clock() = default;
  // Current time in days (fractional).
  virtual double NowDays() = 0;
  virtual void SleepMs(int ms) = 0;
  // Month (1..12) and day (1..31) of today's date.
  virtual void Today(int& month, int& day) = 0;
  // A value to seed the random generator from.
  virtual uint64_t Seed() = 0;
};

std::unique_ptr<Clock> MakeSystemClock();

// Whole milliseconds from now until just past a time in days, so a wait of
// that long ends after it; 0 when the time has passed.
int MsPast(Clock& clock, double days);

// CPU time the calling thread has used, in milliseconds: unlike the wall clock
// it does not grow while other programs hold the processor.
double ThreadCpuMs();

// A clock that only moves when told to: sleeping advances it.
class VirtualClock : public Clock {
 public:
  double NowDays() override { return double(now_us_) / 86400e6; }
  void SleepMs(int ms) override { now_us_ += int64_t(ms) * 1000; }
  void Today(int& month, int& day) override { month = month_; day = day_; }
  uint64_t Seed() override { return 12345; }
  void AdvanceUs(int64_t us) { now_us_ += us; }
  int64_t NowUs() const { return now_us_; }
  void SetDate(int month, int day) { month_ = month; day_ = day; }

 private:
  int64_t now_us_ = 1000000000;  // not zero, so every deadline starts out due
  int month_ = 1, day_ = 1;
};
