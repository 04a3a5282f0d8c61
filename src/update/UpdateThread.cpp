#include "update/UpdateThread.h"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/IniFile.h"
#include "update/UpdateProcessor.h"

namespace velm {
namespace {

std::mutex gWaitMutex;
TUpdateWaitHandler gWaitHandler;

// RunUpdate refreshes the logger once per this many waits of kWaitSliceMs.
constexpr int kWaitSlices = 50;
constexpr int kWaitSliceMs = 2;

}  // namespace

TUpdateWaitHandler SetUpdateWaitHandler(TUpdateWaitHandler handler) {
  std::lock_guard<std::mutex> lock(gWaitMutex);
  TUpdateWaitHandler old = std::move(gWaitHandler);
  gWaitHandler = std::move(handler);
  return old;
}

void UpdateWait(int milliseconds) {
  TUpdateWaitHandler handler;
  {
    std::lock_guard<std::mutex> lock(gWaitMutex);
    handler = gWaitHandler;
  }
  if (handler)
    handler(milliseconds);
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void TGlobalUpdateThread::Start(TUpdateProcessor* processor) {
  auto thread = std::make_unique<TGlobalUpdateThread>(processor);
  std::thread([self = std::move(thread)] { self->Execute(); }).detach();
}

void TGlobalUpdateThread::Execute() {
  try {
    Processor->UpdateAll();
  } catch (const std::exception& e) {
    // The run ends here (a file list that does not decode, for one); the user is not told.
    if (Debug) Debug->LogException(e);
  } catch (...) {
    if (Debug) Debug->LogError("update thread: unknown exception", true);
  }
  // Last touch of the processor: RunUpdate may destroy it as soon as it sees this.
  Processor->Finished = true;
}

void TUpdateProcessor::RunUpdate() {
  Finished = false;
  TGlobalUpdateThread::Start(this);
  while (!Finished) {
    if (Logger) Logger->RefreshUpdateProgress();
    for (int i = 0; i < kWaitSlices && !Finished; ++i) UpdateWait(kWaitSliceMs);
  }
}

void TUpdateProcessor::UpdateAll() {
  // The flags change only at the end: a cancelled or broken run leaves them as they were.
  bool allFailed = true;
  for (const TUpdatePackageDesc& package : AppSettings->Packages) {
    if (StartupUpdateDone && !package.InBackground) continue;
    bool listFailed = false;
    if (!UpdatePackage(package, listFailed)) return;
    if (!listFailed) allFailed = false;
  }
  AllListsFailed = allFailed;
  if (FullCheck && !AllListsFailed)
    GetIniFile()->WriteBool(kUpdateSection, kUpdatedSuccessfullyKey, true);
  FilesUpdated = !AllListsFailed;
}

bool TUpdateProcessor::ClientVersionChanged() {
  return GetIniFile()->ReadString(kUpdateSection, kCurrentVersionKey, "") !=
         AppSettings->GetClientVersion();
}

void TUpdateProcessor::SaveClientVersion() {
  GetIniFile()->WriteString(kUpdateSection, kCurrentVersionKey, AppSettings->GetClientVersion());
}

}  // namespace velm
