#include "BrowserTestEnv.h"

#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QStatusBar>
#include <cstdlib>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/HotKeys.h"
#include "app/Options.h"
#include "browser/ShellOpen.h"
#include "platform/Beep.h"
#include "platform/ProgramPath.h"

namespace velm::test {

TBrowserTestEnv::TBrowserTestEnv(const char* siteRoot) {
  setenv("VELM_SITE_ROOT", siteRoot, 1);
  Debug = new TDebug(ChangeFileExt(ExePath(), ".log"));
  CreateAppSettings();
  InitializeVelmOptions();
  HotKeysEnabled = true;
  SetShellOpenHandler([this](const std::u16string& address) { ShellOpened.push_back(address); });
  SetBeepHandler([this](int, int) { ++Beeps; });

  PageControl = new TPageControl(&Window);
  Window.setCentralWidget(PageControl);
  StatusPanel = new QLabel;
  Window.statusBar()->addWidget(StatusPanel, 1);
  QMenu* file = Window.menuBar()->addMenu(QString::fromUtf8("Файл"));
  miClosePage = file->addAction(QString::fromUtf8("Закрыть страницу"));
  miClosePage->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
  miClosePage->setVisible(false);
  miOpenUrl = Window.menuBar()->addAction(QString::fromUtf8("Открыть ссылку..."));
  miOpenUrl->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
  QObject::connect(miOpenUrl, &QAction::triggered, [this] { ++OpenUrlRuns; });
  Window.resize(800, 600);
}

TBrowserTestEnv::~TBrowserTestEnv() {
  SetShellOpenHandler({});
  SetBeepHandler({});
  FinalizeVelmOptions();
  FreeAppSettings();
  delete Debug;
  Debug = nullptr;
  unsetenv("VELM_SITE_ROOT");
}

std::string TBrowserTestEnv::LogText() const {
  std::string path = ChangeFileExt(ExePath(), ".log");
  return FileExists(path) ? ReadWholeFile(path) : std::string();
}

QPixmap TBrowserTestEnv::Picture(QColor color) {
  QPixmap picture(16, 16);
  picture.fill(color);
  return picture;
}

}  // namespace velm::test
