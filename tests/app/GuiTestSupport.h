// Helpers of the window tests: act on the modal dialog that a call is about to show.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

namespace velm::test {

// Once a modal dialog is up, runs action on it (polling, so it works whatever shows the
// dialog). Gives up after about ten seconds, rejecting whatever modal widget there is.
inline void WhenModalShown(std::function<void(QDialog&)> action,
                           std::function<bool(QDialog&)> wanted = nullptr) {
  auto* timer = new QTimer();
  auto tries = std::make_shared<int>(0);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, action, wanted] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog && dialog->isVisible() && (!wanted || wanted(*dialog))) {
      timer->stop();
      timer->deleteLater();
      action(*dialog);
      return;
    }
    if (++*tries > 1000) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

// The same for the first modal dialog of class T (another modal window may be up beneath it).
template <class T>
void WhenModalShownOf(std::function<void(T&)> action) {
  WhenModalShown([action](QDialog& dialog) { action(static_cast<T&>(dialog)); },
                 [](QDialog& dialog) { return qobject_cast<T*>(&dialog) != nullptr; });
}

}  // namespace velm::test
