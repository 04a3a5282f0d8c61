// Drives one proxy worker's request reading and answer relaying on socket pairs, without its
// thread, so a fuzzer can feed the bytes a browser or a site would send.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "proxy/HttpProxyThread.h"

namespace velm {

// Short enough that a fuzz run never waits: every input is complete before the worker reads.
inline constexpr int kFuzzTimeoutMs = 20;

// A connected pair; our end is filled with the input and shut for writing, so the worker meets
// the end of the stream right after the last byte.
struct TSocketPair {
  int ours = -1, theirs = -1;
  TSocketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    ours = fds[0];
    theirs = fds[1];
    // Room for the largest input and what the worker writes back, so nothing blocks.
    int size = 1 << 20;
    ::setsockopt(ours, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(ours, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(theirs, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(theirs, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::fcntl(ours, F_SETFL, O_NONBLOCK);
  }
  ~TSocketPair() {
    if (ours >= 0) ::close(ours);
  }
  void Feed(std::string_view bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(ours, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    ::shutdown(ours, SHUT_WR);
  }
  // Hands the other end to a socket object, which closes it.
  int Release() {
    int fd = theirs;
    theirs = -1;
    return fd;
  }
  // Reads what the worker wrote, so its sends never fill the pair.
  size_t Drain() {
    size_t total = 0;
    char buf[65536];
    for (;;) {
      ssize_t n = ::recv(ours, buf, sizeof buf, 0);
      if (n <= 0) return total;
      total += static_cast<size_t>(n);
    }
  }
};

class TProxyTestAccess {
 public:
  explicit TProxyTestAccess() : fWorker(0, nullptr, kFuzzTimeoutMs) {}

  // The browser side: the worker's client socket reads the pair.
  void AttachClient(int fd) {
    fWorker.sock = std::make_unique<TTCPBlockSocket>();
    Prepare(*fWorker.sock, fd);
  }
  // The site side: an open upstream connection for host and port, as after a first request.
  void AttachUpstream(int fd, const std::string& host, const std::string& port) {
    fWorker.querySock = std::make_unique<TTCPBlockSocket>();
    Prepare(*fWorker.querySock, fd);
    fWorker.host = fWorker.lastHost = host;
    fWorker.port = fWorker.lastPort = port;
  }
  bool ProcessRequest() { return fWorker.ProcessRequest(); }
  bool ProcessQuery(TMemoryStream* store) { return fWorker.ProcessQuery(store); }
  TTCPBlockSocket& Client() { return *fWorker.sock; }
  void SetRequest(const std::string& method, const std::string& protocol, bool keepAlive) {
    fWorker.method = method;
    fWorker.commandProtocol = protocol;
    fWorker.keepAlive = keepAlive;
    fWorker.contentLength = 0;
    fWorker.headers = {method + " /img/a.gif " + protocol, "Host: site"};
  }
  const std::string& Path() const { return fWorker.path; }
  const std::string& Host() const { return fWorker.host; }
  int64_t ContentLength() const { return fWorker.contentLength; }
  size_t HeaderCount() const { return fWorker.headers.size() + fWorker.proxyHeaders.size(); }

 private:
  static void Prepare(TTCPBlockSocket& s, int fd) {
    s.SetSocket(fd);
    s.ConvertLineEnd = true;
    s.MaxLineLength = kProxyMaxLineLength;
    s.SendTimeout = kFuzzTimeoutMs;
  }
  THttpProxyThread fWorker;
};

}  // namespace velm
