// What the relay passes back to the browser, byte for byte, and when it keeps the connection.
#include <gtest/gtest.h>

#include <string>

#include "ProxyTestSupport.h"
#include "net/Transport.h"

using namespace velm;
using namespace velm::test;

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

std::string ConnectErrorPage(const std::string& hostPort) {
  std::string body =
      "<html>\r\n<head><title>Connection error</title></head>\r\n<body>\r\n"
      "<H1>Connection error</H1>\r\n<P>\r\nUnable to connect with: " +
      hostPort +
      "\r\n<P>\r\nRequested address is bad, or server is not accessible now.\r\n<P>\r\n"
      "<H2>Error 502</H2>\r\n<P>\r\n</body>\r\n</html>\r\n";
  return "HTTP/1.0 502\r\nContent-type: text/html\r\nContent-length: " +
         std::to_string(body.size()) + "\r\nproxy-Connection: close\r\n\r\n" + body;
}

int UnusedPort() {
  TTCPBlockSocket probe;
  probe.Bind("127.0.0.1", "0");
  return probe.GetLocalPort();
}

class UpstreamRelay : public TProxyFixture {
 protected:
  void SetUp() override { StartProxy("http://velmara.test/"); }
};

}  // namespace

TEST_F(UpstreamRelay, AnswersPassUnchangedAndDecideKeepAlive) {
  const std::string body70000 = Pattern(70000);
  const std::string chunk26 = Pattern(26);
  struct {
    const char* name;
    std::string method;
    TRawAnswer answer;
    std::string expected;  // what the browser receives; defaults to the answer's bytes
    bool keptOpen;
  } cases[] = {
      {"body of 70000 bytes in two pieces",
       "GET",
       {"HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + body70000},
       "",
       true},
      {"chunked with an extension and a non-hex size",
       "GET",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a;name=value\r\n" + chunk26 +
        "\r\nzz\r\nX-Trailer: 1\r\n\r\n"},
       "",
       true},
      {"chunked with a chunk of 100000 bytes, then the last chunk",
       "GET",
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n186a0\r\n" + Pattern(100000) +
        "\r\n0\r\n\r\n"},
       "",
       true},
      {"100 Continue before the final answer",
       "POST",
       {"HTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"},
       "",
       true},
      {"HEAD with a length gets no body",
       "HEAD",
       {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"},
       "",
       true},
      {"404 without length: head only, then closed",
       "GET",
       {"HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\nnot found text", true},
       "HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\n",
       false},
      {"GET 200 without length relayed until the site closes",
       "GET",
       {"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body70000, true},
       "",
       false},
      {"Connection: close reaches the browser and ends the connection",
       "GET",
       {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"},
       "",
       false},
      {"length 0", "GET", {"HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n"}, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRawUpstream site({c.answer, {kOk}});
    std::string expected = c.expected.empty() ? c.answer.Bytes : c.expected;
    TTCPBlockSocket& client = Client();
    std::string body = c.method == "POST" ? "Content-Length: 3\r\n\r\nabc" : "\r\n";
    client.SendString(c.method + " " + site.Url("/r") +
                      " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n" + body);
    EXPECT_EQ(client.RecvBufferStr(expected.size(), 5000), expected);
    if (c.keptOpen) {
      client.SendString("GET " + site.Url("/next") +
                        " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
      EXPECT_EQ(ReadAnswer(client), kOk);
      EXPECT_EQ(site.Connections(), 1);
    } else {
      EXPECT_EQ(client.RecvPacket(3000), "");
      EXPECT_EQ(client.LastError(), kSockErrConnReset);
    }
  }
}

TEST_F(UpstreamRelay, HttpOneZeroClientIsNotKeptAlive) {
  TRawUpstream site({{kOk}});
  EXPECT_EQ(Exchange("GET " + site.Url("/a") + " HTTP/1.0\r\nProxy-Connection: keep-alive\r\n\r\n"),
            kOk);
}

TEST_F(UpstreamRelay, FailedConnectGivesThe502PageByteForByte) {
  int port = UnusedPort();
  EXPECT_EQ(Exchange("GET http://127.0.0.1:" + std::to_string(port) + "/x HTTP/1.1\r\n\r\n"),
            ConnectErrorPage("127.0.0.1:" + std::to_string(port)));

  // Through an upstream proxy the page names that proxy.
  TTransportSettings settings;
  settings.UseProxy = true;
  settings.ProxyAddress = "127.0.0.1";
  settings.ProxyPort = port;
  SetTransportSettings(settings);
  EXPECT_EQ(Exchange("GET http://velmara.test/x HTTP/1.1\r\n\r\n"),
            ConnectErrorPage("127.0.0.1:" + std::to_string(port)));
}

TEST_F(UpstreamRelay, BrokenAnswersEndTheConnectionWithoutBytes) {
  struct {
    const char* name;
    TRawAnswer answer;
    std::string expected;
  } cases[] = {
      {"status line not HTTP/", {"ICY 200 OK\r\nContent-Length: 2\r\n\r\nok"}, ""},
      {"site closes before answering", {"", true}, ""},
      {"site closes inside the head", {"HTTP/1.1 200 OK\r\nContent-Le", true}, ""},
      {"body shorter than its length",
       {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true},
       "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"},  // the head was already sent
  };
  std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
  for (size_t i = 0; i <= kProxyMaxHeaderLines; ++i) manyHeaders += "X-H: 1\r\n";
  std::string longHeader =
      "HTTP/1.1 200 OK\r\nX-Long: " + std::string(kProxyMaxLineLength, 'x') + "\r\n\r\n";
  // Nothing of an answer head goes out before the head is complete and within the limits.
  struct {
    const char* name;
    TRawAnswer answer;
    std::string expected;
  } limits[] = {
      {"more header lines than the limit", {manyHeaders + "Content-Length: 2\r\n\r\nok"}, ""},
      {"a header line longer than the limit", {longHeader}, ""},
  };
  for (const auto& c : limits) {
    SCOPED_TRACE(c.name);
    TRawUpstream site({c.answer});
    EXPECT_EQ(Exchange("GET " + site.Url("/b") + " HTTP/1.1\r\n\r\n"), c.expected);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRawUpstream site({c.answer});
    EXPECT_EQ(
        Exchange("GET " + site.Url("/b") + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n"),
        c.expected);
  }
}

TEST_F(UpstreamRelay, UpstreamConnectionIsKeptPerHostAndPort) {
  TRawUpstream a({{kOk}}), b({{kOk}, {kOk}});
  TTCPBlockSocket& client = Client();
  auto get = [&](const std::string& url) {
    client.SendString("GET " + url + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
    return ReadAnswer(client);
  };
  EXPECT_EQ(get(a.Url("/1")), kOk);
  // Same host, another port: must reach the second server, not the first one's connection.
  EXPECT_EQ(get(b.Url("/2")), kOk);
  // Same port, another host name: a new upstream connection.
  EXPECT_EQ(get("http://localhost:" + std::to_string(b.Port()) + "/3"), kOk);
  EXPECT_EQ(a.Connections(), 1);
  EXPECT_EQ(a.Received(0), "GET /1 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
  EXPECT_EQ(b.Connections(), 2);
  EXPECT_EQ(b.Received(0), "GET /2 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
  EXPECT_EQ(b.Received(1), "GET /3 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
}

TEST_F(UpstreamRelay, ConnectTunnelRelaysBothWaysUntilIdle) {
  TearDown();
  StartProxy("http://velmara.test/", 400);
  TTCPBlockSocket listener;
  listener.Bind("127.0.0.1", "0");
  listener.Listen();
  TTCPBlockSocket& client = Client();
  client.SendString("CONNECT 127.0.0.1:" + std::to_string(listener.GetLocalPort()) +
                    " HTTP/1.1\r\nHost: x\r\n\r\nearly");
  ASSERT_TRUE(listener.CanRead(3000));
  TTCPBlockSocket server;
  server.SetSocket(listener.Accept());
  EXPECT_EQ(client.RecvBufferStr(39, 3000), "HTTP/1.1 200 Connection established\r\n\r\n");
  EXPECT_EQ(server.RecvBufferStr(5, 3000), "early");  // bytes sent right after the head
  server.SendString("from site");
  EXPECT_EQ(client.RecvBufferStr(9, 3000), "from site");
  client.SendString("from browser");
  EXPECT_EQ(server.RecvBufferStr(12, 3000), "from browser");

  // Neither side sends: the tunnel ends after the time-out and both connections close.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.RecvPacket(5000), "");
  EXPECT_EQ(client.LastError(), kSockErrConnReset);
  EXPECT_EQ(server.RecvPacket(5000), "");
  EXPECT_EQ(server.LastError(), kSockErrConnReset);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
}

TEST_F(UpstreamRelay, ConnectTunnelEndsWhenOneSideCloses) {
  TTCPBlockSocket listener;
  listener.Bind("127.0.0.1", "0");
  listener.Listen();
  TTCPBlockSocket& client = Client();
  client.SendString("CONNECT 127.0.0.1:" + std::to_string(listener.GetLocalPort()) +
                    " HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(listener.CanRead(3000));
  TTCPBlockSocket server;
  server.SetSocket(listener.Accept());
  EXPECT_EQ(client.RecvBufferStr(39, 3000), "HTTP/1.0 200 Connection established\r\n\r\n");
  server.SendString("last words");
  server.CloseSocket();
  EXPECT_EQ(ReadAll(client), "last words");
}

TEST_F(UpstreamRelay, ConnectThroughUpstreamProxyAsksThatProxyFirst) {
  struct {
    bool auth;
    TRawAnswer proxyAnswer;
    bool established;
  } cases[] = {
      {true, {"HTTP/1.1 200 Connection established\r\nX: y\r\n\r\nserver-hello"}, true},
      {false, {"HTTP/1.0 200 OK\r\n\r\nserver-hello"}, true},
      {true, {"HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"}, false},
  };
  for (const auto& c : cases) {
    TRawUpstream upstreamProxy({c.proxyAnswer});
    TTransportSettings settings;
    settings.UseProxy = true;
    settings.ProxyAddress = "127.0.0.1";
    settings.ProxyPort = upstreamProxy.Port();
    settings.UseProxyAuth = c.auth;
    settings.ProxyUserName = "u";
    settings.ProxyPassword = "p";
    SetTransportSettings(settings);
    TTCPBlockSocket& client = Client();
    client.SendString("CONNECT velmara.test:443 HTTP/1.1\r\nHost: velmara.test:443\r\n\r\n");
    std::string expectedAsk = "CONNECT velmara.test:443 HTTP/1.1\r\nHost: velmara.test:443\r\n" +
                              std::string(c.auth ? "Proxy-Authorization: Basic dTpw\r\n" : "") +
                              "\r\n";
    if (c.established) {
      EXPECT_EQ(client.RecvBufferStr(39, 3000), "HTTP/1.1 200 Connection established\r\n\r\n");
      EXPECT_EQ(client.RecvBufferStr(12, 3000), "server-hello");
      client.SendString("client-hello");
      for (int i = 0; i < 300 && upstreamProxy.AllReceived().size() < expectedAsk.size() + 12; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_EQ(upstreamProxy.AllReceived(), expectedAsk + "client-hello");
    } else {
      EXPECT_EQ(ReadAll(client),
                ConnectErrorPage("127.0.0.1:" + std::to_string(upstreamProxy.Port())));
      EXPECT_EQ(upstreamProxy.AllReceived(), expectedAsk);
    }
    client.CloseSocket();
  }
}
