#include "platform/Beep.h"

#include <unistd.h>

#include <mutex>

namespace velm {
namespace {

std::mutex gBeepMutex;
TBeepHandler gHandler;

void TerminalBell(int, int) {
  if (isatty(STDERR_FILENO)) {
    ssize_t ignored = write(STDERR_FILENO, "\a", 1);
    (void)ignored;
  }
}

}  // namespace

void Beep(int frequency, int milliseconds) {
  TBeepHandler handler;
  {
    std::lock_guard<std::mutex> lock(gBeepMutex);
    handler = gHandler;
  }
  if (handler)
    handler(frequency, milliseconds);
  else
    TerminalBell(frequency, milliseconds);
}

TBeepHandler SetBeepHandler(TBeepHandler handler) {
  std::lock_guard<std::mutex> lock(gBeepMutex);
  std::swap(gHandler, handler);
  return handler;
}

}  // namespace velm
