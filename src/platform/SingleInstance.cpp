#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace velm {
namespace {

constexpr int kPollStepMs = 50;
constexpr char kRaiseMessage[] = "raise\n";

std::string CanonicalDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(dir), ec);
  std::string s = ec ? dir : p.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// An abstract local socket name per program folder: no file to leave behind, and short enough
// for any folder path.
sockaddr_un SocketAddress(const std::string& programDir, socklen_t& length) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : CanonicalDir(programDir)) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char name[64];
  int n = std::snprintf(name, sizeof name, "%s-%016llx", kSingleInstanceName,
                        static_cast<unsigned long long>(hash));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name, static_cast<size_t>(n));
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  return addr;
}

}  // namespace

std::string SingleInstanceLockPath(const std::string& programDir) {
  std::string dir = programDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + kSingleInstanceName + ".lock";
}

bool IsSingleInstanceLockHeld(const std::string& programDir) {
  int fd = open(SingleInstanceLockPath(programDir).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;  // no lock file: nobody ever held it
  bool held = false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    held = errno == EWOULDBLOCK;
  else
    flock(fd, LOCK_UN);
  close(fd);
  return held;
}

bool WaitForSingleInstanceRelease(const std::string& programDir, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (!IsSingleInstanceLockHeld(programDir)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
  }
}

TSingleInstance::TSingleInstance(std::string programDir) : fDir(std::move(programDir)) {}

TSingleInstance::~TSingleInstance() {
  Release();
}

bool TSingleInstance::Acquire() {
  if (Held()) return true;
  int fd = open(SingleInstanceLockPath(fDir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  // The holder's process id, for whoever looks at the folder.
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0 && write(fd, pid.data(), pid.size()) < 0) {
  }
  fLockFd = fd;
  return true;
}

bool TSingleInstance::ListenForRaise(std::function<void()> onRaise) {
  if (!Held() || fListenFd >= 0) return false;
  socklen_t length = 0;
  sockaddr_un addr = SocketAddress(fDir, length);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || listen(fd, 8) != 0 ||
      pipe2(fWake, O_CLOEXEC) != 0) {
    close(fd);
    return false;
  }
  fListenFd = fd;
  fOnRaise = std::move(onRaise);
  fListener = std::thread([this] { ListenLoop(); });
  return true;
}

void TSingleInstance::ListenLoop() {
  for (;;) {
    pollfd fds[2] = {{fListenFd, POLLIN, 0}, {fWake[0], POLLIN, 0}};
    int n = poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents) return;
    int client = accept4(fListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    // Read the short request with a bound, so a silent peer cannot hold the listener.
    char buf[16];
    pollfd in{client, POLLIN, 0};
    bool asked = false;
    if (poll(&in, 1, 1000) > 0) {
      ssize_t got = recv(client, buf, sizeof buf, 0);
      asked = got >= 5 && std::memcmp(buf, kRaiseMessage, 5) == 0;
    }
    close(client);
    if (asked && fOnRaise) fOnRaise();
  }
}

void TSingleInstance::Release() {
  if (fListener.joinable()) {
    char b = 1;
    if (write(fWake[1], &b, 1) < 0) {
    }
    fListener.join();
  }
  for (int* fd : {&fListenFd, &fWake[0], &fWake[1], &fLockFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

bool TSingleInstance::AskToRaise(const std::string& programDir) {
  socklen_t length = 0;
  sockaddr_un addr = SocketAddress(programDir, length);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0 &&
            send(fd, kRaiseMessage, sizeof kRaiseMessage - 1, MSG_NOSIGNAL) > 0;
  close(fd);
  return ok;
}

}  // namespace velm
