// The window tests' main: the client's own application object for all tests, on the offscreen
// platform unless a display is asked for.
#include <gtest/gtest.h>

#include "app/VelmApplication.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  velm::TVelmApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
