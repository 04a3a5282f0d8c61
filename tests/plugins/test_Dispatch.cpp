#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <functional>

#include "plugins/PluginEventDispatcher.h"
#include "plugins/Plugins.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::PointerText;
using velm::test::TPluginFolder;
using velm::test::TRecording;
using velm::test::TRecordingBrowser;

namespace {

// One tab as the tab list makes it: the browser, its page record and its plug-in tables.
struct TTestTab {
  TRecordingBrowser Browser;
  TBrowserPage Page{};
  TPluginEvents Events;
  TTestTab() {
    FillBrowserPage(Page, Browser);
    OpenPluginPages(Page, Events);
  }
  ~TTestTab() { ClosePluginPages(Page); }
  TPluginEventDispatcher Plugins() { return TPluginEventDispatcher(Page, Events); }
  std::string Id() const { return PointerText(&Page); }
};

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
  std::string first, second;
  {
    TTestTab tab1;
    TTestTab tab2;
    first = tab1.Id();
    second = tab2.Id();
    EXPECT_EQ(tab1.Events.size(), 2u);
    EXPECT_EQ(CallCount(LoadedPlugins[1], "NoEventsOpenCount"), 2);
    EXPECT_EQ(CallCount(LoadedPlugins[1], "NoEventsCloseCount"), 0);
    // The plug-in without handlers left its table empty, and gets no events.
    const TBrowserPageEvents empty{};
    EXPECT_EQ(std::memcmp(&tab1.Events[1], &empty, sizeof empty), 0);
    bool cancel = false;
    tab1.Plugins().BeforeNavigate2(nullptr, u"http://site/", 0, u"", u"", u"", cancel);
    tab2.Plugins().StatusTextChange(u"x");
  }
  EXPECT_EQ(CallCount(LoadedPlugins[1], "NoEventsCloseCount"), 2);
  EXPECT_EQ(rec.Lines,
            (std::vector<std::string>{
                "A.so: OpenBrowserPage " + first + " zeroed=1",
                "A.so: OpenBrowserPage " + second + " zeroed=1",
                "A.so: BeforeNavigate2 " + first + " (nil) 'http://site/' 0 '' '' '' cancel=0",
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
  VelmObject frame = ToPluginObject(&rec);
  const std::string p = tab.Id(), fr = PointerText(frame);

  struct TCase {
    std::function<void(TPluginEventDispatcher&)> fire;
    std::string line;
  };
  bool no = false, yes = true;
  VelmObject window = frame;
  const TCase cases[] = {
      {[](auto& d) { d.StatusTextChange(u"Ссылка"); },
       "StatusTextChange " + p + " '\\u0421\\u0441\\u044B\\u043B\\u043A\\u0430'"},
      {[](auto& d) { d.ProgressChange(50, 100); }, "ProgressChange " + p + " 50 100"},
      {[](auto& d) { d.CommandStateChange(2, true); }, "CommandStateChange " + p + " 2 -1"},
      {[](auto& d) { d.DownloadBegin(); }, "DownloadBegin " + p},
      {[](auto& d) { d.DownloadComplete(); }, "DownloadComplete " + p},
      {[](auto& d) { d.TitleChange(u"T"); }, "TitleChange " + p + " 'T'"},
      {[&](auto& d) { d.BeforeNavigate2(frame, u"http://s/a", 1, u"f", u"a=1", u"H: v", no); },
       "BeforeNavigate2 " + p + " " + fr + " 'http://s/a' 1 'f' 'a=1' 'H: v' cancel=0"},
      {[&](auto& d) { d.NewWindow2(window, no); }, "NewWindow2 " + p + " " + fr + " cancel=0"},
      {[&](auto& d) { d.NavigateComplete2(frame, u"http://s/b"); },
       "NavigateComplete2 " + p + " " + fr + " 'http://s/b'"},
      {[&](auto& d) { d.DocumentComplete(nullptr, u"http://s/c"); },
       "DocumentComplete " + p + " (nil) 'http://s/c'"},
      {[](auto& d) { d.OnVisible(false); }, "OnVisible " + p + " 0"},
      {[](auto& d) { d.WindowSetResizable(true); }, "WindowSetResizable " + p + " -1"},
      {[](auto& d) { d.WindowSetLeft(-5); }, "WindowSetLeft " + p + " -5"},
      {[](auto& d) { d.WindowSetTop(6); }, "WindowSetTop " + p + " 6"},
      {[](auto& d) { d.WindowSetWidth(700); }, "WindowSetWidth " + p + " 700"},
      {[](auto& d) { d.WindowSetHeight(500); }, "WindowSetHeight " + p + " 500"},
      {[&](auto& d) { d.WindowClosing(true, yes); }, "WindowClosing " + p + " -1 cancel=-1"},
      {[&](auto& d) { d.FileDownload(no); }, "FileDownload " + p + " cancel=0"},
      {[&](auto& d) { d.NavigateError(frame, u"http://s/x", u"top", 404, no); },
       "NavigateError " + p + " " + fr + " 'http://s/x' 'top' 404 cancel=0"},
      {[&](auto& d) { d.UpdatePageStatus(frame, 3, true); },
       "UpdatePageStatus " + p + " " + fr + " 3 bool:-1"},
  };
  static_assert(sizeof cases / sizeof cases[0] == VELM_BROWSER_PAGE_EVENTS);
  for (const TCase& c : cases) {
    rec.Clear();
    TPluginEventDispatcher d = tab.Plugins();
    c.fire(d);
    EXPECT_EQ(rec.Lines, (std::vector<std::string>{"First.so: " + c.line, "Second.so: " + c.line}));
  }
  EXPECT_FALSE(no);
  EXPECT_TRUE(yes);
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

  bool cancel = false;
  tab.Plugins().BeforeNavigate2(nullptr, u"http://s/", 0, u"", u"", u"", cancel);
  EXPECT_TRUE(cancel);
  // Later plug-ins see the decision of the earlier ones.
  ASSERT_EQ(rec.Lines.size(), 3u);
  EXPECT_NE(rec.Lines[0].find("cancel=0"), std::string::npos);
  EXPECT_NE(rec.Lines[1].find("cancel=0"), std::string::npos);
  EXPECT_NE(rec.Lines[2].find("cancel=-1"), std::string::npos);

  // A navigation the tab already cancelled stays cancelled, and the plug-ins see that.
  setCancel(0);
  rec.Clear();
  cancel = true;
  tab.Plugins().BeforeNavigate2(nullptr, u"http://elsewhere/", 0, u"", u"", u"", cancel);
  EXPECT_TRUE(cancel);
  EXPECT_NE(rec.Lines[0].find("cancel=-1"), std::string::npos);
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
    for (int i = 0; i < 3; ++i) tab.Plugins().StatusTextChange(u"s" + std::u16string(1, u'0' + i));
    bool cancel = false;
    tab.Plugins().BeforeNavigate2(nullptr, u"http://s/", 0, u"", u"", u"", cancel);
    // The failing plug-in set Cancel before it faulted: what it wrote stands.
    EXPECT_TRUE(cancel);
  }
  EXPECT_EQ(CallCount(LoadedPlugins[0], "FailingHandledCount"), 4);
  EXPECT_EQ(rec.With("StatusTextChange").size(), 3u);
  EXPECT_EQ(rec.With("BeforeNavigate2").size(), 1u);
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
