#include <gtest/gtest.h>

#include <string>

#include "app/AppSettings.h"
#include "app/ClientStats.h"
#include "platform/Encoding.h"
#include "support/TestFolder.h"

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
  const std::string report = "known|tools;" + Ansi("Помощник боя") + " v1;" +
                             "0123456789ABCDEF0123456789ABCDEF";
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
