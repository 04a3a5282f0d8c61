#include "app/VelmApplication.h"

#include <QProxyStyle>
#include <atomic>

#include "app/Debug.h"
#include "app/QtText.h"
#include "browser/ExceptionHook.h"

namespace velm {

namespace {

std::atomic<bool> gQuitRequested{false};

// Hints come after 200 ms instead of the toolkit's default.
class THintStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_ToolTip_WakeUpDelay) return 200;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

TVelmApplication::TVelmApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(UiText("Велмара"));
  setStyle(new THintStyle());
  // An exception from an event handler: a line in the debug log, no dialog.
  SetExceptionHook([] {
    if (Debug) Debug->HandleException("");
  });
  SetQuitRequestHooks({[] { return gQuitRequested.load(); }, [] { RequestQuit(); }});
}

TVelmApplication::~TVelmApplication() {
  SetQuitRequestHooks({});
  SetExceptionHook(nullptr);
}

bool TVelmApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    if (!CallExceptionHook() && Debug) Debug->HandleException("");
    return false;
  }
}

void TVelmApplication::RequestQuit() {
  gQuitRequested = true;
  QMetaObject::invokeMethod(
      qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

void TVelmApplication::CancelQuitRequest() {
  gQuitRequested = false;
  QCoreApplication::removePostedEvents(qApp, QEvent::MetaCall);
}

bool TVelmApplication::QuitRequested() {
  return gQuitRequested;
}

}  // namespace velm
