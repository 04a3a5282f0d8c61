#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <cstdlib>
#include <memory>

#include "app/Options.h"
#include "browser/BrowserProfile.h"
#include "browser/PageControl.h"
#include "browser/VelmTabList.h"
#include "platform/Encoding.h"
#include "plugins/PluginTabHost.h"
#include "plugins/support/GuiTestSupport.h"
#include "plugins/support/PluginTestSupport.h"
#include "support/LoopbackHttpServer.h"

using namespace velm;
using velm::test::TPluginFolder;
using velm::test::TRecording;

namespace {

// Runs the event loop until done() or the time is up.
bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The site root for the scope: the test's server counts as the game site.
class TScopedSiteRoot {
 public:
  explicit TScopedSiteRoot(const std::string& root) {
    const char* old = std::getenv("VELM_SITE_ROOT");
    fHad = old != nullptr;
    if (old) fOld = old;
    setenv("VELM_SITE_ROOT", root.c_str(), 1);
  }
  ~TScopedSiteRoot() {
    if (fHad)
      setenv("VELM_SITE_ROOT", fOld.c_str(), 1);
    else
      unsetenv("VELM_SITE_ROOT");
  }

 private:
  bool fHad;
  std::string fOld;
};

}  // namespace

// The whole way: the web engine asks the tab, the tab asks the plug-ins, and a plug-in's Cancel
// keeps the engine from fetching the page.
TEST(PluginWebEngine, CancelInBeforeNavigate2KeepsThePageFromBeingFetched) {
  TPluginFolder f;
  f.Install("Recorder", "A.so");
  f.Load();
  test::TLoopbackHttpServer server;
  server.SetHandler([](const test::TRecordedRequest&) {
    return test::TScriptedAnswer{
        test::HttpAnswer("200 OK", "<html><head><title>Page</title></head><body>x</body></html>",
                         {"Content-Type: text/html", "Cache-Control: no-store"}),
        true};
  });
  TScopedSiteRoot site(server.Url("/"));
  InitializeVelmOptions();
  InitializePluginTabs();
  TRecording rec;
  auto setCancel =
      reinterpret_cast<void (*)(int)>(test::PluginSymbol(LoadedPlugins[0], "RecorderSetCancel"));
  {
    TPageControl pages;
    QLabel status;
    pages.resize(640, 480);
    pages.show();
    TVelmTabList list(&pages, &status, QPixmap(), QPixmap());
    TTab* tab = list.NewTab();

    setCancel(1);
    tab->Navigate(Utf8ToUtf16(server.Url("/blocked")), false);
    ASSERT_TRUE(RunUntil([&] { return !rec.With("/blocked").empty(); }, 20000));
    RunUntil([] { return false; }, 500);  // time for a fetch that must not happen
    setCancel(0);
    for (const test::TRecordedRequest& r : server.Requests()) EXPECT_NE(r.Target, "/blocked");
    rec.Clear();

    tab->Navigate(Utf8ToUtf16(server.Url("/allowed")), false);
    EXPECT_TRUE(RunUntil(
        [&] {
          for (const std::string& line : rec.With("DocumentComplete"))
            if (line.find("/allowed") != std::string::npos) return true;
          return false;
        },
        20000))
        << ::testing::PrintToString(rec.Lines);
    EXPECT_TRUE(server.WaitForRequests(1, 1000)) << ::testing::PrintToString(rec.Lines);
    EXPECT_EQ(server.Requests().at(0).Target, "/allowed");
    EXPECT_EQ(rec.With("BeforeNavigate2").size(), 1u);
  }
  QCoreApplication::processEvents();
  FinalizePluginTabs();
  FinalizeVelmOptions();
  ReleaseBrowserProfile();
}
