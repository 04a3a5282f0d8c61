#include "platform/TCPBlockSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace velm {
namespace {

constexpr size_t kRecvChunk = 65536;

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t DeadlineAfter(int timeoutMs) {
  return SteadyMs() + std::max(timeoutMs, 0);
}

int RemainingMs(int64_t deadlineMs) {
  return static_cast<int>(std::max<int64_t>(deadlineMs - SteadyMs(), 0));
}

// poll() that survives signals; returns poll's result.
int PollRetry(pollfd* fds, nfds_t count, int64_t deadlineMs, bool forever) {
  for (;;) {
    int rc = ::poll(fds, count, forever ? -1 : RemainingMs(deadlineMs));
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

}  // namespace

TTCPBlockSocket::~TTCPBlockSocket() {
  CloseSocket();
}

void TTCPBlockSocket::SetErrorFromErrno(int err) {
  switch (err) {
    case 0:
      fLastError = 0;
      break;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
      fLastError = kSockErrConnReset;
      break;
    case ETIMEDOUT:
    case EAGAIN:
      fLastError = kSockErrTimedOut;
      break;
    case EADDRINUSE:
      fLastError = kSockErrAddrInUse;
      break;
    case ECONNREFUSED:
      fLastError = kSockErrConnRefused;
      break;
    case ENOTCONN:
      fLastError = kSockErrNotConnected;
      break;
    case ENOBUFS:
      fLastError = kSockErrNoBuffers;
      break;
    default:
      fLastError = 10000 + err;
      break;
  }
}

void TTCPBlockSocket::SetSocket(int handle) {
  CloseSocket();
  fSocket = handle;
  fLastError = 0;
  if (fSocket != kInvalidSocket) SetNoDelay(fSocket);
}

void TTCPBlockSocket::CloseSocket() {
  if (fSocket != kInvalidSocket) ::close(fSocket);
  fSocket = kInvalidSocket;
  fBuffer.clear();
  fBufferPos = 0;
  fSkipLeadingLF = false;
}

void TTCPBlockSocket::Bind(const std::string& ip, const std::string& port) {
  CloseSocket();
  fLastError = 0;
  fSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fSocket == kInvalidSocket) return SetErrorFromErrno(errno);
  int one = 1;
  ::setsockopt(fSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  char* end = nullptr;
  long portNumber = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || portNumber < 0 || portNumber > 65535 ||
      ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) {
    CloseSocket();
    fLastError = kSockErrHostNotFound;
    return;
  }
  addr.sin_port = htons(static_cast<uint16_t>(portNumber));
  if (::bind(fSocket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    int err = errno;
    // A socket left open here would listen on a port of the system's choosing.
    CloseSocket();
    SetErrorFromErrno(err);
  }
}

int TTCPBlockSocket::GetLocalPort() const {
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  if (fSocket == kInvalidSocket ||
      ::getsockname(fSocket, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return 0;
  return ntohs(addr.sin_port);
}

void TTCPBlockSocket::SetLinger(bool enable, int lingerMs) {
  linger value{};
  value.l_onoff = enable ? 1 : 0;
  value.l_linger = lingerMs / 1000;
  if (fSocket != kInvalidSocket &&
      ::setsockopt(fSocket, SOL_SOCKET, SO_LINGER, &value, sizeof(value)) != 0)
    SetErrorFromErrno(errno);
}

void TTCPBlockSocket::Listen() {
  fLastError = 0;
  if (fSocket == kInvalidSocket) {
    fLastError = kSockErrNotConnected;
    return;
  }
  if (::listen(fSocket, SOMAXCONN) != 0) SetErrorFromErrno(errno);
}

int TTCPBlockSocket::Accept() {
  fLastError = 0;
  int fd;
  do {
    fd = ::accept4(fSocket, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetErrorFromErrno(errno);
    return kInvalidSocket;
  }
  // The listener's linger setting is not wanted on the connections: an abortive close would
  // throw away the end of the last answer still in the send queue.
  linger off{};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof(off));
  return fd;
}

void TTCPBlockSocket::Connect(const std::string& host, const std::string& port) {
  CloseSocket();
  fLastError = 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0 || !list) {
    fLastError = kSockErrHostNotFound;
    return;
  }
  int err = ECONNREFUSED;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int64_t deadline = DeadlineAfter(ConnectionTimeout);
      rc = PollRetry(&p, 1, deadline, ConnectionTimeout <= 0);
      if (rc == 0) {
        errno = ETIMEDOUT;
        rc = -1;
      } else if (rc > 0) {
        int soErr = 0;
        socklen_t len = sizeof(soErr);
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
        rc = soErr == 0 ? 0 : -1;
        errno = soErr;
      }
    }
    if (rc == 0) {
      ::fcntl(fd, F_SETFL, flags);
      SetNoDelay(fd);
      fSocket = fd;
      ::freeaddrinfo(list);
      return;
    }
    err = errno;
    ::close(fd);
  }
  ::freeaddrinfo(list);
  SetErrorFromErrno(err);
}

bool TTCPBlockSocket::WaitWritable(int64_t deadlineMs) {
  pollfd p{fSocket, POLLOUT, 0};
  const int rc = PollRetry(&p, 1, deadlineMs, SendTimeout <= 0);
  if (rc == 0) fLastError = kSockErrTimedOut;
  if (rc < 0) SetErrorFromErrno(errno);
  return rc > 0;
}

void TTCPBlockSocket::SendString(std::string_view data) {
  fLastError = 0;
  if (fSocket == kInvalidSocket) {
    fLastError = kSockErrNotConnected;
    return;
  }
  int64_t deadline = DeadlineAfter(SendTimeout);
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n =
        ::send(fSocket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitWritable(deadline)) return;
      continue;
    }
    return SetErrorFromErrno(n < 0 ? errno : EPIPE);
  }
}

TSigPipeHeld::TSigPipeHeld() {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &fPrevious);
  sigset_t pending;
  sigpending(&pending);
  fWasPending = sigismember(&pending, SIGPIPE) == 1;
}

TSigPipeHeld::~TSigPipeHeld() {
  sigset_t pending;
  sigpending(&pending);
  if (!fWasPending && sigismember(&pending, SIGPIPE) == 1) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    const timespec noWait{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &fPrevious, nullptr);
}

void TTCPBlockSocket::SendFile(int fileFd, size_t count) {
  fLastError = 0;
  if (fSocket == kInvalidSocket) {
    fLastError = kSockErrNotConnected;
    return;
  }
  // sendfile has no flag against SIGPIPE.
  TSigPipeHeld heldBack;
  // sendfile has no don't-wait flag: the socket does not wait for the call's length.
  const int flags = ::fcntl(fSocket, F_GETFL, 0);
  if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fSocket, F_SETFL, flags | O_NONBLOCK);
  int64_t deadline = DeadlineAfter(SendTimeout);
  off_t offset = 0;
  while (static_cast<size_t>(offset) < count) {
    ssize_t n = ::sendfile(fSocket, fileFd, &offset, count - static_cast<size_t>(offset));
    if (n > 0) continue;
    if (n == 0) {
      fLastError = kSockErrConnReset;
      break;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitWritable(deadline)) break;
      continue;
    }
    SetErrorFromErrno(errno);
    break;
  }
  if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fSocket, F_SETFL, flags);
}

void TTCPBlockSocket::CompactBuffer() {
  if (fBufferPos == fBuffer.size()) {
    fBuffer.clear();
    fBufferPos = 0;
  } else if (fBufferPos > kRecvChunk) {
    fBuffer.erase(0, fBufferPos);
    fBufferPos = 0;
  }
}

std::string TTCPBlockSocket::TakeBuffered(size_t count) {
  std::string out = fBuffer.substr(fBufferPos, count);
  fBufferPos += out.size();
  CompactBuffer();
  return out;
}

ssize_t TTCPBlockSocket::RecvNow(char* buffer, size_t capacity) {
  ssize_t n;
  do n = ::recv(fSocket, buffer, capacity, MSG_DONTWAIT);
  while (n < 0 && errno == EINTR);
  return n;
}

bool TTCPBlockSocket::FillBuffer(int64_t deadlineMs) {
  if (fSocket == kInvalidSocket) {
    fLastError = kSockErrNotConnected;
    return false;
  }
  // Received into a scratch buffer kept for the socket's life and appended: the read buffer
  // only ever grows by what came, and the wait is skipped when the bytes are already there.
  if (!fScratch) fScratch = std::make_unique_for_overwrite<char[]>(kRecvChunk);
  ssize_t n = RecvNow(fScratch.get(), kRecvChunk);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    pollfd p{fSocket, POLLIN, 0};
    int rc = PollRetry(&p, 1, deadlineMs, false);
    if (rc == 0) {
      fLastError = kSockErrTimedOut;
      return false;
    }
    if (rc < 0) {
      SetErrorFromErrno(errno);
      return false;
    }
    n = RecvNow(fScratch.get(), kRecvChunk);
  }
  if (n == 0) {
    fLastError = kSockErrConnReset;
    return false;
  }
  if (n < 0) {
    // Readiness without data (a spurious wake-up) simply counts as nothing read yet.
    if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
    SetErrorFromErrno(errno);
    return false;
  }
  CompactBuffer();
  fBuffer.append(fScratch.get(), static_cast<size_t>(n));
  if (fSkipLeadingLF && fBuffer.size() > fBufferPos) {
    if (fBuffer[fBufferPos] == '\n') ++fBufferPos;
    fSkipLeadingLF = false;
  }
  return true;
}

ssize_t TTCPBlockSocket::RecvSome(char* buffer, size_t capacity) {
  fLastError = 0;
  if (LineBufferSize() > 0) {
    const size_t n = std::min(capacity, LineBufferSize());
    std::memcpy(buffer, fBuffer.data() + fBufferPos, n);
    fBufferPos += n;
    CompactBuffer();
    return static_cast<ssize_t>(n);
  }
  if (fSocket == kInvalidSocket) {
    fLastError = kSockErrNotConnected;
    return -1;
  }
  const ssize_t n = RecvNow(buffer, capacity);
  if (n == 0) fLastError = kSockErrConnReset;
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) SetErrorFromErrno(errno);
  return n;
}

std::string TTCPBlockSocket::RecvString(int timeoutMs) {
  fLastError = 0;
  int64_t deadline = DeadlineAfter(timeoutMs);
  size_t scanned = 0;  // bytes after fBufferPos already known to hold no line end
  // Room for the longest allowed line and its CR LF; beyond that no line end needs to be seen.
  const size_t window = MaxLineLength > 0 ? MaxLineLength + 2 : SIZE_MAX;
  for (;;) {
    const char* base = fBuffer.data() + fBufferPos;
    size_t avail = fBuffer.size() - fBufferPos;
    size_t limit = std::min(avail, window);
    size_t lineLength = SIZE_MAX, used = 0;
    for (size_t i = scanned; i < limit && lineLength == SIZE_MAX; ++i) {
      char c = base[i];
      if (ConvertLineEnd && (c == '\n' || c == '\r')) {
        lineLength = i;
        used = i + 1;
        if (c == '\r') {
          if (used < avail) {
            if (base[used] == '\n') ++used;
          } else {
            fSkipLeadingLF = true;
          }
        }
      } else if (!ConvertLineEnd && c == '\n' && i > 0 && base[i - 1] == '\r') {
        lineLength = i - 1;
        used = i + 1;
      }
    }
    if (lineLength != SIZE_MAX) {
      if (MaxLineLength > 0 && lineLength > MaxLineLength) {
        fSkipLeadingLF = false;
        fLastError = kSockErrNoBuffers;
        return {};
      }
      std::string line(base, lineLength);
      fBufferPos += used;
      CompactBuffer();
      return line;
    }
    if (limit >= window) {
      fLastError = kSockErrNoBuffers;
      return {};
    }
    scanned = limit;
    if (!FillBuffer(deadline)) return {};
    // A skipped LF shifts the unread part by one.
    size_t nowAvail = fBuffer.size() - fBufferPos;
    if (nowAvail < scanned) scanned = nowAvail;
  }
}

std::string TTCPBlockSocket::RecvPacket(int timeoutMs) {
  fLastError = 0;
  int64_t deadline = DeadlineAfter(timeoutMs);
  while (LineBufferSize() == 0) {
    if (!FillBuffer(deadline)) return {};
  }
  return TakeBuffered(LineBufferSize());
}

std::string TTCPBlockSocket::RecvBufferStr(size_t length, int timeoutMs) {
  fLastError = 0;
  int64_t deadline = DeadlineAfter(timeoutMs);
  while (LineBufferSize() < length) {
    if (!FillBuffer(deadline)) return {};
  }
  return TakeBuffered(length);
}

ssize_t TTCPBlockSocket::SpliceTo(TTCPBlockSocket& to, const int pipeFds[2], size_t piece) {
  fLastError = 0;
  to.fLastError = 0;
  if (LineBufferSize() > 0) {
    const size_t n = std::min(LineBufferSize(), piece);
    to.SendString(std::string_view(fBuffer).substr(fBufferPos, n));
    fBufferPos += n;
    CompactBuffer();
    return to.fLastError == 0 ? static_cast<ssize_t>(n) : -1;
  }
  if (fSocket == kInvalidSocket || to.fSocket == kInvalidSocket) {
    fLastError = kSockErrNotConnected;
    return -1;
  }
  ssize_t n;
  do n = ::splice(fSocket, nullptr, pipeFds[1], nullptr, piece, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  while (n < 0 && errno == EINTR);
  if (n == 0) {
    fLastError = kSockErrConnReset;
    return 0;
  }
  if (n < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) SetErrorFromErrno(errno);
    return -1;
  }
  // Everything taken into the pipe goes on before anything else is read.
  const int64_t deadline = DeadlineAfter(to.SendTimeout);
  for (ssize_t moved = 0; moved < n;) {
    const ssize_t m = ::splice(pipeFds[0], nullptr, to.fSocket, nullptr,
                               static_cast<size_t>(n - moved), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (m > 0) {
      moved += m;
      continue;
    }
    if (m < 0 && errno == EINTR) continue;
    if (m < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!to.WaitWritable(deadline)) return -1;
      continue;
    }
    to.SetErrorFromErrno(m < 0 ? errno : EPIPE);
    return -1;
  }
  return n;
}

size_t TTCPBlockSocket::WaitingData() const {
  int pending = 0;
  if (fSocket != kInvalidSocket && ::ioctl(fSocket, FIONREAD, &pending) != 0) pending = 0;
  return LineBufferSize() + static_cast<size_t>(std::max(pending, 0));
}

bool TTCPBlockSocket::CanRead(int timeoutMs) {
  fLastError = 0;
  if (LineBufferSize() > 0) return true;
  if (fSocket == kInvalidSocket) {
    fLastError = kSockErrNotConnected;
    return false;
  }
  pollfd p{fSocket, POLLIN, 0};
  int rc = PollRetry(&p, 1, DeadlineAfter(timeoutMs), timeoutMs < 0);
  if (rc < 0) SetErrorFromErrno(errno);
  return rc > 0;
}

bool TTCPBlockSocket::CanReadEither(TTCPBlockSocket& a, TTCPBlockSocket& b, int timeoutMs,
                                    bool& aReady, bool& bReady) {
  aReady = a.LineBufferSize() > 0;
  bReady = b.LineBufferSize() > 0;
  if (aReady || bReady) return true;
  pollfd p[2] = {{a.fSocket, POLLIN, 0}, {b.fSocket, POLLIN, 0}};
  int rc = PollRetry(p, 2, DeadlineAfter(timeoutMs), timeoutMs < 0);
  if (rc <= 0) return false;
  aReady = (p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  bReady = (p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  return aReady || bReady;
}

}  // namespace velm
