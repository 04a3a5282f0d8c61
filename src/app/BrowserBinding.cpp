#include "app/BrowserBinding.h"

#include <cstdlib>

namespace velm {

std::string BrowserProxySwitches(int port) {
  return "--proxy-server=127.0.0.1:" + std::to_string(port) + " --proxy-bypass-list=<-loopback>";
}

bool BindBrowserToProxy(int port, bool engineStarted) {
  if (engineStarted) return false;
  std::string flags;
  if (const char* old = std::getenv(kEngineFlagsVariable); old && *old)
    flags = old + std::string(" ");
  flags += BrowserProxySwitches(port);
  return setenv(kEngineFlagsVariable, flags.c_str(), 1) == 0;
}

}  // namespace velm
