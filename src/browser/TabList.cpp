#include "browser/TabList.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPalette>

#include "app/Debug.h"
#include "app/HotKeys.h"
#include "browser/KeyboardHook.h"
#include "browser/PageControl.h"
#include "browser/QtWebBrowser.h"
#include "platform/Encoding.h"

namespace velm {

namespace {

// Holds a closed tab until its sheet is freed: the tab may be closing from inside one of its
// browser's events, whose code runs on in the tab after the close returns.
class TTabDisposer : public QObject {
 public:
  TTabDisposer(std::unique_ptr<TTab> tab, QObject* sheet) : QObject(sheet), fTab(std::move(tab)) {}

 private:
  std::unique_ptr<TTab> fTab;
};

}  // namespace

IWebBrowser* CreateQtWebBrowser(QWidget* sheet) {
  return new TQtWebBrowser(sheet);
}

TTabList::TTabList(TPageControl* pageControl, QLabel* statusPanel, const QPixmap& hotCloseImage,
                   const QPixmap& closeImage, TBrowserFactory browserFactory)
    : StatusBar(statusPanel), PageControl(pageControl), fBrowserFactory(std::move(browserFactory)) {
  fKeyboardHook = std::make_unique<TKeyboardHook>(this);
  HoverIndex = -1;
  CreateTabMenu();
  fPageChanged =
      QObject::connect(PageControl, &QTabWidget::currentChanged, [this](int) { SyncCurrentTab(); });
  TTabStrip* strip = PageControl->Strip();
  strip->OnDrawTab = [this](QPainter& p, int i, const QRect& r, bool active) {
    DrawTab(p, i, r, active);
  };
  strip->OnMouseMove = [this](int x, int y) { StripMouseMove(x, y); };
  strip->OnMouseLeave = [this] { StripMouseLeave(); };
  strip->OnMouseDown = [this](int button, int x, int y) { StripMouseDown(button, x, y); };
  strip->OnMouseUp = [this](int, int x, int y) { StripMouseUp(x, y); };
  HotCloseImage = hotCloseImage;
  CloseImage = closeImage;
  fSavedExceptionHook = SetExceptionHook([this] { AppException(); });
}

TTabList::~TTabList() {
  SetExceptionHook(std::move(fSavedExceptionHook));
  fKeyboardHook.reset();
  QObject::disconnect(fPageChanged);
  TTabStrip* strip = PageControl->Strip();
  strip->OnDrawTab = nullptr;
  strip->OnMouseMove = nullptr;
  strip->OnMouseLeave = nullptr;
  strip->OnMouseDown = nullptr;
  strip->OnMouseUp = nullptr;
  CurrentTab = nullptr;
  // Every plug-in hears of every tab; nothing of a browser event is running now.
  for (auto& tab : Tabs) tab->Destroy(false);
  Tabs.clear();
  delete TabMenu;
}

void TTabList::CreateTabMenu() {
  TabMenu = new QMenu;
  miRefresh = TabMenu->addAction(QString::fromUtf8("Обновить страницу"));
  miClose = TabMenu->addAction(QString::fromUtf8("Закрыть страницу"));
  // Shortcut text only: the key itself is the keyboard hook's.
  miClose->setText(QString::fromUtf8("Закрыть страницу\tCtrl+F4"));
  miCopyLink = TabMenu->addAction(QString::fromUtf8("Копировать ссылку на эту страницу"));
  QObject::connect(miRefresh, &QAction::triggered, [this] { MenuCommand(&TTab::Refresh); });
  QObject::connect(miClose, &QAction::triggered, [this] { MenuCommand(&TTab::Close); });
  QObject::connect(miCopyLink, &QAction::triggered, [this] { MenuCommand(&TTab::CopyLink); });
}

void TTabList::MenuCommand(void (TTab::*command)()) {
  if (TTab* tab = FindTab(fMenuTabId)) (tab->*command)();
}

TTab* TTabList::NewTab() {
  auto tab = std::make_unique<TTab>(this, !Tabs.empty());
  Tabs.push_back(std::move(tab));
  return Tabs.back().get();
}

void TTabList::CloseTab(TTab* tab) {
  RemoveTab(tab);
  SyncCurrentTab();
}

void TTabList::RemoveTab(TTab* tab) {
  if (!tab || tab->Closing) return;
  int page = tab->PageIndex();
  bool wasVisible = page >= 0 && PageControl->currentIndex() == page;
  tab->Destroy(true);
  // Taken out of Tabs by identity: handlers that ran during the destruction may have closed
  // other tabs.
  for (auto it = Tabs.begin(); it != Tabs.end(); ++it) {
    if (it->get() != tab) continue;
    QWidget* sheet = tab->Sheet;
    std::unique_ptr<TTab> owned = std::move(*it);
    Tabs.erase(it);
    if (CurrentTab == tab) CurrentTab = nullptr;
    new TTabDisposer(std::move(owned), sheet);
    sheet->deleteLater();
    break;
  }
  if (wasVisible && PageControl->count() > 0)
    PageControl->setCurrentIndex(page < PageControl->count() ? page : 0);
}

bool TTabList::ProcessEnterKeyDown() {
  return false;
}

void TTabList::OpenAddress(const std::u16string& url, bool inNewTab) {
  if (Tabs.empty() || inNewTab)
    NewTab()->Navigate(url, false);
  else
    Tabs.front()->Navigate(url, false);
}

TTab* TTabList::TabAt(int position) const {
  if (position < 0 || position >= Count()) return nullptr;
  return Tabs[static_cast<std::size_t>(position)].get();
}

TTab* TTabList::FindTab(int32_t id) const {
  if (id == 0) return nullptr;
  for (const auto& tab : Tabs)
    if (tab->Id == id) return tab.get();
  return nullptr;
}

void TTabList::SyncCurrentTab() {
  QWidget* page = PageControl->currentWidget();
  if (!page) return;
  for (const auto& tab : Tabs) {
    if (tab->Sheet != page) continue;
    CurrentTab = tab.get();
    tab->Activate();
    return;
  }
}

void TTabList::ShowStatusText(const std::u16string& text) {
  if (StatusBar) StatusBar->setText(QString::fromStdU16String(text));
}

std::string TTabList::ExceptionContext() const {
  QWidget* page = PageControl->currentWidget();
  if (!page) return std::string();
  for (const auto& tab : Tabs) {
    if (tab->Sheet != page || !tab->Browser) continue;
    return Utf16ToCp1251(tab->Browser->LocationURL()) + " " + Utf16ToCp1251(tab->Title);
  }
  return std::string();
}

void TTabList::AppException() {
  if (Debug) Debug->HandleException(ExceptionContext());
}

bool TTabList::AppMessage(QKeyEvent* key) {
  if (!CurrentTab) return false;
  const QKeySequence combination = KeyCombination(*key);
  if (combination.isEmpty()) return false;
  const Qt::Key code = combination[0].key();
  const Qt::KeyboardModifiers mods = combination[0].keyboardModifiers();
  const bool ctrl = mods & Qt::ControlModifier;
  const bool shift = mods & Qt::ShiftModifier;
  if (HotKeysEnabled) {
    if (ctrl && !shift && (code == Qt::Key_F4 || code == Qt::Key_W)) {
      // Swallowed also on the first tab, which does not close.
      CurrentTab->Close();
      return true;
    }
    if (!ctrl && !shift && code == Qt::Key_Return) {
      if (ProcessEnterKeyDown()) return true;
    } else if (ctrl && code == Qt::Key_Tab) {
      const int count = PageControl->count();
      if (count > 0) {
        const int step = shift ? count - 1 : 1;
        PageControl->setCurrentIndex((PageControl->currentIndex() + step) % count);
        SyncCurrentTab();
      }
      return true;
    }
  }
  // Copy and paste belong to the page: the menu's own copy and paste items send these keys.
  if (ctrl && !shift && (code == Qt::Key_C || code == Qt::Key_V)) return false;
  return TriggerMenuShortcut(PageControl->window(), combination);
}

void TTabList::DrawTab(QPainter& painter, int index, const QRect& rect, bool active) {
  TTab* tab = TabAt(index);
  if (!tab) return;
  const QPalette& palette = PageControl->palette();
  painter.fillRect(rect, palette.color(active ? QPalette::Light : QPalette::Button));
  painter.setPen(palette.color(QPalette::ButtonText));
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  QString caption = PageControl->tabText(index);
  if (tab->Closable) {
    painter.drawText(rect.adjusted(3, 0, -15, 0), flags, caption);
    const QPixmap& picture = (HoverIndex == index && HoverOnClose) ? HotCloseImage : CloseImage;
    painter.drawPixmap(ClosePicturePosition(rect), picture);
  } else {
    painter.drawText(rect.adjusted(3, 0, -1, 0), flags, caption);
  }
}

void TTabList::StripMouseMove(int x, int y) {
  TTabStrip* strip = PageControl->Strip();
  int index = (x < 0 && y < 0) ? -1 : strip->tabAt(QPoint(x, y));
  bool onClose = index >= 0 && InCloseZone(strip->tabRect(index), x, y);
  bool changed = index != HoverIndex;
  if (changed || onClose != HoverOnClose) {
    HoverIndex = index;
    HoverOnClose = onClose;
    strip->update();
  }
  if (!changed) return;
  if (strip->ShowingHints()) {
    strip->HideHint();
    QCoreApplication::processEvents();
  }
  if (TTab* tab = TabAt(HoverIndex)) {
    std::string title = Utf16ToCp1251(tab->Title);
    for (char& c : title)
      if (c == '|') c = '/';
    strip->SetHint(QString::fromStdU16String(Cp1251ToUtf16(title)));
  }
}

void TTabList::StripMouseLeave() {
  StripMouseMove(-1, -1);
}

void TTabList::StripMouseUp(int x, int y) {
  StripMouseMove(x, y);
  if (!HoverOnClose || HoverIndex < 0) return;
  TTab* tab = TabAt(HoverIndex);
  if (!tab || !tab->Closable) return;
  CurrentTab = nullptr;
  CloseTab(tab);
}

void TTabList::StripMouseDown(int button, int x, int y) {
  if (button != Qt::RightButton) return;
  QPoint at = QCursor::pos();
  int index = PageControl->Strip()->tabAt(QPoint(x, y));
  TTab* tab = TabAt(index);
  if (!tab) return;
  if (PageControl->currentIndex() != index) PageControl->setCurrentIndex(index);
  miClose->setVisible(tab->Closable);
  fMenuTabId = CurrentTab ? CurrentTab->Id : 0;
  TabMenu->popup(at);
}

}  // namespace velm
