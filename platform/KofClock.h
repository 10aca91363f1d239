#pragma once
// The one clock of the plugin. Ages and timeouts (the access code's) and the
// times the plugin stamps on its own entries come from Clock(); a test puts a
// TKofManualClock in its place and moves it on instead of sleeping.
#include <atomic>
#include <chrono>
#include <mutex>

namespace kof {

class TKofClock {
 public:
  virtual ~TKofClock() = default;
  // Wall-clock time, for what the user sees.
  virtual std::chrono::system_clock::time_point Now() const = 0;
  // Monotonic time, for ages and timeouts: a changed system clock moves nothing.
  virtual std::chrono::steady_clock::time_point Steady() const = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The clock in force: the real one unless a test set another.
TKofClock& Clock();

// Stands still until moved on; Sleep moves it on at once.
class TKofManualClock : public TKofClock {
 public:
  std::chrono::system_clock::time_point Now() const override;
  std::chrono::steady_clock::time_point Steady() const override;
  void Sleep(std::chrono::milliseconds duration) override { Advance(duration); }
  void Advance(std::chrono::milliseconds duration);

 private:
  mutable std::mutex FMutex;
  const std::chrono::system_clock::time_point FWallStart = std::chrono::system_clock::now();
  const std::chrono::steady_clock::time_point FSteadyStart = std::chrono::steady_clock::now();
  std::chrono::milliseconds FElapsed{0};
};

// Makes a clock the one in force for the scope's lifetime (tests).
class TKofClockOverride {
 public:
  explicit TKofClockOverride(TKofClock& clock);
  ~TKofClockOverride();
  TKofClockOverride(const TKofClockOverride&) = delete;
  TKofClockOverride& operator=(const TKofClockOverride&) = delete;

 private:
  TKofClock* FPrevious;
};

}  // namespace kof
