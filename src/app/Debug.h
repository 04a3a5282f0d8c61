// The debug log: time-stamped lines appended to a text file, one open-append-close per line
// with the file held exclusively, so threads and processes never interleave a line.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <string>

#include "platform/Event.h"

namespace velm {

class TDebug {
 public:
  // A name without a folder is placed in the executable's folder.
  explicit TDebug(const std::string& fileName);
  virtual ~TDebug() = default;
  TDebug(const TDebug&) = delete;
  TDebug& operator=(const TDebug&) = delete;

  // The local date and time, "10.12.2009 14:03:27 "; the time is left out at exactly midnight.
  virtual std::string TimeStamp();

  void WriteLine(const std::string& text);
  void LogInfo(const std::string& msg);
  // Unless quiet, a 440 Hz beep of 30 ms follows the line.
  void LogError(const std::string& msg, bool quiet = false);
  void LogException(const std::exception& e);
  // Describes the exception being handled (call inside a catch block); UI thread only.
  void HandleException(const std::string& extra);

  std::string LogFileName;
  TEvent Gate{true, true};
  std::atomic<bool> Stopped{false};
};

// The process-wide log on the executable's path with ".log"; created by the Common module.
extern TDebug* Debug;

// The application's quit request, as the windows define it. Without hooks no quit is pending.
struct TQuitRequestHooks {
  std::function<bool()> IsQuitRequested;
  std::function<void()> RequestQuit;
};
void SetQuitRequestHooks(TQuitRequestHooks hooks);
bool IsQuitRequested();
void RequestQuit();

// Common module: current folder set to the program folder, Debug created / freed.
void InitializeCommon();
void FinalizeCommon();

}  // namespace velm
