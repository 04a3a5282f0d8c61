// The update walk over a file list whose files are all current: the per-line decisions of
// UpdatePackage next to a plain loop doing the same file-system work (a stat, and for graphics
// and scripts a 6-byte read), and, when a site is given, the whole UpdatePackage.
//
//   VELM_BENCH_SITE=http://127.0.0.1:PORT/  VELM_BENCH_SITE_DIR=/folder/served/there
// The build page and the file list are written into the site folder; without the two
// variables the whole-package figure is skipped.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/Debug.h"
#include "app/IniFile.h"
#include "platform/ProgramPath.h"
#include "update/FileIO.h"
#include "update/TextLines.h"
#include "update/UpdatePackage.h"
#include "update/UpdateProcessor.h"

using namespace velm;

namespace {

constexpr int kFiles = 20000;
constexpr int kFilesPerFolder = 100;
const std::string kBuild = "5";
constexpr char kListDate[] = "2010.05.06 12-30-45";
// Graphics and scripts (the 6-byte test) and a share of other files, as in the game's lists.
const char* const kExtensions[] = {".gif", ".gif", ".gif", ".jpg", ".jpg",
                                   ".swf", ".js",  ".png", ".xml", ".txt"};

bool CheckedByContent(const std::string& name) {
  for (const char* ext : {".gif", ".jpg", ".swf", ".js"}) {
    const size_t n = std::strlen(ext);
    if (name.size() >= n && name.compare(name.size() - n, n, ext) == 0) return true;
  }
  return false;
}

// A program folder with pub/ holding every file of the list, dated as the list says.
struct TWalkFolder {
  std::string Dir;
  std::string ListText;            // first line, then one line per file
  std::vector<std::string> Paths;  // local paths, relative to the folder
  TUpdatePackageDesc Package;
  std::unique_ptr<TDebug> Log;

  TWalkFolder() {
    setenv("TZ", "<+03>-3", 1);
    tzset();
    char templ[] = "/tmp/velm-bench-walk-XXXXXX";
    Dir = std::string(mkdtemp(templ)) + "/";
    OverrideExePathForTesting(Dir + "VelmC2");
    if (chdir(Dir.c_str()) != 0) std::abort();
    Log = std::make_unique<TDebug>(Dir + "VelmC2.log");
    Debug = Log.get();

    Package = {2, "game", "", "", "", "", "pub/", "", true};
    ListText = "filelist\n";
    const std::string content(120, 'x');
    std::string name;
    TDateTime date = 0;
    for (int i = 0; i < kFiles; ++i) {
      const std::string folder = "images/d" + std::to_string(i / kFilesPerFolder) + "/";
      const std::string line =
          folder + "f" + std::to_string(i) + kExtensions[i % 10] + "\t" + kListDate;
      ListText += line + "\n";
      if (!ParseFileListLine(line, name, date)) std::abort();
      const std::string path = LocalPathOf(Package, name);
      std::filesystem::create_directories(Dir + ExtractFilePath(path));
      std::ofstream(Dir + path, std::ios::binary) << content;
      if (!SetFileDate(path, date)) std::abort();
      Paths.push_back(path);
    }
    // Normal mode: an update has reached the site before.
    GetIniFile()->WriteBool(kUpdateSection, kUpdatedSuccessfullyKey, true);
  }
  ~TWalkFolder() {
    Debug = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
};

TWalkFolder& Folder() {
  static TWalkFolder folder;
  return folder;
}

// What UpdatePackage does for each line of the list once it has it: parse, map, decide.
void BM_UpdateWalkDecide(benchmark::State& state) {
  TWalkFolder& f = Folder();
  const std::vector<std::string> lines = SplitTextLines(f.ListText);
  TUpdateProcessor processor(nullptr);
  processor.NewBuild = kBuild;
  processor.FullCheck = false;
  for (auto _ : state) {
    int needed = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
      std::string name;
      TDateTime date = 0;
      if (!ParseFileListLine(lines[i], name, date)) continue;
      const std::string local = LocalPathOf(f.Package, name);
      if (local.empty()) continue;
      const std::string address = f.Package.SiteRoot + name;
      benchmark::DoNotOptimize(address.data());
      needed += processor.NeedsUpdate(local, date);
    }
    if (needed != 0) state.SkipWithError("files not current");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kFiles);
}
BENCHMARK(BM_UpdateWalkDecide)->Unit(benchmark::kMillisecond)->UseRealTime();

// The file-system work alone over the same paths.
void BM_UpdateWalkPlainLoop(benchmark::State& state) {
  TWalkFolder& f = Folder();
  std::vector<bool> byContent;
  for (const std::string& p : f.Paths) byContent.push_back(CheckedByContent(p));
  for (auto _ : state) {
    int html = 0;
    for (size_t i = 0; i < f.Paths.size(); ++i) {
      struct stat st;
      if (::stat(f.Paths[i].c_str(), &st) != 0) continue;
      if (!byContent[i]) continue;
      char head[6];
      int fd = ::open(f.Paths[i].c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      html += ::read(fd, head, sizeof head) == 6 && std::memcmp(head, "<html>", 6) == 0;
      ::close(fd);
    }
    benchmark::DoNotOptimize(html);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kFiles);
}
BENCHMARK(BM_UpdateWalkPlainLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole UpdatePackage against a site: build page, file list, walk. The stored build is reset
// before each round so that the list is fetched and walked every time.
void BM_UpdatePackageWhole(benchmark::State& state) {
  const char* site = std::getenv("VELM_BENCH_SITE");
  const char* siteDir = std::getenv("VELM_BENCH_SITE_DIR");
  if (!site || !siteDir) {
    state.SkipWithError("VELM_BENCH_SITE and VELM_BENCH_SITE_DIR are not set");
    for (auto _ : state) {
    }
    return;
  }
  TWalkFolder& f = Folder();
  std::ofstream(std::string(siteDir) + "/build.html") << kBuild;
  std::ofstream(std::string(siteDir) + "/filelist.txt", std::ios::binary) << f.ListText;
  TUpdatePackageDesc package = f.Package;
  package.BuildURL = std::string(site) + "build.html";
  package.FileListURL = std::string(site) + "filelist.txt";
  package.SiteRoot = site;
  TUpdateProcessor processor(nullptr);
  for (auto _ : state) {
    state.PauseTiming();
    GetIniFile()->WriteString(kUpdateSection, BuildKey(package.Id), kNoBuild);
    state.ResumeTiming();
    bool listFailed = false;
    processor.UpdatePackage(package, listFailed);
    if (listFailed) state.SkipWithError("file list not loaded");
  }
  if (GetIniFile()->ReadString(kUpdateSection, BuildKey(package.Id), kNoBuild) != kBuild)
    state.SkipWithError("build not stored: some file was fetched");
  state.SetItemsProcessed(int64_t(state.iterations()) * kFiles);
}
BENCHMARK(BM_UpdatePackageWhole)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
