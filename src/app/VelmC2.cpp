#include "app/VelmC2.h"

#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QMessageBox>
#include <QWebEngineView>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/AppSettings.h"
#include "app/BrowserBinding.h"
#include "app/BrowserVersion.h"
#include "app/Debug.h"
#include "app/ProcessModules.h"
#include "app/QtText.h"
#include "app/VelmApplication.h"
#include "app/VelmMain.h"
#include "browser/BrowserProfile.h"
#include "browser/RuffleScheme.h"
#include "platform/ProgramPath.h"
#include "platform/Registry.h"
#include "platform/SingleInstance.h"
#include "update/SelfUpdate.h"
#include "update/UpdatePackage.h"
#include "update/VelmUpdateSplash.h"

namespace velm {

namespace {

// The rows of the windows' modules; the engine's rows come from CoreProcessModules.
std::vector<TProcessModule> WindowModules() {
  return {{6, "IETab", InitializeIETab, FinalizeIETab}};
}

void ShowBrowserError() {
  QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(),
                  UiText(kBrowserTooOldText), QMessageBox::Ok);
  box.exec();
}

void RaiseMainWindow() {
  QWidget* window = fMain ? static_cast<QWidget*>(fMain) : fmUpdateSplash;
  if (!window || !window->isVisible()) return;
  window->showNormal();
  window->raise();
  window->activateWindow();
}

// The downloaded executable is written like any other file, without the run bits; it gets those
// of the running executable, or it could not be started.
void MakeNewExeRunnable() {
  const std::string newExe = ChangeFileExt(ExePath(), kNewExeExtension);
  struct stat running {};
  struct stat downloaded {};
  if (stat(ExePath().c_str(), &running) != 0 || stat(newExe.c_str(), &downloaded) != 0) return;
  const mode_t runBits = (running.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) | S_IXUSR;
  chmod(newExe.c_str(), (downloaded.st_mode & 07777) | runBits);
}

}  // namespace

bool CheckBrowserVersion() {
  // The registry answers the version of the engine this program runs.
  if (auto* engine = dynamic_cast<TLinuxRegistry*>(&Registry()))
    engine->SetBrowserVersion(qWebEngineChromiumVersion());
  if (BrowserVersionPasses()) return true;
  ShowBrowserError();
  TVelmApplication::RequestQuit();
  return false;
}

int RunVelmC2(int argc, char** argv) {
  // Step 1: the modules, released in reverse when this object goes.
  TProcessModules modules(ProcessModulesWith(WindowModules()));

  // The self-update copy replaces the executable and ends, without window or lock.
  if (argc > 1 && std::strcmp(argv[1], kSelfUpdateSwitch) == 0 && SelfUpdate()) return 0;

  // The engine reads its proxy switches once, when it starts: before the application object.
  const bool bound = BindBrowserToProxy(AppSettings->GetProxyPort());

  // The engine's sandbox refuses to start for root, the usual user of test machines.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);

  // The Flash emulator's scheme must be known before the application object exists.
  RegisterRuffleScheme();

  int status = 0;
  {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TVelmApplication app(argc, argv);
    if (!bound) {
      ShowBrowserError();
      TVelmApplication::RequestQuit();
    }
    CheckBrowserVersion();

    TSingleInstance instance(ExeDir());
    if (!instance.Acquire()) {
      QMessageBox box(QMessageBox::NoIcon, UiText(kSecondCopyCaption), UiText(kSecondCopyText),
                      QMessageBox::Ok);
      box.exec();
      TSingleInstance::AskToRaise(ExeDir());
      return 0;
    }
    instance.ListenForRaise([] {
      QMetaObject::invokeMethod(
          qApp, [] { RaiseMainWindow(); }, Qt::QueuedConnection);
    });

    // The splash lives until the end: the main window's timer runs background updates on it.
    auto splash = std::make_unique<TfmUpdateSplash>([] {
      fMain = new TfMain();
      fMain->setAttribute(Qt::WA_DeleteOnClose, false);
      fMain->show();
    });
    fmUpdateSplash = splash.get();
    splash->exec();

    bool selfUpdateStarted = false;
    if (ClientUpdated) {
      MakeNewExeRunnable();
      selfUpdateStarted = RunProcess(SelfUpdateCommandLine());
    }
    if (!selfUpdateStarted && fMain && !TVelmApplication::QuitRequested()) {
      // With the splash gone the main window takes the keyboard, as a freshly started program's
      // window does; without a window manager nobody else would activate it.
      fMain->raise();
      fMain->activateWindow();
      status = app.exec();
    }

    instance.Release();
    // The main window goes first: its tabs are closed and the proxy stopped.
    delete fMain;
    fMain = nullptr;
    fmUpdateSplash = nullptr;
    splash.reset();
    ReleaseBrowserProfile();
  }
  return status;
}

}  // namespace velm
