// The application object: it delivers every event inside a guard, so that an exception escaping
// an event handler reaches the exception hook (the debug log) instead of ending the program.
#pragma once

#include <QApplication>

namespace velm {

class TVelmApplication : public QApplication {
  Q_OBJECT
 public:
  TVelmApplication(int& argc, char** argv);
  ~TVelmApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

  // The quit request: it stays pending, so a loop that starts after it ends at once.
  static void RequestQuit();
  static bool QuitRequested();
  // Takes back a pending request that has not been acted on (tests of the request itself).
  static void CancelQuitRequest();
};

}  // namespace velm
