#include "browser/ExceptionHook.h"

namespace velm {

namespace {
TExceptionHook gHook;
}

TExceptionHook SetExceptionHook(TExceptionHook hook) {
  TExceptionHook old = std::move(gHook);
  gHook = std::move(hook);
  return old;
}

bool CallExceptionHook() {
  if (!gHook) return false;
  gHook();
  return true;
}

}  // namespace velm
