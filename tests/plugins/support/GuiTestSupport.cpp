#include "plugins/support/GuiTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace velm::test {

namespace {

int gArgc = 1;
char gName[] = "test_plugins_gui";
char* gArgv[] = {gName, nullptr};
std::unique_ptr<QApplication> gApp;

class TGuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The web engine runs as root in the test machines; it wants shared GL contexts.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
      qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    gApp = std::make_unique<QApplication>(gArgc, gArgv);
  }
  void TearDown() override { gApp.reset(); }
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new TGuiEnvironment);

}  // namespace

QApplication& GuiApp() {
  return *gApp;
}

}  // namespace velm::test
