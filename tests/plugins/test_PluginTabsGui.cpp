#include <gtest/gtest.h>

#include <QLabel>
#include <QPixmap>
#include <memory>

#include "app/AppSettings.h"
#include "app/Options.h"
#include "browser/PageControl.h"
#include "browser/VelmTabList.h"
#include "platform/Encoding.h"
#include "plugins/PluginTabHost.h"
#include "plugins/support/GuiTestSupport.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::PointerText;
using velm::test::TPluginFolder;
using velm::test::TRecording;
using velm::test::TScriptedBrowser;

namespace {

// The main window's pieces the tab list works with, browsers driven by the test, and the
// plug-ins' host installed as at start-up.
struct TTabsFixture {
  TTabsFixture() {
    test::GuiApp();
    InitializeVelmOptions();
    InitializePluginTabs();
  }
  ~TTabsFixture() {
    List.reset();
    FinalizePluginTabs();
    FinalizeVelmOptions();
  }
  void MakeList() {
    List = std::make_unique<TVelmTabList>(&Pages, &Status, QPixmap(), QPixmap(),
                                          [this](QWidget* sheet) {
                                            auto* b = new TScriptedBrowser(sheet);
                                            Browsers.push_back(b);
                                            return b;
                                          });
  }
  std::string PageId(TTab* tab) { return PointerText(PluginTabHost()->PageOf(*tab)); }

  TPageControl Pages;
  QLabel Status;
  std::vector<TScriptedBrowser*> Browsers;
  std::unique_ptr<TVelmTabList> List;
};

std::u16string SiteAddress(const char* path) {
  return Utf8ToUtf16(GetSiteRoot() + path);
}

}  // namespace

TEST(PluginTabs, EveryTabOpenedAndClosedOnceAlsoAtTheEnd) {
  TPluginFolder f;
  f.Install("Recorder", "A.so");
  f.Install("NoEvents", "B.so");
  f.Load();
  TTabsFixture t;
  TRecording rec;
  t.MakeList();
  TTab* first = t.List->NewTab();
  TTab* second = t.List->NewTab();
  TTab* third = t.List->NewTab();
  const std::string p1 = t.PageId(first), p2 = t.PageId(second), p3 = t.PageId(third);
  EXPECT_EQ(first->PluginEvents.size(), 2u);

  t.List->CloseTab(second);
  EXPECT_EQ(rec.With("CloseBrowserPage").size(), 1u);
  t.List.reset();  // the program ends: the list frees the remaining tabs

  EXPECT_EQ(rec.With("OpenBrowserPage"),
            (std::vector<std::string>{"A.so: OpenBrowserPage " + p1 + " zeroed=1",
                                      "A.so: OpenBrowserPage " + p2 + " zeroed=1",
                                      "A.so: OpenBrowserPage " + p3 + " zeroed=1"}));
  EXPECT_EQ(
      rec.With("CloseBrowserPage"),
      (std::vector<std::string>{"A.so: CloseBrowserPage " + p2, "A.so: CloseBrowserPage " + p1,
                                "A.so: CloseBrowserPage " + p3}));
  auto count = [&](const char* hook) {
    return reinterpret_cast<int (*)()>(test::PluginSymbol(LoadedPlugins[1], hook))();
  };
  EXPECT_EQ(count("NoEventsOpenCount"), 3);
  EXPECT_EQ(count("NoEventsCloseCount"), 3);
}

TEST(PluginTabs, EventsReachThePluginsAfterTheTabsOwnAction) {
  TPluginFolder f;
  f.Install("Recorder", "A.so");
  f.Install("Recorder", "B.so", "copy");
  f.Load();
  TTabsFixture t;
  TRecording rec;
  t.MakeList();
  TTab* game = t.List->NewTab();
  TTab* other = t.List->NewTab();
  const std::string p = t.PageId(other);
  rec.Clear();

  std::vector<std::u16string> statusSeen, captionSeen;
  rec.OnLine = [&](const std::string&) {
    statusSeen.push_back(other->StatusText);
    captionSeen.push_back(other->Caption());
  };
  TBrowserEventArgs status(TBrowserEvent::StatusTextChange);
  status.Text = u"http://link/";
  t.Browsers[1]->Fire(status);
  TBrowserEventArgs nav(TBrowserEvent::BeforeNavigate2);
  nav.Url = SiteAddress("main.php");
  t.Browsers[1]->Fire(nav);
  rec.OnLine = nullptr;

  EXPECT_EQ(rec.Lines, (std::vector<std::string>{
                           "A.so: StatusTextChange " + p + " 'http://link/'",
                           "B.so: StatusTextChange " + p + " 'http://link/'",
                           "A.so: BeforeNavigate2 " + p + " " + PointerText(other->Browser) + " '" +
                               Utf16ToUtf8(nav.Url) + "' 0 '' '' '' cancel=0",
                           "B.so: BeforeNavigate2 " + p + " " + PointerText(other->Browser) + " '" +
                               Utf16ToUtf8(nav.Url) + "' 0 '' '' '' cancel=0",
                       }));
  // Each plug-in saw the tab already updated: the status text, then the loading caption.
  for (const std::u16string& s : statusSeen) EXPECT_EQ(s, u"http://link/");
  EXPECT_EQ(captionSeen[2], u"Загрузка...     ");
  EXPECT_EQ(captionSeen[3], u"Загрузка...     ");
  (void)game;
}

TEST(PluginTabs, PluginCancelStopsTheNavigationAndFailuresAreLogged) {
  TPluginFolder f;
  f.Install("Failing", "A.so");
  f.Install("Recorder", "B.so");
  f.Load();
  TTabsFixture t;
  TRecording rec;
  t.MakeList();
  t.List->NewTab();

  TBrowserEventArgs status(TBrowserEvent::StatusTextChange);
  status.Text = u"x";
  t.Browsers[0]->Fire(status);
  EXPECT_EQ(rec.With("StatusTextChange").size(), 1u);  // the failing plug-in did not stop it

  auto setCancel =
      reinterpret_cast<void (*)(int)>(test::PluginSymbol(LoadedPlugins[1], "RecorderSetCancel"));
  setCancel(1);
  TBrowserEventArgs nav(TBrowserEvent::BeforeNavigate2);
  nav.Url = SiteAddress("fight.php");
  t.Browsers[0]->Fire(nav);
  setCancel(0);
  EXPECT_TRUE(nav.Cancel);  // the browser does not go there

  std::string log = f.DebugLog();
  EXPECT_NE(log.find("Access violation"), std::string::npos) << log;
}
