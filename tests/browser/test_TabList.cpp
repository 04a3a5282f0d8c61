#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <stdexcept>

#include "TabListFixture.h"
#include "app/Options.h"
#include "browser/PluginHost.h"
#include "platform/Encoding.h"

namespace velm::test {
namespace {

const std::u16string kBlanks = u"     ";
const std::u16string kTitle18 = u"Арена боёв Велмары";   // 18 characters
const std::u16string kTitle19 = u"Арена боёв Велмары!";  // 19 characters
const std::u16string kTitle17Dots = u"Арена боёв Велмар...";

using TabList = TabListFixture;

TEST_F(TabList, StartPageTabHasNoBlanksAndShowsLoadingUntilComplete) {
  List->OpenAddress(u"http://game.example/index.php", false);
  ASSERT_EQ(List->Count(), 1);
  EXPECT_FALSE(List->TabAt(0)->Closable);
  EXPECT_EQ(Caption(0), u"");
  EXPECT_FALSE(Fake(0)->BeforeNavigate(u"http://game.example/index.php"));
  EXPECT_EQ(Caption(0), u"Загрузка...");
  // A frame's navigation keeps the caption; an incomplete document gives no title.
  Fake(0)->BeforeNavigate(u"http://game.example/chat.php");
  Fake(0)->State = kReadyStateLoading;
  TBrowserEventArgs early(TBrowserEvent::NavigateComplete2);
  early.Url = u"http://game.example/index.php";
  Fake(0)->Raise(early);
  EXPECT_EQ(Caption(0), u"Загрузка...");
  Fake(0)->Complete(u"http://game.example/index.php", u"Велмара");
  EXPECT_EQ(Caption(0), u"Велмара");
  EXPECT_EQ(List->TabAt(0)->Title, u"Велмара");
}

TEST_F(TabList, CaptionsTable) {
  OpenTabs(2);
  struct Case {
    int Position;
    std::u16string Title;
    bool Html;
    std::u16string Url;
    std::u16string Expected;
  };
  const Case cases[] = {
      {0, kTitle18, true, u"http://game.example/a", kTitle18},
      {0, kTitle19, true, u"http://game.example/a", kTitle17Dots},
      {0, u"", true, u"http://game.example/a", u""},
      {1, kTitle18, true, u"http://game.example/a", kTitle18 + kBlanks},
      {1, kTitle19, true, u"http://game.example/a", kTitle17Dots + kBlanks},
      {1, u"", true, u"http://game.example/a", kBlanks},
      {1, u"a|b", true, u"http://game.example/a", u"a|b" + kBlanks},
      // Not an HTML document: the address stands for the title.
      {0, u"ignored", false, u"http://g.example/p", u"http://g.example/p"},
      {1, u"ignored", false, u"http://game.example/pic.png",
       std::u16string(u"http://game.example/pic.png").substr(0, 17) + u"..." + kBlanks},
  };
  for (const Case& c : cases) {
    Fake(c.Position)->Complete(c.Url, c.Title, c.Html);
    EXPECT_EQ(Caption(c.Position), c.Expected) << Utf16ToUtf8(c.Title);
  }
}

TEST_F(TabList, ClosableTabLoadsWithBlanks) {
  OpenTabs(2);
  Fake(1)->BeforeNavigate(u"http://game.example/page1");
  EXPECT_EQ(Caption(1), u"Загрузка..." + kBlanks);
}

TEST_F(TabList, IdsCountUpAndOpenerIsTheCurrentTab) {
  OpenTabs(3);
  const int32_t first = List->TabAt(0)->Id;
  EXPECT_EQ(List->TabAt(0)->OpenerId, 0);
  EXPECT_EQ(List->TabAt(1)->Id, first + 1);
  EXPECT_EQ(List->TabAt(2)->Id, first + 2);
  // Each new tab came to the front, so the one before it was current.
  EXPECT_EQ(List->TabAt(1)->OpenerId, first);
  EXPECT_EQ(List->TabAt(2)->OpenerId, first + 1);
  Env.PageControl->setCurrentIndex(0);
  TTab* fourth = List->NewTab();
  EXPECT_EQ(fourth->OpenerId, first);
  // Ids are never reused.
  List->TabAt(3)->Close();
  EXPECT_EQ(List->NewTab()->Id, first + 4);
  EXPECT_EQ(Fake(3)->objectName(), QStringLiteral("webBrowser5"));
}

TEST_F(TabList, CloseModes) {
  struct Case {
    int Mode;
    std::vector<int> ClosedBefore;  // positions closed first, in order
    int Visible;                    // position shown before the close
    int Close;                      // position closed
    char Expected;                  // tab shown afterwards, 'A' = the first tab
  };
  const Case cases[] = {
      {0, {}, 2, 2, 'A'},  {0, {}, 3, 3, 'A'}, {1, {}, 1, 1, 'C'}, {1, {}, 3, 3, 'C'},
      {1, {}, 0, 2, 'D'},  {2, {}, 3, 3, 'C'}, {2, {}, 1, 1, 'A'}, {2, {1}, 1, 1, 'D'},
      {2, {2}, 2, 2, 'A'}, {7, {}, 2, 2, 'D'}, {7, {}, 3, 3, 'A'},
  };
  for (const Case& c : cases) {
    List.reset();
    Flush();
    List = std::make_unique<TVelmTabList>(
        Env.PageControl, Env.StatusPanel, QPixmap(), QPixmap(),
        [](QWidget* sheet) -> IWebBrowser* { return new TFakeWebBrowser(sheet); });
    Options->SetCloseWindowMode(c.Mode);
    OpenTabs(4);  // A, B (opened by A), C (by B), D (by C)
    std::map<int32_t, char> names;
    for (int i = 0; i < 4; ++i) names[List->TabAt(i)->Id] = static_cast<char>('A' + i);
    for (int position : c.ClosedBefore) List->TabAt(position)->Close();
    Env.PageControl->setCurrentIndex(c.Visible);
    List->TabAt(c.Close)->Close();
    Flush();
    TTab* current = List->CurrentTab;
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(names[current->Id], c.Expected) << "mode " << c.Mode << " close " << c.Close;
    EXPECT_EQ(current->PageIndex(), Visible());
  }
}

TEST_F(TabList, FirstTabNeverCloses) {
  OpenTabs(2);
  List->TabAt(0)->Close();
  Fake(0)->WindowClosing();
  EXPECT_EQ(List->Count(), 2);
  Fake(1)->WindowClosing();
  Flush();
  EXPECT_EQ(List->Count(), 1);
  EXPECT_EQ(TFakeWebBrowser::Alive, 1);
}

TEST_F(TabList, OpenAddressWithoutNewTabNavigatesTheFirstTab) {
  OpenTabs(3);
  ASSERT_EQ(Visible(), 2);
  List->OpenAddress(u"http://game.example/again", false);
  EXPECT_EQ(Visible(), 2);
  ASSERT_EQ(Fake(0)->Navigations.size(), 2u);
  EXPECT_EQ(Fake(0)->Navigations.back(),
            std::make_pair(std::u16string(u"http://game.example/again"), 0));
  EXPECT_EQ(Fake(2)->Navigations.size(), 1u);

  List->OpenAddress(u"http://game.example/new", true);
  ASSERT_EQ(List->Count(), 4);
  EXPECT_EQ(Visible(), 3);
  EXPECT_EQ(Fake(3)->Navigations.back(),
            std::make_pair(std::u16string(u"http://game.example/new"), 0));
  List->TabAt(3)->Navigate(u"http://game.example/w", true);
  EXPECT_EQ(Fake(3)->Navigations.back().second, kNavOpenInNewWindow);
}

TEST_F(TabList, ExternalAddressesOpenInTheDefaultBrowser) {
  OpenTabs(1);
  Fake(0)->Complete(u"http://game.example/", u"Велмара");
  struct Case {
    std::u16string Url;
    bool External;
  };
  const Case cases[] = {
      {u"http://other.example/x", true},
      {u"http://game.example", true},  // the bare host without "/"
      {u"https://other.example/x", false},
      {u"HTTP://other.example/x", false},  // the scheme test is exact
      {u"http://GAME.Example/page", false},
      {u"http://forum.game.example/", false},
      {u"http://other.example/?back=game.example/", false},
      {u"ftp://other.example/", false},
  };
  for (const Case& c : cases) {
    Env.ShellOpened.clear();
    EXPECT_EQ(Fake(0)->BeforeNavigate(c.Url), c.External) << Utf16ToUtf8(c.Url);
    EXPECT_EQ(Env.ShellOpened,
              c.External ? std::vector<std::u16string>{c.Url} : std::vector<std::u16string>{});
  }
  EXPECT_EQ(List->Count(), 1);
  EXPECT_TRUE(List->IsExternalUrl(u""));
}

TEST_F(TabList, NewWindowToAnExternalLinkLeavesNoTab) {
  OpenTabs(1);
  Fake(0)->Complete(u"http://game.example/", u"Велмара");
  Fake(0)->Hover(u"HTTP://Other.Example/A");
  bool cancelled = false;
  EXPECT_EQ(Fake(0)->NewWindow(&cancelled), nullptr);
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(Env.ShellOpened, std::vector<std::u16string>{u"HTTP://Other.Example/A"});
  EXPECT_EQ(List->Count(), 1);
}

TEST_F(TabList, NewWindowBecomesAFrontTabThatClosesWhenItsAddressIsExternal) {
  OpenTabs(1);
  Fake(0)->Hover(u"http://game.example/info.php");
  IWebBrowser* target = Fake(0)->NewWindow();
  ASSERT_EQ(List->Count(), 2);
  EXPECT_EQ(target, List->TabAt(1)->Browser);
  EXPECT_EQ(Visible(), 1);
  EXPECT_EQ(List->CurrentTab, List->TabAt(1));

  // A script opened a window without a link under the pointer; its address proves external.
  Fake(0)->Hover(u"");
  Fake(0)->NewWindow();
  ASSERT_EQ(List->Count(), 3);
  EXPECT_TRUE(Fake(2)->BeforeNavigate(u"http://other.example/ad"));
  EXPECT_EQ(Env.ShellOpened, std::vector<std::u16string>{u"http://other.example/ad"});
  EXPECT_EQ(List->Count(), 2);
  // The browser that raised the event outlives it and goes with the next turn of the loop.
  EXPECT_EQ(TFakeWebBrowser::Alive, 3);
  Flush();
  EXPECT_EQ(TFakeWebBrowser::Alive, 2);

  // A tab that has shown a page stays when it meets an external address.
  Fake(1)->Complete(u"http://game.example/info.php", u"Инфо");
  EXPECT_TRUE(Fake(1)->BeforeNavigate(u"http://other.example/b"));
  EXPECT_EQ(List->Count(), 2);
}

TEST_F(TabList, StatusTextOfTheCurrentTabIsShown) {
  OpenTabs(2);
  Fake(1)->Hover(u"http://game.example/one");
  EXPECT_EQ(Env.StatusPanel->text(), QStringLiteral("http://game.example/one"));
  Fake(0)->Hover(u"http://game.example/zero");
  EXPECT_EQ(Env.StatusPanel->text(), QStringLiteral("http://game.example/one"));
  Env.PageControl->setCurrentIndex(0);
  EXPECT_EQ(List->CurrentTab, List->TabAt(0));
  EXPECT_EQ(Env.StatusPanel->text(), QStringLiteral("http://game.example/zero"));
}

TEST_F(TabList, ExceptionContextNamesTheVisibleTab) {
  OpenTabs(2);
  Fake(1)->Complete(u"http://game.example/arena", u"Арена");
  EXPECT_EQ(List->ExceptionContext(), "http://game.example/arena " + Ansi("Арена"));
}

TEST_F(TabList, CopyLinkPutsTheAddressOnTheClipboard) {
  OpenTabs(1);
  Fake(0)->Complete(u"http://game.example/info.php?nick=Воин", u"Инфо");
  QGuiApplication::clipboard()->setText(QStringLiteral("old"));
  List->TabAt(0)->CopyLink();
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QString::fromUtf8("http://game.example/info.php?nick=Воин"));
}

// A plug-in table with one plug-in that records what it is told, and a second one.
class TRecordingPluginHost : public IPluginHost {
 public:
  void OpenPluginPages(TTab& tab, TPluginEvents& events) override {
    Log.push_back("open " + std::to_string(tab.Id));
    events.resize(2);
    events[0].Entries[static_cast<int>(TBrowserEvent::BeforeNavigate2)] =
        [this](TTab& t, TBrowserEventArgs& args) {
          // The tab's own action came first.
          Log.push_back("first " + Utf16ToUtf8(t.Caption()));
          if (ThrowInFirst) throw std::runtime_error("plug-in failed");
        };
    events[1].Entries[static_cast<int>(TBrowserEvent::BeforeNavigate2)] =
        [this](TTab&, TBrowserEventArgs& args) {
          Log.push_back("second");
          if (CancelInSecond) args.Cancel = true;
        };
    events[1].Entries[static_cast<int>(TBrowserEvent::WindowClosing)] =
        [this](TTab& t, TBrowserEventArgs&) { Log.push_back("closing " + std::to_string(t.Id)); };
  }
  void ClosePluginPages(TTab& tab) override {
    Log.push_back("close " + std::to_string(tab.Id));
    // A second close while the tab is going away does nothing.
    tab.Close();
  }
  std::vector<std::string> Log;
  bool ThrowInFirst = false;
  bool CancelInSecond = false;
};

class TabListPlugins : public TabListFixture {
 protected:
  TabListPlugins() { SetPluginHost(&Host); }
  ~TabListPlugins() override {
    List.reset();
    SetPluginHost(nullptr);
  }
  TRecordingPluginHost Host;
};

TEST_F(TabListPlugins, EveryTabIsIntroducedAndEventsFollowTheTabsOwnAction) {
  OpenTabs(2);
  const std::string a = std::to_string(List->TabAt(0)->Id);
  const std::string b = std::to_string(List->TabAt(1)->Id);
  EXPECT_EQ(List->TabAt(0)->PluginEvents.size(), 2u);
  Host.Log.clear();

  Host.ThrowInFirst = true;
  Host.CancelInSecond = true;
  EXPECT_TRUE(Fake(1)->BeforeNavigate(u"http://game.example/x"));
  EXPECT_EQ(Host.Log,
            (std::vector<std::string>{"first " + Utf16ToUtf8(u"Загрузка...     "), "second"}));
  EXPECT_NE(Env.LogText().find("plug-in failed"), std::string::npos);

  Host.Log.clear();
  Fake(1)->WindowClosing();
  EXPECT_EQ(Host.Log, (std::vector<std::string>{"closing " + b, "close " + b}));
  EXPECT_EQ(List->Count(), 1);

  Host.Log.clear();
  List.reset();
  EXPECT_EQ(Host.Log, std::vector<std::string>{"close " + a});
  Flush();
  EXPECT_EQ(TFakeWebBrowser::Alive, 0);
}

TEST_F(TabListPlugins, AClosedTabHearsNothingMore) {
  OpenTabs(2);
  Host.Log.clear();
  // The new window's address is external: the tab closes inside its own event.
  TFakeWebBrowser* browser = Fake(1);
  List->TabAt(1)->SetCaption(u"");
  EXPECT_TRUE(browser->BeforeNavigate(u"http://other.example/"));
  EXPECT_EQ(Host.Log.size(), 1u);  // "close": no event entry ran after the close
  EXPECT_FALSE(browser->Attached());
  Flush();
}

}  // namespace
}  // namespace velm::test
