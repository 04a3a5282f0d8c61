// The proxy under load, faults and bad input: many clients at once, long kept-alive connections,
// sites and browsers that go away in the middle of a body, sites that never answer, garbage on
// the port. Every answer that arrives is whole, nothing torn is stored, and the proxy goes on
// serving afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "proxy/ProxyTestSupport.h"
#include "support/LoopbackHttpServer.h"
#include "update/FileIO.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdatePackage.h"
#include "update/UpdateProcessor.h"

using namespace velm;
using namespace velm::test;
using namespace std::chrono;

namespace {

std::string Bytes(size_t n, char seed) {
  std::string s(n, seed);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 251);
  return s;
}

// The body of one answer read by ReadAnswer, or "" when the head is not a 200.
std::string BodyOf(const std::string& answer) {
  if (answer.rfind("HTTP/1.1 200 OK\r\n", 0) != 0) return {};
  size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

template <class Pred>
bool WaitUntil(Pred pred, int timeoutMs = 5000) {
  auto end = steady_clock::now() + milliseconds(timeoutMs);
  while (!pred()) {
    if (steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

class ProxyHardening : public TProxyFixture {
 protected:
  void SetUp() override {
    fZone = std::make_unique<TScopedTimeZone>("<+03>-3");
    InitializeUpdateProcessor();
    FilesUpdated = true;
  }
  void Start(const std::string& siteRoot, int timeoutMs = 5000) {
    StartProxy(siteRoot, timeoutMs);
    CreateSingleFileUpdater();
  }
  void TearDown() override {
    TProxyFixture::TearDown();
    FinalizeUpdateProcessor();
    FilesUpdated = false;
    fZone.reset();
  }
  void PutFile(const std::string& relative, const std::string& bytes) {
    TMemoryStream stream(bytes);
    SaveStreamToFile(stream, Pub(relative));
  }
  std::string Request(const std::string& url, bool keepAlive) {
    return "GET " + url + " HTTP/1.1\r\n" + (keepAlive ? "Proxy-Connection: keep-alive\r\n" : "") +
           "\r\n";
  }
  // The proxy still answers a local file whole on a new connection.
  void ExpectStillServing(const std::string& url, const std::string& bytes) {
    TTCPBlockSocket& c = Client();
    c.SendString(Request(url, false));
    EXPECT_EQ(BodyOf(ReadAnswer(c)), bytes) << "proxy stopped serving";
  }

  std::unique_ptr<TScopedTimeZone> fZone;
};

TEST_F(ProxyHardening, SixtyFourClientsAtOnceAreAllServedWhole) {
  TLoopbackHttpServer site;
  Start(site.Url("/"));
  const std::string gif = Bytes(200000, 'a');
  PutFile("images/big.gif", gif);
  constexpr int kClients = 64;
  std::atomic<int> whole{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      TTCPBlockSocket c;
      c.ConvertLineEnd = true;
      c.Connect("127.0.0.1", std::to_string(fPort));
      // Two requests each, the second on the kept connection.
      c.SendString(Request(site.Url("/images/big.gif"), true) +
                   Request(site.Url("/images/big.gif"), true));
      for (int k = 0; k < 2; ++k)
        if (BodyOf(ReadAnswer(c, 10000)) == gif) ++whole;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(whole.load(), 2 * kClients);
}

TEST_F(ProxyHardening, TenThousandKeptAliveRequestsOnOneConnection) {
  TLoopbackHttpServer site;
  Start(site.Url("/"));
  const std::string gif = Bytes(300, 'k');
  PutFile("images/k.gif", gif);
  TTCPBlockSocket& c = Client();
  constexpr int kRequests = 10000;
  const std::string request = Request(site.Url("/images/k.gif"), true);
  int whole = 0;
  // Requests go out in batches of 50 before their answers are read, as a browser pipelines.
  for (int sent = 0; sent < kRequests; sent += 50) {
    std::string batch;
    for (int k = 0; k < 50; ++k) batch += request;
    c.SendString(batch);
    for (int k = 0; k < 50; ++k) whole += BodyOf(ReadAnswer(c)) == gif;
    ASSERT_EQ(whole, sent + 50) << "answer " << whole << " broken";
  }
  EXPECT_EQ(site.RequestCount(), 0u);
}

TEST_F(ProxyHardening, AThousandShortConnectionsInARow) {
  TLoopbackHttpServer site;
  Start(site.Url("/"));
  const std::string gif = Bytes(1000, 's');
  PutFile("images/s.gif", gif);
  int whole = 0;
  for (int i = 0; i < 1000; ++i) {
    TTCPBlockSocket c;
    c.ConvertLineEnd = true;
    c.Connect("127.0.0.1", std::to_string(fPort));
    c.SendString(Request(site.Url("/images/s.gif"), false));
    whole += BodyOf(ReadAnswer(c)) == gif;
  }
  EXPECT_EQ(whole, 1000);
  EXPECT_TRUE(WaitUntil([] { return LocalProxyService()->BusyWorkers() == 0; }));
}

TEST_F(ProxyHardening, BrowserClosingInTheMiddleOfALocalAnswerFreesItsWorker) {
  TLoopbackHttpServer site;
  Start(site.Url("/"));
  const std::string big = Bytes(8 << 20, 'b');
  PutFile("images/huge.gif", big);
  for (int i = 0; i < 20; ++i) {
    TTCPBlockSocket c;
    c.Connect("127.0.0.1", std::to_string(fPort));
    c.SendString(Request(site.Url("/images/huge.gif"), true));
    c.RecvBufferStr(1000, 3000);
    EXPECT_EQ(c.LastError(), 0);
  }  // each closed with megabytes unread
  EXPECT_TRUE(WaitUntil([] { return LocalProxyService()->BusyWorkers() == 0; }));
  ExpectStillServing(site.Url("/images/huge.gif"), big);
}

TEST_F(ProxyHardening, SiteClosingInTheMiddleOfABodyEndsTheRelayAndStoresNothing) {
  TRawUpstream site({
      // A page relayed: half of the promised body, then the site closes.
      {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'p'), true},
      // A missing mirror file, cut the same way.
      {"HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n" + std::string(1000, 'g'), true},
      // A chunked missing file without its last chunk.
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100\r\n" + std::string(256, 'c') +
           "\r\n",
       true},
  });
  Start(site.Url("/"));
  std::string page = Exchange(Request(site.Url("/main.php"), true));
  EXPECT_LT(page.size(),
            std::string("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n").size() + 1000);
  Exchange(Request(site.Url("/images/cut.gif"), true));
  Exchange(Request(site.Url("/images/chunked.gif"), true));
  EXPECT_TRUE(WaitUntil([] { return LocalProxyService()->BusyWorkers() == 0; }));
  EXPECT_FALSE(test::FileExists(Pub("images/cut.gif")));
  EXPECT_FALSE(test::FileExists(Pub("images/chunked.gif")));
  PutFile("images/ok.gif", "OK");
  ExpectStillServing(site.Url("/images/ok.gif"), "OK");
}

TEST_F(ProxyHardening, SiteThatNeverAnswersIsGivenUpAfterTheTimeout) {
  TRawUpstream site;  // accepts, reads, says nothing
  Start(site.Url("/"), 300);
  auto start = steady_clock::now();
  std::string answer = Exchange(Request(site.Url("/main.php"), true), 5000);
  auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
  EXPECT_TRUE(site.WaitHeads(1));
  EXPECT_EQ(answer, "");
  EXPECT_LT(took, 3000);
  // A missing file behind the silent site is not stored either.
  Exchange(Request(site.Url("/images/never.gif"), true), 5000);
  EXPECT_FALSE(test::FileExists(Pub("images/never.gif")));
  PutFile("images/ok.gif", "OK");
  ExpectStillServing(site.Url("/images/ok.gif"), "OK");
}

TEST_F(ProxyHardening, GarbageLongLinesAndHugeHeadsGetABoundedEnd) {
  TLoopbackHttpServer site;
  Start(site.Url("/"), 2000);
  std::string garbage = Bytes(1 << 20, '\x01');
  std::string longLine =
      "GET http://x/" + std::string(kProxyMaxLineLength * 4, 'a') + " HTTP/1.1\r\n\r\n";
  std::string manyHeaders = "GET " + site.Url("/images/ok.gif") + " HTTP/1.1\r\n";
  for (size_t i = 0; i <= kProxyMaxHeaderLines * 2; ++i) manyHeaders += "X-A: b\r\n";
  manyHeaders += "\r\n";
  static const char kNul[] = "GET \0\xff\xfe /\x80 HTTP/1.1\r\n\r\n";
  std::string nulAndHighBytes(kNul, sizeof kNul - 1);
  for (const std::string* input : {&garbage, &longLine, &manyHeaders, &nulAndHighBytes}) {
    auto start = steady_clock::now();
    TTCPBlockSocket& c = Client();
    c.SendString(*input);
    std::string answer = ReadAll(c, 3000);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 3000);
    EXPECT_EQ(answer.find("200 OK"), std::string::npos);
  }
  EXPECT_EQ(site.RequestCount(), 0u);
  PutFile("images/ok.gif", "OK");
  ExpectStillServing(site.Url("/images/ok.gif"), "OK");
}

}  // namespace
