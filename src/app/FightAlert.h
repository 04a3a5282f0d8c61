// The fight alert: the game's Flash request starts it, its fight-finish page resets it. The
// requests are seen on proxy worker threads; the main window installs a sink that carries the
// calls to its own thread. Without a sink the calls do nothing.
#pragma once

namespace velm {

class IFightAlertSink {
 public:
  virtual ~IFightAlertSink() = default;
  virtual void StartFightAlert() = 0;
  virtual void ResetFightAlert() = 0;
};

// The main window installs itself on creation and passes nullptr before it is destroyed.
void SetFightAlertSink(IFightAlertSink* sink);
void StartFightAlert();
void ResetFightAlert();

}  // namespace velm
