// Shared pieces of the proxy tests: a raw upstream server that records every byte it receives
// and answers each request head with scripted bytes, and a fixture that runs the proxy on a free
// loopback port with the settings of a temporary program folder.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "net/Transport.h"
#include "platform/TCPBlockSocket.h"
#include "proxy/HttpProxyThread.h"
#include "proxy/LocalProxy.h"
#include "support/TestFolder.h"

namespace velm::test {

struct TRawAnswer {
  std::string Bytes;
  bool CloseAfter = false;
  int DelayMs = 0;
};

// Answers the n-th request head it sees (counted over all connections; a head ends at the first
// empty line) with the n-th scripted answer; with no answer left it stays silent. Request bodies
// are not parsed: whatever arrives is recorded as it came.
class TRawUpstream {
 public:
  explicit TRawUpstream(std::vector<TRawAnswer> answers = {})
      : fAnswers(answers.begin(), answers.end()) {
    fListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fListen, 64);
    socklen_t len = sizeof addr;
    ::getsockname(fListen, reinterpret_cast<sockaddr*>(&addr), &len);
    fPort = ntohs(addr.sin_port);
    fAccept = std::thread([this] { AcceptLoop(); });
  }
  ~TRawUpstream() {
    fStop = true;
    fAccept.join();
    for (auto& t : fThreads) t.join();
    ::close(fListen);
  }

  int Port() const { return fPort; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(fPort) + path;
  }
  void AddAnswer(TRawAnswer answer) {
    std::lock_guard<std::mutex> lock(fMutex);
    fAnswers.push_back(std::move(answer));
  }
  int Connections() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return static_cast<int>(fReceived.size());
  }
  int Heads() const { return fHeads.load(); }
  // Everything received on connection i (0-based), or "".
  std::string Received(size_t i) const {
    std::lock_guard<std::mutex> lock(fMutex);
    return i < fReceived.size() ? fReceived[i] : std::string();
  }
  // Everything received on all connections, in connection order.
  std::string AllReceived() const {
    std::lock_guard<std::mutex> lock(fMutex);
    std::string all;
    for (const auto& r : fReceived) all += r;
    return all;
  }
  bool WaitHeads(int n, int timeoutMs = 5000) const {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fHeads.load() < n) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  void AcceptLoop() {
    while (!fStop) {
      pollfd p{fListen, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept(fListen, nullptr, nullptr);
      if (fd < 0) continue;
      size_t index;
      {
        std::lock_guard<std::mutex> lock(fMutex);
        index = fReceived.size();
        fReceived.emplace_back();
      }
      fThreads.emplace_back([this, fd, index] { Serve(fd, index); });
    }
  }
  void Serve(int fd, size_t index) {
    std::string pending;
    char buf[65536];
    bool open = true;
    while (open && !fStop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      {
        std::lock_guard<std::mutex> lock(fMutex);
        fReceived[index].append(buf, static_cast<size_t>(n));
      }
      pending.append(buf, static_cast<size_t>(n));
      size_t end;
      while (open && (end = pending.find("\r\n\r\n")) != std::string::npos) {
        pending.erase(0, end + 4);
        TRawAnswer answer;
        bool have = false;
        {
          std::lock_guard<std::mutex> lock(fMutex);
          if (!fAnswers.empty()) {
            answer = fAnswers.front();
            fAnswers.pop_front();
            have = true;
          }
        }
        ++fHeads;
        if (!have) continue;
        if (answer.DelayMs > 0)
          std::this_thread::sleep_for(std::chrono::milliseconds(answer.DelayMs));
        size_t sent = 0;
        while (sent < answer.Bytes.size()) {
          ssize_t s =
              ::send(fd, answer.Bytes.data() + sent, answer.Bytes.size() - sent, MSG_NOSIGNAL);
          if (s <= 0) break;
          sent += static_cast<size_t>(s);
        }
        if (answer.CloseAfter) open = false;
      }
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
  }

  int fListen = -1;
  int fPort = 0;
  std::atomic<bool> fStop{false};
  std::atomic<int> fHeads{0};
  mutable std::mutex fMutex;
  std::deque<TRawAnswer> fAnswers;
  std::vector<std::string> fReceived;
  std::thread fAccept;
  std::vector<std::thread> fThreads;
};

// Reads until the peer closes or nothing arrives for idleMs.
inline std::string ReadAll(TTCPBlockSocket& s, int idleMs = 3000) {
  std::string all;
  for (;;) {
    std::string piece = s.RecvPacket(idleMs);
    if (s.LastError() != 0) return all;
    all += piece;
  }
}

// One HTTP answer with a Content-Length body (or none) from a kept-alive connection; the answer
// to HEAD has none whatever its length says.
inline std::string ReadAnswer(TTCPBlockSocket& s, int timeoutMs = 3000, bool headOnly = false) {
  std::string head;
  size_t length = 0;
  for (;;) {
    std::string line = s.RecvString(timeoutMs);
    if (s.LastError() != 0) return head;
    head += line + "\r\n";
    if (line.empty()) break;
    std::string lower;
    for (char c : line) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("content-length:", 0) == 0)
      length = std::strtoul(line.c_str() + 15, nullptr, 10);
  }
  if (headOnly || head.rfind("HTTP/1.1 304", 0) == 0) return head;
  return head + s.RecvBufferStr(length, timeoutMs);
}

// The proxy on a free port, with settings whose site root is the given upstream.
class TProxyFixture : public ::testing::Test {
 protected:
  void StartProxy(const std::string& siteRoot, int timeoutMs = 5000) {
    fFolder = std::make_unique<TTestProgramFolder>();
    ::setenv("VELM_SITE_ROOT", siteRoot.c_str(), 1);
    AppSettings = new TVelmAppSettings();
    SetTransportSettings(TTransportSettings{});
    ProxyTimeoutMs = timeoutMs;
    StartLocalProxy(0);
    ASSERT_EQ(LocalProxyService()->WaitListenState(5000), TProxyListenState::Listening);
    fPort = LocalProxyService()->BoundPort();
    // Workers count as busy until their threads first wait for work.
    for (int i = 0; i < 500 && LocalProxyService()->BusyWorkers() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  void TearDown() override {
    for (auto& c : fClients) c->CloseSocket();
    // Workers read the settings; let them finish their connections before those go away.
    for (int i = 0; i < 500 && LocalProxyService() && LocalProxyService()->BusyWorkers() > 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    StopLocalProxy();
    FreeAppSettings();
    SetTransportSettings(TTransportSettings{});
    ProxyTimeoutMs = kProxySocketTimeoutMs;
    ::unsetenv("VELM_SITE_ROOT");
    fFolder.reset();
  }
  // A new client connection to the proxy (closed by the fixture).
  TTCPBlockSocket& Client() {
    fClients.push_back(std::make_unique<TTCPBlockSocket>());
    TTCPBlockSocket& c = *fClients.back();
    c.Connect("127.0.0.1", std::to_string(fPort));
    c.ConvertLineEnd = true;
    return c;
  }
  // Sends request bytes on a new connection and returns all bytes until the proxy closes it.
  std::string Exchange(const std::string& request, int idleMs = 3000) {
    TTCPBlockSocket& c = Client();
    c.SendString(request);
    return ReadAll(c, idleMs);
  }
  std::string Pub(const std::string& relative) const { return fFolder->Path("pub/" + relative); }

  std::unique_ptr<TTestProgramFolder> fFolder;
  std::vector<std::unique_ptr<TTCPBlockSocket>> fClients;
  int fPort = 0;
};

}  // namespace velm::test
