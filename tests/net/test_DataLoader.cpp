// The HTTP loader against a loopback server that sends exact bytes: what goes on the wire, how
// answers become bodies, what counts as failure and what the debug log gets.
#include "net/DataLoader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

#include "app/Debug.h"
#include "net/Transport.h"
#include "net/ZLib.h"
#include "platform/Beep.h"
#include "platform/Encoding.h"
#include "support/GzipBomb.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestFolder.h"

namespace velm {
namespace {

using test::HttpAnswer;
using test::TLoopbackHttpServer;
using test::TScriptedAnswer;

std::string Compress(const std::string& data, int windowBits) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, data.size()) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}
std::string Gzip(const std::string& data) {
  return Compress(data, 31);
}
// What the site sends as "deflate": the fixed ten bytes of a gzip header, then raw deflate data.
std::string GzipHeaderedDeflate(const std::string& data) {
  return std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + Compress(data, -15);
}

std::string Text(int n) {
  std::ostringstream s;
  for (int i = 0; i < n; ++i) s << "line " << i << " of the file list\r\n";
  return s.str();
}

class DataLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTransportSettings({});
    fDebug = std::make_unique<TDebug>(fFolder.Path("VelmC2.log"));
    Debug = fDebug.get();
    fOldBeep = SetBeepHandler([this](int, int) { ++fBeeps; });
  }
  void TearDown() override {
    Debug = nullptr;
    SetBeepHandler(fOldBeep);
    SetTransportSettings({});
  }
  std::string Log() const { return test::ReadWholeFile(fFolder.Path("VelmC2.log")); }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  test::TTestProgramFolder fFolder;
  std::unique_ptr<TDebug> fDebug;
  TBeepHandler fOldBeep;
  int fBeeps = 0;
  TLoopbackHttpServer fServer;
};

TEST_F(DataLoaderTest, RequestsGoOutAsHttp10KeepAliveWithOurAgentOnOneConnection) {
  fServer.SetAnswer("/a", HttpAnswer("200 OK", "A"));
  fServer.SetAnswer("/b", HttpAnswer("200 OK", "B"));
  TDataLoader loader;
  std::string s;
  ASSERT_TRUE(loader.GetString(fServer.Url("/a"), s, true));
  EXPECT_EQ(s, "A");
  ASSERT_TRUE(loader.GetString(fServer.Url("/b"), s, false));
  EXPECT_EQ(s, "B");

  auto requests = fServer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& r : requests) {
    EXPECT_EQ(r.Method, "GET");
    EXPECT_EQ(r.Version, "HTTP/1.0");
    EXPECT_EQ(r.Header("Connection"), "keep-alive");
    EXPECT_EQ(r.Header("User-Agent"), kDataLoaderUserAgent);
    EXPECT_EQ(r.Connection, 1) << "the loader keeps its connection";
  }
  EXPECT_EQ(requests[0].Header("Accept-Encoding"), "gzip, deflate");
  EXPECT_FALSE(requests[1].HasHeader("Accept-Encoding"));
}

TEST_F(DataLoaderTest, AddressIsPercentEncodedOnceAndSentByteForByte) {
  struct {
    std::string Path, Sent;
  } cases[] = {
      {"/pub/a b/" + Ansi("Жук") + ".gif", "/pub/a%20b/%C6%F3%EA.gif"},
      {"/pub/%41.gif", "/pub/%2541.gif"},
      {"/pub/../x/./y.gif?a=1&b=c+d", "/pub/../x/./y.gif?a=1&b=c%2Bd"},
      {"/q#frag", "/q%23frag"},
  };
  TDataLoader loader;
  fServer.SetHandler([](const test::TRecordedRequest&) {
    TScriptedAnswer a;
    a.Bytes = HttpAnswer("200 OK", "x");
    return a;
  });
  for (const auto& c : cases) {
    std::string s;
    size_t before = fServer.RequestCount();
    ASSERT_TRUE(loader.GetString(fServer.Url(c.Path), s, false)) << c.Path;
    ASSERT_EQ(fServer.RequestCount(), before + 1);
    EXPECT_EQ(fServer.Requests().back().Target, c.Sent);
  }
}

TEST_F(DataLoaderTest, AnswersBecomeBodiesByStatusAndContentEncoding) {
  const std::string plain = Text(300);
  const std::string gz = Gzip(plain);
  struct TCase {
    const char* Name;
    std::string Answer;
    bool Ok;
    std::string Body;
  } cases[] = {
      {"gzip", HttpAnswer("200 OK", gz, {"Content-Encoding: gzip"}), true, plain},
      {"gzip in other letter case", HttpAnswer("200 OK", gz, {"content-encoding:  GZip  "}), true,
       plain},
      {"deflate", HttpAnswer("200 OK", GzipHeaderedDeflate(plain), {"Content-Encoding: Deflate"}),
       true, plain},
      {"no blank after the colon: not recognised",
       HttpAnswer("200 OK", gz, {"Content-Encoding:gzip"}), true, gz},
      {"list of encodings: left alone", HttpAnswer("200 OK", gz, {"Content-Encoding: gzip, br"}),
       true, gz},
      {"unknown encoding", HttpAnswer("200 OK", "abc", {"Content-Encoding: identity"}), true,
       "abc"},
      {"first Content-Encoding line decides",
       HttpAnswer("200 OK", gz, {"Content-Encoding: x", "Content-Encoding: gzip"}), true, gz},
      {"empty 200", HttpAnswer("200 OK", ""), true, ""},
      {"302 is success with its body", HttpAnswer("302 Found", "moved", {"Location: /other"}), true,
       "moved"},
      {"304 is success", "HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n", true, ""},
      {"399 is success", HttpAnswer("399 Odd", "odd"), true, "odd"},
      {"400 fails", HttpAnswer("400 Bad Request", "bad"), false, ""},
      {"404 fails", HttpAnswer("404 Not Found", "<html>missing</html>"), false, ""},
      {"500 fails", HttpAnswer("500 Internal Server Error", "oops"), false, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TLoopbackHttpServer server;
    server.SetAnswer("/f", c.Answer);
    TDataLoader loader;
    loader.Size = -1;
    auto kept = std::make_unique<TMemoryStream>("caller's");
    TMemoryStream* callers = kept.get();
    bool ok = loader.Get(server.Url("/f"), kept, false);
    ASSERT_EQ(ok, c.Ok);
    if (ok) {
      ASSERT_NE(kept.get(), callers);
      EXPECT_EQ(kept->Position(), 0u);
      EXPECT_TRUE(kept->ToString() == c.Body) << kept->Size() << " bytes";
      EXPECT_EQ(loader.Size, static_cast<int32_t>(c.Body.size()));
    } else {
      EXPECT_EQ(kept.get(), callers) << "a failure leaves the caller's stream";
      EXPECT_EQ(loader.Size, -1);
    }
    EXPECT_EQ(server.RequestCount(), 1u) << "redirections are not followed";
  }
}

TEST_F(DataLoaderTest, HttpErrorsWriteOneQuietLogEntryAndLeaveTheStringAlone) {
  fServer.SetAnswer("/pub/a%20b.gif", HttpAnswer("404 Not Found", "missing"));
  TDataLoader loader;
  std::string s = "kept";
  EXPECT_FALSE(loader.GetString(fServer.Url("/pub/a b.gif"), s, false));
  EXPECT_EQ(s, "kept");
  EXPECT_EQ(loader.ResultCode(), 404);

  const std::string log = Log();
  EXPECT_EQ(Count(log, "Error: "), 1) << log;
  EXPECT_EQ(Count(log, "HTTP error 404 - " + fServer.Url("/pub/a%20b.gif") + "\r\n"), 1) << log;
  EXPECT_EQ(fBeeps, 0) << "the entry is quiet";

  // Without a debug log the failure is the same, with nothing written.
  Debug = nullptr;
  EXPECT_FALSE(loader.GetString(fServer.Url("/pub/a b.gif"), s, false));
  EXPECT_EQ(Log(), log);
}

TEST_F(DataLoaderTest, NoAnswerIsAFailureWithoutLogEntry) {
  std::string refusedUrl;
  {
    TLoopbackHttpServer gone;
    refusedUrl = gone.Url("/x");
  }
  fServer.SetAnswer("/404", HttpAnswer("404 Not Found", "missing"));
  fServer.SetAnswer(
      "/short", TScriptedAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b", true});
  fServer.SetAnswer("/garbage", TScriptedAnswer{"this is not HTTP at all\r\n\r\n", true});

  TDataLoader loader;
  std::string s = "kept";
  // A 404 first, so a stale status of an earlier answer cannot be mistaken for a new one.
  EXPECT_FALSE(loader.GetString(fServer.Url("/404"), s, false));
  const std::string afterFirst = Log();
  EXPECT_FALSE(loader.GetString(refusedUrl, s, false));
  EXPECT_FALSE(loader.GetString(fServer.Url("/short"), s, false));
  EXPECT_FALSE(loader.GetString(fServer.Url("/garbage"), s, false));
  EXPECT_EQ(s, "kept");
  EXPECT_EQ(Log(), afterFirst) << "only HTTP errors are logged";
}

TEST_F(DataLoaderTest, StalledServerIsGivenUpAfterTheTimeout) {
  fServer.SetAnswer("/stall", TScriptedAnswer{"", false, true});
  fServer.SetAnswer("/slow-body", TScriptedAnswer{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab",
                                                  false, false});
  const int timeoutMs = 1000;
  for (const char* path : {"/stall", "/slow-body"}) {
    SCOPED_TRACE(path);
    TDataLoader loader(timeoutMs);
    std::string s = "kept";
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loader.GetString(fServer.Url(path), s, false));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(timeoutMs));
    EXPECT_LT(took, std::chrono::seconds(30)) << "the time-out must end the request";
    EXPECT_EQ(s, "kept");
  }
}

TEST_F(DataLoaderTest, UpstreamProxyWithBasicCredentialsIsCopiedAtCreation) {
  TLoopbackHttpServer proxy;
  proxy.SetForwarding(true);
  fServer.SetAnswer("/pub/f.txt", HttpAnswer("200 OK", "through the proxy"));
  SetTransportSettings({true, "127.0.0.1", proxy.Port(), true, "user", "pa:ss"});
  TDataLoader loader;
  SetTransportSettings({});  // a later change does not reach the loader

  std::string s;
  ASSERT_TRUE(loader.GetString(fServer.Url("/pub/f.txt"), s, false));
  EXPECT_EQ(s, "through the proxy");
  ASSERT_EQ(proxy.RequestCount(), 1u);
  const auto r = proxy.Requests()[0];
  EXPECT_EQ(r.Target, fServer.Url("/pub/f.txt"));
  EXPECT_EQ(r.Header("Proxy-Authorization"), "Basic dXNlcjpwYTpzcw==");  // user:pa:ss
  ASSERT_EQ(fServer.RequestCount(), 1u);
  EXPECT_EQ(fServer.Requests()[0].Target, "/pub/f.txt");
}

TEST_F(DataLoaderTest, ProxyWithoutAuthSendsNoCredentialsAndDirectIgnoresTheEnvironment) {
  TLoopbackHttpServer proxy;
  proxy.SetForwarding(true);
  fServer.SetAnswer("/f", HttpAnswer("200 OK", "ok"));
  std::string s;

  SetTransportSettings({true, "127.0.0.1", proxy.Port(), false, "user", "secret"});
  TDataLoader proxied;
  ASSERT_TRUE(proxied.GetString(fServer.Url("/f"), s, false));
  ASSERT_EQ(proxy.RequestCount(), 1u);
  EXPECT_FALSE(proxy.Requests()[0].HasHeader("Proxy-Authorization"));

  // The connection settings say "direct": a proxy in the environment must not be used.
  SetTransportSettings({false, "127.0.0.1", proxy.Port(), true, "user", "secret"});
  const std::string env = "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/";
  setenv("http_proxy", env.c_str(), 1);
  setenv("HTTP_PROXY", env.c_str(), 1);
  TDataLoader direct;
  bool ok = direct.GetString(fServer.Url("/f"), s, false);
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  EXPECT_TRUE(ok);
  EXPECT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(fServer.RequestCount(), 2u);
}

TEST_F(DataLoaderTest, UndecodableBodyRaisesFromGetAndFailsGetToFile) {
  std::string broken = Gzip(Text(200));
  broken.resize(broken.size() / 2);
  fServer.SetAnswer("/broken.gz", HttpAnswer("200 OK", broken, {"Content-Encoding: gzip"}));
  TDataLoader loader;
  std::unique_ptr<TMemoryStream> body;
  EXPECT_THROW(loader.Get(fServer.Url("/broken.gz"), body, true), EDecompressionError);
  EXPECT_EQ(body, nullptr);
  EXPECT_FALSE(loader.GetToFile(fServer.Url("/broken.gz"), fFolder.Path("pub/x.txt"), true));
  EXPECT_FALSE(test::FileExists(fFolder.Path("pub/x.txt")));
}

TEST_F(DataLoaderTest, BodyDecodingPastTheLimitIsRefusedAndLogged) {
  fServer.SetAnswer("/bomb.gz", HttpAnswer("200 OK", test::GzipOfZeros(kMaxDecompressedSize + 1),
                                           {"Content-Encoding: gzip"}));
  fServer.SetAnswer("/ok", HttpAnswer("200 OK", "fine"));
  TDataLoader loader;
  std::unique_ptr<TMemoryStream> body;
  EXPECT_FALSE(loader.Get(fServer.Url("/bomb.gz"), body, true));
  EXPECT_EQ(body, nullptr);
  EXPECT_EQ(Count(Log(), "Body refused"), 1) << Log();
  EXPECT_NE(Log().find("/bomb.gz"), std::string::npos);
  EXPECT_FALSE(loader.GetToFile(fServer.Url("/bomb.gz"), fFolder.Path("pub/x.txt"), true));
  EXPECT_FALSE(test::FileExists(fFolder.Path("pub/x.txt")));
  // The same loader goes on serving.
  std::string s;
  EXPECT_TRUE(loader.GetString(fServer.Url("/ok"), s, true));
  EXPECT_EQ(s, "fine");
}

TEST_F(DataLoaderTest, GetToFileWritesTheDecodedBodyCreatingFolders) {
  const std::string plain = Text(50);
  fServer.SetAnswer("/list.gz", HttpAnswer("200 OK", Gzip(plain), {"Content-Encoding: gzip"}));
  fServer.SetAnswer("/missing.gif", HttpAnswer("404 Not Found", "error page"));
  TDataLoader loader;
  const std::string target = fFolder.Path("pub/images/deep/list.txt");
  ASSERT_TRUE(loader.GetToFile(fServer.Url("/list.gz"), target, true));
  EXPECT_EQ(test::ReadWholeFile(target), plain);
  EXPECT_EQ(loader.Size, static_cast<int32_t>(plain.size()));

  EXPECT_FALSE(loader.GetToFile(fServer.Url("/missing.gif"), fFolder.Path("pub/m.gif"), false));
  EXPECT_FALSE(test::FileExists(fFolder.Path("pub/m.gif")));
  // A folder where the file should go: the write fails, and so does the call.
  test::WriteWholeFile(fFolder.Path("pub/dir/inner"), "");
  EXPECT_FALSE(loader.GetToFile(fServer.Url("/list.gz"), fFolder.Path("pub/dir"), true));
}

TEST(ContentEncoding, FirstMatchingLineAfterItsFirstBlank) {
  struct {
    std::vector<std::string> Lines;
    std::string Encoding;
  } cases[] = {
      {{"Content-Type: text/plain", "Content-Encoding: gzip"}, "GZIP"},
      {{"CONTENT-ENCODING:\tdeflate  "}, ""},
      {{"Content-Encoding: \tdeflate "}, "DEFLATE"},
      {{"Content-Encoding:gzip"}, "CONTENT-ENCODING:GZIP"},
      {{"Content-Encoding-X: a b"}, "A B"},
      {{"X-Content-Encoding: gzip"}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FindContentEncoding(c.Lines), c.Encoding);
}

}  // namespace
}  // namespace velm
