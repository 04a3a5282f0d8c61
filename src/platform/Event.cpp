#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velm {
namespace {

// Events are set rarely; one mutex and one condition for all of them make a wait on two events
// as simple as a wait on one.
std::mutex gEventMutex;
std::condition_variable gEventCond;

template <class Pred>
bool WaitUntil(std::unique_lock<std::mutex>& lock, int timeoutMs, Pred pred) {
  if (timeoutMs < 0) {
    gEventCond.wait(lock, pred);
    return true;
  }
  return gEventCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

}  // namespace

TEvent::TEvent(bool manualReset, bool initialState)
    : fManualReset(manualReset), fState(initialState) {}

TEvent::~TEvent() {
  std::lock_guard<std::mutex> lock(gEventMutex);
  fDestroyed = true;
  gEventCond.notify_all();
}

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> lock(gEventMutex);
  fState = true;
  gEventCond.notify_all();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(gEventMutex);
  fState = false;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(gEventMutex);
  return fState;
}

bool TEvent::TakeLocked() {
  if (!fState) return false;
  if (!fManualReset) fState = false;
  return true;
}

TWaitResult TEvent::WaitFor(int timeoutMs) {
  std::unique_lock<std::mutex> lock(gEventMutex);
  if (!WaitUntil(lock, timeoutMs, [&] { return fState || fDestroyed; }))
    return TWaitResult::Timeout;
  if (fDestroyed && !fState) return TWaitResult::Abandoned;
  TakeLocked();
  return TWaitResult::Signaled;
}

TWaitResult TEvent::WaitForEither(TEvent& a, TEvent& b, int timeoutMs, int& index) {
  std::unique_lock<std::mutex> lock(gEventMutex);
  auto ready = [&] { return a.fState || b.fState || a.fDestroyed || b.fDestroyed; };
  if (!WaitUntil(lock, timeoutMs, ready)) return TWaitResult::Timeout;
  if (a.TakeLocked()) {
    index = 0;
  } else if (b.TakeLocked()) {
    index = 1;
  } else {
    return TWaitResult::Abandoned;
  }
  return TWaitResult::Signaled;
}

}  // namespace velm
