// One client per program folder. The running client holds an exclusive lock on a file in its
// folder for its whole life; a second start finds the lock taken and asks the first, through a
// local socket, to raise its window. The self-update waits on the same lock for the old process
// to end. The lock is taken on an open file description (flock) that is never inherited, so a
// child started by the client does not keep it.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace velm {

inline constexpr const char* kSingleInstanceName = "velm_client";

// The lock file of the program folder (a folder path with a trailing "/").
std::string SingleInstanceLockPath(const std::string& programDir);
// True while some process (this one included) holds the lock of the folder.
bool IsSingleInstanceLockHeld(const std::string& programDir);
// Polls every 50 ms until the lock of the folder is free; false when it is still held after
// timeoutMs.
bool WaitForSingleInstanceRelease(const std::string& programDir, int timeoutMs);

class TSingleInstance {
 public:
  explicit TSingleInstance(std::string programDir);
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // Takes the lock; false when another holder has it or the file cannot be made.
  bool Acquire();
  bool Held() const { return fLockFd >= 0; }
  // While held: calls onRaise (on a listener thread) each time a second start asks for the
  // window. False when the local socket cannot be opened.
  bool ListenForRaise(std::function<void()> onRaise);
  // The lock, the socket and the listener are given up.
  void Release();

  // From a second start: asks the holder of the folder's lock to raise its window. False when
  // nobody listens.
  static bool AskToRaise(const std::string& programDir);

 private:
  void ListenLoop();

  std::string fDir;
  int fLockFd = -1;
  int fListenFd = -1;
  int fWake[2] = {-1, -1};
  std::function<void()> fOnRaise;
  std::thread fListener;
};

}  // namespace velm
