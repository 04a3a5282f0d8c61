#include <gtest/gtest.h>

#include <QtTest/qtestspontaneevent.h>
#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QWebEngineProfile>
#include <functional>
#include <memory>

#include "BrowserTestEnv.h"
#include "EngineTestServers.h"
#include "browser/PluginHost.h"
#include "browser/QtWebBrowser.h"
#include "browser/VelmTabList.h"
#include "platform/Encoding.h"

namespace velm::test {
namespace {

constexpr int kWaitMs = 15000;

const char* kChatFrame = R"HTML(<html><body><form><input name="message"></form><script>
function chatSend() { parent.sends.push(window.name); }
</script></body></html>)HTML";

// A top page that counts the Enter keys reaching it and the chatSend() calls of its frames.
std::string TopPage(const std::string& title, const std::string& body) {
  return "<html><head><title>" + title + R"HTML(</title><script>
var sends = [], pageKeys = [];
document.addEventListener('keydown', function (e) {
  if (e.key === 'Enter') pageKeys.push((e.shiftKey ? 'Shift+' : '') + (e.ctrlKey ? 'Ctrl+' : '') + 'Enter');
}, true);
</script></head><body>)HTML" +
         body + "</body></html>";
}

class Engine : public ::testing::Test {
 protected:
  Engine() : Env(kSiteRoot) {
    gSite->SetPage("/chat.php", "text/html; charset=utf-8", kChatFrame);
    List = std::make_unique<TVelmTabList>(Env.PageControl, Env.StatusPanel,
                                          TBrowserTestEnv::Picture(Qt::red),
                                          TBrowserTestEnv::Picture(Qt::blue));
    Env.Window.show();
  }
  ~Engine() override {
    List.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  TQtWebBrowser* View(int i) const { return dynamic_cast<TQtWebBrowser*>(List->TabAt(i)->Browser); }
  static bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kWaitMs); }

  QVariant Eval(int tab, const QString& script) {
    auto answer = std::make_shared<std::pair<bool, QVariant>>();
    View(tab)->WebPage()->runJavaScript(script, [answer](const QVariant& v) {
      answer->first = true;
      answer->second = v;
    });
    EXPECT_TRUE(WaitFor([&] { return answer->first; })) << script.toStdString();
    return answer->second;
  }

  // Opens the start page in the first tab and waits until its title is the caption.
  void Start(const std::string& path, const std::string& title) {
    List->OpenAddress(Utf8ToUtf16(std::string(kSiteRoot) + path.substr(1)), false);
    ASSERT_TRUE(WaitFor([&] {
      return List->Count() == 1 && View(0)->ReadyState() == kReadyStateComplete &&
             Env.PageControl->tabText(0) == QString::fromStdString(title);
    })) << Env.PageControl->tabText(0).toStdString();
  }

  // A key typed into the page, delivered as the window system does.
  void Key(int tab, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = View(tab)->focusProxy() ? View(tab)->focusProxy() : View(tab);
    target->setFocus();
    const QString text = key == Qt::Key_Return ? QStringLiteral("\r") : QString();
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QSpontaneKeyEvent::setSpontaneous(&press);
    qApp->notify(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QSpontaneKeyEvent::setSpontaneous(&release);
    qApp->notify(target, &release);
  }

  int Sends(int tab = 0) { return Eval(tab, QStringLiteral("sends.length")).toInt(); }
  QStringList PageKeys(int tab = 0) { return Eval(tab, QStringLiteral("pageKeys")).toStringList(); }
  // Page keys are answered by the renderer later; a marker script run after them settles it.
  QStringList SettledPageKeys(int count) {
    WaitFor([&] { return PageKeys().size() >= count; });
    return PageKeys();
  }

  TBrowserTestEnv Env;
  std::unique_ptr<TVelmTabList> List;
};

TEST_F(Engine, EnterInTheChatFrameSendsOncePerKeyAndModifiedEntersReachThePage) {
  gSite->SetPage("/index.php", "text/html; charset=utf-8",
                 TopPage("Velmara", R"(<iframe name="chat" src="/chat.php"></iframe>)"));
  Start("/index.php", "Velmara");
  ASSERT_TRUE(
      WaitFor([&] { return Eval(0, "frames.length && frames[0].chatSend ? 1 : 0").toInt(); }));

  Key(0, Qt::Key_Return);
  EXPECT_EQ(Eval(0, "sends.join()").toString(), QStringLiteral("chat"));
  Key(0, Qt::Key_Return);
  EXPECT_EQ(Sends(), 2);
  Key(0, Qt::Key_Return, Qt::ShiftModifier);
  Key(0, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(SettledPageKeys(2), (QStringList{"Shift+Enter", "Ctrl+Enter"}));
  EXPECT_EQ(Sends(), 2);

  // An Enter that confirms an input-method composition is the page's.
  Eval(0, "document.dispatchEvent(new CompositionEvent('compositionstart'))");
  Key(0, Qt::Key_Return);
  EXPECT_EQ(SettledPageKeys(3).size(), 3);
  EXPECT_EQ(Sends(), 2);
  Eval(0, "document.dispatchEvent(new CompositionEvent('compositionend'))");
  Key(0, Qt::Key_Return);
  EXPECT_EQ(Sends(), 3);
  EXPECT_EQ(Env.Beeps, 0);
  EXPECT_TRUE(gProxy->Saw("http://game.example/index.php"));
  EXPECT_TRUE(gProxy->Saw("http://game.example/chat.php"));
}

TEST_F(Engine, AFrameNamedChatWithACapitalIsNotTheChatFrame) {
  gSite->SetPage("/capital.php", "text/html; charset=utf-8",
                 TopPage("Capital", R"(<iframe name="Chat" src="/chat.php"></iframe>)"));
  Start("/capital.php", "Capital");
  ASSERT_TRUE(
      WaitFor([&] { return Eval(0, "frames.length && frames[0].chatSend ? 1 : 0").toInt(); }));
  Key(0, Qt::Key_Return);
  EXPECT_EQ(SettledPageKeys(1), QStringList{"Enter"});
  EXPECT_EQ(Sends(), 0);

  // Without frames, the top page's own form is used.
  gSite->SetPage("/top.php", "text/html; charset=utf-8",
                 TopPage("Top", R"(<form><textarea name="message"></textarea></form>
<script>function chatSend() { sends.push('top'); }</script>)"));
  List->OpenAddress(u"http://game.example/top.php", false);
  ASSERT_TRUE(WaitFor([&] { return Env.PageControl->tabText(0) == QStringLiteral("Top"); }));
  Key(0, Qt::Key_Return);
  EXPECT_EQ(Eval(0, "sends.join()").toString(), QStringLiteral("top"));
  EXPECT_TRUE(PageKeys().isEmpty());
}

TEST_F(Engine, AThrowingChatSendIsLoggedWithOneBeepAndEnterReachesThePage) {
  gSite->SetPage("/throw.php", "text/html; charset=utf-8",
                 TopPage("Throw", R"(<form><input name="message"></form>
<script>function chatSend() { throw new Error('chat is closed'); }</script>)"));
  Start("/throw.php", "Throw");
  Key(0, Qt::Key_Return);
  EXPECT_EQ(SettledPageKeys(1), QStringList{"Enter"});
  EXPECT_EQ(Env.Beeps, 1);
  const std::string log = Env.LogText();
  EXPECT_NE(log.find("Exception in ProcessEnterKeyDown: chat is closed"), std::string::npos) << log;
}

TEST_F(Engine, NewWindowsOpenAsFrontTabsAndScriptsCloseOnlyClosableTabs) {
  gSite->SetPage("/main.php", "text/html; charset=utf-8",
                 TopPage("Main", R"(<a id="blank" href="/second.php" target="_blank">second</a>)"));
  gSite->SetPage("/second.php", "text/html; charset=utf-8", TopPage("Вторая страница", ""));
  gSite->SetPage("/third.php", "text/html; charset=utf-8", TopPage("Third", ""));
  Start("/main.php", "Main");

  Eval(0, "document.getElementById('blank').click()");
  ASSERT_TRUE(
      WaitFor([&] { return List->Count() == 2 && View(1)->ReadyState() == kReadyStateComplete; }));
  EXPECT_EQ(Env.PageControl->currentIndex(), 1);
  EXPECT_EQ(List->CurrentTab, List->TabAt(1));
  EXPECT_TRUE(WaitFor(
      [&] { return Env.PageControl->tabText(1) == QString::fromUtf8("Вторая страница     "); }));

  Eval(0, "window.open('/third.php')");
  ASSERT_TRUE(WaitFor([&] { return List->Count() == 3; }));
  EXPECT_EQ(Env.PageControl->currentIndex(), 2);
  EXPECT_TRUE(WaitFor([&] { return Env.PageControl->tabText(2) == QStringLiteral("Third     "); }));
  EXPECT_EQ(List->TabAt(2)->OpenerId, List->TabAt(1)->Id);
  EXPECT_TRUE(gProxy->Saw("http://game.example/second.php"));
  EXPECT_TRUE(gProxy->Saw("http://game.example/third.php"));

  Eval(2, "window.close()");
  EXPECT_TRUE(WaitFor([&] { return List->Count() == 2; }));
  Eval(0, "window.close()");
  QTest::qWait(500);
  EXPECT_EQ(List->Count(), 2);
}

TEST_F(Engine, AnExternalAddressOpenedInANewWindowLeavesNoTab) {
  gSite->SetPage("/main.php", "text/html; charset=utf-8", TopPage("Main", ""));
  Start("/main.php", "Main");
  Eval(0, "window.open('http://external.example/offer')");
  ASSERT_TRUE(WaitFor([&] { return !Env.ShellOpened.empty(); }));
  EXPECT_EQ(Env.ShellOpened, std::vector<std::u16string>{u"http://external.example/offer"});
  EXPECT_TRUE(WaitFor([&] { return List->Count() == 1; }));
  QTest::qWait(200);
  EXPECT_EQ(List->Count(), 1);
  for (const std::string& line : gProxy->Requests())
    EXPECT_EQ(line.find("external.example"), std::string::npos) << line;
  // Every tab keeps its options in the client's own store on disk.
  QWebEngineProfile* profile = View(0)->WebPage()->profile();
  EXPECT_EQ(profile->storageName(), QStringLiteral("Software_Velm2"));
  EXPECT_FALSE(profile->isOffTheRecord());
  EXPECT_TRUE(profile->persistentStoragePath().startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
}

// A plug-in table of one plug-in that wants every event.
class TEventRecorder : public IPluginHost {
 public:
  struct TRecord {
    TBrowserEvent Kind;
    std::u16string Url;
    bool TopLevel;
    int StatusCode;
    std::u16string Text;
  };
  void OpenPluginPages(TTab&, TPluginEvents& events) override {
    events.resize(1);
    for (auto& entry : events[0].Entries)
      entry = [this](TTab&, TBrowserEventArgs& a) {
        Records.push_back({a.Kind, a.Url, a.TopLevel, a.StatusCode, a.Text});
      };
  }
  void ClosePluginPages(TTab&) override { ++Closed; }
  bool Has(TBrowserEvent kind, const std::u16string& url = {}, bool top = true) const {
    for (const TRecord& r : Records)
      if (r.Kind == kind && (url.empty() || (r.Url == url && r.TopLevel == top))) return true;
    return false;
  }
  std::vector<TRecord> Records;
  int Closed = 0;
};

TEST_F(Engine, ThePlugInTableHearsTheEnginesEvents) {
  TEventRecorder recorder;
  SetPluginHost(&recorder);
  gSite->SetPage("/events.php", "text/html; charset=utf-8",
                 TopPage("Events", R"(<iframe name="chat" src="/chat.php"></iframe>)"));
  Start("/events.php", "Events");
  const std::u16string page = u"http://game.example/events.php";
  EXPECT_TRUE(recorder.Has(TBrowserEvent::BeforeNavigate2, page));
  EXPECT_TRUE(WaitFor([&] {
    return recorder.Has(TBrowserEvent::BeforeNavigate2, u"http://game.example/chat.php", false);
  }));
  EXPECT_TRUE(recorder.Has(TBrowserEvent::DownloadBegin));
  EXPECT_TRUE(recorder.Has(TBrowserEvent::ProgressChange));
  EXPECT_TRUE(recorder.Has(TBrowserEvent::TitleChange));
  EXPECT_TRUE(recorder.Has(TBrowserEvent::NavigateComplete2, page));
  EXPECT_TRUE(recorder.Has(TBrowserEvent::DocumentComplete, page));
  EXPECT_TRUE(recorder.Has(TBrowserEvent::DownloadComplete));

  List->OpenAddress(u"http://game.example/missing.php", false);
  EXPECT_TRUE(WaitFor([&] {
    for (const auto& r : recorder.Records)
      if (r.Kind == TBrowserEvent::NavigateError && r.StatusCode == 404) return true;
    return false;
  }));
  // A plain-text document shows its address as the caption.
  gSite->SetPage("/notes.txt", "text/plain", "plain text");
  List->OpenAddress(u"http://game.example/notes.txt", false);
  EXPECT_TRUE(WaitFor([&] {
    return Env.PageControl->tabText(0) == QStringLiteral("http://game.examp...");
  })) << Env.PageControl->tabText(0).toStdString();
  List.reset();
  EXPECT_EQ(recorder.Closed, 1);
  SetPluginHost(nullptr);
}

}  // namespace
}  // namespace velm::test
