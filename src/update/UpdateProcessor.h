// The update engine: one package at a time brought up to date from its build page and file list,
// whole runs over every package on a worker thread, and the one-file update the proxy uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/DateTime.h"
#include "platform/MemoryStream.h"
#include "update/UpdatePackage.h"

namespace velm {

class TDataLoader;

// Kinds of the events a processor reports.
enum : uint8_t {
  kUpdEventPackage = 0,   // start of a package; the text is its title
  kUpdEventLine = 1,      // a whole line, possibly empty
  kUpdEventStep = 2,      // a step begins
  kUpdEventResult = 3,    // result of the current step
  kUpdEventError = 4,     // an error of the current step
  kUpdEventDownload = 5,  // a download is about to start; no text
};

// Where a processor reports its progress. OnEvent, OnDownloading and CancelUpdate are called on
// the thread that runs the update; RefreshUpdateProgress on the thread that waits for a threaded
// run (RunUpdate).
class IUpdateLogger {
 public:
  virtual ~IUpdateLogger() = default;
  virtual void OnEvent(uint8_t kind, const std::string& text) = 0;
  virtual void OnDownloading(double progress) = 0;
  virtual bool CancelUpdate() = 0;
  virtual void RefreshUpdateProgress() = 0;
};

// Suffix under which a new client executable is stored beside the running one.
inline constexpr const char* kNewExeSuffix = ".new-exe";

class TUpdateProcessor {
 public:
  // The logger is not owned; it must outlive the processor.
  explicit TUpdateProcessor(IUpdateLogger* logger);
  ~TUpdateProcessor();
  TUpdateProcessor(const TUpdateProcessor&) = delete;
  TUpdateProcessor& operator=(const TUpdateProcessor&) = delete;

  // The processor's loader, created on first use and kept, so that one keep-alive connection
  // serves every request of the processor.
  TDataLoader& GetLoader();

  // Brings one package up to date. False only when the user cancelled; listFailed tells whether
  // the file list could not be loaded.
  bool UpdatePackage(const TUpdatePackageDesc& package, bool& listFailed);
  // Reads the stored and the site's build; true when the package must be examined.
  bool CheckBuild(const std::string& buildURL, int id);
  // Stores NewBuild as the package's build.
  void SaveBuild(int id);
  // True when the local file must be downloaded to match the site's date.
  bool NeedsUpdate(const std::string& localFile, TDateTime siteDate);
  // Diverts the running executable's own list entry to its ".new-exe" name.
  bool RedirectClientExe(std::string& localFile);
  void ReportError(const std::string& text);
  // Waits between packages during background runs; the start-up run does not wait.
  void Pause(int milliseconds);

  // A whole run: every package in order (only the background ones once start-up is over).
  void UpdateAll();
  // Runs UpdateAll on a worker thread and waits for it, refreshing the logger about every 100 ms.
  // Not to be entered again while a run is in progress.
  void RunUpdate();
  // True when "CurrentVersion" differs from the client's version text.
  bool ClientVersionChanged();
  void SaveClientVersion();

  // Stores a body the proxy fetched, dates it from the site's one-file query and records it as
  // refreshed. Serialised by LoaderLock(); true when the site's date was found and applied.
  bool UpdateSingleFile(const std::string& url, const std::string& localFile, TMemoryStream& data);
  // Taken by UpdateSingleFile and by anyone else who uses this processor's loader from another
  // thread (the statistics request uses SingleFileUpdater's loader).
  std::mutex& LoaderLock() { return fLoaderLock; }

  IUpdateLogger* Logger;
  std::string NewBuild;
  std::string OldBuild;
  std::atomic<bool> Finished{false};
  bool FullCheck = false;
  bool AllListsFailed = false;

 private:
  void OnEvent(uint8_t kind, const std::string& text);
  bool CancelExit();

  std::unique_ptr<TDataLoader> fLoader;
  std::mutex fLoaderLock;
};

}  // namespace velm
