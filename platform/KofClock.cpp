#include "platform/KofClock.h"

#include <thread>

namespace kof {
namespace {

class TKofRealClock : public TKofClock {
 public:
  std::chrono::system_clock::time_point Now() const override { return std::chrono::system_clock::now(); }
  std::chrono::steady_clock::time_point Steady() const override { return std::chrono::steady_clock::now(); }
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

TKofRealClock gRealClock;
std::atomic<TKofClock*> gClock{&gRealClock};

}  // namespace

TKofClock& Clock() { return *gClock.load(); }

std::chrono::system_clock::time_point TKofManualClock::Now() const {
  std::lock_guard guard(FMutex);
  return FWallStart + FElapsed;
}

std::chrono::steady_clock::time_point TKofManualClock::Steady() const {
  std::lock_guard guard(FMutex);
  return FSteadyStart + FElapsed;
}

void TKofManualClock::Advance(std::chrono::milliseconds duration) {
  std::lock_guard guard(FMutex);
  FElapsed += duration;
}

TKofClockOverride::TKofClockOverride(TKofClock& clock) : FPrevious(gClock.exchange(&clock)) {}
TKofClockOverride::~TKofClockOverride() { gClock.store(FPrevious); }

}  // namespace kof
