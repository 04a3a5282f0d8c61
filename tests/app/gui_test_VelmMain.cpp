#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QTimer>
#include <memory>
#include <string>
#include <thread>

#include "FakeWebBrowser.h"
#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/FightAlert.h"
#include "app/IniFile.h"
#include "app/Options.h"
#include "app/QtText.h"
#include "app/UrlHistory.h"
#include "app/VelmMain.h"
#include "browser/PageControl.h"
#include "browser/VelmTabList.h"
#include "plugins/Plugins.h"
#include "proxy/LocalProxy.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestFolder.h"
#include "update/SingleFileUpdate.h"

using namespace velm;

namespace {

// The modules the main window needs, on a program folder, with the site on loopback and the
// local proxy on a port of its own.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELM_SITE_ROOT", fSite.Url("/").c_str(), 1);
    setenv("VELM_PROXY_PORT", std::to_string(FreePort()).c_str(), 1);
    fSite.SetHandler([](const test::TRecordedRequest&) {
      return test::TScriptedAnswer{test::HttpAnswer("200 OK", "OK")};
    });
    Debug = new TDebug(fFolder.Path("VelmC2.log"));
    InitializeUpdateProcessor();
    InitializePlugins();
    InitializeLocalProxy();
    InitializeOpenUrl();
    InitializeVelmOptions();
    CreateAppSettings();
    CreateSingleFileUpdater();
  }
  void TearDown() override {
    fMainWindow.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FreeAppSettings();
    FinalizeVelmOptions();
    FinalizeOpenUrl();
    FinalizeLocalProxy();
    FinalizePlugins();
    FinalizeUpdateProcessor();
    delete Debug;
    Debug = nullptr;
    unsetenv("VELM_SITE_ROOT");
    unsetenv("VELM_PROXY_PORT");
  }
  static int FreePort() {
    test::TLoopbackHttpServer probe;
    return probe.Port();
  }
  TfMain& Open() {
    fMainWindow = std::make_unique<TfMain>(
        [](QWidget* sheet) -> IWebBrowser* { return new test::TFakeWebBrowser(sheet); });
    return *fMainWindow;
  }
  test::TFakeWebBrowser* Fake(int position) {
    return static_cast<test::TFakeWebBrowser*>(fMainWindow->TabList()->TabAt(position)->Browser);
  }
  std::string Key(const char* section, const char* key) {
    return GetIniFile()->ReadString(section, key, "<none>");
  }

  test::TTestProgramFolder fFolder;
  test::TLoopbackHttpServer fSite;
  std::unique_ptr<TfMain> fMainWindow;
};

}  // namespace

TEST_F(MainWindowTest, CreationStartsEverythingInOrder) {
  test::WriteWholeFile(fFolder.Path("VelmC2.ini"),
                       "[Main]\r\nAutoUpdateInterval=3\r\n[fMain]\r\nWidth=700\r\nLeft=-5000\r\n");
  FinalizeVelmOptions();
  InitializeVelmOptions();
  TfMain& w = Open();
  EXPECT_EQ(w.windowTitle(), UiText("Велмара"));
  // Placement as stored, outside every screen too; missing keys keep the design values.
  EXPECT_EQ(w.width(), 700);
  EXPECT_EQ(w.height(), kMainDesignHeight);
  EXPECT_EQ(w.x(), -5000);
  EXPECT_EQ(w.y(), kMainDesignTop);
  // The proxy runs, the statistics went out once, the start page is in the first tab.
  ASSERT_NE(LocalProxyService(), nullptr);
  ASSERT_TRUE(fSite.WaitForRequests(1));
  EXPECT_EQ(fSite.Requests()[0].Target, "/pub/clientstats.php?p=&s=0&pv=2.05&fv=Unknown");
  ASSERT_EQ(w.TabList()->Count(), 1);
  ASSERT_FALSE(Fake(0)->Navigations.empty());
  EXPECT_EQ(Fake(0)->Navigations[0].first, Cp1251ToUtf16(fSite.Url("/index.php")));
  EXPECT_TRUE(w.AutoUpdateTimer->isActive());
  EXPECT_EQ(w.AutoUpdateTimer->interval(), 3 * 60000);
  // The plug-ins menu holds its two fixed entries and nothing else without plug-ins.
  EXPECT_EQ(w.miPlugins->actions().size(), 2);
  EXPECT_EQ(w.miPlugins->actions()[0]->text(), UiText("Подключенные модули..."));

  fMainWindow.reset();
  EXPECT_EQ(LocalProxyService(), nullptr);  // destruction stops the proxy
}

TEST_F(MainWindowTest, MenuOfTheDesign) {
  TfMain& w = Open();
  QStringList bar;
  for (QAction* a : w.menuBar()->actions()) bar << a->text();
  EXPECT_EQ(
      bar, QStringList({UiText("Файл"), UiText("Открыть ссылку..."), UiText("Инфо по персонажу..."),
                        UiText("Плагины"), UiText("О программе")}));
  QStringList file;
  for (QAction* a : w.miMain->actions()) file << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(file, QStringList({UiText("Настройка опций клиента"), UiText("Настройка соединения"),
                               "-", UiText("Выход")}));
  // Hidden items keep their shortcuts through the window.
  EXPECT_TRUE(w.actions().contains(w.N66));
  EXPECT_EQ(w.N66->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F4));
  EXPECT_EQ(w.miEditCopy->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
  EXPECT_EQ(w.miOpenUrl->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_U));
  EXPECT_EQ(w.miExit->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
}

TEST_F(MainWindowTest, ClosingWritesThePlacementAndTheNextWindowTakesIt) {
  {
    TfMain& w = Open();
    w.show();
    w.setGeometry(40, 60, 640, 480);
    QApplication::processEvents();
    w.close();
  }
  EXPECT_EQ(Key("fMain", "Width"), std::to_string(fMainWindow->width()));
  EXPECT_EQ(Key("fMain", "Height"), std::to_string(fMainWindow->height()));
  EXPECT_EQ(Key("fMain", "Left"), std::to_string(fMainWindow->x()));
  EXPECT_EQ(Key("fMain", "Top"), std::to_string(fMainWindow->y()));
  const QRect closed = fMainWindow->geometry();
  fMainWindow.reset();
  TfMain& again = Open();
  EXPECT_EQ(again.size(), closed.size());
  EXPECT_EQ(again.pos(), QPoint(std::stoi(Key("fMain", "Left")), std::stoi(Key("fMain", "Top"))));
}

TEST_F(MainWindowTest, FightAlertFromAWorkerSwitchesToTheFirstTabOnceUntilReset) {
  TfMain& w = Open();
  w.TabList()->OpenAddress(u"http://other.example/", true);
  w.pcMain->setCurrentIndex(1);
  QApplication::processEvents();

  std::thread([] { StartFightAlert(); }).join();
  EXPECT_EQ(w.pcMain->currentIndex(), 1);  // nothing happens off the window's thread
  QApplication::processEvents();
  EXPECT_TRUE(w.AlertShown());
  EXPECT_EQ(w.pcMain->currentIndex(), 0);

  // A second start before the fight finishes neither switches nor alerts again.
  w.pcMain->setCurrentIndex(1);
  std::thread([] { StartFightAlert(); }).join();
  QApplication::processEvents();
  EXPECT_EQ(w.pcMain->currentIndex(), 1);

  std::thread([] { ResetFightAlert(); }).join();
  QApplication::processEvents();
  EXPECT_FALSE(w.AlertShown());
  std::thread([] { StartFightAlert(); }).join();
  QApplication::processEvents();
  EXPECT_EQ(w.pcMain->currentIndex(), 0);

  fMainWindow.reset();
  EXPECT_NO_THROW(StartFightAlert());  // no window: nothing to reach
}

TEST_F(MainWindowTest, CopyAndPasteGoToTheCurrentBrowserAndNeedATab) {
  TfMain& w = Open();
  w.show();
  QApplication::processEvents();
  test::TFakeWebBrowser* page = Fake(0);
  const int before = page->KeysReceived;
  w.miEditCopy->trigger();
  w.miEditPaste->trigger();
  // Ctrl and the letter, twice.
  EXPECT_EQ(page->KeysReceived - before, 4);

  w.TabList()->CurrentTab = nullptr;
  w.miEditCopy->trigger();
  EXPECT_EQ(page->KeysReceived - before, 4);
}

TEST_F(MainWindowTest, CloseCommandLeavesTheFirstTab) {
  TfMain& w = Open();
  w.TabList()->OpenAddress(u"http://other.example/", true);
  ASSERT_EQ(w.TabList()->Count(), 2);
  w.N66->trigger();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.TabList()->Count(), 1);
  w.N66->trigger();  // the first tab refuses to close
  EXPECT_EQ(w.TabList()->Count(), 1);
}
