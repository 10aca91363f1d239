#include "platform/KofTimer.h"

namespace kof {

TKofTimer::~TKofTimer() {
  {
    std::lock_guard guard(FMutex);
    FQuit = true;
  }
  FWake.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TKofTimer::Start(std::chrono::milliseconds interval) {
  {
    std::lock_guard guard(FMutex);
    FDue = std::chrono::steady_clock::now() + interval;
    if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
  }
  FWake.notify_all();
}

void TKofTimer::Stop() {
  std::lock_guard guard(FMutex);
  FDue.reset();
}

bool TKofTimer::Enabled() const {
  std::lock_guard guard(FMutex);
  return FDue.has_value();
}

void TKofTimer::Run() {
  std::unique_lock lock(FMutex);
  while (!FQuit) {
    if (!FDue) {
      FWake.wait(lock);
      continue;
    }
    if (FWake.wait_until(lock, *FDue) == std::cv_status::timeout && FDue &&
        std::chrono::steady_clock::now() >= *FDue) {
      FDue.reset();
      lock.unlock();
      FOnFire();
      lock.lock();
    }
  }
}

}  // namespace kof
