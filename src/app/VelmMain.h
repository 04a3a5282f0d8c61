// The main window: the menu, the tabs of the game site, the status bar and the periodic update
// check. Its creation starts the local proxy, loads the plug-ins, sends the statistics request
// and opens the start page; its destruction closes every tab and stops the proxy.
#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <QTimer>
#include <memory>

#include "app/FightAlert.h"
#include "browser/TabList.h"

class QAction;
class QLabel;
class QMenu;

namespace velm {

class TPageControl;
class TStub;
class TVelmTabList;

// The design's placement of the window.
inline constexpr int kMainDesignLeft = 177;
inline constexpr int kMainDesignTop = 279;
inline constexpr int kMainDesignWidth = 605;
inline constexpr int kMainDesignHeight = 860;

class TfMain : public QMainWindow, public IFightAlertSink {
  Q_OBJECT
 public:
  // browserFactory makes each tab's browser (tests give a scriptable one).
  explicit TfMain(TBrowserFactory browserFactory = CreateQtWebBrowser);
  ~TfMain() override;

  TPageControl* pcMain;
  QLabel* sbMainPanel0;
  QLabel* sbMainPanel1;
  QPixmap Image1;  // the tab close button
  QPixmap Image2;  // the same under the mouse
  QTimer* AutoUpdateTimer;

  QMenu* miMain;
  QAction* N66;
  QAction* N6;
  QAction* miConnectionSettings;
  QAction* miExit;
  QMenu* N5;
  QAction* miEditCopy;
  QAction* miEditPaste;
  QAction* miOpenUrl;
  QAction* N4;
  QMenu* miPlugins;
  QAction* N2;
  QAction* miAbout;

  TVelmTabList* TabList() const { return FTabList.get(); }
  bool AlertShown() const { return FAlertShown; }

  // Reached from the proxy's worker threads: they cross to this window's thread.
  void StartFightAlert() override;
  void ResetFightAlert() override;

  void N66Click();
  void N6Click();
  void miConnectionSettingsClick();
  void miExitClick() { close(); }
  void miEditCopyClick();
  void miEditPasteClick();
  void miOpenUrlClick();
  void N4Click();
  void N2Click();
  void miAboutClick();
  void AutoUpdateTimerTimer();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateMenu();
  void FormCreate();
  void ShowFightAlert();
  // Gives the current tab's browser the focus and delivers Ctrl and the key to it.
  void SendEditKey(int key);
  void OpenInNewTab(const std::string& address);

  bool FAlertShown = false;
  std::unique_ptr<TVelmTabList> FTabList;
  std::unique_ptr<TStub> FPluginMenuHandler;
  TBrowserFactory fBrowserFactory;
};

// The process-wide main window, made by the splash at the end of the start-up update.
extern TfMain* fMain;

}  // namespace velm
