// How the proxy reads a browser request and what it sends upstream for it.
#include <gtest/gtest.h>

#include <string>

#include "ProxyTestSupport.h"
#include "net/Transport.h"

using namespace velm;
using namespace velm::test;

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

std::string Fill(std::string text, const std::string& host) {
  for (size_t p; (p = text.find("{H}")) != std::string::npos;) text.replace(p, 3, host);
  return text;
}

class ProxyRequest : public TProxyFixture {
 protected:
  void SetUp() override { StartProxy("http://velmara.test/"); }
};

}  // namespace

TEST_F(ProxyRequest, RequestLineAndHeaderRules) {
  struct {
    const char* name;
    std::string request;   // what the browser sends; {H} is the upstream host:port
    std::string upstream;  // what must reach the site; "" = nothing, the connection just ends
  } cases[] = {
      {"empty lines before the request are skipped",
       "\r\n\n\r\nGET http://{H}/a HTTP/1.1\r\nHost: {H}\r\n\r\n",
       "GET /a HTTP/1.1\r\nHost: {H}\r\nConnection: close\r\n\r\n"},
      {"method alone", "GET\r\n\r\n", ""},
      {"lower-case protocol", "GET http://{H}/ http/1.1\r\nHost: {H}\r\n\r\n", ""},
      {"no protocol: no header lines read", "GET http://{H}/x\r\n",
       "GET /x \r\nConnection: close\r\n\r\n"},
      {"Content-Length without a space gives no body",
       "POST http://{H}/p HTTP/1.1\r\nContent-Length:17\r\n\r\n",
       "POST /p HTTP/1.1\r\nContent-Length:17\r\nConnection: close\r\n\r\n"},
      {"a request body goes upstream",
       "POST http://{H}/p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
       "POST /p HTTP/1.1\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello"},
      {"a client Connection line stays next to ours",
       "GET http://{H}/k HTTP/1.1\r\nConnection: keep-alive\r\n\r\n",
       "GET /k HTTP/1.1\r\nConnection: keep-alive\r\nConnection: close\r\n\r\n"},
      {"PROXY- headers never reach the site",
       "GET http://{H}/k HTTP/1.1\r\nProxy-Authorization: Basic eDp5\r\nproxy-x-id: 1\r\n"
       "PROXY-CONNECTION: close\r\nAccept: */*\r\n\r\n",
       "GET /k HTTP/1.1\r\nAccept: */*\r\nConnection: close\r\n\r\n"},
      {"UTF-8 path re-encoded in Windows-1251", "GET http://{H}/a%D0%91.gif HTTP/1.1\r\n\r\n",
       "GET /a%C1.gif HTTP/1.1\r\nConnection: close\r\n\r\n"},
      {"a path that is not UTF-8 stays", "GET http://{H}/a%C1.gif HTTP/1.1\r\n\r\n",
       "GET /a%C1.gif HTTP/1.1\r\nConnection: close\r\n\r\n"},
      {"plus and blank are escaped, the query kept",
       "GET http://{H}/a+b%20c?x=1+2 HTTP/1.1\r\n\r\n",
       "GET /a%2Bb%20c?x=1+2 HTTP/1.1\r\nConnection: close\r\n\r\n"},
      {"a character Windows-1251 lacks keeps the path as sent",
       "GET http://{H}/%E4%B8%AD.gif HTTP/1.1\r\n\r\n",
       "GET /%E4%B8%AD.gif HTTP/1.1\r\nConnection: close\r\n\r\n"},
      {"LF and CR line ends", "GET http://{H}/n HTTP/1.0\nAccept: a\rX: y\n\n",
       "GET /n HTTP/1.0\r\nAccept: a\r\nX: y\r\nConnection: close\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRawUpstream site({{kOk}});
    std::string host = "127.0.0.1:" + std::to_string(site.Port());
    std::string answer = Exchange(Fill(c.request, host));
    if (c.upstream.empty()) {
      EXPECT_EQ(answer, "");
      EXPECT_EQ(site.Connections(), 0);
    } else {
      EXPECT_EQ(answer, kOk);
      EXPECT_EQ(site.AllReceived(), Fill(c.upstream, host));
    }
  }
}

TEST_F(ProxyRequest, ProxyConnectionKeepAliveKeepsTheConnection) {
  TRawUpstream site({{kOk}, {kOk}});
  std::string url = site.Url("/k");
  TTCPBlockSocket& c = Client();
  c.SendString("GET " + url + " HTTP/1.1\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(ReadAnswer(c), kOk);
  c.SendString("GET " + url + "2 HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
  EXPECT_EQ(ReadAnswer(c), kOk);
  EXPECT_EQ(site.Connections(), 1);  // the upstream connection served both
  EXPECT_EQ(site.Received(0),
            "GET /k HTTP/1.1\r\nConnection: keep-alive\r\n\r\n"
            "GET /k2 HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
}

TEST_F(ProxyRequest, UpstreamProxyGetsAbsoluteUriWithPortAndCredentials) {
  struct {
    bool auth;
    std::string user, password;
    std::string expected;
  } cases[] = {
      {false, "u", "p", "GET http://velmara.test:80/p?q=1 HTTP/1.1\r\nConnection: close\r\n\r\n"},
      {true, "u", "p",
       "GET http://velmara.test:80/p?q=1 HTTP/1.1\r\nProxy-Authorization: Basic dTpw\r\n"
       "Connection: close\r\n\r\n"},
      {true, "", "",
       "GET http://velmara.test:80/p?q=1 HTTP/1.1\r\nProxy-Authorization: Basic Og==\r\n"
       "Connection: close\r\n\r\n"},
  };
  for (const auto& c : cases) {
    TRawUpstream upstreamProxy({{kOk}});
    TTransportSettings settings;
    settings.UseProxy = true;
    settings.ProxyAddress = "127.0.0.1";
    settings.ProxyPort = upstreamProxy.Port();
    settings.UseProxyAuth = c.auth;
    settings.ProxyUserName = c.user;
    settings.ProxyPassword = c.password;
    SetTransportSettings(settings);
    EXPECT_EQ(Exchange("GET http://velmara.test/p?q=1 HTTP/1.1\r\nProxy-Authorization: x\r\n\r\n"),
              kOk);
    EXPECT_EQ(upstreamProxy.AllReceived(), c.expected);
  }
}

TEST_F(ProxyRequest, OverlongLinesAndTooManyHeadersEndTheConnection) {
  TRawUpstream site({{kOk}, {kOk}});
  std::string url = site.Url("/x");
  std::string longLine =
      "GET " + url + "?" + std::string(kProxyMaxLineLength, 'a') + " HTTP/1.1\r\n\r\n";
  EXPECT_EQ(Exchange(longLine), "");
  std::string manyHeaders = "GET " + url + " HTTP/1.1\r\n";
  for (size_t i = 0; i <= kProxyMaxHeaderLines; ++i)
    manyHeaders += "X-H: " + std::to_string(i) + "\r\n";
  EXPECT_EQ(Exchange(manyHeaders + "\r\n"), "");
  EXPECT_EQ(site.Connections(), 0);

  // Right at the limits the request still goes through.
  std::string atLimit = "GET " + url + " HTTP/1.1\r\n";
  for (size_t i = 0; i + 1 < kProxyMaxHeaderLines; ++i)
    atLimit += "X-H: " + std::to_string(i) + "\r\n";
  atLimit += "X-Long: " + std::string(kProxyMaxLineLength - 8, 'b') + "\r\n\r\n";
  EXPECT_EQ(Exchange(atLimit), kOk);
}

TEST_F(ProxyRequest, SilentClientAfterKeptAliveAnswerIsDisconnected) {
  TearDown();
  StartProxy("http://velmara.test/", 300);
  TRawUpstream site({{kOk}});
  TTCPBlockSocket& c = Client();
  c.SendString("GET " + site.Url("/k") + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
  EXPECT_EQ(ReadAnswer(c), kOk);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.RecvPacket(5000), "");
  EXPECT_EQ(c.LastError(), kSockErrConnReset);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}
