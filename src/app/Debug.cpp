#include "app/Debug.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "app/AppSettings.h"
#include "platform/Beep.h"
#include "platform/DateTime.h"
#include "platform/ExceptionInfo.h"
#include "platform/ProgramPath.h"

namespace velm {

TDebug* Debug = nullptr;

namespace {

constexpr int kOpenAttempts = 5;
constexpr int kMaxRetryWaitMs = 50;
constexpr size_t kMaxDescription = 511;

std::mutex gQuitMutex;
// Writers of one process queue here instead of colliding on the file lock and sleeping; the
// exclusive lock on the file still keeps other processes' lines apart.
std::mutex gAppendMutex;
TQuitRequestHooks gQuitHooks;

int RandomWaitMs() {
  thread_local std::minstd_rand rng(std::random_device{}());
  return static_cast<int>(rng() % kMaxRetryWaitMs);
}

// Exclusive, non-blocking: a writer that finds the file held waits a little and tries again.
bool AppendExclusive(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = false;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // The line is handed to the file in one write; a short write is not retried.
    if (lseek(fd, 0, SEEK_END) >= 0) {
      ssize_t written = write(fd, bytes.data(), bytes.size());
      (void)written;
    }
    flock(fd, LOCK_UN);
    ok = true;
  }
  close(fd);
  return ok;
}

std::string TwoDigits(int v) {
  char buf[4] = {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10), 0};
  return buf;
}

}  // namespace

TDebug::TDebug(const std::string& fileName)
    : LogFileName(fileName.find('/') == std::string::npos ? ExeDir() + fileName : fileName) {}

std::string TDebug::TimeStamp() {
  TDateTime now = Now();
  int y, mo, d, h, mi, s, ms;
  DecodeDate(now, y, mo, d);
  DecodeTime(now, h, mi, s, ms);
  std::string r = TwoDigits(d) + "." + TwoDigits(mo) + "." + std::to_string(y);
  if (h != 0 || mi != 0 || s != 0 || ms != 0)
    r += " " + TwoDigits(h) + ":" + TwoDigits(mi) + ":" + TwoDigits(s);
  return r + " ";
}

void TDebug::WriteLine(const std::string& text) {
  const std::string line = text + "\r\n";
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    {
      std::lock_guard<std::mutex> lock(gAppendMutex);
      if (AppendExclusive(LogFileName, line)) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(RandomWaitMs()));
  }
}

void TDebug::LogInfo(const std::string& msg) {
  WriteLine("Info: " + TimeStamp() + msg);
}

void TDebug::LogError(const std::string& msg, bool quiet) {
  WriteLine("Error: " + TimeStamp() + msg);
  if (!quiet) Beep(440, 30);
}

void TDebug::LogException(const std::exception& e) {
  WriteLine("Exception: " + TimeStamp() + e.what());
  if (const auto* ext = dynamic_cast<const EExternal*>(&e))
    WriteLine("EExternal: ExceptionAddress=" + Hex8(ext->ExceptionAddress));
  Beep(440, 30);
}

void TDebug::HandleException(const std::string& extra) {
  if (Stopped || IsQuitRequested()) return;
  for (;;) {
    TWaitResult r = Gate.WaitFor(20);
    if (r == TWaitResult::Signaled) break;
    if (r == TWaitResult::Timeout) continue;
    Stopped = true;
    RequestQuit();
    return;
  }
  Gate.ResetEvent();
  TExceptionInfo info = CurrentExceptionInfo();
  std::string desc = "Exception " + info.ClassName + " in module " + info.ModuleName + " at " +
                     Hex8(info.RelativeAddress) + ".\r\n" + info.Message;
  if (!info.Message.empty() && info.Message.back() != '.') desc += ".";
  desc += "\r\n";
  if (desc.size() > kMaxDescription) desc.resize(kMaxDescription);
  WriteLine("Exception: " + TimeStamp() + desc + (extra.empty() ? "" : "  " + extra));
  Gate.SetEvent();
}

void SetQuitRequestHooks(TQuitRequestHooks hooks) {
  std::lock_guard<std::mutex> lock(gQuitMutex);
  gQuitHooks = std::move(hooks);
}

bool IsQuitRequested() {
  std::function<bool()> f;
  {
    std::lock_guard<std::mutex> lock(gQuitMutex);
    f = gQuitHooks.IsQuitRequested;
  }
  return f && f();
}

void RequestQuit() {
  std::function<void()> f;
  {
    std::lock_guard<std::mutex> lock(gQuitMutex);
    f = gQuitHooks.RequestQuit;
  }
  if (f) f();
}

void InitializeCommon() {
  SetCurrentDirToExeDir();
  Debug = new TDebug(ChangeFileExt(ExePath(), ".log"));
}

void FinalizeCommon() {
  delete Debug;
  Debug = nullptr;
  FreeAppSettings();
}

}  // namespace velm
