#include "update/VelmUpdateSplash.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <chrono>
#include <cmath>
#include <thread>

#include "app/AppSettings.h"
#include "app/Artwork.h"
#include "app/Debug.h"
#include "app/QtText.h"
#include "app/UiFonts.h"
#include "browser/ShellOpen.h"
#include "net/ConnectionSettings.h"
#include "update/UpdatePackage.h"
#include "update/UpdateThread.h"

namespace velm {

TfmUpdateSplash* fmUpdateSplash = nullptr;

namespace {

constexpr int kClientWidth = 482;
constexpr int kClientHeight = 260;
constexpr int kAlertHeight = 44;
constexpr int kStartDelayMs = 200;
constexpr int kHandOverRounds = 40;
constexpr int kSleepMs = 10;

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A memo the user cannot touch: no border, no focus, no mouse, fixed colours.
QPlainTextEdit* Memo(QWidget* parent, const char* name, const QRect& rect, const QColor& back,
                     const QColor& text, int pixels) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setObjectName(name);
  memo->setGeometry(rect);
  memo->setReadOnly(true);
  memo->setFrameShape(QFrame::NoFrame);
  memo->setFocusPolicy(Qt::NoFocus);
  memo->setAttribute(Qt::WA_TransparentForMouseEvents);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->setFont(UiFontPixels("Tahoma", pixels));
  memo->document()->setDocumentMargin(1);
  QPalette palette = memo->palette();
  palette.setColor(QPalette::Base, back);
  palette.setColor(QPalette::Text, text);
  memo->setPalette(palette);
  return memo;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

void THotArea::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  emit MouseEnter();
}

void THotArea::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  emit MouseLeave();
}

void THotArea::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit Click();
}

TfmUpdateSplash::TfmUpdateSplash(std::function<void()> createMainWindow)
    : QDialog(nullptr), fCreateMainWindow(std::move(createMainWindow)) {
  setObjectName("fmUpdateSplash");
  setWindowTitle(UiText(" Обновление файлов игры"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(ProgramIcon());

  bg = new QLabel(this);
  bg->setObjectName("bg");
  bg->setGeometry(0, 0, 481, 259);
  bg->setPixmap(SplashBackgroundPicture());

  MTitle =
      Memo(this, "MTitle", QRect(38, 45, 405, 18), QColor(64, 48, 48), QColor(192, 192, 192), 12);
  MLog = Memo(this, "MLog", QRect(38, 64, 405, 121), QColor(48, 40, 40), QColor(128, 128, 128), 11);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(39, 191, 404, 8);
  Image1->setPixmap(ProgressBarPicture());
  Image1->setScaledContents(true);
  Image1->hide();

  // The lighter picture lies under the click area, so showing it never takes the mouse away.
  UpdateStopImageActive = new QLabel(this);
  UpdateStopImageActive->setObjectName("UpdateStopImageActive");
  UpdateStopImageActive->setGeometry(120, 213, 244, 32);
  UpdateStopImageActive->setPixmap(StopButtonActivePicture());
  UpdateStopImageActive->setCursor(Qt::PointingHandCursor);
  UpdateStopImageActive->hide();

  UpdateStopRect = new THotArea(this);
  UpdateStopRect->setObjectName("UpdateStopRect");
  UpdateStopRect->setGeometry(120, 213, 243, 32);
  UpdateStopRect->setCursor(Qt::PointingHandCursor);
  UpdateStopRect->setAttribute(Qt::WA_TranslucentBackground);

  lAlert = new THotArea(
      UiText("Рекомендуем обновить FlashPlayer, сейчас у Вас установлена (используется) версия "),
      this);
  lAlert->setObjectName("lAlert");
  QFont alertFont = UiFontPixels("Tahoma", 12, true);
  alertFont.setUnderline(true);
  lAlert->setFont(alertFont);
  lAlert->setAlignment(Qt::AlignCenter);
  lAlert->setWordWrap(true);
  lAlert->setCursor(Qt::PointingHandCursor);
  QPalette alertPalette = lAlert->palette();
  alertPalette.setColor(QPalette::WindowText, Qt::red);
  lAlert->setPalette(alertPalette);
  lAlert->hide();

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kStartDelayMs);
  Timer1->setSingleShot(true);

  connect(UpdateStopRect, &THotArea::MouseEnter, this, [this] { UpdateStopRectMouseEnter(); });
  connect(UpdateStopRect, &THotArea::MouseLeave, this, [this] { UpdateStopRectMouseLeave(); });
  connect(UpdateStopRect, &THotArea::Click, this, [this] { UpdateStopRectClick(); });
  connect(lAlert, &THotArea::Click, this, [this] { lAlertClick(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  // While a run is waited for, this thread keeps its windows alive.
  fPreviousWait = SetUpdateWaitHandler([](int milliseconds) {
    QApplication::processEvents();
    Sleep(milliseconds);
  });

  FormCreate();
}

TfmUpdateSplash::~TfmUpdateSplash() {
  SetUpdateWaitHandler(fPreviousWait);
}

void TfmUpdateSplash::FormCreate() {
  MTitle->clear();
  MLog->clear();
  ShowAlert = AppSettings->FlashVersion < kMinFlashVersion;
  const int height = kClientHeight + (ShowAlert ? kAlertHeight : 0);
  setFixedSize(kClientWidth, height);
  lAlert->setGeometry(0, height - kAlertHeight, kClientWidth, kAlertHeight);
  if (ShowAlert) {
    lAlert->setText(lAlert->text() + AnsiToQString(AppSettings->FlashVersionText));
    lAlert->show();
    AlertShownAt = Now();
  }
  if (Debug)
    Debug->LogInfo("ClientVersion=" + AppSettings->GetClientVersion() +
                   " FlashVersion=" + AppSettings->FlashVersionText);
  ProgressWidth = Image1->width();
  Processor = std::make_unique<TUpdateProcessor>(this);
}

void TfmUpdateSplash::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  fVisible = true;
  // The start timer runs once, from the first showing.
  if (!fStarted) {
    fStarted = true;
    Timer1->start();
  }
}

void TfmUpdateSplash::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  fVisible = false;
}

void TfmUpdateSplash::Timer1Timer() {
  Timer1->stop();
  // A quit request (the browser check failed) ends the start before any update step.
  if (IsQuitRequested()) {
    reject();
    return;
  }
  Processor->RunUpdate();
  if (ClientUpdated) {
    reject();
    return;
  }
  if (Processor->AllListsFailed && Processor->ClientVersionChanged())
    ShowConnectionSettings(nullptr);
  Processor->SaveClientVersion();
  if (ShowAlert) {
    while ((Now() - AlertShownAt) * 86400000.0 < kAlertMinimumMs) {
      QApplication::processEvents();
      Sleep(kSleepMs);
    }
  }
  ShowMainAndClose();
}

void TfmUpdateSplash::ShowMainAndClose() {
  if (fCreateMainWindow) fCreateMainWindow();
  for (int i = 0; i < kHandOverRounds; ++i) {
    QApplication::processEvents();
    Sleep(kSleepMs);
  }
  accept();
  StartupUpdateDone = true;
}

void TfmUpdateSplash::RunBackgroundUpdate() {
  Running = true;
  CancelRequested = false;
  ShownInBackground = false;
  Processor->RunUpdate();
  hide();
  Running = false;
}

void TfmUpdateSplash::lAlertClick() {
  ShellOpen(AppSettings->GetFlashDownloadUrl());
}

void TfmUpdateSplash::ShowOnTop() {
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  show();
  raise();
}

void TfmUpdateSplash::OnEvent(uint8_t kind, const std::string& text) {
  if (kind == kUpdEventDownload) {
    if (StartupUpdateDone && !ShownInBackground && !fVisible) {
      ShownInBackground = true;
      // Windows are touched on their own thread only.
      QMetaObject::invokeMethod(
          this, [this] { ShowOnTop(); }, Qt::QueuedConnection);
    }
    return;
  }
  std::lock_guard<std::mutex> lock(Lock);
  switch (kind) {
    case kUpdEventPackage:
      Title = text;
      Lines.push_back(text);
      break;
    case kUpdEventLine:
      Lines.push_back(text);
      break;
    case kUpdEventStep:
      Lines.push_back(text + " ... ");
      break;
    case kUpdEventResult:
    case kUpdEventError:
      if (Lines.empty())
        Lines.push_back(text);
      else
        Lines.back() += text;
      break;
    default:
      break;
  }
  while (Lines.size() > kSplashLogLines) Lines.erase(Lines.begin());
}

void TfmUpdateSplash::OnDownloading(double progress) {
  std::lock_guard<std::mutex> lock(Lock);
  Progress = progress;
}

std::vector<std::string> TfmUpdateSplash::LogLines() {
  std::lock_guard<std::mutex> lock(Lock);
  return Lines;
}

void TfmUpdateSplash::RefreshUpdateProgress() {
  bool logChanged = false;
  bool titleChanged = false;
  double p = 0;
  {
    std::lock_guard<std::mutex> lock(Lock);
    const std::string logText = JoinLines(Lines);
    if (logText != ShownLog) {
      logChanged = true;
      ShownLog = logText;
    }
    if (Title != ShownTitle) {
      titleChanged = true;
      ShownTitle = Title;
    }
    p = Progress;
  }
  if (titleChanged) {
    MTitle->setPlainText(AnsiToQString(ShownTitle));
    MTitle->repaint();
  }
  if (logChanged) {
    // The memo shows the newest lines when the log is taller than the memo.
    std::string shown = ShownLog;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    MLog->setPlainText(AnsiToQString(shown));
    MLog->verticalScrollBar()->setValue(MLog->verticalScrollBar()->maximum());
    MLog->repaint();
  }
  if (p != 0) {
    const int w = std::min(ProgressWidth, static_cast<int>(std::nearbyint(ProgressWidth * p)));
    if (Image1->width() != w) {
      Image1->resize(w, Image1->height());
      if (Image1->isHidden()) Image1->show();
      Image1->repaint();
    }
  } else {
    Image1->hide();
  }
  QApplication::processEvents();
}

}  // namespace velm
