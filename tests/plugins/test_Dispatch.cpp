#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <functional>

#include "plugins/Plugins.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::PointerText;
using velm::test::TPluginFolder;
using velm::test::TRecording;
using velm::test::TRecordingBrowser;
using velm::test::TTestTab;

namespace {

TBrowserEventArgs Navigation(const std::u16string& url, bool cancel = false) {
  TBrowserEventArgs a(TBrowserEvent::BeforeNavigate2);
  a.Url = url;
  a.Cancel = cancel;
  return a;
}

int CallCount(const TPlugin& plugin, const char* hook) {
  auto count = reinterpret_cast<int (*)()>(test::PluginSymbol(plugin, hook));
  return count ? count() : -1;
}

}  // namespace

TEST(PluginPages, EveryTabIsOpenedAndClosedOnceByEveryPlugin) {
  TPluginFolder f;
  f.Install("Recorder", "A.so");
  f.Install("NoEvents", "B.so");
  f.Load();
  TRecording rec;
  std::string first, second, browser;
  {
    TTestTab tab1;
    TTestTab tab2;
    first = tab1.Id();
    second = tab2.Id();
    browser = PointerText(&tab1.Browser);
    EXPECT_EQ(tab1.Tables.size(), 2u);
    EXPECT_EQ(CallCount(LoadedPlugins[1], "NoEventsOpenCount"), 2);
    EXPECT_EQ(CallCount(LoadedPlugins[1], "NoEventsCloseCount"), 0);
    // The plug-in without handlers left its table empty and gets no events.
    const ::TBrowserPageEvents empty{};
    EXPECT_EQ(std::memcmp(&tab1.Tables[1], &empty, sizeof empty), 0);
    TBrowserEventArgs nav = Navigation(u"http://site/");
    tab1.Fire(nav);
    TBrowserEventArgs status(TBrowserEvent::StatusTextChange);
    status.Text = u"x";
    tab2.Fire(status);
  }
  EXPECT_EQ(CallCount(LoadedPlugins[1], "NoEventsCloseCount"), 2);
  EXPECT_EQ(rec.Lines, (std::vector<std::string>{
                           "A.so: OpenBrowserPage " + first + " zeroed=1",
                           "A.so: OpenBrowserPage " + second + " zeroed=1",
                           "A.so: BeforeNavigate2 " + first + " " + browser +
                               " 'http://site/' 0 '' '' '' cancel=0",
                           "A.so: StatusTextChange " + second + " 'x'",
                           "A.so: CloseBrowserPage " + second,
                           "A.so: CloseBrowserPage " + first,
                       }));
}

TEST(PluginEvents, EveryEventReachesThePluginsInLoadOrderWithItsValues) {
  TPluginFolder f;
  f.Install("Recorder", "First.so");
  f.Install("Recorder", "Second.so", "copy");
  f.Load();
  TTestTab tab;
  TRecording rec;
  const std::string p = tab.Id(), top = PointerText(&tab.Browser),
                    frame = PointerText(&tab.FrameAnchor);
  // The tab list's browsers are windows; here only their identity matters.
  int popupAnchor = 0;
  auto* popup = reinterpret_cast<IWebBrowser*>(&popupAnchor);

  struct TCase {
    std::function<void(TBrowserEventArgs&)> set;
    TBrowserEvent kind;
    std::string line;
  };
  using E = TBrowserEvent;
  const TCase cases[] = {
      {[](auto& a) { a.Text = u"Ссылка"; }, E::StatusTextChange,
       "StatusTextChange " + p + " '\\u0421\\u0441\\u044B\\u043B\\u043A\\u0430'"},
      {[](auto& a) { a.Progress = 50, a.ProgressMax = 100; }, E::ProgressChange,
       "ProgressChange " + p + " 50 100"},
      {[](auto& a) { a.Command = 2, a.Enable = true; }, E::CommandStateChange,
       "CommandStateChange " + p + " 2 -1"},
      {[](auto&) {}, E::DownloadBegin, "DownloadBegin " + p},
      {[](auto&) {}, E::DownloadComplete, "DownloadComplete " + p},
      {[](auto& a) { a.Text = u"T"; }, E::TitleChange, "TitleChange " + p + " 'T'"},
      {[](auto& a) {
         a.TopLevel = false, a.Url = u"http://s/a", a.Flags = 1, a.TargetFrameName = u"f",
         a.PostData = "a=1", a.Headers = u"H: v";
       },
       E::BeforeNavigate2,
       "BeforeNavigate2 " + p + " " + frame + " 'http://s/a' 1 'f' 'a=1' 'H: v' cancel=0"},
      {[&](auto& a) { a.NewWindow = popup; }, E::NewWindow2,
       "NewWindow2 " + p + " " + PointerText(popup) + " cancel=0"},
      {[](auto& a) { a.Url = u"http://s/b"; }, E::NavigateComplete2,
       "NavigateComplete2 " + p + " " + top + " 'http://s/b'"},
      {[](auto& a) { a.TopLevel = false, a.Url = u"http://s/c"; }, E::DocumentComplete,
       "DocumentComplete " + p + " " + frame + " 'http://s/c'"},
      {[](auto& a) { a.Flag = false; }, E::OnVisible, "OnVisible " + p + " 0"},
      {[](auto& a) { a.Flag = true; }, E::WindowSetResizable, "WindowSetResizable " + p + " -1"},
      {[](auto& a) { a.Value = -5; }, E::WindowSetLeft, "WindowSetLeft " + p + " -5"},
      {[](auto& a) { a.Value = 6; }, E::WindowSetTop, "WindowSetTop " + p + " 6"},
      {[](auto& a) { a.Value = 700; }, E::WindowSetWidth, "WindowSetWidth " + p + " 700"},
      {[](auto& a) { a.Value = 500; }, E::WindowSetHeight, "WindowSetHeight " + p + " 500"},
      {[](auto& a) { a.Flag = true, a.Cancel = true; }, E::WindowClosing,
       "WindowClosing " + p + " -1 cancel=-1"},
      {[](auto&) {}, E::FileDownload, "FileDownload " + p + " cancel=0"},
      {[](auto& a) { a.Url = u"http://s/x", a.TargetFrameName = u"top", a.StatusCode = 404; },
       E::NavigateError, "NavigateError " + p + " " + top + " 'http://s/x' 'top' 404 cancel=0"},
      {[](auto& a) { a.PageNumber = 3, a.Done = true; }, E::UpdatePageStatus,
       "UpdatePageStatus " + p + " " + top + " 3 bool:-1"},
  };
  static_assert(sizeof cases / sizeof cases[0] == VELM_BROWSER_PAGE_EVENTS);
  int n = 0;
  for (const TCase& c : cases) {
    ASSERT_EQ(static_cast<int>(c.kind), n++);  // the table follows the event numbers
    rec.Clear();
    TBrowserEventArgs args(c.kind);
    c.set(args);
    const bool cancel = args.Cancel;
    tab.Fire(args);
    EXPECT_EQ(rec.Lines, (std::vector<std::string>{"First.so: " + c.line, "Second.so: " + c.line}));
    EXPECT_EQ(args.Cancel, cancel);  // the recorders leave the tab's decision alone
  }
}

TEST(PluginEvents, CancelInBeforeNavigate2StopsTheNavigation) {
  TPluginFolder f;
  f.Install("Recorder", "A.so");
  f.Install("Recorder", "B.so", "copy");
  f.Install("Recorder", "C.so", "other copy");
  f.Load();
  auto setCancel =
      reinterpret_cast<void (*)(int)>(test::PluginSymbol(LoadedPlugins[1], "RecorderSetCancel"));
  ASSERT_NE(setCancel, nullptr);
  setCancel(1);
  TTestTab tab;
  TRecording rec;

  TBrowserEventArgs nav = Navigation(u"http://s/");
  tab.Fire(nav);
  EXPECT_TRUE(nav.Cancel);
  // Later plug-ins see the decision of the earlier ones.
  ASSERT_EQ(rec.Lines.size(), 3u);
  EXPECT_NE(rec.Lines[0].find("cancel=0"), std::string::npos);
  EXPECT_NE(rec.Lines[1].find("cancel=0"), std::string::npos);
  EXPECT_NE(rec.Lines[2].find("cancel=-1"), std::string::npos);

  // A navigation the tab already cancelled stays cancelled, and the plug-ins see that.
  setCancel(0);
  rec.Clear();
  TBrowserEventArgs external = Navigation(u"http://elsewhere/", true);
  tab.Fire(external);
  EXPECT_TRUE(external.Cancel);
  EXPECT_NE(rec.Lines[0].find("cancel=-1"), std::string::npos);
}

TEST(PluginEvents, NewWindowHandedBackOnlyWhenItIsOneOfTheClientsBrowsers) {
  TPluginFolder f;
  TTestTab tab;
  int mineAnchor = 0, otherAnchor = 0;
  auto* mine = reinterpret_cast<IWebBrowser*>(&mineAnchor);
  auto* other = reinterpret_cast<IWebBrowser*>(&otherAnchor);
  ::TBrowserPageEvents table{};
  static VelmObject handBack;
  table.NewWindow2 = [](TBrowserPage*, VelmObject* window, VelmBool*) { *window = handBack; };
  tab.Objects.BrowserOfHandle = [&](VelmObject h) -> IWebBrowser* {
    return h == ToPluginObject(mine) ? mine : nullptr;
  };
  struct TCase {
    VelmObject handBack;
    IWebBrowser* expected;
  } cases[] = {
      {ToPluginObject(mine), mine},
      {nullptr, nullptr},               // no window
      {ToPluginObject(&table), other},  // not a browser: ignored
  };
  for (const TCase& c : cases) {
    TBrowserEventArgs args(TBrowserEvent::NewWindow2);
    args.NewWindow = other;
    handBack = c.handBack;
    EXPECT_TRUE(CallPluginEvent(table, tab.Page, args, tab.Objects));
    EXPECT_EQ(args.NewWindow, c.expected);
  }
}

TEST(PluginEvents, FailingHandlerIsLoggedAndTheNextPluginStillRuns) {
  TPluginFolder f;
  f.Install("Failing", "AFailing.so");
  f.Install("Recorder", "BRecorder.so");
  f.Load();
  struct sigaction before {};
  sigaction(SIGSEGV, nullptr, &before);
  TRecording rec;
  {
    TTestTab tab;
    for (int i = 0; i < 3; ++i) {
      TBrowserEventArgs status(TBrowserEvent::StatusTextChange);
      status.Text = u"s";
      tab.Fire(status);
    }
    TBrowserEventArgs nav = Navigation(u"http://s/");
    tab.Fire(nav);
    // The failing plug-in set Cancel before it faulted: what it wrote stands.
    EXPECT_TRUE(nav.Cancel);
  }
  EXPECT_EQ(CallCount(LoadedPlugins[0], "FailingHandledCount"), 4);
  EXPECT_EQ(rec.With("StatusTextChange").size(), 3u);
  ASSERT_EQ(rec.With("BeforeNavigate2").size(), 1u);
  EXPECT_NE(rec.With("BeforeNavigate2")[0].find("cancel=-1"), std::string::npos);
  // Its CloseBrowserPage faulted too; that is dropped and the recorder still got its close.
  EXPECT_EQ(rec.With("CloseBrowserPage").size(), 1u);

  std::string log = f.DebugLog();
  size_t exceptions = 0;
  for (size_t at = log.find("Exception: "); at != std::string::npos;
       at = log.find("Exception: ", at + 1))
    ++exceptions;
  EXPECT_EQ(exceptions, 4u) << log;  // the four event failures; the close failure is silent
  EXPECT_NE(log.find("Access violation"), std::string::npos) << log;
  EXPECT_NE(log.find("AFailing.so"), std::string::npos) << log;

  // The client's own fault handling is back in place afterwards.
  struct sigaction after {};
  sigaction(SIGSEGV, nullptr, &after);
  EXPECT_EQ(after.sa_sigaction, before.sa_sigaction);
  EXPECT_EQ(after.sa_flags, before.sa_flags);
}
