// The one-file update the proxy uses for files it fetched itself, and the list of files
// refreshed in this run of the program.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "update/UpdateProcessor.h"

namespace velm {

// Progress sink of SingleFileUpdater: shows nothing and never cancels.
class TSingleFileUpdateLogger : public IUpdateLogger {
 public:
  void OnEvent(uint8_t, const std::string&) override {}
  void OnDownloading(double) override {}
  bool CancelUpdate() override { return false; }
  void RefreshUpdateProgress() override {}
};

// Local paths refreshed from the site during this run, in lower case; it only grows.
class TRefreshedFiles {
 public:
  bool Contains(const std::string& localPath);
  void Add(const std::string& localPath);
  size_t Count();

 private:
  std::mutex fLock;
  std::set<std::string> fFiles;
};

// Process-wide objects of the update unit. RefreshedFiles lives from InitializeUpdateProcessor
// to FinalizeUpdateProcessor; SingleFileUpdater is made by CreateSingleFileUpdater once the
// settings exist and is freed by FinalizeUpdateProcessor.
extern TRefreshedFiles* RefreshedFiles;
extern TUpdateProcessor* SingleFileUpdater;

void InitializeUpdateProcessor();
void FinalizeUpdateProcessor();
// Creates SingleFileUpdater with its silent logger (again after a previous one is freed).
void CreateSingleFileUpdater();

bool IsFileRefreshed(const std::string& localPath);
void AddRefreshedFile(const std::string& localPath);

}  // namespace velm
