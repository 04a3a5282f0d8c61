#include "app/ProcessModules.h"

#include <algorithm>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/Options.h"
#include "app/UrlHistory.h"
#include "net/Transport.h"
#include "proxy/LocalProxy.h"
#include "update/SingleFileUpdate.h"

namespace velm {
namespace {

// The game settings first: the single-file updater matches its URLs against their packages.
void InitializeVelmMain() {
  CreateAppSettings();
  CreateSingleFileUpdater();
}

}  // namespace

std::vector<TProcessModule> CoreProcessModules() {
  return {
      // The current folder becomes the program folder; Debug. Frees Debug, then AppSettings.
      {1, "Common", InitializeCommon, FinalizeCommon},
      // The connection settings from the INI file; cleared at the end.
      {3, "Transport", InitializeTransport, FinalizeTransport},
      // RefreshedFiles. Frees SingleFileUpdater (made by VelmMain) and the list.
      {4, "UpdateProcessor", InitializeUpdateProcessor, FinalizeUpdateProcessor},
      // The proxy's worker lock; a proxy still running at the end is stopped.
      {8, "LocalProxy", InitializeLocalProxy, FinalizeLocalProxy},
      {9, "OpenUrl", InitializeOpenUrl, FinalizeOpenUrl},
      {10, "VelmOptions", InitializeVelmOptions, FinalizeVelmOptions},
      // AppSettings and SingleFileUpdater; released by Common and UpdateProcessor.
      {11, "VelmMain", InitializeVelmMain, nullptr},
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
