// The emulator tests run the real engine behind a recording proxy. Both the client's URL scheme
// and the proxy switches must be in place before the application object exists, so the proxy
// starts here, before QApplication, and lives for the whole run.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <string>

#include "RuffleTestEnv.h"
#include "browser/RuffleScheme.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  ::testing::InitGoogleTest(&argc, argv);
  velm::test::TRecordingProxy proxy;
  std::string flags = "--proxy-server=127.0.0.1:" + std::to_string(proxy.Server.Port()) +
                      " --proxy-bypass-list=<-loopback>";
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
  velm::RegisterRuffleScheme();
  QApplication app(argc, argv);
  int result = RUN_ALL_TESTS();
  velm::test::TRecordingProxy::Instance = nullptr;
  return result;
}
