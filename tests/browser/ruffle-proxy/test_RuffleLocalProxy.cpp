// The demo game behind the client's local proxy, with the emulator: the map movie of the game
// page is answered from the local mirror, the fight page's game movie plays and its "game.swf?"
// request raises the fight alert.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <atomic>
#include <string>

#include "RuffleTestEnv.h"
#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/FightAlert.h"
#include "browser/BrowserProfile.h"
#include "browser/QtWebBrowser.h"
#include "net/Transport.h"
#include "platform/ProgramPath.h"
#include "proxy/LocalProxy.h"
#include "support/TestFolder.h"
#include "update/UpdatePackage.h"

namespace velm::test {
extern int LocalProxyPort;
}

using namespace velm;
using namespace velm::test;

namespace {

struct TCountingSink : IFightAlertSink {
  std::atomic<int> starts{0}, resets{0};
  void StartFightAlert() override { ++starts; }
  void ResetFightAlert() override { ++resets; }
};

TEST(RuffleLocalProxy, MirrorMoviesAndTheFightMoviePlayAndTheFightAlertFires) {
  TTestProgramFolder folder;
  ASSERT_EQ(symlink(VELM_RUFFLE_DIR, folder.Path("ruffle").c_str()), 0);
  TDemoSite demo(folder.Path("demo-site"));
  ASSERT_FALSE(demo.Root().empty());
  setenv("VELM_SITE_ROOT", demo.Root().c_str(), 1);
  Debug = new TDebug(ChangeFileExt(ExePath(), ".log"));
  CreateAppSettings();
  SetTransportSettings(TTransportSettings{});
  InitializeLocalProxy();
  StartLocalProxy(LocalProxyPort);
  ASSERT_EQ(LocalProxyService()->WaitListenState(5000), TProxyListenState::Listening);
  TCountingSink sink;
  SetFightAlertSink(&sink);

  // The mirror's copy of the map movie is the tiny movie; the site's own is a plain background,
  // so the rectangle shows only when the proxy answered from the mirror. The start-up update
  // counts as done, so the versioned "map.swf?v=" is not fetched again.
  FilesUpdated = true;
  ASSERT_EQ(mkdir(folder.Path("pub").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(folder.Path("pub/images").c_str(), 0755), 0);
  WriteWholeFile(folder.Path("pub/images/map.swf"), TinyMovie());

  {
    TShownBrowser browser;
    ASSERT_TRUE(browser.Load(demo.Root() + "main.php"));
    browser.Run("document.querySelector('embed').scrollIntoView()");
    for (int i = 0; i < 100 && browser.Run("window.__velmRuffle").toString() != "loaded"; ++i)
      QTest::qWait(100);
    QPoint map = browser.Corner(QStringLiteral("ruffle-embed, embed"));
    ASSERT_GE(map.y(), 0);
    EXPECT_TRUE(browser.WaitForPixel(map.x() + 250, map.y() + 180, kMovieShape, 30000))
        << std::hex << browser.Pixel(map.x() + 250, map.y() + 180);
    EXPECT_EQ(sink.starts.load(), 0);

    ASSERT_TRUE(browser.Load(demo.Root() + "fight.php?fight=3"));
    for (int i = 0; i < 100 && browser.Run("window.__velmRuffle").toString() != "loaded"; ++i)
      QTest::qWait(100);
    QPoint movie = browser.Corner(QStringLiteral("ruffle-object, object"));
    ASSERT_GE(movie.y(), 0);
    EXPECT_TRUE(browser.WaitForPixel(movie.x() + 20, movie.y() + 20, kMovieBackground, 30000))
        << std::hex << browser.Pixel(movie.x() + 20, movie.y() + 20);
    EXPECT_TRUE(SameColour(browser.Pixel(movie.x() + 250, movie.y() + 180), kMovieShape));
    for (int i = 0; i < 50 && sink.starts.load() == 0; ++i) QTest::qWait(100);
    EXPECT_GE(sink.starts.load(), 1);
  }
  std::string log = ReadWholeFile(ChangeFileExt(ExePath(), ".log"));
  EXPECT_NE(log.find("GetFile: " + demo.Root() + "game.swf?fight=3"), std::string::npos);
  EXPECT_EQ(log.find("ruffle"), std::string::npos);

  SetFightAlertSink(nullptr);
  FilesUpdated = false;
  ReleaseBrowserProfile();
  StopLocalProxy();
  FinalizeLocalProxy();
  FreeAppSettings();
  delete Debug;
  Debug = nullptr;
  unsetenv("VELM_SITE_ROOT");
}

}  // namespace
