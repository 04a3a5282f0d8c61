// Events as the update thread and the debug log use them: manual or auto reset, waits with a
// time-out, and a wait on either of two events.
#pragma once

namespace velm {

enum class TWaitResult { Signaled, Timeout, Abandoned, Error };

class TEvent {
 public:
  explicit TEvent(bool manualReset = true, bool initialState = false);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;
  ~TEvent();

  void SetEvent();
  void ResetEvent();
  bool IsSet() const;
  // Waits up to timeoutMs (negative: forever). Abandoned once the event is being destroyed.
  TWaitResult WaitFor(int timeoutMs);
  // Waits until a or b is signalled; index receives 0 for a, 1 for b.
  static TWaitResult WaitForEither(TEvent& a, TEvent& b, int timeoutMs, int& index);

 private:
  bool TakeLocked();

  bool fManualReset;
  bool fState;
  bool fDestroyed = false;
};

}  // namespace velm
