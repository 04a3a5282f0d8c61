#include <gtest/gtest.h>

#include <string>

#include "app/AppSettings.h"
#include "app/ClientStats.h"
#include "app/Debug.h"
#include "platform/Beep.h"
#include "platform/Encoding.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestFolder.h"
#include "update/SingleFileUpdate.h"

using namespace velm;

namespace {

// A program folder with the process-wide settings on a fixed site root.
class ClientStatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELM_SITE_ROOT", "http://game.example/", 1);
    CreateAppSettings();
  }
  void TearDown() override {
    FreeAppSettings();
    unsetenv("VELM_SITE_ROOT");
  }
  test::TTestProgramFolder fFolder;
};

}  // namespace

TEST_F(ClientStatsTest, NoPluginsAndNoFlashPlayer) {
  // No player on this platform: the settings say "Unknown" and the query carries it.
  ASSERT_EQ(AppSettings->FlashVersionText, "Unknown");
  EXPECT_EQ(ClientStatsQuery("", 0), "p=&s=0&pv=2.05&fv=Unknown");
  EXPECT_EQ(ClientStatsUrl("", 0),
            "http://game.example/pub/clientstats.php?p=&s=0&pv=2.05&fv=Unknown");
}

TEST_F(ClientStatsTest, ReportIsEncodedButItsSeparatorsStayReadable) {
  // Two plug-ins: the known one by name only, the other with its description and digest.
  const std::string report =
      "known|tools;" + Ansi("Помощник боя") + " v1;" + "0123456789ABCDEF0123456789ABCDEF";
  EXPECT_EQ(ClientStatsQuery(report, 1), "p=" + report + "&s=1&pv=2.05&fv=Unknown");
  // "Помощник боя" in Windows-1251: CF EE EC EE F9 ED E8 EA, blank, E1 EE FF.
  EXPECT_EQ(ClientStatsUrl(report, 1),
            "http://game.example/pub/clientstats.php?p=known|tools;"
            "%CF%EE%EC%EE%F9%ED%E8%EA%20%E1%EE%FF%20v1;0123456789ABCDEF0123456789ABCDEF"
            "&s=1&pv=2.05&fv=Unknown");
}

TEST_F(ClientStatsTest, FlashVersionTextEndsTheQueryAndIsEncodedToo) {
  AppSettings->FlashVersionText = "LNX 9,0,124,0";
  EXPECT_EQ(ClientStatsQuery("", 0), "p=&s=0&pv=2.05&fv=LNX 9,0,124,0");
  EXPECT_EQ(ClientStatsUrl("", -3),
            "http://game.example/pub/clientstats.php?p=&s=-3&pv=2.05&fv=LNX%209,0,124,0");
}

namespace {

// The site on loopback, the update unit's single-file updater and a debug log in the folder.
class SendClientStatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELM_SITE_ROOT", fSite.Url("/").c_str(), 1);
    Debug = new TDebug(fFolder.Path("VelmC2.log"));
    InitializeUpdateProcessor();
    CreateAppSettings();
    CreateSingleFileUpdater();
  }
  void TearDown() override {
    FinalizeUpdateProcessor();
    FreeAppSettings();
    delete Debug;
    Debug = nullptr;
    unsetenv("VELM_SITE_ROOT");
  }
  test::TTestProgramFolder fFolder;
  test::TLoopbackHttpServer fSite;
};

}  // namespace

TEST_F(SendClientStatsTest, OneRequestWithTheQueryEncodedOnce) {
  fSite.SetAnswer("/pub/clientstats.php?p=&s=0&pv=2.05&fv=Unknown",
                  test::HttpAnswer("200 OK", "ok"));
  SendClientStats("", 0);
  SendClientStats("tools;" + Ansi("Помощник боя") + ";0123", 1);
  ASSERT_TRUE(fSite.WaitForRequests(2));
  auto requests = fSite.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Method, "GET");
  EXPECT_EQ(requests[0].Target, "/pub/clientstats.php?p=&s=0&pv=2.05&fv=Unknown");
  EXPECT_FALSE(requests[0].HasHeader("Accept-Encoding"));
  EXPECT_EQ(requests[1].Target,
            "/pub/clientstats.php?p=tools;%CF%EE%EC%EE%F9%ED%E8%EA%20%E1%EE%FF;0123"
            "&s=1&pv=2.05&fv=Unknown");
}

TEST_F(SendClientStatsTest, HttpErrorIsOnlyAQuietLogLine) {
  // No answer scripted: the site says 404. Nothing is raised; the log tells, quietly.
  int beeps = 0;
  auto previous = SetBeepHandler([&](int, int) { ++beeps; });
  SendClientStats("", 0);
  SetBeepHandler(previous);
  EXPECT_EQ(fSite.RequestCount(), 1u);
  EXPECT_EQ(beeps, 0);
  const std::string log = test::ReadWholeFile(fFolder.Path("VelmC2.log"));
  EXPECT_NE(log.find("Error: "), std::string::npos) << log;
  EXPECT_NE(log.find("HTTP error 404 - "), std::string::npos) << log;
}

TEST(SendClientStats, NoSiteIsNoFailure) {
  test::TTestProgramFolder folder;
  int port;
  {
    test::TLoopbackHttpServer gone;  // a port nobody listens on once it is stopped
    port = gone.Port();
  }
  setenv("VELM_SITE_ROOT", ("http://127.0.0.1:" + std::to_string(port) + "/").c_str(), 1);
  InitializeUpdateProcessor();
  CreateAppSettings();
  CreateSingleFileUpdater();
  EXPECT_NO_THROW(SendClientStats("", 0));
  FinalizeUpdateProcessor();
  FreeAppSettings();
  unsetenv("VELM_SITE_ROOT");
}
