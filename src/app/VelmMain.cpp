#include "app/VelmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QWebEngineView>

#include "app/AppSettings.h"
#include "app/Artwork.h"
#include "app/ClientStats.h"
#include "app/IniFile.h"
#include "app/InputPlayerName.h"
#include "app/OpenUrl.h"
#include "app/QtText.h"
#include "app/UiFonts.h"
#include "app/VelmAbout.h"
#include "app/VelmOptionsForm.h"
#include "browser/PageControl.h"
#include "browser/VelmTabList.h"
#include "net/ConnectionSettings.h"
#include "platform/Encoding.h"
#include "plugins/PluginMenu.h"
#include "plugins/Plugins.h"
#include "plugins/PluginsControl.h"
#include "proxy/LocalProxy.h"
#include "update/VelmUpdateSplash.h"

namespace velm {

TfMain* fMain = nullptr;

namespace {

const char kPlacementSection[] = "fMain";

QAction* Command(QObject* owner, const char* name, const char* caption) {
  auto* action = new QAction(UiText(caption), owner);
  action->setObjectName(name);
  return action;
}

}  // namespace

TfMain::TfMain(TBrowserFactory browserFactory) : fBrowserFactory(std::move(browserFactory)) {
  setObjectName("fMain");
  setFont(SegoeFont(8));
  setWindowIcon(ProgramIcon());
  setGeometry(kMainDesignLeft, kMainDesignTop, kMainDesignWidth, kMainDesignHeight);

  pcMain = new TPageControl(this);
  pcMain->setObjectName("pcMain");
  pcMain->setContentsMargins(2, 2, 2, 2);
  setCentralWidget(pcMain);

  QStatusBar* sbMain = statusBar();
  sbMain->setObjectName("sbMain");
  sbMain->setFont(TahomaFont(8));
  sbMain->setFixedHeight(17);
  sbMain->setSizeGripEnabled(false);
  sbMainPanel0 = new QLabel(sbMain);
  sbMainPanel0->setFixedWidth(200);
  sbMainPanel1 = new QLabel(sbMain);
  sbMainPanel1->setFixedWidth(50);
  sbMain->addWidget(sbMainPanel0);
  sbMain->addWidget(sbMainPanel1);

  Image1 = CloseButtonPicture();
  Image2 = CloseButtonHotPicture();

  AutoUpdateTimer = new QTimer(this);
  AutoUpdateTimer->setObjectName("AutoUpdateTimer");
  AutoUpdateTimer->setInterval(600000);
  connect(AutoUpdateTimer, &QTimer::timeout, this, [this] { AutoUpdateTimerTimer(); });

  CreateMenu();
  FormCreate();
}

void TfMain::CreateMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");

  miMain = bar->addMenu(UiText("Файл"));
  miMain->setObjectName("miMain");
  // Shortcuts of items that are not shown still work: those actions belong to the window.
  N66 = Command(this, "N66", "Закрыть страницу");
  N66->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
  addAction(N66);
  N6 = Command(this, "N6", "Настройка опций клиента");
  miConnectionSettings = Command(this, "miConnectionSettings", "Настройка соединения");
  miExit = Command(this, "miExit", "Выход");
  miExit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  miMain->addAction(N6);
  miMain->addAction(miConnectionSettings);
  miMain->addSeparator();
  miMain->addAction(miExit);

  N5 = new QMenu(UiText("Редактирование"), this);
  N5->setObjectName("N5");
  miEditCopy = Command(this, "miEditCopy", "Копировать");
  miEditCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  miEditPaste = Command(this, "miEditPaste", "Вставить");
  miEditPaste->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
  N5->addAction(miEditCopy);
  N5->addAction(miEditPaste);
  addAction(miEditCopy);
  addAction(miEditPaste);

  miOpenUrl = Command(this, "miOpenUrl", "Открыть ссылку...");
  miOpenUrl->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
  miOpenUrl->setStatusTip("Ctrl+U");
  miOpenUrl->setToolTip("Ctrl+U");
  bar->addAction(miOpenUrl);
  addAction(miOpenUrl);
  N4 = Command(this, "N4", "Инфо по персонажу...");
  bar->addAction(N4);

  miPlugins = bar->addMenu(UiText("Плагины"));
  miPlugins->setObjectName("miPlugins");
  N2 = Command(this, "N2", "Подключенные модули...");
  miPlugins->addAction(N2);
  miPlugins->addSeparator()->setObjectName("N3");

  miAbout = Command(this, "miAbout", "О программе");
  bar->addAction(miAbout);

  connect(N66, &QAction::triggered, this, [this] { N66Click(); });
  connect(N6, &QAction::triggered, this, [this] { N6Click(); });
  connect(miConnectionSettings, &QAction::triggered, this, [this] { miConnectionSettingsClick(); });
  connect(miExit, &QAction::triggered, this, [this] { miExitClick(); });
  connect(miEditCopy, &QAction::triggered, this, [this] { miEditCopyClick(); });
  connect(miEditPaste, &QAction::triggered, this, [this] { miEditPasteClick(); });
  connect(miOpenUrl, &QAction::triggered, this, [this] { miOpenUrlClick(); });
  connect(N4, &QAction::triggered, this, [this] { N4Click(); });
  connect(N2, &QAction::triggered, this, [this] { N2Click(); });
  connect(miAbout, &QAction::triggered, this, [this] { miAboutClick(); });
}

void TfMain::FormCreate() {
  setWindowTitle(UiText("Велмара"));
  {
    auto ini = GetIniFile();
    const int w = ini->ReadInteger(kPlacementSection, "Width", width());
    const int h = ini->ReadInteger(kPlacementSection, "Height", height());
    const int top = ini->ReadInteger(kPlacementSection, "Top", y());
    const int left = ini->ReadInteger(kPlacementSection, "Left", x());
    // Applied as stored, without a check against the screens.
    resize(w, h);
    move(left, top);
  }
  StartLocalProxy();
  FTabList = std::make_unique<TVelmTabList>(pcMain, sbMainPanel0, Image2, Image1, fBrowserFactory);
  std::string report;
  int unknownCount = 0;
  LoadPlugins(report, unknownCount);
  SendClientStats(report, unknownCount);
  FPluginMenuHandler = BuildPluginMenu(miPlugins);
  FTabList->OpenAddress(Cp1251ToUtf16(AppSettings->GetStartPage()), false);
  ApplyAutoUpdateOptions(*AutoUpdateTimer);
  SetFightAlertSink(this);
}

TfMain::~TfMain() {
  SetFightAlertSink(nullptr);
  FPluginMenuHandler.reset();
  FTabList.reset();
  StopLocalProxy();
  if (fMain == this) fMain = nullptr;
}

void TfMain::closeEvent(QCloseEvent* event) {
  // A maximised window is stored with its maximised bounds.
  auto ini = GetIniFile();
  ini->WriteInteger(kPlacementSection, "Width", width());
  ini->WriteInteger(kPlacementSection, "Height", height());
  ini->WriteInteger(kPlacementSection, "Top", y());
  ini->WriteInteger(kPlacementSection, "Left", x());
  event->accept();
}

void TfMain::StartFightAlert() {
  QMetaObject::invokeMethod(
      this, [this] { ShowFightAlert(); }, Qt::QueuedConnection);
}

void TfMain::ResetFightAlert() {
  QMetaObject::invokeMethod(
      this, [this] { FAlertShown = false; }, Qt::QueuedConnection);
}

void TfMain::ShowFightAlert() {
  if (FAlertShown) return;
  FAlertShown = true;
  if (pcMain->count() > 0 && pcMain->currentIndex() != 0) pcMain->setCurrentIndex(0);
  // Flashes the caption and the taskbar button until the window comes to the front.
  QApplication::alert(this, 0);
}

void TfMain::N66Click() {
  // The tab decides: the first one does not close.
  if (FTabList && FTabList->CurrentTab) FTabList->CurrentTab->Close();
}

void TfMain::N6Click() {
  if (ShowVelmOptions()) ApplyAutoUpdateOptions(*AutoUpdateTimer);
}

void TfMain::miConnectionSettingsClick() {
  ShowConnectionSettings(this);
}

void TfMain::SendEditKey(int key) {
  if (!FTabList || !FTabList->CurrentTab || !FTabList->CurrentTab->Browser) return;
  QWidget* target = FTabList->CurrentTab->Browser->Widget();
  target->setFocus(Qt::OtherFocusReason);
  if (auto* view = qobject_cast<QWebEngineView*>(target)) {
    // The engine's own copy and paste do what the keys would.
    view->triggerPageAction(key == Qt::Key_C ? QWebEnginePage::Copy : QWebEnginePage::Paste);
    return;
  }
  // Ctrl down, key down, key up, Ctrl up, sent to the view. The window's own Ctrl+C and Ctrl+V
  // are switched off meanwhile, or they would take the keys again, without end.
  miEditCopy->setEnabled(false);
  miEditPaste->setEnabled(false);
  struct TEnableAgain {
    QAction* a;
    QAction* b;
    ~TEnableAgain() {
      a->setEnabled(true);
      b->setEnabled(true);
    }
  } enableAgain{miEditCopy, miEditPaste};
  QWidget* receiver = target->focusWidget() ? target->focusWidget() : target;
  const QString text = QString(QChar(key == Qt::Key_C ? 0x03 : 0x16));
  QKeyEvent ctrlDown(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
  QKeyEvent keyDown(QEvent::KeyPress, key, Qt::ControlModifier, text);
  QKeyEvent keyUp(QEvent::KeyRelease, key, Qt::ControlModifier, text);
  QKeyEvent ctrlUp(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
  for (QKeyEvent* e : {&ctrlDown, &keyDown, &keyUp, &ctrlUp}) QApplication::sendEvent(receiver, e);
}

void TfMain::miEditCopyClick() {
  SendEditKey(Qt::Key_C);
}

void TfMain::miEditPasteClick() {
  SendEditKey(Qt::Key_V);
}

void TfMain::OpenInNewTab(const std::string& address) {
  if (FTabList) FTabList->OpenAddress(Cp1251ToUtf16(address), true);
}

void TfMain::miOpenUrlClick() {
  ShowOpenUrl(this, [this](const std::string& address) { OpenInNewTab(address); });
}

void TfMain::N4Click() {
  ShowCharacterInfo(this, [this](const std::string& address) { OpenInNewTab(address); });
}

void TfMain::N2Click() {
  ShowConnectedModules(nullptr);
}

void TfMain::miAboutClick() {
  ShowAbout();
}

void TfMain::AutoUpdateTimerTimer() {
  if (fmUpdateSplash && !fmUpdateSplash->Running) fmUpdateSplash->RunBackgroundUpdate();
}

}  // namespace velm
