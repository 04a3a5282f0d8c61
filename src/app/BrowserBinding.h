// Every browser view of the process fetches through the local proxy. The embedded engine takes
// its proxy from command-line switches read once, when it starts, so the binding has to be in
// place before the application object and the first browser view exist.
#pragma once

#include <string>

namespace velm {

// The environment variable the engine reads its switches from.
inline constexpr const char* kEngineFlagsVariable = "QTWEBENGINE_CHROMIUM_FLAGS";

// "--proxy-server=127.0.0.1:PORT --proxy-bypass-list=<-loopback>": without the second switch the
// engine would fetch loopback pages directly, around the proxy.
std::string BrowserProxySwitches(int port);

// Adds the switches to the engine's flags (after any flags already there, so ours win). False
// when the engine has already started (then the switches would be ignored) or the environment
// cannot be changed; the caller then shows the browser error and asks the program to quit.
bool BindBrowserToProxy(int port, bool engineStarted = false);

}  // namespace velm
