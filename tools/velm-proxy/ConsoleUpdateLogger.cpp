#include "ConsoleUpdateLogger.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/Encoding.h"

namespace velm {

TConsoleUpdateLogger::TConsoleUpdateLogger(std::FILE* out, const std::atomic<bool>& cancel)
    : fOut(out), fCancel(cancel), fTerminal(::isatty(::fileno(out)) != 0) {}

std::string TConsoleUpdateLogger::ProgressBar(double progress, int width) {
  progress = std::clamp(std::isfinite(progress) ? progress : 0.0, 0.0, 1.0);
  int filled = static_cast<int>(progress * width + 0.5);
  int percent = static_cast<int>(progress * 100 + 0.5);
  std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
  std::string number = std::to_string(percent) + "%";
  return bar + std::string(4 - number.size(), ' ') + number;
}

void TConsoleUpdateLogger::ClearBar() {
  if (!fBarShown) return;
  std::fprintf(fOut, "\r%*s\r", 40, "");
  fBarShown = false;
}

void TConsoleUpdateLogger::PrintLine(const std::string& cp1251) {
  ClearBar();
  std::fprintf(fOut, "%s\n", Cp1251ToUtf8(cp1251).c_str());
  std::fflush(fOut);
}

void TConsoleUpdateLogger::OnEvent(uint8_t kind, const std::string& text) {
  std::lock_guard<std::mutex> lock(fMutex);
  switch (kind) {
    case kUpdEventPackage:
      if (!fPending.empty()) PrintLine(fPending);
      fPending.clear();
      PrintLine("== " + text);
      break;
    case kUpdEventStep:
      if (!fPending.empty()) PrintLine(fPending);
      fPending = text;
      break;
    case kUpdEventResult:
    case kUpdEventError:
      PrintLine(fPending.empty() ? text : fPending + " " + text);
      fPending.clear();
      break;
    case kUpdEventLine:
      if (!fPending.empty()) PrintLine(fPending);
      fPending.clear();
      PrintLine(text);
      break;
    default:
      break;
  }
}

void TConsoleUpdateLogger::OnDownloading(double progress) {
  std::lock_guard<std::mutex> lock(fMutex);
  // Without a terminal the bar would only fill a log with carriage returns: there it is written
  // once, when a package's downloads are through.
  if (!fTerminal) {
    if (progress >= 1.0) std::fprintf(fOut, "%s\n", ProgressBar(progress).c_str());
    std::fflush(fOut);
    return;
  }
  std::fprintf(fOut, "\r%s", ProgressBar(progress).c_str());
  std::fflush(fOut);
  fBarShown = true;
}

}  // namespace velm
