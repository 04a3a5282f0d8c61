// The tabs of the main window: creating and closing them, opening addresses, new windows as
// tabs, external links, captions and status text, the keyboard hook and the drawn tab strip.
#pragma once

#include <QMetaObject>
#include <QPixmap>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser/ExceptionHook.h"
#include "browser/Tab.h"

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class QPainter;
class QRect;
class QWidget;

namespace velm {

class TKeyboardHook;
class TPageControl;

// Makes the browser of a new tab on its sheet. The program's is TQtWebBrowser.
using TBrowserFactory = std::function<IWebBrowser*(QWidget* sheet)>;
IWebBrowser* CreateQtWebBrowser(QWidget* sheet);

class TTabList {
 public:
  // statusPanel is the status bar's panel that shows the status text; the pictures are the
  // close button under the mouse and otherwise.
  TTabList(TPageControl* pageControl, QLabel* statusPanel, const QPixmap& hotCloseImage,
           const QPixmap& closeImage, TBrowserFactory browserFactory = CreateQtWebBrowser);
  virtual ~TTabList();
  TTabList(const TTabList&) = delete;
  TTabList& operator=(const TTabList&) = delete;

  // The virtual operations in their fixed order.
  virtual void CloseTab(TTab* tab);
  virtual TTab* NewTab();
  virtual bool IsExternalUrl(const std::u16string& url) = 0;
  virtual bool ProcessEnterKeyDown();

  void OpenAddress(const std::u16string& url, bool inNewTab);
  // None for a position outside the list.
  TTab* TabAt(int position) const;
  int Count() const { return static_cast<int>(Tabs.size()); }
  TTab* FindTab(int32_t id) const;
  // The tab whose page is visible becomes CurrentTab and is activated.
  void SyncCurrentTab();
  // The address and title of the visible tab, as client text, for exception reports.
  std::string ExceptionContext() const;
  void AppException();
  // The keyboard hook's decision for a spontaneous key press: true swallows it.
  bool AppMessage(QKeyEvent* key);

  IWebBrowser* CreateBrowser(QWidget* sheet) { return fBrowserFactory(sheet); }
  void ShowStatusText(const std::u16string& text);

  // The tab strip's handlers (coordinates of the strip).
  void DrawTab(QPainter& painter, int index, const QRect& rect, bool active);
  void StripMouseMove(int x, int y);
  void StripMouseLeave();
  void StripMouseUp(int x, int y);
  void StripMouseDown(int button, int x, int y);

  int32_t BrowserCounter = 0;
  std::vector<std::unique_ptr<TTab>> Tabs;
  QLabel* StatusBar;
  TPageControl* PageControl;
  TTab* CurrentTab = nullptr;
  QMenu* TabMenu = nullptr;
  QAction* miRefresh = nullptr;
  QAction* miClose = nullptr;
  QAction* miCopyLink = nullptr;
  int HoverIndex = -1;
  bool HoverOnClose = false;
  QPixmap HotCloseImage;
  QPixmap CloseImage;

 protected:
  // Steps shared by every close: destroy the tab, take it out of Tabs (the page after it, or the
  // first, becomes visible when it was the visible one).
  void RemoveTab(TTab* tab);

 private:
  void CreateTabMenu();
  void MenuCommand(void (TTab::*command)());

  TBrowserFactory fBrowserFactory;
  TExceptionHook fSavedExceptionHook;
  std::unique_ptr<TKeyboardHook> fKeyboardHook;
  QMetaObject::Connection fPageChanged;
  // The tab the menu was opened on, by id: it may close while the menu is up.
  int32_t fMenuTabId = 0;
};

}  // namespace velm
