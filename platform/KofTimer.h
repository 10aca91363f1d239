#pragma once
// A restartable one-shot timer for clearing the clipboard. On Windows it is a
// window timer of the thread that starts it: the handler runs from that
// thread's message loop (the host's, also inside modal dialogs). Elsewhere it
// stands in with a thread of its own, so the handler must take whatever lock
// it needs.
#include <chrono>
#include <functional>
#include <memory>

namespace kof {

class TKofTimer {
 public:
  explicit TKofTimer(std::function<void()> onFire);
  ~TKofTimer();
  TKofTimer(const TKofTimer&) = delete;
  TKofTimer& operator=(const TKofTimer&) = delete;

  // Starts the countdown again from the full interval.
  void Start(std::chrono::milliseconds interval);
  void Stop();
  bool Enabled() const;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace kof
