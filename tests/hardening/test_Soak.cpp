// A soak of the proxy beside the demo game site: many browser connections at once ask for local
// mirror files, for files missing from the mirror (fetched from the site and stored) and for
// pages outside the packages (relayed), while the site publishes a new build and a whole update
// run brings the mirror up to date in the middle. Every answer must come whole with the expected
// bytes, and open files and resident memory must be back at their level after the warm-up.
//
// The run lasts VELM_SOAK_SECONDS seconds (15 by default, as the regular suite runs it); the long
// run of docs/RELIABILITY.md is
//   VELM_SOAK_SECONDS=600 nice -n 10 build/tests/hardening/test_hardening --gtest_filter='Soak.*'
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/IniFile.h"
#include "net/DataLoader.h"
#include "net/Transport.h"
#include "platform/Encoding.h"
#include "platform/ProgramPath.h"
#include "platform/TCPBlockSocket.h"
#include "proxy/LocalProxy.h"
#include "proxy/ProxyTestSupport.h"
#include "support/DemoSiteProcess.h"
#include "support/TestFolder.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdatePackage.h"
#include "update/UpdateProcessor.h"

using namespace velm;
using namespace velm::test;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

constexpr int kClientThreads = 16;

// Under the sanitizers freed memory is held back on purpose (AddressSanitizer's quarantine, which
// fills up to hundreds of megabytes), so resident memory tells nothing there about leaks; the
// leak check at exit (LeakSanitizer) does that job in those builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentMemoryComparable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kResidentMemoryComparable = false;
#else
constexpr bool kResidentMemoryComparable = true;
#endif
#else
constexpr bool kResidentMemoryComparable = true;
#endif

int SoakSeconds() {
  const char* text = std::getenv("VELM_SOAK_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 15;
}

// Open file descriptors of the process and its resident memory. Freed heap memory is handed
// back to the system first (malloc_trim), so that what the allocator merely keeps in its free
// lists does not count.
struct TUsage {
  int Fds = 0;
  long RssKiB = 0;
};

TUsage MeasureUsage() {
  ::malloc_trim(0);
  TUsage usage;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++usage.Fds;
  }
  --usage.Fds;  // the iterator's own descriptor of the folder
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) usage.RssKiB = std::atol(line.c_str() + 6);
  return usage;
}

std::string UsageText(const TUsage& u) {
  return std::to_string(u.Fds) + " fds, " + std::to_string(u.RssKiB) + " KiB resident";
}

bool AsciiOnly(const std::string& s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 128; });
}

// Every file below folder, by its path relative to it with "/", ASCII names only.
std::map<std::string, std::string> FilesBelow(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), folder).generic_string();
    if (AsciiOnly(relative)) files[relative] = ReadWholeFile(entry.path().string());
  }
  return files;
}

// The bodies an address may be answered with: one version, or two while the site publishes a
// new build and the mirror catches up.
class TExpectedBodies {
 public:
  void Add(const std::string& key, const std::string& body) {
    std::lock_guard<std::mutex> lock(fMutex);
    auto& versions = fVersions[key];
    if (std::find(versions.begin(), versions.end(), body) == versions.end())
      versions.push_back(body);
  }
  bool Accepts(const std::string& key, const std::string& body) const {
    std::lock_guard<std::mutex> lock(fMutex);
    auto found = fVersions.find(key);
    if (found == fVersions.end()) return false;
    return std::find(found->second.begin(), found->second.end(), body) != found->second.end();
  }
  // Held while the site changes, so that an answer with new bytes is judged after they are known.
  std::mutex& Lock() { return fMutex; }
  void AddLocked(const std::string& key, const std::string& body) {
    auto& versions = fVersions[key];
    if (std::find(versions.begin(), versions.end(), body) == versions.end())
      versions.push_back(body);
  }

 private:
  mutable std::mutex fMutex;
  std::map<std::string, std::vector<std::string>> fVersions;
};

enum TKind { kLocal = 0, kMiss = 1, kRelay = 2 };
const char* const kKindNames[] = {"local answers", "misses", "relays"};

struct TSoakFigures {
  std::atomic<uint64_t> Answers[3] = {};
  std::atomic<uint64_t> Bytes[3] = {};
  std::atomic<uint64_t> Connections{0};
  std::atomic<uint64_t> Errors{0};
  std::mutex ErrorMutex;
  std::vector<std::string> FirstErrors;

  void Error(const std::string& text) {
    ++Errors;
    std::lock_guard<std::mutex> lock(ErrorMutex);
    if (FirstErrors.size() < 20) FirstErrors.push_back(text);
  }
  std::string Text() const {
    std::string text;
    for (int k = 0; k < 3; ++k)
      text += std::string(kKindNames[k]) + " " + std::to_string(Answers[k].load()) + " (" +
              std::to_string(Bytes[k].load()) + " bytes), ";
    return text + std::to_string(Connections.load()) + " connections, " +
           std::to_string(Errors.load()) + " errors";
  }
};

// The body of an answer read by ReadAnswer, when its head is a 200 and the body is as long as
// it says; false otherwise.
bool WholeBody(const std::string& answer, std::string& body) {
  if (answer.rfind("HTTP/1.1 200 OK\r\n", 0) != 0) return false;
  const size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  const std::string head = LowerCase(answer.substr(0, end + 2));
  const size_t at = head.find("\r\ncontent-length:");
  if (at == std::string::npos) return false;
  const size_t length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
  body = answer.substr(end + 4);
  return body.size() == length;
}

class Soak : public ::testing::Test {
 protected:
  Soak() : fZone("<+03>-3") {}

  void SetUp() override {
    fDebug = std::make_unique<TDebug>(ChangeFileExt(Folder.ExePath(), ".log"));
    Debug = fDebug.get();
    fSite = std::make_unique<TDemoSiteProcess>(Folder.Path("site-root/"));
    ASSERT_FALSE(fSite->Url().empty()) << "the demo site did not start";
    ::setenv("VELM_SITE_ROOT", fSite->Url().c_str(), 1);
    fSettings = std::make_unique<TVelmAppSettings>();
    AppSettings = fSettings.get();
    InitializeUpdateProcessor();
  }
  void TearDown() override {
    if (LocalProxyService()) StopLocalProxy();
    FinalizeUpdateProcessor();
    FilesUpdated = false;
    StartupUpdateDone = false;
    ClientUpdated = false;
    ProxyTimeoutMs = kProxySocketTimeoutMs;
    SetTransportSettings(TTransportSettings{});
    AppSettings = nullptr;
    fSettings.reset();
    ::unsetenv("VELM_SITE_ROOT");
    fSite.reset();
    Debug = nullptr;
    fDebug.reset();
  }

  std::string SiteFolder() const { return Folder.Path("site-root/site/"); }
  std::string PubFolder() const { return Folder.Path("pub/"); }

  static bool WaitIdle() {
    for (int i = 0; i < 3000; ++i) {
      if (LocalProxyService()->BusyWorkers() == 0) return true;
      std::this_thread::sleep_for(milliseconds(5));
    }
    return false;
  }

  // One browser: kept-alive connections of 1 to 16 requests each, until the deadline.
  void Browse(int index, steady_clock::time_point deadline, const std::vector<std::string>& local,
              const std::vector<std::string>& misses, const std::vector<std::string>& relays,
              TSoakFigures& figures) {
    std::mt19937 random(static_cast<unsigned>(index * 7919 + 17));
    // "127.0.0.1:PORT" of the site's "http://127.0.0.1:PORT/".
    const std::string hostPort = fSite->Url().substr(7, fSite->Url().size() - 8);
    while (steady_clock::now() < deadline) {
      TTCPBlockSocket c;
      c.ConvertLineEnd = true;
      c.Connect("127.0.0.1", std::to_string(fPort));
      if (c.LastError() != 0) {
        figures.Error("connect to the proxy: error " + std::to_string(c.LastError()));
        std::this_thread::sleep_for(milliseconds(50));
        continue;
      }
      ++figures.Connections;
      const int requests = 1 + static_cast<int>(random() % 16);
      for (int r = 0; r < requests && steady_clock::now() < deadline; ++r) {
        const unsigned pick = random() % 100;
        const TKind kind = pick < 70 ? kLocal : pick < 85 ? kMiss : kRelay;
        const std::vector<std::string>& choices = kind == kLocal  ? local
                                                  : kind == kMiss ? misses
                                                                  : relays;
        const std::string& path = choices[random() % choices.size()];
        // A miss: the browser's own mirror file is taken away first; no other browser asks for it.
        if (kind == kMiss) ::unlink((PubFolder() + path).c_str());
        c.SendString("GET http://" + hostPort + "/" + path + " HTTP/1.1\r\nHost: " + hostPort +
                     "\r\nProxy-Connection: keep-alive\r\n\r\n");
        const std::string answer = ReadAnswer(c, 30000);
        std::string body;
        if (!WholeBody(answer, body)) {
          figures.Error(std::string(kKindNames[kind]) + " " + path + ": broken answer of " +
                        std::to_string(answer.size()) + " bytes: " + answer.substr(0, 80));
          break;  // the connection is of no further use
        }
        if (!fExpected.Accepts(path, body)) {
          figures.Error(std::string(kKindNames[kind]) + " " + path + ": wrong " +
                        std::to_string(body.size()) + " bytes");
          continue;
        }
        if (kind == kMiss && !MissStored(path)) {
          figures.Error("miss " + path + ": not stored whole in the mirror");
          continue;
        }
        ++figures.Answers[kind];
        figures.Bytes[kind] += body.size();
      }
    }
  }

  // The missing file was stored from the relayed body. The store follows the answer, so it is
  // awaited briefly.
  bool MissStored(const std::string& path) {
    const std::string file = PubFolder() + path;
    for (int i = 0; i < 1000; ++i) {
      if (FileExists(file)) return fExpected.Accepts(path, ReadWholeFile(file));
      std::this_thread::sleep_for(milliseconds(5));
    }
    return false;
  }

  void RunBrowsers(int seconds, const std::vector<std::vector<std::string>>& misses,
                   const std::vector<std::string>& local, const std::vector<std::string>& relays,
                   TSoakFigures& figures, const std::function<void()>& meanwhile = {}) {
    const auto deadline = steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> browsers;
    for (int i = 0; i < kClientThreads; ++i)
      browsers.emplace_back([&, i] { Browse(i, deadline, local, misses[i], relays, figures); });
    if (meanwhile) meanwhile();
    for (auto& t : browsers) t.join();
  }

  TScopedTimeZone fZone;
  TTestProgramFolder Folder;
  std::unique_ptr<TDebug> fDebug;
  std::unique_ptr<TDemoSiteProcess> fSite;
  std::unique_ptr<TVelmAppSettings> fSettings;
  TExpectedBodies fExpected;
  int fPort = 0;
};

TEST_F(Soak, MixedAnswersMissesAndRelaysAroundAnUpdateStayWholeAndLeakNothing) {
  const int seconds = SoakSeconds();
  const int warmUp = std::max(2, seconds / 10);
  const TUsage start = MeasureUsage();

  // The start-up run mirrors the site.
  {
    TUpdateProcessor processor(nullptr);
    processor.UpdateAll();
  }
  StartupUpdateDone = true;
  ASSERT_TRUE(FilesUpdated);
  const std::map<std::string, std::string> site = FilesBelow(SiteFolder());
  const std::map<std::string, std::string> mirror = FilesBelow(PubFolder());
  ASSERT_GT(mirror.size(), 60u);
  std::vector<std::string> local;
  for (const auto& [path, bytes] : mirror) {
    auto found = site.find(path);
    ASSERT_TRUE(found != site.end() && found->second == bytes) << "mirrored wrongly: " << path;
    fExpected.Add(path, bytes);
    local.push_back(path);
  }
  // Each browser has two mirror files of its own that it takes away before it asks for them.
  std::shuffle(local.begin(), local.end(), std::mt19937(5));
  std::vector<std::vector<std::string>> misses(kClientThreads);
  for (int i = 0; i < kClientThreads; ++i)
    for (int k = 0; k < 2; ++k) {
      misses[i].push_back(local.back());
      local.pop_back();
    }
  // Pages outside the packages, relayed as the site sends them.
  std::vector<std::string> relays = {"game.swf"};
  for (int i = 0; i < 8; ++i) relays.push_back("user_info.php?nick=soak" + std::to_string(i));
  {
    TDataLoader direct;
    for (const std::string& path : relays) {
      std::string body;
      ASSERT_TRUE(direct.GetString(fSite->Url() + path, body, false)) << path;
      fExpected.Add(path, body);
    }
  }

  SetTransportSettings(TTransportSettings{});
  ProxyTimeoutMs = 20000;
  StartLocalProxy(0);
  ASSERT_EQ(LocalProxyService()->WaitListenState(5000), TProxyListenState::Listening);
  fPort = LocalProxyService()->BoundPort();
  CreateSingleFileUpdater();

  TSoakFigures warm;
  RunBrowsers(warmUp, misses, local, relays, warm);
  ASSERT_TRUE(WaitIdle());
  const TUsage afterWarmUp = MeasureUsage();

  // The soak proper; in its middle the site publishes a game build and an update run follows.
  TSoakFigures figures;
  std::string published;
  bool updated = false;
  double updateSeconds = 0;
  RunBrowsers(seconds - warmUp, misses, local, relays, figures, [&] {
    std::this_thread::sleep_for(std::chrono::seconds((seconds - warmUp) / 2));
    {
      std::lock_guard<std::mutex> lock(fExpected.Lock());
      TDataLoader control;
      if (control.GetString(fSite->Url() + "_demo/publish?package=game", published, false))
        for (const auto& [path, bytes] : FilesBelow(SiteFolder())) fExpected.AddLocked(path, bytes);
    }
    const auto begin = steady_clock::now();
    TUpdateProcessor processor(nullptr);
    processor.UpdateAll();
    updateSeconds = duration<double>(steady_clock::now() - begin).count();
    updated = GetIniFile()->ReadString("Main", "Build2", "") == "2302";
  });
  ASSERT_TRUE(WaitIdle());
  const TUsage end = MeasureUsage();

  std::printf("soak: %d s (%d s warm-up), %d browsers, %zu shared mirror files, 2 own each\n",
              seconds, warmUp, kClientThreads, local.size());
  std::printf("soak: warm-up: %s\n", warm.Text().c_str());
  std::printf("soak: main: %s\n", figures.Text().c_str());
  std::printf("soak: update run after publishing build 2302: %.1f s, %s\n", updateSeconds,
              published.c_str());
  std::printf("soak: start %s; after warm-up %s; end %s\n", UsageText(start).c_str(),
              UsageText(afterWarmUp).c_str(), UsageText(end).c_str());
  for (const std::string& e : warm.FirstErrors) ADD_FAILURE() << "warm-up: " << e;
  for (const std::string& e : figures.FirstErrors) ADD_FAILURE() << e;
  EXPECT_EQ(warm.Errors.load() + figures.Errors.load(), 0u);
  for (int k = 0; k < 3; ++k) EXPECT_GT(figures.Answers[k].load(), 0u) << kKindNames[k];
  EXPECT_NE(published.find("\"build\": 2302"), std::string::npos) << published;
  EXPECT_TRUE(updated) << "the update run did not take the new build";

  // The mirror is the site's new build exactly: nothing torn, nothing left over, nothing lost.
  const std::map<std::string, std::string> siteNow = FilesBelow(SiteFolder());
  for (const auto& [path, bytes] : FilesBelow(PubFolder())) {
    auto found = siteNow.find(path);
    ASSERT_TRUE(found != siteNow.end()) << "stray mirror file " << path;
    EXPECT_TRUE(found->second == bytes) << "mirror file differs from the site: " << path;
  }
  for (const auto& [path, bytes] : siteNow) {
    if (path.rfind("images/", 0) == 0) {
      EXPECT_TRUE(FileExists(PubFolder() + path)) << path;
    }
  }

  // Back at the level after the warm-up. Descriptors: one more for the one-file updater's kept
  // connection to the site, which may have been opened since. Memory: 8 MiB of slack for heap
  // pages that the allocator's per-thread arenas cannot give back while one live block sits on
  // them; a leak of about a hundred bytes per answer would exceed it in the ten-minute run.
  EXPECT_LE(end.Fds, afterWarmUp.Fds + 1);
  if (kResidentMemoryComparable) {
    EXPECT_LE(end.RssKiB, afterWarmUp.RssKiB + 8 * 1024);
  }
}

}  // namespace
