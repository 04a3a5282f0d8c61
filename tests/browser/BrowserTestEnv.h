// What the browser tests share: a temporary program folder with the debug log, the settings and
// the client options, a recording shell and beep, and a main window with a page control, a
// status panel and a menu bar holding the client's hidden "Закрыть страницу" (Ctrl+F4) and the
// shown "Открыть ссылку..." (Ctrl+U).
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "browser/PageControl.h"
#include "support/TestFolder.h"

namespace velm::test {

class TBrowserTestEnv {
 public:
  explicit TBrowserTestEnv(const char* siteRoot = "http://game.example/");
  ~TBrowserTestEnv();

  std::string LogText() const;
  static QPixmap Picture(QColor color);

  TTestProgramFolder Folder;
  std::vector<std::u16string> ShellOpened;
  int Beeps = 0;
  QMainWindow Window;
  TPageControl* PageControl;
  QLabel* StatusPanel;
  QAction* miClosePage;
  QAction* miOpenUrl;
  int OpenUrlRuns = 0;
};

}  // namespace velm::test
