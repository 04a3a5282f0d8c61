// Two small HTTP servers on 127.0.0.1 for the browser engine tests: the game site, answering
// from a table of pages, and a proxy in front of it that records every request the browser makes
// and forwards those for the site's host name to the site (everything else gets a 502).
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velm::test {

// Accepts connections on a loopback port and answers each with one response, then closes it.
class TLoopbackServer {
 public:
  TLoopbackServer();
  virtual ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  int Port() const { return fPort; }

 protected:
  // The request head up to its blank line, without the body; returns the whole response.
  virtual std::string Answer(int client, const std::string& head) = 0;
  void Stop();

 private:
  void Run();

  int fListener = -1;
  int fPort = 0;
  std::atomic<bool> fStopping{false};
  std::thread fThread;
  std::vector<std::thread> fWorkers;  // touched by the accepting thread only, until Stop
};

struct TSitePage {
  std::string ContentType;
  std::string Body;  // UTF-8
};

class TSiteServer : public TLoopbackServer {
 public:
  ~TSiteServer() override;
  void SetPage(const std::string& path, const std::string& contentType, const std::string& body);

 protected:
  std::string Answer(int client, const std::string& head) override;

 private:
  std::mutex fLock;
  std::map<std::string, TSitePage> fPages;
};

class TRecordingProxy : public TLoopbackServer {
 public:
  TRecordingProxy(std::string siteHost, int sitePort);
  ~TRecordingProxy() override;
  // The request lines seen, in order ("GET http://game.example/index.php HTTP/1.1").
  std::vector<std::string> Requests();
  bool Saw(const std::string& absoluteUrl);

 protected:
  std::string Answer(int client, const std::string& head) override;

 private:
  std::string fSiteHost;
  int fSitePort;
  std::mutex fLock;
  std::vector<std::string> fRequests;
};

}  // namespace velm::test
