// Answers from the local folder, and missing files fetched once from the site and kept.
#include <gtest/gtest.h>

#include <string>

#include "ProxyTestSupport.h"
#include "platform/DateTime.h"
#include "proxy/DateTimeStamp.h"
#include "support/LoopbackHttpServer.h"
#include "update/FileIO.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdatePackage.h"

using namespace velm;
using namespace velm::test;

namespace {

const std::string kZone = "<+03>-3";

std::string Bytes(size_t n, char seed) {
  std::string s(n, seed);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 13);
  return s;
}

// The head split off an answer, with its Date line checked against the clock and removed.
std::string HeadWithoutDate(const std::string& answer, std::string* body = nullptr) {
  size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos) return answer;
  std::string head = answer.substr(0, end + 4);
  if (body) *body = answer.substr(end + 4);
  size_t d = head.find("\r\nDate: ");
  if (d == std::string::npos) return head;
  size_t e = head.find("\r\n", d + 2);
  std::string date = head.substr(d + 8, e - d - 8);
  EXPECT_NEAR(ParseHttpDate(date), Now(), 5 * kOneSecond) << date;
  return head.erase(d, e - d);
}

class LocalAnswer : public TProxyFixture {
 protected:
  void SetUp() override {
    fZone = std::make_unique<TScopedTimeZone>(kZone.c_str());
    InitializeUpdateProcessor();
    FilesUpdated = true;
    StartProxy(fSite.Url("/"));
    CreateSingleFileUpdater();
    fFileDate = EncodeDateTime(2011, 2, 4, 9, 0, 0);
  }
  void TearDown() override {
    TProxyFixture::TearDown();
    FinalizeUpdateProcessor();
    FilesUpdated = false;
    fZone.reset();
  }
  // A mirror file below pub/ with the test's file date.
  void PutFile(const std::string& relative, const std::string& bytes) {
    TMemoryStream stream(bytes);
    SaveStreamToFile(stream, Pub(relative));
    ASSERT_TRUE(SetFileDate(Pub(relative), fFileDate));
  }
  std::string Url(const std::string& relative) const { return fSite.Url("/" + relative); }
  std::string Get(const std::string& url, const std::string& extra = "",
                  const std::string& protocol = "HTTP/1.1") {
    return Exchange("GET " + url + " " + protocol + "\r\n" + extra + "\r\n");
  }

  std::unique_ptr<TScopedTimeZone> fZone;
  TLoopbackHttpServer fSite;
  TDateTime fFileDate = 0;
};

}  // namespace

TEST_F(LocalAnswer, GifHeadByteForByte) {
  const std::string gif = Bytes(512, 'G');
  PutFile("images/a.gif", gif);
  TTCPBlockSocket& c = Client();
  c.SendString("GET " + Url("images/a.gif") + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
  std::string body;
  EXPECT_EQ(HeadWithoutDate(ReadAnswer(c), &body),
            "HTTP/1.1 200 OK\r\nServer: localproxy"
            "\r\nContent-Type: image/gif\r\nContent-Length: 512\r\n"
            "Last-Modified: Fri, 4 Feb 2011 09:00:00 +0300\r\nAccept-Ranges: bytes\r\n"
            "Connection: keep-alive\r\n\r\n");
  EXPECT_EQ(body, gif);
  // Kept alive: the next request is answered on the same connection.
  c.SendString("GET " + Url("images/a.gif") + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(HeadWithoutDate(ReadAll(c), &body).find("Connection: close\r\n") != std::string::npos,
            true);
  EXPECT_EQ(body, gif);
  EXPECT_EQ(fSite.RequestCount(), 0u);
}

TEST_F(LocalAnswer, ContentTypeByExtension) {
  struct {
    std::string name, typeLine;
  } cases[] = {
      {"images/b.JPG", "Content-Type: image/jpeg\r\n"},
      {"images/c.jpeg", "Content-Type: image/jpeg\r\n"},
      {"images/d.png", ""},
      {"images/e.swf", "Content-Type: application/x-shockwave-flash\r\n"},
      {"info/plain", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PutFile(c.name, "xyz");
    EXPECT_EQ(HeadWithoutDate(Get(Url(c.name))),
              "HTTP/1.1 200 OK\r\nServer: localproxy\r\n" + c.typeLine +
                  "Content-Length: 3\r\nLast-Modified: Fri, 4 Feb 2011 09:00:00 +0300\r\n"
                  "Accept-Ranges: bytes\r\nConnection: close\r\n\r\n");
  }
}

TEST_F(LocalAnswer, IfModifiedSinceWithinTwoSecondsGives304) {
  PutFile("images/m.gif", "12345");
  const std::string notModified =
      "HTTP/1.1 304 Not Modified\r\nServer: localproxy\r\n"
      "Last-Modified: Fri, 4 Feb 2011 09:00:00 +0300\r\nConnection: close\r\n\r\n";
  struct {
    std::string since;
    bool notModified;
  } cases[] = {
      {"Fri, 04 Feb 2011 06:00:00 GMT", true},
      {"Fri, 04 Feb 2011 06:00:01 GMT; length=3471", true},
      {"Fri, 04 Feb 2011 05:59:59 GMT", true},
      {"Fri, 04 Feb 2011 09:00:01 +0300", true},
      {"Fri, 04 Feb 2011 06:00:03 GMT", false},
      {"Fri, 04 Feb 2011 09:00:00 GMT", false},
      {"garbage", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.since);
    std::string body;
    std::string head =
        HeadWithoutDate(Get(Url("images/m.gif"), "If-Modified-Since: " + c.since + "\r\n"), &body);
    if (c.notModified) {
      EXPECT_EQ(head, notModified);
      EXPECT_EQ(body, "");
    } else {
      EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\n")) << head;
      EXPECT_EQ(body, "12345");
    }
  }
}

TEST_F(LocalAnswer, RangeIgnoredHeadWithoutBodyAndHttp10KeepAlive) {
  PutFile("images/r.gif", "0123456789");
  std::string body;
  std::string head = HeadWithoutDate(Get(Url("images/r.gif"), "Range: bytes=2-4\r\n"), &body);
  EXPECT_TRUE(head.starts_with("HTTP/1.1 200 OK\r\n")) << head;
  EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos);
  EXPECT_EQ(body, "0123456789");

  // An HTTP/1.0 client asking for keep-alive: the head says so, then the connection is closed.
  head = HeadWithoutDate(Get(Url("images/r.gif"), "Proxy-Connection: keep-alive\r\n", "HTTP/1.0"),
                         &body);
  EXPECT_NE(head.find("Connection: keep-alive\r\n"), std::string::npos);
  EXPECT_EQ(body, "0123456789");

  // HEAD: the same head, no body, and the connection stays usable.
  TTCPBlockSocket& c = Client();
  c.SendString("HEAD " + Url("images/r.gif") + " HTTP/1.1\r\nProxy-Connection: keep-alive\r\n\r\n");
  head = HeadWithoutDate(ReadAnswer(c, 3000, true));
  EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos);
  EXPECT_FALSE(c.CanRead(200));  // nothing follows the head
  c.SendString("GET " + Url("images/r.gif") + " HTTP/1.1\r\n\r\n");
  std::string second = ReadAll(c);
  EXPECT_TRUE(second.starts_with("HTTP/1.1 200 OK\r\n")) << second;
  HeadWithoutDate(second, &body);
  EXPECT_EQ(body, "0123456789");
}

TEST_F(LocalAnswer, ScriptsAndForeignPathsAreRelayed) {
  for (const char* name : {"images/x.php", "images/y.js", "secret.txt", "images/z.gif"})
    PutFile(name, "LOCAL");
  fSite.SetHandler([](const TRecordedRequest&) {
    TScriptedAnswer a;
    a.Bytes = HttpAnswer("200 OK", "SITE");
    return a;
  });
  struct {
    std::string request;  // the URI as the browser sends it
    std::string body;
  } cases[] = {
      {Url("images/x.php?a=1"), "SITE"},
      {Url("images/x.php"), "SITE"},
      {Url("images/y.js?v=2"), "SITE"},
      {Url("images/z.gif"), "LOCAL"},
      {Url("ima"), "LOCAL"},  // shorter than the package prefix: still local
      // Paths that climb out of the mirror folder go to the site, not to the disk.
      {Url("images/..%2F..%2FVelmC2.ini"), "SITE"},
      {Url("images/../../VelmC2.ini"), "SITE"},
      {Url("images/%2e%2e/secret.txt"), "LOCAL"},  // pub/secret.txt: inside the folder
      {Url("images/a%00.gif"), "SITE"},
  };
  PutFile("ima", "LOCAL");
  test::WriteWholeFile(fFolder->Path("VelmC2.ini"), "[Main]\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    std::string body;
    HeadWithoutDate(Get(c.request), &body);
    EXPECT_EQ(body, c.body);
  }
  // Nothing was stored for the relayed paths.
  EXPECT_EQ(test::ReadWholeFile(fFolder->Path("VelmC2.ini")), "[Main]\n");
}

TEST_F(LocalAnswer, MissingFileIsFetchedRelayedStoredAndDated) {
  const std::string gif = Bytes(3000, 'N');
  fSite.SetAnswer("/images/new.gif", HttpAnswer("200 OK", gif, {"Content-Type: image/gif"}));
  fSite.SetAnswer("/pub/filelist.php?name=images/new.gif",
                  HttpAnswer("200 OK", "list\nimages/new.gif\t2010.03.04 05-06-07\n"));
  std::string first = Get(Url("images/new.gif"), "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_EQ(first, HttpAnswer("200 OK", gif, {"Content-Type: image/gif"}));
  EXPECT_EQ(test::ReadWholeFile(Pub("images/new.gif")), gif);
  EXPECT_NEAR(GetFileDate(Pub("images/new.gif")), EncodeDateTime(2010, 3, 4, 5, 6, 7), kOneSecond);
  ASSERT_GE(fSite.RequestCount(), 2u);
  // The site was asked for the body unencoded.
  EXPECT_FALSE(fSite.Requests()[0].HasHeader("Accept-Encoding"));

  // From now on the folder answers.
  size_t asked = fSite.RequestCount();
  std::string body;
  std::string head = HeadWithoutDate(Get(Url("images/new.gif")), &body);
  EXPECT_NE(head.find("Server: localproxy"), std::string::npos);
  EXPECT_NE(head.find("Last-Modified: Thu, 4 Mar 2010 05:06:07 +0300"), std::string::npos);
  EXPECT_EQ(body, gif);
  EXPECT_EQ(fSite.RequestCount(), asked);
}

TEST_F(LocalAnswer, FailedOrEncodedFetchesAreRelayedButNotStored) {
  fSite.SetAnswer("/images/gone.gif", HttpAnswer("404 Not Found", "no such file"));
  TScriptedAnswer gzipped;
  gzipped.Bytes = HttpAnswer("200 OK", "\x1f\x8b-not-really", {"Content-Encoding: gzip"});
  fSite.SetAnswer("/images/enc.gif", gzipped);
  TScriptedAnswer cut;
  cut.Bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n";
  cut.CloseAfter = true;
  fSite.SetAnswer("/images/cut.gif", cut);

  EXPECT_EQ(Get(Url("images/gone.gif")), HttpAnswer("404 Not Found", "no such file"));
  EXPECT_EQ(Get(Url("images/gone.gif")), HttpAnswer("404 Not Found", "no such file"));
  EXPECT_EQ(Get(Url("images/enc.gif")), gzipped.Bytes);
  // A chunked body that breaks off before its last chunk is relayed as far as it came.
  EXPECT_EQ(Get(Url("images/cut.gif")), cut.Bytes);
  for (const char* name : {"images/gone.gif", "images/enc.gif", "images/cut.gif"})
    EXPECT_FALSE(FileExists(Pub(name))) << name;
  EXPECT_EQ(fSite.RequestCount(), 4u);  // every miss went to the site; no one-file query
}

TEST_F(LocalAnswer, VersionedFilesAreRefreshedOnceWhileFilesAreNotUpdated) {
  PutFile("images/map.swf", "OLD");
  fSite.SetAnswer("/images/map.swf?v=7", HttpAnswer("200 OK", "NEW"));
  fSite.SetAnswer("/pub/filelist.php?name=images/map.swf",
                  HttpAnswer("200 OK", "list\nimages/map.swf\t2011.01.02 03-04-05\n"));

  // After a whole update reached the site, the folder answers at once.
  std::string body;
  HeadWithoutDate(Get(Url("images/map.swf?v=7")), &body);
  EXPECT_EQ(body, "OLD");
  EXPECT_EQ(fSite.RequestCount(), 0u);

  // While no update has reached the site, the first versioned request goes there ...
  FilesUpdated = false;
  EXPECT_EQ(Get(Url("images/map.swf?v=7")), HttpAnswer("200 OK", "NEW"));
  EXPECT_EQ(test::ReadWholeFile(Pub("images/map.swf")), "NEW");
  EXPECT_NEAR(GetFileDate(Pub("images/map.swf")), EncodeDateTime(2011, 1, 2, 3, 4, 5), kOneSecond);
  size_t asked = fSite.RequestCount();
  // ... and once the site's date is on the file, the folder answers again.
  std::string head = HeadWithoutDate(Get(Url("images/map.swf?v=7")), &body);
  EXPECT_EQ(body, "NEW");
  EXPECT_NE(head.find("Server: localproxy"), std::string::npos);
  EXPECT_EQ(fSite.RequestCount(), asked);
  // Without a query string the file is taken as it is.
  PutFile("images/plain.swf", "PLAIN");
  HeadWithoutDate(Get(Url("images/plain.swf")), &body);
  EXPECT_EQ(body, "PLAIN");
}
