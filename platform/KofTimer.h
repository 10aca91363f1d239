#pragma once
// A restartable one-shot timer: the stand-in for a window timer. Its handler
// runs on the timer's own thread, so it must take whatever lock it needs.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kof {

class TKofTimer {
 public:
  explicit TKofTimer(std::function<void()> onFire) : FOnFire(std::move(onFire)) {}
  ~TKofTimer();
  TKofTimer(const TKofTimer&) = delete;
  TKofTimer& operator=(const TKofTimer&) = delete;

  // Starts the countdown again from the full interval.
  void Start(std::chrono::milliseconds interval);
  void Stop();
  bool Enabled() const;

 private:
  void Run();

  std::function<void()> FOnFire;
  mutable std::mutex FMutex;
  std::condition_variable FWake;
  std::optional<std::chrono::steady_clock::time_point> FDue;
  bool FQuit = false;
  std::thread FThread;
};

}  // namespace kof
