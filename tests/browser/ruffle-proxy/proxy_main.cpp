// The emulator behind the client's own local proxy: the browser is bound to the proxy port with
// the engine's switches before the application object exists, so the port is chosen here and the
// test starts the proxy on it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <string>

#include "browser/RuffleScheme.h"

namespace velm::test {
int LocalProxyPort = 0;
}

namespace {

// A port nothing listens on now: bound to 0, read back, released.
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  ::testing::InitGoogleTest(&argc, argv);
  velm::test::LocalProxyPort = FreePort();
  std::string flags = "--proxy-server=127.0.0.1:" + std::to_string(velm::test::LocalProxyPort) +
                      " --proxy-bypass-list=<-loopback>";
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
  velm::RegisterRuffleScheme();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
