// The update splash: shown modally at start-up while the start-up update runs, then it creates
// the main window and hides; it stays alive for the periodic background updates, during which it
// shows itself only when a download begins. It is the progress sink of its own processor.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "update/UpdateProcessor.h"

class QPlainTextEdit;

namespace velm {

// A picture or an empty area that tells when the mouse enters, leaves or clicks it.
class THotArea : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void MouseEnter();
  void MouseLeave();
  void Click();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// The log keeps this many lines; the oldest go first.
inline constexpr size_t kSplashLogLines = 20;
// Flash Player versions below this one (major 9) get the warning.
inline constexpr int32_t kMinFlashVersion = 0x90000;
// How long the warning stays up at least before the main window comes.
inline constexpr int kAlertMinimumMs = 7000;

class TfmUpdateSplash : public QDialog, public IUpdateLogger {
  Q_OBJECT
 public:
  // createMainWindow makes and shows the main window (ShowMainAndClose).
  explicit TfmUpdateSplash(std::function<void()> createMainWindow);
  ~TfmUpdateSplash() override;

  QLabel* bg;
  QPlainTextEdit* MTitle;
  QPlainTextEdit* MLog;
  QLabel* Image1;
  THotArea* UpdateStopRect;
  QLabel* UpdateStopImageActive;
  THotArea* lAlert;
  QTimer* Timer1;

  // The start-up run: update, the connection dialog after a failed first start of a new
  // version, the warning's delay, then the main window.
  void Timer1Timer();
  void ShowMainAndClose();
  // One background pass, to its end; the window shows only if something is downloaded.
  void RunBackgroundUpdate();
  void UpdateStopRectClick() { CancelRequested = true; }
  void UpdateStopRectMouseEnter() { UpdateStopImageActive->show(); }
  void UpdateStopRectMouseLeave() { UpdateStopImageActive->hide(); }
  void lAlertClick();

  // IUpdateLogger: the first three on the update thread, the last on this window's thread.
  void OnEvent(uint8_t kind, const std::string& text) override;
  void OnDownloading(double progress) override;
  bool CancelUpdate() override { return CancelRequested; }
  void RefreshUpdateProgress() override;

  // The log lines as they are now (for tests and the debug view).
  std::vector<std::string> LogLines();

  std::unique_ptr<TUpdateProcessor> Processor;
  int ProgressWidth = 0;
  std::atomic<bool> CancelRequested{false};
  bool ShowAlert = false;
  TDateTime AlertShownAt = 0;
  std::atomic<bool> Running{false};
  std::atomic<bool> ShownInBackground{false};

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void FormCreate();
  void ShowOnTop();

  std::mutex Lock;
  std::vector<std::string> Lines;
  std::string Title;
  double Progress = 0;
  std::string ShownTitle;
  std::string ShownLog;
  std::function<void()> fCreateMainWindow;
  std::atomic<bool> fVisible{false};
  bool fStarted = false;
  std::function<void(int)> fPreviousWait;
};

// The process-wide splash, made at start-up and kept until the process ends.
extern TfmUpdateSplash* fmUpdateSplash;

}  // namespace velm
