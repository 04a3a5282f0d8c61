#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <chrono>
#include <string>

#include "GuiTestSupport.h"
#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/IniFile.h"
#include "app/QtText.h"
#include "browser/ShellOpen.h"
#include "net/ConnectionSettings.h"
#include "platform/Encoding.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestFolder.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdatePackage.h"
#include "update/VelmUpdateSplash.h"

using namespace velm;

namespace {

// A program folder, a site on loopback that knows nothing (every address 404), the settings and
// the debug log.
class SplashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("VELM_SITE_ROOT", fSite.Url("/").c_str(), 1);
    Debug = new TDebug(fFolder.Path("VelmC2.log"));
    InitializeUpdateProcessor();
    CreateAppSettings();
    StartupUpdateDone = false;
    ClientUpdated = false;
  }
  void TearDown() override {
    StartupUpdateDone = false;
    ClientUpdated = false;
    FinalizeUpdateProcessor();
    FreeAppSettings();
    delete Debug;
    Debug = nullptr;
    unsetenv("VELM_SITE_ROOT");
  }
  // A player new enough that no warning holds the start-up back.
  void RecentFlash() {
    AppSettings->FlashVersion = 0xA0000;
    AppSettings->FlashVersionText = "LNX 10,0,45,2";
  }
  test::TTestProgramFolder fFolder;
  test::TLoopbackHttpServer fSite;
};

}  // namespace

TEST_F(SplashTest, OldOrMissingFlashPlayerShowsTheWarningBelowTheFrame) {
  TfmUpdateSplash splash(nullptr);
  EXPECT_EQ(splash.windowTitle(), UiText(" Обновление файлов игры"));
  EXPECT_TRUE(splash.ShowAlert);
  EXPECT_EQ(splash.size(), QSize(482, 304));
  EXPECT_FALSE(splash.lAlert->isHidden());
  EXPECT_EQ(splash.lAlert->geometry(), QRect(0, 260, 482, 44));
  EXPECT_TRUE(splash.lAlert->text().endsWith(UiText("(используется) версия Unknown")));
  EXPECT_EQ(splash.ProgressWidth, 404);
  EXPECT_TRUE(splash.Image1->isHidden());
  EXPECT_FALSE(splash.bg->pixmap().isNull());
  const std::string log = test::ReadWholeFile(fFolder.Path("VelmC2.log"));
  EXPECT_NE(log.find("ClientVersion=2.05 FlashVersion=Unknown"), std::string::npos) << log;
}

TEST_F(SplashTest, WarningLinkOpensTheDownloadPageInTheDefaultBrowser) {
  std::vector<std::u16string> opened;
  auto previous = SetShellOpenHandler([&](const std::u16string& url) { opened.push_back(url); });
  TfmUpdateSplash splash(nullptr);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(10, 10), QPointF(10, 270), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(splash.lAlert, &release);
  SetShellOpenHandler(previous);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], AppSettings->GetFlashDownloadUrl());
  EXPECT_NE(
      Utf16ToUtf8(opened[0]).find("shockwave/download/index.cgi?P1_Prod_Version=ShockwaveFlash"),
      std::string::npos);
}

TEST_F(SplashTest, RecentFlashPlayerNeedsNoWarning) {
  AppSettings->FlashVersion = kMinFlashVersion;
  TfmUpdateSplash splash(nullptr);
  EXPECT_FALSE(splash.ShowAlert);
  EXPECT_EQ(splash.size(), QSize(482, 260));
  EXPECT_TRUE(splash.lAlert->isHidden());
}

TEST_F(SplashTest, LogLinesTitleAndProgressReachTheWindow) {
  TfmUpdateSplash splash(nullptr);
  splash.OnEvent(kUpdEventResult, "first");  // no line yet: it becomes one
  splash.OnEvent(kUpdEventPackage, Ansi("Обновление файлов Клиента"));
  splash.OnEvent(kUpdEventStep, Ansi("Запрос свежих обновлений"));
  splash.OnEvent(kUpdEventResult, Ansi("новый список файлов получен"));
  splash.OnEvent(kUpdEventLine, "");
  splash.OnEvent(kUpdEventStep, "x");
  splash.OnEvent(kUpdEventError, Ansi("ошибка"));
  EXPECT_EQ(splash.LogLines(), (std::vector<std::string>{
                                   "first", Ansi("Обновление файлов Клиента"),
                                   Ansi("Запрос свежих обновлений ... новый список файлов получен"),
                                   "", "x ... " + Ansi("ошибка")}));
  splash.OnDownloading(0.5);
  splash.RefreshUpdateProgress();
  EXPECT_EQ(splash.MTitle->toPlainText(), UiText("Обновление файлов Клиента"));
  EXPECT_TRUE(splash.MLog->toPlainText().contains(UiText("список файлов получен")));
  EXPECT_FALSE(splash.Image1->isHidden());
  EXPECT_EQ(splash.Image1->width(), 202);

  // The bar: rounded to the nearest pixel (ties to even), never wider than the frame.
  struct Case {
    double progress;
    int width;
  } cases[] = {{0.25, 101}, {0.5 / 404, 0}, {1.5 / 404, 2}, {1.0, 404}, {1.7, 404}};
  for (const auto& c : cases) {
    splash.OnDownloading(c.progress);
    splash.RefreshUpdateProgress();
    EXPECT_EQ(splash.Image1->width(), c.width) << c.progress;
  }
  splash.OnDownloading(0);
  splash.RefreshUpdateProgress();
  EXPECT_TRUE(splash.Image1->isHidden());

  // At most 20 lines; the oldest go first.
  for (int i = 0; i < 30; ++i) splash.OnEvent(kUpdEventLine, "line " + std::to_string(i));
  auto lines = splash.LogLines();
  ASSERT_EQ(lines.size(), kSplashLogLines);
  EXPECT_EQ(lines.front(), "line 10");
  EXPECT_EQ(lines.back(), "line 29");
}

TEST_F(SplashTest, DownloadShowsTheWindowOnlyInBackgroundRunsAndOnce) {
  TfmUpdateSplash splash(nullptr);
  splash.OnEvent(kUpdEventDownload, "");
  QApplication::processEvents();
  EXPECT_FALSE(splash.isVisible());  // at start-up kind 5 changes nothing

  StartupUpdateDone = true;
  splash.OnEvent(kUpdEventDownload, "");
  EXPECT_FALSE(splash.isVisible());  // only requested: the showing is this thread's job
  QApplication::processEvents();
  EXPECT_TRUE(splash.isVisible());
  EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(splash.ShownInBackground);
  splash.hide();
  splash.OnEvent(kUpdEventDownload, "");
  QApplication::processEvents();
  EXPECT_FALSE(splash.isVisible());  // once per run
}

TEST_F(SplashTest, StopButtonLightsUnderTheMouseAndCancels) {
  TfmUpdateSplash splash(nullptr);
  EXPECT_FALSE(splash.CancelUpdate());
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(125, 218));
  QApplication::sendEvent(splash.UpdateStopRect, &enter);
  EXPECT_FALSE(splash.UpdateStopImageActive->isHidden());
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(125, 218), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(splash.UpdateStopRect, &release);
  EXPECT_TRUE(splash.CancelUpdate());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(splash.UpdateStopRect, &leave);
  EXPECT_TRUE(splash.UpdateStopImageActive->isHidden());
}

TEST_F(SplashTest, FirstStartOfANewVersionWithoutTheSiteAsksForTheConnectionOnce) {
  RecentFlash();
  for (int start = 1; start <= 2; ++start) {
    StartupUpdateDone = false;
    int dialogs = 0;
    int mainWindows = 0;
    test::WhenModalShownOf<TfConnectionSettings>([&](TfConnectionSettings& dialog) {
      ++dialogs;
      dialog.reject();
    });
    TfmUpdateSplash splash([&] { ++mainWindows; });
    splash.exec();
    EXPECT_EQ(mainWindows, 1) << start;
    EXPECT_EQ(dialogs, start == 1 ? 1 : 0) << start;
    EXPECT_TRUE(StartupUpdateDone);
    EXPECT_TRUE(splash.Processor->AllListsFailed);
    EXPECT_EQ(GetIniFile()->ReadString("Main", "CurrentVersion", ""), "2.05");
    EXPECT_GE(fSite.RequestCount(), 1u);
  }
}

TEST_F(SplashTest, NewClientExecutableClosesTheSplashWithoutAMainWindow) {
  RecentFlash();
  // The client flag is raised while the run goes on, as the package update would.
  fSite.SetHandler([](const test::TRecordedRequest&) {
    ClientUpdated = true;
    return test::TScriptedAnswer{test::HttpAnswer("404 Not Found", "")};
  });
  int mainWindows = 0;
  TfmUpdateSplash splash([&] { ++mainWindows; });
  EXPECT_EQ(splash.exec(), QDialog::Rejected);
  EXPECT_EQ(mainWindows, 0);
  EXPECT_FALSE(StartupUpdateDone);
}

TEST_F(SplashTest, WarningKeepsTheMainWindowBackSevenSeconds) {
  GetIniFile()->WriteString("Main", "CurrentVersion", "2.05");  // no connection dialog
  TfmUpdateSplash splash([] {});
  const auto start = std::chrono::steady_clock::now();
  splash.exec();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(kAlertMinimumMs - 200));  // from FormCreate on
  EXPECT_TRUE(StartupUpdateDone);
}

TEST_F(SplashTest, BackgroundRunWithoutDownloadsStaysHidden) {
  RecentFlash();
  StartupUpdateDone = true;
  TfmUpdateSplash splash(nullptr);
  splash.RunBackgroundUpdate();
  EXPECT_FALSE(splash.isVisible());
  EXPECT_FALSE(splash.ShownInBackground);
  EXPECT_FALSE(splash.Running);
}
