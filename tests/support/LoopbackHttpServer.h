// A small HTTP server on 127.0.0.1 for tests: it accepts connections, reads each request (head
// and Content-Length body), records the raw bytes and answers with bytes the test scripted.
// A connection stays open for further requests when the request keeps it (HTTP/1.1, or HTTP/1.0
// with "Connection: keep-alive") and the answer does not close it, so reuse can be observed. In
// forwarding mode it acts as a recording forward proxy.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velm::test {

struct TRecordedRequest {
  std::string Raw;   // head and body exactly as received
  std::string Head;  // request line and header lines, up to and including the blank line
  std::string Body;
  std::string Method;   // "GET"
  std::string Target;   // as sent: "/path?q" or "http://host:port/path" through a proxy
  std::string Version;  // "HTTP/1.0"
  std::vector<std::string> HeaderLines;  // "Name: value", without line ends
  int Connection = 0;                    // 1-based number of the connection it came on

  // Value of the first header with this name (letter case ignored), trimmed; empty if absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

struct TScriptedAnswer {
  std::string Bytes;        // sent exactly as given
  bool CloseAfter = false;  // close the connection once the bytes are sent
  bool Stall = false;       // send nothing and hold the connection until the server stops
  int DelayMs = 0;          // wait this long before sending
};

// "HTTP/1.1 <status>\r\n" + each header line + "Content-Length" + blank line + body.
std::string HttpAnswer(const std::string& status, const std::string& body,
                       const std::vector<std::string>& headerLines = {});

class TLoopbackHttpServer {
 public:
  using THandler = std::function<TScriptedAnswer(const TRecordedRequest&)>;

  // Listens on 127.0.0.1 at a free port and starts serving at once.
  TLoopbackHttpServer();
  ~TLoopbackHttpServer();
  TLoopbackHttpServer(const TLoopbackHttpServer&) = delete;
  TLoopbackHttpServer& operator=(const TLoopbackHttpServer&) = delete;

  int Port() const { return fPort; }
  // "http://127.0.0.1:PORT" + path (path starts with "/").
  std::string Url(const std::string& path = "/") const;

  // Answers for exact request targets; a target with no answer gets the handler's answer, or a
  // plain 404 when no handler is set.
  void SetAnswer(const std::string& target, TScriptedAnswer answer);
  void SetAnswer(const std::string& target, const std::string& bytes);
  void SetHandler(THandler handler);
  // Requests with an absolute "http://" target are passed on to that origin (HTTP/1.0,
  // "Connection: close", proxy headers dropped) and its answer is relayed; the connection closes.
  void SetForwarding(bool on);

  std::vector<TRecordedRequest> Requests() const;
  size_t RequestCount() const;
  int ConnectionCount() const { return fConnections.load(); }
  // Waits until at least n requests have been recorded; false after timeoutMs.
  bool WaitForRequests(size_t n, int timeoutMs = 5000) const;
  // Stops accepting and closes every connection (also done by the destructor).
  void Stop();

 private:
  void AcceptLoop();
  void Serve(int fd, int number);
  TScriptedAnswer AnswerFor(const TRecordedRequest& request);
  TScriptedAnswer Forward(const TRecordedRequest& request);
  bool WaitReadable(int fd, int timeoutMs);

  int fListen = -1;
  int fWake[2] = {-1, -1};
  int fPort = 0;
  std::atomic<bool> fStopping{false};
  std::atomic<int> fConnections{0};
  std::atomic<bool> fForwarding{false};

  mutable std::mutex fMutex;
  mutable std::condition_variable fRecorded;
  std::map<std::string, TScriptedAnswer> fAnswers;
  THandler fHandler;
  std::vector<TRecordedRequest> fRequests;
  std::vector<int> fOpenFds;

  std::thread fAcceptThread;
  std::vector<std::thread> fServeThreads;  // guarded by fMutex
};

}  // namespace velm::test
