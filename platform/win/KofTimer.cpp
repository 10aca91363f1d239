#include "platform/KofTimer.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/win/KofWin.h"

namespace kof {
namespace {

using TClock = std::chrono::steady_clock;

struct TTimerSlot {
  std::function<void()> OnFire;
  UINT_PTR Id = 0;  // the thread timer while one runs, else 0
  TClock::time_point Due;
};

// A thread timer's procedure learns only the timer's id: the running ones, by id.
std::mutex gMutex;
std::map<UINT_PTR, TTimerSlot*> gRunning;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);

void StopLocked(TTimerSlot& slot) {
  if (slot.Id == 0) return;
  // From another thread KillTimer fails; the timer is no longer listed, so when
  // it comes due its procedure only kills it.
  ::KillTimer(nullptr, slot.Id);
  gRunning.erase(slot.Id);
  slot.Id = 0;
}

void StartLocked(TTimerSlot& slot, std::chrono::milliseconds interval) {
  StopLocked(slot);
  const auto ms = std::clamp<std::chrono::milliseconds::rep>(interval.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
  slot.Due = TClock::now() + std::chrono::milliseconds(ms);
  slot.Id = ::SetTimer(nullptr, 0, static_cast<UINT>(ms), &OnTimer);
  if (slot.Id != 0) gRunning[slot.Id] = &slot;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  TTimerSlot* slot = nullptr;
  {
    std::lock_guard guard(gMutex);
    const auto it = gRunning.find(id);
    if (it == gRunning.end()) {
      ::KillTimer(nullptr, id);
      return;
    }
    slot = it->second;
    // A message a killed timer left in the queue may carry the id of the new
    // one: the countdown goes on for what is left of it.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(slot->Due - TClock::now());
    if (left.count() > USER_TIMER_MINIMUM) {
      StartLocked(*slot, left);
      return;
    }
    StopLocked(*slot);
  }
  // Outside the lock: the handler may start the timer again.
  slot->OnFire();
}

}  // namespace

struct TKofTimer::TState : TTimerSlot {};

TKofTimer::TKofTimer(std::function<void()> onFire) : FState(std::make_unique<TState>()) {
  FState->OnFire = std::move(onFire);
}

TKofTimer::~TKofTimer() {
  std::lock_guard guard(gMutex);
  StopLocked(*FState);
}

void TKofTimer::Start(std::chrono::milliseconds interval) {
  std::lock_guard guard(gMutex);
  StartLocked(*FState, interval);
}

void TKofTimer::Stop() {
  std::lock_guard guard(gMutex);
  StopLocked(*FState);
}

bool TKofTimer::Enabled() const {
  std::lock_guard guard(gMutex);
  return FState->Id != 0;
}

}  // namespace kof
