#include "support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace velm::test {
namespace {

constexpr size_t kMaxHead = 1 << 20;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Splits the head into request line and header lines (CR LF or LF line ends).
void ParseHead(TRecordedRequest& r) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < r.Head.size()) {
    size_t nl = r.Head.find('\n', pos);
    if (nl == std::string::npos) nl = r.Head.size();
    std::string line = r.Head.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    pos = nl + 1;
  }
  if (lines.empty()) return;
  const std::string& first = lines.front();
  size_t a = first.find(' ');
  size_t b = a == std::string::npos ? a : first.find(' ', a + 1);
  r.Method = first.substr(0, a);
  if (a != std::string::npos)
    r.Target = first.substr(a + 1, b == std::string::npos ? b : b - a - 1);
  if (b != std::string::npos) r.Version = first.substr(b + 1);
  r.HeaderLines.assign(lines.begin() + 1, lines.end());
}

}  // namespace

std::string TRecordedRequest::Header(const std::string& name) const {
  std::string want = Lower(name);
  for (const std::string& line : HeaderLines) {
    size_t colon = line.find(':');
    if (colon != std::string::npos && Lower(Trim(line.substr(0, colon))) == want)
      return Trim(line.substr(colon + 1));
  }
  return {};
}

bool TRecordedRequest::HasHeader(const std::string& name) const {
  std::string want = Lower(name);
  for (const std::string& line : HeaderLines) {
    size_t colon = line.find(':');
    if (colon != std::string::npos && Lower(Trim(line.substr(0, colon))) == want) return true;
  }
  return false;
}

std::string HttpAnswer(const std::string& status, const std::string& body,
                       const std::vector<std::string>& headerLines) {
  std::string out = "HTTP/1.1 " + status + "\r\n";
  for (const std::string& line : headerLines) out += line + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

TLoopbackHttpServer::TLoopbackHttpServer() {
  if (pipe(fWake) != 0) throw std::runtime_error("pipe failed");
  fListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fListen < 0) throw std::runtime_error("socket failed");
  int one = 1;
  setsockopt(fListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(fListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(fListen, 64) != 0)
    throw std::runtime_error("bind/listen failed");
  socklen_t len = sizeof addr;
  getsockname(fListen, reinterpret_cast<sockaddr*>(&addr), &len);
  fPort = ntohs(addr.sin_port);
  fAcceptThread = std::thread([this] { AcceptLoop(); });
}

TLoopbackHttpServer::~TLoopbackHttpServer() {
  Stop();
  close(fWake[0]);
  close(fWake[1]);
}

void TLoopbackHttpServer::Stop() {
  if (fStopping.exchange(true)) return;
  // The byte is never read: the pipe stays readable and wakes every poll for good.
  char b = 1;
  if (write(fWake[1], &b, 1) != 1) {
  }
  if (fAcceptThread.joinable()) fAcceptThread.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(fMutex);
    threads.swap(fServeThreads);
  }
  for (std::thread& t : threads) t.join();
  close(fListen);
  fListen = -1;
}

std::string TLoopbackHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(fPort) + path;
}

void TLoopbackHttpServer::SetAnswer(const std::string& target, TScriptedAnswer answer) {
  std::lock_guard<std::mutex> lock(fMutex);
  fAnswers[target] = std::move(answer);
}

void TLoopbackHttpServer::SetAnswer(const std::string& target, const std::string& bytes) {
  TScriptedAnswer answer;
  answer.Bytes = bytes;
  SetAnswer(target, std::move(answer));
}

void TLoopbackHttpServer::SetHandler(THandler handler) {
  std::lock_guard<std::mutex> lock(fMutex);
  fHandler = std::move(handler);
}

void TLoopbackHttpServer::SetForwarding(bool on) {
  fForwarding = on;
}

std::vector<TRecordedRequest> TLoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fRequests;
}

size_t TLoopbackHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fRequests.size();
}

bool TLoopbackHttpServer::WaitForRequests(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(fMutex);
  return fRecorded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return fRequests.size() >= n; });
}

bool TLoopbackHttpServer::WaitReadable(int fd, int timeoutMs) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {fWake[0], POLLIN, 0}};
  for (;;) {
    int n = poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || fds[1].revents) return false;
    return true;
  }
}

void TLoopbackHttpServer::AcceptLoop() {
  while (!fStopping) {
    if (!WaitReadable(fListen, -1)) break;
    int fd = accept4(fListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int number = ++fConnections;
    std::lock_guard<std::mutex> lock(fMutex);
    fServeThreads.emplace_back([this, fd, number] { Serve(fd, number); });
  }
}

TScriptedAnswer TLoopbackHttpServer::AnswerFor(const TRecordedRequest& request) {
  if (fForwarding && request.Target.rfind("http://", 0) == 0) return Forward(request);
  THandler handler;
  {
    std::lock_guard<std::mutex> lock(fMutex);
    auto it = fAnswers.find(request.Target);
    if (it != fAnswers.end()) return it->second;
    handler = fHandler;
  }
  if (handler) return handler(request);
  TScriptedAnswer notFound;
  notFound.Bytes = HttpAnswer("404 Not Found", "not found");
  return notFound;
}

void TLoopbackHttpServer::Serve(int fd, int number) {
  std::string buffer;
  char chunk[16384];
  auto readMore = [&]() -> bool {
    if (!WaitReadable(fd, -1)) return false;
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
  };
  for (;;) {
    size_t headEnd = std::string::npos, sepLen = 0;
    while (headEnd == std::string::npos) {
      size_t crlf = buffer.find("\r\n\r\n"), lf = buffer.find("\n\n");
      if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
        headEnd = crlf, sepLen = 4;
      } else if (lf != std::string::npos) {
        headEnd = lf, sepLen = 2;
      } else if (buffer.size() > kMaxHead || !readMore()) {
        close(fd);
        return;
      }
    }
    TRecordedRequest request;
    request.Connection = number;
    request.Head = buffer.substr(0, headEnd + sepLen);
    buffer.erase(0, headEnd + sepLen);
    ParseHead(request);
    size_t bodyLength = 0;
    std::string cl = request.Header("Content-Length");
    if (!cl.empty()) bodyLength = std::strtoul(cl.c_str(), nullptr, 10);
    while (buffer.size() < bodyLength)
      if (!readMore()) break;
    request.Body = buffer.substr(0, std::min(bodyLength, buffer.size()));
    buffer.erase(0, request.Body.size());
    request.Raw = request.Head + request.Body;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      fRequests.push_back(request);
    }
    fRecorded.notify_all();

    TScriptedAnswer answer = AnswerFor(request);
    if (answer.Stall) {
      while (WaitReadable(fd, -1) && recv(fd, chunk, sizeof chunk, 0) > 0) {
      }
      close(fd);
      return;
    }
    if (answer.DelayMs > 0 && !fStopping) {
      pollfd wake{fWake[0], POLLIN, 0};
      poll(&wake, 1, answer.DelayMs);
    }
    // HTTP/1.0 closes unless the client asked to keep the connection; "close" always closes.
    std::string connection = Lower(request.Header("Connection"));
    bool keep = request.Version == "HTTP/1.0" ? connection == "keep-alive" : connection != "close";
    if (!SendAll(fd, answer.Bytes) || answer.CloseAfter || !keep) {
      shutdown(fd, SHUT_WR);
      close(fd);
      return;
    }
  }
}

TScriptedAnswer TLoopbackHttpServer::Forward(const TRecordedRequest& request) {
  TScriptedAnswer answer;
  answer.CloseAfter = true;
  std::string rest = request.Target.substr(7);
  size_t slash = rest.find('/');
  std::string hostPort = rest.substr(0, slash);
  std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
  std::string host = hostPort, port = "80";
  if (size_t colon = hostPort.rfind(':'); colon != std::string::npos) {
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int fd = -1;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) == 0 && found) {
    fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
      close(fd);
      fd = -1;
    }
    freeaddrinfo(found);
  }
  if (fd < 0) {
    answer.Bytes = HttpAnswer("502 Bad Gateway", "no origin");
    return answer;
  }
  std::string out = request.Method + " " + path + " HTTP/1.0\r\n";
  for (const std::string& line : request.HeaderLines) {
    std::string name = Lower(Trim(line.substr(0, line.find(':'))));
    if (name.rfind("proxy-", 0) == 0 || name == "connection") continue;
    out += line + "\r\n";
  }
  out += "Connection: close\r\n\r\n" + request.Body;
  if (SendAll(fd, out)) {
    char chunk[16384];
    while (WaitReadable(fd, 10000)) {
      ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      answer.Bytes.append(chunk, static_cast<size_t>(n));
    }
  }
  close(fd);
  return answer;
}

}  // namespace velm::test
