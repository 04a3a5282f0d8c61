#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <memory>
#include <stdexcept>
#include <string>

#include "GuiTestSupport.h"
#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/QtText.h"
#include "app/VelmApplication.h"
#include "app/VelmC2.h"
#include "platform/Registry.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestFolder.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdatePackage.h"
#include "update/VelmUpdateSplash.h"

using namespace velm;

namespace {

// An object whose handler lets an exception escape.
class TThrowingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("handler failed");
    return QObject::event(e);
  }
};

}  // namespace

TEST(StartUp, ExceptionFromAnEventHandlerGoesToTheLogAndTheProgramGoesOn) {
  test::TTestProgramFolder folder;
  Debug = new TDebug(folder.Path("VelmC2.log"));
  TThrowingObject object;
  QEvent event(QEvent::User);
  EXPECT_FALSE(QApplication::sendEvent(&object, &event));
  const std::string log = test::ReadWholeFile(folder.Path("VelmC2.log"));
  EXPECT_EQ(log.rfind("Exception: ", 0), 0u) << log;
  EXPECT_NE(log.find("handler failed"), std::string::npos) << log;
  delete Debug;
  Debug = nullptr;
}

TEST(StartUp, BrowserCheckShowsTheErrorAndRequestsTheQuit) {
  struct Case {
    const char* version;
    bool good;
  } cases[] = {{"6.0.2900.2180", true}, {"9", false}, {"5.5", false}, {"", false}};
  for (const auto& c : cases) {
    auto registry = std::make_unique<TMemoryRegistry>();
    if (*c.version)
      registry->WriteValue(TRegRoot::LocalMachine, kBrowserVersionKey, "Version",
                           TRegValue::FromString(c.version));
    SetRegistry(std::move(registry));
    QString shown;
    if (!c.good)
      test::WhenModalShownOf<QMessageBox>([&](QMessageBox& box) {
        shown = box.text();
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        box.accept();
      });
    EXPECT_EQ(CheckBrowserVersion(), c.good) << c.version;
    EXPECT_EQ(TVelmApplication::QuitRequested(), !c.good) << c.version;
    EXPECT_EQ(IsQuitRequested(), !c.good) << c.version;
    if (!c.good) {
      EXPECT_EQ(shown, UiText(kBrowserTooOldText)) << c.version;
    }
    TVelmApplication::CancelQuitRequest();
  }
  SetRegistry(nullptr);
}

TEST(StartUp, PendingQuitEndsTheSplashBeforeAnyUpdateStep) {
  test::TTestProgramFolder folder;
  test::TLoopbackHttpServer site;
  setenv("VELM_SITE_ROOT", site.Url("/").c_str(), 1);
  InitializeUpdateProcessor();
  CreateAppSettings();
  StartupUpdateDone = false;
  TVelmApplication::RequestQuit();
  int mainWindows = 0;
  {
    TfmUpdateSplash splash([&] { ++mainWindows; });
    EXPECT_EQ(splash.exec(), QDialog::Rejected);
  }
  EXPECT_EQ(mainWindows, 0);
  EXPECT_EQ(site.RequestCount(), 0u);
  EXPECT_FALSE(StartupUpdateDone);
  TVelmApplication::CancelQuitRequest();
  FinalizeUpdateProcessor();
  FreeAppSettings();
  unsetenv("VELM_SITE_ROOT");
}
