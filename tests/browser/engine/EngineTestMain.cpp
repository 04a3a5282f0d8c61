// The engine tests: every browser view of the process fetches through the recording proxy, which
// serves the game site's host from the loopback site server. The servers start before the
// engine, which takes its proxy from the command-line switches once.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "EngineTestServers.h"
#include "browser/BrowserProfile.h"

namespace velm::test {

TSiteServer* gSite = nullptr;
TRecordingProxy* gProxy = nullptr;

}  // namespace velm::test

int main(int argc, char** argv) {
  using namespace velm::test;
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  // The profile's store goes to a folder of this run, not the user's.
  char data[] = "/tmp/velm-engine-XXXXXX";
  const std::string dataDir = mkdtemp(data);
  setenv("XDG_DATA_HOME", dataDir.c_str(), 1);
  setenv("XDG_CACHE_HOME", dataDir.c_str(), 1);

  TSiteServer site;
  TRecordingProxy proxy(kSiteHost, site.Port());
  gSite = &site;
  gProxy = &proxy;
  const std::string flags = "--proxy-server=127.0.0.1:" + std::to_string(proxy.Port()) +
                            " --proxy-bypass-list=<-loopback>";
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);

  int result;
  {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    result = RUN_ALL_TESTS();
    velm::ReleaseBrowserProfile();
  }
  std::error_code ignored;
  std::filesystem::remove_all(dataDir, ignored);
  return result;
}
