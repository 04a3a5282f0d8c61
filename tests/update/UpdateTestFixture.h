// What every update test stands on: a temporary program folder with its debug log, a fixed time
// zone, the settings object pointed at the loopback test site, fresh update flags, and a logger
// that records what a run reports the way the splash would show it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/IniFile.h"
#include "platform/Encoding.h"
#include "platform/ProgramPath.h"
#include "support/TestFolder.h"
#include "update/FileIO.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdateProcessor.h"
#include "update/UpdateTestSite.h"

namespace velm::test {

class TRecordingLogger : public IUpdateLogger {
 public:
  void OnEvent(uint8_t kind, const std::string& text) override {
    std::function<void(uint8_t, const std::string&)> hook;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      fEvents.push_back({kind, text});
      fThreads.push_back(std::this_thread::get_id());
      hook = OnEventHook;
    }
    if (hook) hook(kind, Cp1251ToUtf8(text));
  }
  void OnDownloading(double progress) override {
    std::lock_guard<std::mutex> lock(fMutex);
    fProgress.push_back(progress);
  }
  bool CancelUpdate() override { return Cancel; }
  void RefreshUpdateProgress() override {
    std::lock_guard<std::mutex> lock(fMutex);
    fRefreshThreads.push_back(std::this_thread::get_id());
  }

  // The log as the splash composes it, in UTF-8.
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(fMutex);
    std::vector<std::string> lines;
    for (const auto& [kind, raw] : fEvents) {
      std::string text = Cp1251ToUtf8(raw);
      if (kind == kUpdEventPackage || kind == kUpdEventLine)
        lines.push_back(text);
      else if (kind == kUpdEventStep)
        lines.push_back(text + " ... ");
      else if (kind == kUpdEventResult || kind == kUpdEventError) {
        if (lines.empty())
          lines.push_back(text);
        else
          lines.back() += text;
      }
    }
    return lines;
  }
  std::vector<std::pair<uint8_t, std::string>> Events() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fEvents;
  }
  std::vector<double> Progress() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fProgress;
  }
  std::vector<std::thread::id> EventThreads() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fThreads;
  }
  std::vector<std::thread::id> RefreshThreads() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fRefreshThreads;
  }
  bool HasLine(const std::string& utf8) const {
    for (const auto& l : Lines())
      if (l == utf8) return true;
    return false;
  }
  size_t CountLines(const std::string& utf8) const {
    size_t n = 0;
    for (const auto& l : Lines()) n += l == utf8;
    return n;
  }

  std::atomic<bool> Cancel{false};
  // Called on the update thread after each event is recorded, with the text in UTF-8.
  std::function<void(uint8_t, const std::string&)> OnEventHook;

 private:
  mutable std::mutex fMutex;
  std::vector<std::pair<uint8_t, std::string>> fEvents;
  std::vector<std::thread::id> fThreads;
  std::vector<double> fProgress;
  std::vector<std::thread::id> fRefreshThreads;
};

class UpdateTest : public ::testing::Test {
 public:
  UpdateTest() : fZone("<+03>-3") {
    setenv("VELM_SITE_ROOT", Site.Root().c_str(), 1);
    fDebug = std::make_unique<TDebug>(ChangeFileExt(Folder.ExePath(), ".log"));
    Debug = fDebug.get();
    fSettings = std::make_unique<TVelmAppSettings>();
    AppSettings = fSettings.get();
    ClientUpdated = false;
    FilesUpdated = false;
    StartupUpdateDone = false;
    InitializeUpdateProcessor();
  }
  ~UpdateTest() override {
    FinalizeUpdateProcessor();
    StartupUpdateDone = false;
    ClientUpdated = false;
    FilesUpdated = false;
    AppSettings = nullptr;
    fSettings.reset();
    Debug = nullptr;
    fDebug.reset();
    unsetenv("VELM_SITE_ROOT");
  }

  // A whole run the way the splash starts it, on a fresh processor.
  void Run() {
    TUpdateProcessor processor(&Log);
    processor.RunUpdate();
    LastAllListsFailed = processor.AllListsFailed;
  }

  static std::string IniString(const std::string& key, const std::string& def = "<none>") {
    return GetIniFile()->ReadString("Main", key, def);
  }
  static bool UpdatedSuccessfully() {
    return GetIniFile()->ReadBool("Main", "UpdatedSuccessfully", false);
  }
  // The local date of a file equals the site's date to the second.
  static void ExpectDated(const std::string& path, TDateTime date) {
    EXPECT_NEAR(GetFileDate(path), date, 0.5 * kOneSecond) << path;
  }

  TTestProgramFolder Folder;
  TUpdateTestSite Site;
  TRecordingLogger Log;
  bool LastAllListsFailed = false;

 private:
  TScopedTimeZone fZone;
  std::unique_ptr<TDebug> fDebug;
  std::unique_ptr<TVelmAppSettings> fSettings;
};

}  // namespace velm::test
