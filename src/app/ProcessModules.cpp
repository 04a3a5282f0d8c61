#include "app/ProcessModules.h"

#include <algorithm>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/Options.h"
#include "app/UrlHistory.h"
#include "net/Transport.h"

namespace velm {

std::vector<TProcessModule> CoreProcessModules() {
  return {
      // The current folder becomes the program folder; Debug. Frees Debug, then AppSettings.
      {1, "Common", InitializeCommon, FinalizeCommon},
      // The connection settings from the INI file; cleared at the end.
      {3, "Transport", InitializeTransport, FinalizeTransport},
      {9, "OpenUrl", InitializeOpenUrl, FinalizeOpenUrl},
      {10, "VelmOptions", InitializeVelmOptions, FinalizeVelmOptions},
      // AppSettings; released by Common.
      {11, "VelmMain", CreateAppSettings, nullptr},
  };
}

std::vector<TProcessModule> ProcessModulesWith(const std::vector<TProcessModule>& extra) {
  std::vector<TProcessModule> rows = CoreProcessModules();
  rows.insert(rows.end(), extra.begin(), extra.end());
  std::stable_sort(rows.begin(), rows.end(), [](const TProcessModule& a, const TProcessModule& b) {
    return a.Order < b.Order;
  });
  return rows;
}

TProcessModules::TProcessModules(std::vector<TProcessModule> rows) : fRows(std::move(rows)) {
  try {
    for (; fDone < fRows.size(); ++fDone)
      if (fRows[fDone].Initialize) fRows[fDone].Initialize();
  } catch (...) {
    FinalizeDone();
    throw;
  }
}

TProcessModules::~TProcessModules() {
  FinalizeDone();
}

void TProcessModules::FinalizeDone() {
  while (fDone > 0) {
    --fDone;
    if (fRows[fDone].Finalize) fRows[fDone].Finalize();
  }
}

}  // namespace velm
