#include "platform/KofTimer.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace kof {

struct TKofTimer::TState {
  explicit TState(std::function<void()> onFire) : OnFire(std::move(onFire)) {}
  void Run();

  std::function<void()> OnFire;
  mutable std::mutex Mutex;
  std::condition_variable Wake;
  std::optional<std::chrono::steady_clock::time_point> Due;
  bool Quit = false;
  std::thread Thread;
};

TKofTimer::TKofTimer(std::function<void()> onFire) : FState(std::make_unique<TState>(std::move(onFire))) {}

TKofTimer::~TKofTimer() {
  {
    std::lock_guard guard(FState->Mutex);
    FState->Quit = true;
  }
  FState->Wake.notify_all();
  if (FState->Thread.joinable()) FState->Thread.join();
}

void TKofTimer::Start(std::chrono::milliseconds interval) {
  {
    std::lock_guard guard(FState->Mutex);
    FState->Due = std::chrono::steady_clock::now() + interval;
    if (!FState->Thread.joinable()) FState->Thread = std::thread([state = FState.get()] { state->Run(); });
  }
  FState->Wake.notify_all();
}

void TKofTimer::Stop() {
  std::lock_guard guard(FState->Mutex);
  FState->Due.reset();
}

bool TKofTimer::Enabled() const {
  std::lock_guard guard(FState->Mutex);
  return FState->Due.has_value();
}

void TKofTimer::TState::Run() {
  std::unique_lock lock(Mutex);
  while (!Quit) {
    if (!Due) {
      Wake.wait(lock);
      continue;
    }
    if (Wake.wait_until(lock, *Due) == std::cv_status::timeout && Due && std::chrono::steady_clock::now() >= *Due) {
      Due.reset();
      lock.unlock();
      OnFire();
      lock.lock();
    }
  }
}

}  // namespace kof
