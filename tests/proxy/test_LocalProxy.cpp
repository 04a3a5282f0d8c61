// The listener and its pool: round-robin hand-over, waiting clients, stop and restart.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ProxyTestSupport.h"
#include "update/FileIO.h"
#include "update/UpdatePackage.h"

using namespace velm;
using namespace velm::test;
using namespace std::chrono;

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

template <class Pred>
bool WaitUntil(Pred pred, int timeoutMs = 5000) {
  auto end = steady_clock::now() + milliseconds(timeoutMs);
  while (!pred()) {
    if (steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

class LocalProxy : public TProxyFixture {
 protected:
  // Held connections must outlast the slowest run of a test.
  void SetUp() override { StartProxy("http://velmara.test/", 60000); }
  TLocalProxyService& Service() { return *LocalProxyService(); }
  // Opens a connection and waits until a worker has taken it; returns that worker's index.
  int Handed(TTCPBlockSocket*& held) {
    int before = Service().BusyWorkers();
    int previous = Service().LastWorker();
    held = &Client();
    // The search never ends on the worker it started after, so LastWorker moves on every time.
    EXPECT_TRUE(WaitUntil([&] {
      return Service().BusyWorkers() == before + 1 && Service().LastWorker() != previous;
    })) << "busy "
        << Service().BusyWorkers() << " of " << before << "+1, last " << Service().LastWorker()
        << " was " << previous;
    return Service().LastWorker();
  }
  void Release(TTCPBlockSocket* held) {
    int before = Service().BusyWorkers();
    held->CloseSocket();
    EXPECT_TRUE(WaitUntil([&] { return Service().BusyWorkers() == before - 1; }));
  }
};

}  // namespace

TEST_F(LocalProxy, HandOverStartsAfterTheWorkerUsedLast) {
  // All idle: workers 1, 2, ... in turn, wrapping to 0.
  std::vector<int> order;
  for (int i = 0; i < kProxyWorkerCount + 1; ++i) {
    TTCPBlockSocket* c;
    order.push_back(Handed(c));
    Release(c);
  }
  for (int i = 0; i < kProxyWorkerCount + 1; ++i)
    EXPECT_EQ(order[i], (i + 1) % kProxyWorkerCount) << "connection " << i;

  // Worker 2 stays busy; the search after worker 1 passes it over and picks 3.
  TTCPBlockSocket* busy;
  EXPECT_EQ(Handed(busy), 2);
  for (int i = 3; i <= kProxyWorkerCount; ++i) {
    TTCPBlockSocket* c;
    EXPECT_EQ(Handed(c), i % kProxyWorkerCount);
    Release(c);
  }
  TTCPBlockSocket* c;
  EXPECT_EQ(Handed(c), 1);
  EXPECT_EQ(Handed(c), 3);
}

TEST_F(LocalProxy, ServesAllWorkersAtOnceAndQueuesTheNext) {
  TRawUpstream site;
  for (int i = 0; i < kProxyWorkerCount + 1; ++i) site.AddAnswer({kOk});
  // Every worker holds a kept-alive connection, as the browser engine keeps them.
  std::vector<TTCPBlockSocket*> held;
  for (int i = 0; i < kProxyWorkerCount; ++i) {
    TTCPBlockSocket& c = Client();
    c.SendString("GET " + site.Url("/k" + std::to_string(i)) +
                 " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
    held.push_back(&c);
  }
  for (TTCPBlockSocket* c : held) EXPECT_EQ(ReadAnswer(*c), kOk);
  EXPECT_EQ(Service().BusyWorkers(), kProxyWorkerCount);

  // One more is accepted by the system but waits for a worker.
  TTCPBlockSocket& waiting = Client();
  waiting.SendString("GET " + site.Url("/late") + " HTTP/1.1\r\n\r\n");
  EXPECT_FALSE(waiting.CanRead(300));
  held[17]->CloseSocket();
  EXPECT_EQ(ReadAll(waiting), kOk);
}

TEST_F(LocalProxy, StopReturnsSoonWhileAWorkerWaitsOnASlowSite) {
  TearDown();
  StartProxy("http://velmara.test/", 1500);
  TRawUpstream silentSite;  // never answers
  TTCPBlockSocket& c = Client();
  c.SendString("GET " + silentSite.Url("/slow") + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(silentSite.WaitHeads(1));
  auto start = steady_clock::now();
  StopLocalProxy();
  EXPECT_LT(steady_clock::now() - start, milliseconds(2500));
  EXPECT_EQ(LocalProxyService(), nullptr);
  // The busy worker ends with its connection; the client sees it closed, not answered.
  EXPECT_EQ(ReadAll(c, 8000), "");
}

TEST_F(LocalProxy, PortHeldByAnotherListenerFailsAndRestartBindsAgain) {
  const int port = fPort;
  StopLocalProxy();
  // Right after the stop the same port binds again.
  StartLocalProxy(port);
  ASSERT_EQ(LocalProxyService()->WaitListenState(5000), TProxyListenState::Listening);
  EXPECT_EQ(LocalProxyService()->BoundPort(), port);
  TRawUpstream site({{kOk}});
  EXPECT_EQ(Exchange("GET " + site.Url("/again") + " HTTP/1.1\r\n\r\n"), kOk);
  StopLocalProxy();

  TTCPBlockSocket other;
  other.Bind("127.0.0.1", std::to_string(port));
  other.Listen();
  ASSERT_EQ(other.LastError(), 0);
  StartLocalProxy(port);
  EXPECT_EQ(LocalProxyService()->WaitListenState(5000), TProxyListenState::BindFailed);
}

TEST_F(LocalProxy, EightClientsNeverSeeATornFileWhileTheUpdaterRewritesIt) {
  FilesUpdated = true;
  const std::string file = Pub("images/big.gif");
  auto version = [](int v) {
    return std::string(100000 + v * 1237, static_cast<char>('A' + v % 26));
  };
  {
    TMemoryStream first(version(0));
    SaveStreamToFile(first, file);
  }
  std::atomic<bool> stop{false};
  std::thread updater([&] {
    for (int v = 1; !stop; ++v) {
      TMemoryStream next(version(v));
      SaveStreamToFile(next, file);
    }
  });
  const std::string url = "http://velmara.test/images/big.gif";
  std::atomic<int> answers{0}, torn{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([&] {
      TTCPBlockSocket c;
      c.Connect("127.0.0.1", std::to_string(fPort));
      c.ConvertLineEnd = true;
      for (int i = 0; i < 25; ++i) {
        c.SendString("GET " + url + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
        std::string answer = ReadAnswer(c, 5000);
        std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
        char first = body.empty() ? 0 : body[0];
        int v = first - 'A';
        bool whole = body.size() >= 100000 && body.find_first_not_of(first) == std::string::npos &&
                     (body.size() - 100000) % 1237 == 0 &&
                     static_cast<int>((body.size() - 100000) / 1237) % 26 == v;
        if (!whole) ++torn;
        ++answers;
      }
    });
  }
  for (auto& t : clients) t.join();
  stop = true;
  updater.join();
  FilesUpdated = false;
  EXPECT_EQ(answers, 200);
  EXPECT_EQ(torn, 0);
}
