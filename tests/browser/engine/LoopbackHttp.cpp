#include "LoopbackHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace velm::test {

namespace {

bool SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadHead(int fd) {
  std::string head;
  char c;
  while (head.size() < 65536 && head.find("\r\n\r\n") == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    if (::recv(fd, &c, 1, 0) != 1) break;
    head += c;
  }
  return head;
}

std::string FirstLine(const std::string& head) {
  return head.substr(0, head.find("\r\n"));
}

std::string Response(int status, const char* reason, const std::string& type,
                     const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

TLoopbackServer::TLoopbackServer() {
  fListener = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(fListener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fListener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fListener, 64) != 0)
    throw std::runtime_error("loopback server cannot listen");
  socklen_t len = sizeof addr;
  ::getsockname(fListener, reinterpret_cast<sockaddr*>(&addr), &len);
  fPort = ntohs(addr.sin_port);
  fThread = std::thread([this] { Run(); });
}

TLoopbackServer::~TLoopbackServer() {
  Stop();
}

void TLoopbackServer::Stop() {
  if (fStopping.exchange(true)) return;
  if (fThread.joinable()) fThread.join();
  for (std::thread& worker : fWorkers) worker.join();
  ::close(fListener);
}

void TLoopbackServer::Run() {
  while (!fStopping) {
    pollfd p{fListener, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    int client = ::accept(fListener, nullptr, nullptr);
    if (client < 0) continue;
    // Each connection is answered once and closed.
    fWorkers.emplace_back([this, client] {
      std::string head = ReadHead(client);
      if (!head.empty()) SendAll(client, Answer(client, head));
      ::shutdown(client, SHUT_WR);
      ::close(client);
    });
  }
}

TSiteServer::~TSiteServer() {
  Stop();
}

void TSiteServer::SetPage(const std::string& path, const std::string& contentType,
                          const std::string& body) {
  std::lock_guard<std::mutex> guard(fLock);
  fPages[path] = TSitePage{contentType, body};
}

std::string TSiteServer::Answer(int, const std::string& head) {
  std::string line = FirstLine(head);
  std::size_t start = line.find(' ') + 1;
  std::string target = line.substr(start, line.find(' ', start) - start);
  std::lock_guard<std::mutex> guard(fLock);
  auto it = fPages.find(target);
  if (it == fPages.end()) return Response(404, "Not Found", "text/html", "<h1>404</h1>");
  return Response(200, "OK", it->second.ContentType, it->second.Body);
}

TRecordingProxy::TRecordingProxy(std::string siteHost, int sitePort)
    : fSiteHost(std::move(siteHost)), fSitePort(sitePort) {}

TRecordingProxy::~TRecordingProxy() {
  Stop();
}

std::vector<std::string> TRecordingProxy::Requests() {
  std::lock_guard<std::mutex> guard(fLock);
  return fRequests;
}

bool TRecordingProxy::Saw(const std::string& absoluteUrl) {
  for (const std::string& line : Requests())
    if (line.find(" " + absoluteUrl + " ") != std::string::npos) return true;
  return false;
}

std::string TRecordingProxy::Answer(int, const std::string& head) {
  const std::string line = FirstLine(head);
  {
    std::lock_guard<std::mutex> guard(fLock);
    fRequests.push_back(line);
  }
  // "GET http://host/path HTTP/1.1": only the site's host is served, by its origin path.
  const std::string prefix = "http://" + fSiteHost + "/";
  std::size_t start = line.find(' ') + 1;
  std::string target = line.substr(start, line.find(' ', start) - start);
  if (target.rfind(prefix, 0) != 0)
    return Response(502, "Bad Gateway", "text/html", "<h1>502</h1>");
  std::string method = line.substr(0, start - 1);
  std::string path = target.substr(prefix.size() - 1);

  int upstream = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(fSitePort));
  std::string answer;
  if (::connect(upstream, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      SendAll(upstream, method + " " + path + " HTTP/1.1\r\nHost: " + fSiteHost +
                            "\r\nConnection: close\r\n\r\n")) {
    char buf[8192];
    ssize_t n;
    while ((n = ::recv(upstream, buf, sizeof buf, 0)) > 0) answer.append(buf, n);
  }
  ::close(upstream);
  return answer.empty() ? Response(502, "Bad Gateway", "text/html", "<h1>502</h1>") : answer;
}

}  // namespace velm::test
