// The Flash Player emulator in the real engine: a page's Flash area shows the tiny test movie,
// the movie's own request goes through the proxy while the emulator's files never do, pages
// without Flash content never load the emulator, and a program folder without the emulator's
// files reports "Unknown" and leaves pages alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <QWebEngineProfile>
#include <QWebEngineScriptCollection>
#include <string>

#include "RuffleTestEnv.h"
#include "app/AppSettings.h"
#include "browser/BrowserProfile.h"
#include "browser/QtWebBrowser.h"
#include "browser/RuffleScheme.h"
#include "platform/FlashPlayer.h"
#include "support/TestFolder.h"

using namespace velm;
using namespace velm::test;

namespace {

// The movie fills the page's top left corner: no margins, the object at (0, 0), 550 x 400.
const char* kStyle = "<style>body{margin:0;background:#fff}object,embed{display:block}</style>";

std::string Page(const std::string& body) {
  return HttpAnswer("200 OK",
                    std::string("<!DOCTYPE html><html><head>") + kStyle + "</head><body>" + body +
                        "</body></html>",
                    {"Content-Type: text/html; charset=windows-1251"});
}

class Ruffle : public ::testing::Test {
 protected:
  // The program folder, with the emulator's files from the build (a link to build/ruffle) or
  // without them; each test gets a fresh browser profile.
  void SetUpFolder(bool withEmulator) {
    if (withEmulator) {
      ASSERT_TRUE(FileExists(std::string(VELM_RUFFLE_DIR) + "/ruffle.js"))
          << "the build did not install the emulator into " << VELM_RUFFLE_DIR;
      ASSERT_EQ(symlink(VELM_RUFFLE_DIR, Folder.Path("ruffle").c_str()), 0);
    }
    CreateAppSettings();
    ReleaseBrowserProfile();
    Proxy().Server.SetForwarding(true);
    Movie = TinyMovie();
    ASSERT_EQ(Movie.substr(0, 3), "FWS");
    Site.SetAnswer("/game.swf?fight=1",
                   HttpAnswer("200 OK", Movie, {"Content-Type: application/x-shockwave-flash"}));
  }
  void TearDown() override {
    Browser.reset();
    ReleaseBrowserProfile();
    FreeAppSettings();
  }
  static TRecordingProxy& Proxy() { return *TRecordingProxy::Instance; }
  // Requests the proxy saw whose target contains the text.
  size_t ProxiedRequestsWith(const std::string& text) const {
    size_t n = 0;
    for (const auto& request : Proxy().Server.Requests())
      if (request.Target.find(text) != std::string::npos) ++n;
    return n;
  }

  TTestProgramFolder Folder;
  TLoopbackHttpServer Site;
  std::string Movie;
  std::unique_ptr<TShownBrowser> Browser;
};

TEST(RuffleScheme, OnlyTheEmulatorsOwnKindsOfFileAreServed) {
  struct TCase {
    const char* name;
    const char* type;
  } cases[] = {
      {"ruffle.js", "text/javascript"},
      {"core.ruffle.c80159b526e567babaf5.js", "text/javascript"},
      {"72a20ef1c0b8ceb37720.wasm", "application/wasm"},
      {"ruffle.js.map", "application/json"},
      {"package.json", ""},
      {"LICENSE_MIT", ""},
      {"", ""},
      {".hidden.js", ""},
      {"../ruffle.js", ""},
      {"sub/ruffle.js", ""},
      {"ruffle.js?x=1", ""},
      {"r\xc3\xbc"
       "ffle.js",
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RuffleContentType(QString::fromUtf8(c.name)), QByteArray(c.type));
  }
}

TEST_F(Ruffle, TheGamesMovieShowsAndItsRequestGoesThroughTheProxy) {
  SetUpFolder(true);
  std::string text;
  int32_t version;
  ASSERT_TRUE(DetectFlashPlayer(text, version));
  EXPECT_EQ(text.rfind("Ruffle ", 0), 0u) << text;
  Site.SetAnswer("/fight.html", Page("<object type=\"application/x-shockwave-flash\" "
                                     "data=\"game.swf?fight=1\" width=\"550\" height=\"400\">"
                                     "<param name=\"movie\" value=\"game.swf?fight=1\"></object>"));
  Browser = std::make_unique<TShownBrowser>();
  ASSERT_TRUE(Browser->Load(Site.Url("/fight.html")));

  // Background in the movie's corner, the rectangle's colour inside it (100,80 to 400,280).
  EXPECT_TRUE(Browser->WaitForPixel(20, 20, kMovieBackground, 30000))
      << std::hex << Browser->Pixel(20, 20) << " state "
      << Browser->Run("window.__velmRuffle").toString().toStdString();
  EXPECT_TRUE(SameColour(Browser->Pixel(250, 180), kMovieShape))
      << std::hex << Browser->Pixel(250, 180);
  // Outside the movie the page stays white.
  EXPECT_TRUE(SameColour(Browser->Pixel(700, 500), 0xFFFFFF))
      << std::hex << Browser->Pixel(700, 500);

  std::string movieTarget = Site.Url("/game.swf?fight=1");
  EXPECT_GE(ProxiedRequestsWith(movieTarget), 1u);
  EXPECT_EQ(ProxiedRequestsWith("ruffle"), 0u);
  EXPECT_EQ(ProxiedRequestsWith(".wasm"), 0u);
  EXPECT_EQ(Browser->Run("window.__velmRuffle").toString(), QStringLiteral("loaded"));
}

TEST_F(Ruffle, PagesWithoutFlashNeverLoadTheEmulatorAndLaterOrFramedMoviesPlay) {
  SetUpFolder(true);
  Site.SetAnswer("/plain.html", Page("<p>Нет Flash</p><iframe src=\"inner.html\"></iframe>"));
  Site.SetAnswer("/inner.html", Page("<p>Тоже нет</p>"));
  Site.SetAnswer("/framed.html", Page("<iframe src=\"fight.html\" width=\"560\" height=\"410\" "
                                      "style=\"border:0;display:block\"></iframe>"));
  Site.SetAnswer("/fight.html", Page("<embed src=\"game.swf?fight=1\" width=\"550\" "
                                     "height=\"400\" type=\"application/x-shockwave-flash\">"));
  Browser = std::make_unique<TShownBrowser>();

  ASSERT_TRUE(Browser->Load(Site.Url("/plain.html")));
  // The bootstrap ran in the page and its frame, yet neither asked for the emulator.
  EXPECT_EQ(Browser->Run("window.__velmRuffle + ' ' + frames[0].__velmRuffle").toString(),
            QStringLiteral("waiting waiting"));
  EXPECT_EQ(Browser->Run("typeof window.RufflePlayer.newest").toString(),
            QStringLiteral("undefined"));
  EXPECT_EQ(Browser->Run("window.RufflePlayer.config.autoplay").toString(), QStringLiteral("on"));

  // A movie that a script adds later, inside another element, is found and plays.
  Browser->Run(
      "var holder = document.createElement('div');"
      "holder.innerHTML = '<embed src=\"game.swf?fight=1\" width=\"550\" height=\"400\" "
      "type=\"application/x-shockwave-flash\">';"
      "document.body.insertBefore(holder, document.body.firstChild);");
  EXPECT_TRUE(Browser->WaitForPixel(20, 20, kMovieBackground, 30000))
      << std::hex << Browser->Pixel(20, 20) << " state "
      << Browser->Run("window.__velmRuffle").toString().toStdString();

  ASSERT_TRUE(Browser->Load(Site.Url("/framed.html")));
  EXPECT_TRUE(Browser->WaitForPixel(20, 20, kMovieBackground, 30000))
      << std::hex << Browser->Pixel(20, 20) << " frame state "
      << Browser->Run("frames[0].__velmRuffle").toString().toStdString();
  EXPECT_EQ(Browser->Run("window.__velmRuffle").toString(), QStringLiteral("waiting"));
}

// The demo site's fight page, as the game shows it: its game movie plays where the page puts
// it, and the game's own "game.swf?" request is among what the proxy relayed.
TEST_F(Ruffle, TheDemoSitesFightPageShowsTheGameMovie) {
  SetUpFolder(true);
  TDemoSite demo(Folder.Path("demo-site"));
  ASSERT_FALSE(demo.Root().empty());
  Browser = std::make_unique<TShownBrowser>();
  ASSERT_TRUE(Browser->Load(demo.Root() + "fight.php?fight=7"));
  QPoint corner;
  for (int i = 0; i < 100 && Browser->Run("window.__velmRuffle").toString() != "loaded"; ++i)
    QTest::qWait(100);
  corner = Browser->Corner(QStringLiteral("ruffle-object, object"));
  ASSERT_GE(corner.y(), 0);
  EXPECT_TRUE(Browser->WaitForPixel(corner.x() + 20, corner.y() + 20, kMovieBackground, 30000))
      << std::hex << Browser->Pixel(corner.x() + 20, corner.y() + 20);
  EXPECT_TRUE(SameColour(Browser->Pixel(corner.x() + 250, corner.y() + 180), kMovieShape));
  EXPECT_GE(ProxiedRequestsWith(demo.Root() + "game.swf?fight=7"), 1u);
  EXPECT_EQ(ProxiedRequestsWith("ruffle"), 0u);
}

TEST_F(Ruffle, TheSchemeServesOnlyTheEmulatorsFiles) {
  SetUpFolder(true);
  Site.SetAnswer("/plain.html", Page("<p>Проверка адресов</p>"));
  Browser = std::make_unique<TShownBrowser>();
  ASSERT_TRUE(Browser->Load(Site.Url("/plain.html")));
  // Requests from the page as the emulator's loader makes them; each answers its status and
  // content type, or "failed".
  Browser->Run(R"JS(
    window.__answers = {};
    function ask(key, url) {
      var request = new XMLHttpRequest();
      request.open("GET", url);
      request.onload = function () {
        __answers[key] = request.status + " " + request.getResponseHeader("Content-Type");
      };
      request.onerror = function () { __answers[key] = "failed"; };
      request.send();
    }
    ["ruffle.js", "package.json", "..%2Fpackage.json", "%2E%2E/ruffle/package.json",
     "nothing.wasm"].forEach(function (name) { ask(name, "velm-ruffle://player/" + name); });
    ask("host", "velm-ruffle://elsewhere/ruffle.js");
  )JS");
  QString answers;
  for (int i = 0; i < 50; ++i) {
    answers = Browser
                  ->Run(
                      "Object.keys(__answers).length == 6 ? "
                      "JSON.stringify(__answers, Object.keys(__answers).sort()) : ''")
                  .toString();
    if (!answers.isEmpty()) break;
    QTest::qWait(100);
  }
  EXPECT_EQ(answers.toStdString(),
            R"({"%2E%2E/ruffle/package.json":"failed","..%2Fpackage.json":"failed",)"
            R"("host":"failed","nothing.wasm":"failed","package.json":"failed",)"
            R"("ruffle.js":"200 text/javascript"})");
}

TEST_F(Ruffle, WithoutTheEmulatorsFilesFlashIsUnknownAndPagesAreLeftAlone) {
  SetUpFolder(false);
  std::string text = "x";
  int32_t version = 0;
  EXPECT_FALSE(DetectFlashPlayer(text, version));
  EXPECT_EQ(AppSettings->FlashVersionText, "Unknown");
  EXPECT_EQ(AppSettings->FlashVersion, -1);

  Site.SetAnswer("/fight.html", Page("<embed src=\"game.swf?fight=1\" width=\"550\" "
                                     "height=\"400\" type=\"application/x-shockwave-flash\">"));
  Browser = std::make_unique<TShownBrowser>();
  EXPECT_TRUE(BrowserProfile()->scripts()->find(QStringLiteral("velm-ruffle")).isEmpty());
  ASSERT_TRUE(Browser->Load(Site.Url("/fight.html")));
  EXPECT_EQ(Browser->Run("typeof window.RufflePlayer").toString(), QStringLiteral("undefined"));
  QTest::qWait(1000);
  EXPECT_FALSE(SameColour(Browser->Pixel(20, 20), kMovieBackground));
}

}  // namespace
