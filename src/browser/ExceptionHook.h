// The application's exception hook: the application object's event delivery catches what a
// handler lets escape and calls the installed hook inside its catch block. The tab list installs
// its own while it exists and puts the previous one back when it goes.
#pragma once

#include <functional>

namespace velm {

using TExceptionHook = std::function<void()>;

// Installs a hook and returns the one in force before (possibly empty).
TExceptionHook SetExceptionHook(TExceptionHook hook);
// Calls the hook; false when none is installed. Call inside a catch block.
bool CallExceptionHook();

}  // namespace velm
