#pragma once
// The plugin lock and the annotations with which clang (-Wthread-safety)
// checks the one rule about it:
//
//   The export takes the plugin lock; everything below it runs with the lock
//   held and never takes it again.
//
// Functions that rely on it say KOF_REQUIRES(Lock()), checked at compile time
// in a clang build; the functions that other code reaches without the
// annotation travelling along (the clipboard, the prompt bracket, the session
// save) check it when they run (AssertHeld).
//
// The lock stays re-entrant for one caller only: the host. A prompt or a
// progress report runs the host's message loop, and the host may call an
// export from inside it on the same thread (on Windows the clipboard's window
// timer arrives that way too). Our own code never re-enters.
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#if defined(__clang__)
#define KOF_CAPABILITY(x) __attribute__((capability(x)))
#define KOF_SCOPED_CAPABILITY __attribute__((scoped_lockable))
#define KOF_ACQUIRE(...) __attribute__((acquire_capability(__VA_ARGS__)))
#define KOF_RELEASE(...) __attribute__((release_capability(__VA_ARGS__)))
#define KOF_REQUIRES(...) __attribute__((requires_capability(__VA_ARGS__)))
#define KOF_ASSERT_CAPABILITY(x) __attribute__((assert_capability(x)))
#else
#define KOF_CAPABILITY(x)
#define KOF_SCOPED_CAPABILITY
#define KOF_ACQUIRE(...)
#define KOF_RELEASE(...)
#define KOF_REQUIRES(...)
#define KOF_ASSERT_CAPABILITY(x)
#endif

namespace kof {

class KOF_CAPABILITY("mutex") TKofPluginLock {
 public:
  void Lock() KOF_ACQUIRE() {
    FMutex.lock();
    if (FDepth++ == 0) FOwner.store(std::this_thread::get_id());
  }
  void Unlock() KOF_RELEASE() {
    if (--FDepth == 0) FOwner.store(std::thread::id());
    FMutex.unlock();
  }
  // Throws when the calling thread does not hold the lock: a caller broke the rule.
  void AssertHeld() const KOF_ASSERT_CAPABILITY(this) {
    if (FOwner.load() != std::this_thread::get_id()) throw std::logic_error("the plugin lock is not held");
  }

 private:
  std::recursive_mutex FMutex;
  std::atomic<std::thread::id> FOwner{};
  int FDepth = 0;  // only touched by the holder
};

class KOF_SCOPED_CAPABILITY TKofHold {
 public:
  explicit TKofHold(TKofPluginLock& lock) KOF_ACQUIRE(lock) : FLock(lock) { FLock.Lock(); }
  ~TKofHold() KOF_RELEASE() { FLock.Unlock(); }
  TKofHold(const TKofHold&) = delete;
  TKofHold& operator=(const TKofHold&) = delete;

 private:
  TKofPluginLock& FLock;
};

}  // namespace kof
