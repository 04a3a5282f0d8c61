// Progress of an update run on the terminal: the update log's lines as UTF-8 text and, on a
// terminal, a progress bar redrawn in place.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "update/UpdateProcessor.h"

namespace velm {

class TConsoleUpdateLogger : public IUpdateLogger {
 public:
  // cancel: set by the stop signal; the running update ends at its next check.
  TConsoleUpdateLogger(std::FILE* out, const std::atomic<bool>& cancel);

  void OnEvent(uint8_t kind, const std::string& text) override;
  void OnDownloading(double progress) override;
  bool CancelUpdate() override { return fCancel.load(); }
  void RefreshUpdateProgress() override {}

  // The bar as drawn: "[#####...............]  25%".
  static std::string ProgressBar(double progress, int width = 30);

 private:
  void ClearBar();
  void PrintLine(const std::string& cp1251);

  std::FILE* fOut;
  const std::atomic<bool>& fCancel;
  const bool fTerminal;
  std::mutex fMutex;
  std::string fPending;  // a step waiting for its result
  bool fBarShown = false;
};

}  // namespace velm
