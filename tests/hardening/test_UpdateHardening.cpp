// The updater against a site and a disk that fail: a download cut in the middle, a disk that
// fills up, the process killed in the middle of a run, file lists that are huge, have huge lines
// or unpack into a bomb. No mirror file is ever torn, the next run repairs what is stale, and
// the INI file stays whole.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "net/ZLib.h"
#include "support/GzipBomb.h"
#include "update/UpdateTestFixture.h"

using namespace velm;
using namespace velm::test;
namespace fs = std::filesystem;

namespace {

const TDateTime kSiteDate = EncodeDateTime(2011, 2, 4, 9, 0, 0);

std::string Bytes(size_t n, char seed) {
  std::string s(n, seed);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i % 251);
  return s;
}

class UpdateHardening : public UpdateTest {
 protected:
  UpdateHardening() {
    for (int i = 0; i < 6; ++i) {
      const std::string name = "images/f" + std::to_string(i) + ".gif";
      fFiles[name] = Bytes(100000 + i * 1000, static_cast<char>('a' + i));
      Site.PutFile(name, fFiles[name], kSiteDate + i);
    }
  }
  // Every file below pub/ is one the site lists, with exactly the site's bytes: nothing torn,
  // no temporary file left behind.
  void ExpectNothingTorn() {
    if (!fs::exists(Folder.Path("pub"))) return;
    for (const auto& entry : fs::recursive_directory_iterator(Folder.Path("pub"))) {
      if (!entry.is_regular_file()) continue;
      const std::string relative = fs::relative(entry.path(), Folder.Path("pub")).string();
      auto site = fFiles.find(relative);
      ASSERT_NE(site, fFiles.end()) << "stray file " << relative;
      EXPECT_TRUE(test::ReadWholeFile(entry.path().string()) == site->second)
          << "torn " << relative;
    }
  }
  void ExpectAllCurrent() {
    for (const auto& [name, bytes] : fFiles) {
      EXPECT_TRUE(test::ReadWholeFile(Folder.Path("pub/" + name)) == bytes) << name;
    }
    EXPECT_EQ(IniString("Build2"), "200");
  }
  // The INI file parses and still holds what was there before the fault.
  void ExpectIniWhole() { EXPECT_EQ(GetIniFile()->ReadString("Keep", "Setting", ""), "kept"); }
  // Runs a whole update in a child process with a file size limit; returns its wait status.
  int RunInChild(rlim_t fileSizeLimit, bool killWhenSeen, const std::string& seen = "") {
    const pid_t child = ::fork();
    if (child == 0) {
      rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      if (fileSizeLimit != RLIM_INFINITY) {
        rlimit limit{fileSizeLimit, fileSizeLimit};
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      TUpdateProcessor processor(nullptr);
      processor.UpdateAll();
      ::_exit(0);
    }
    if (killWhenSeen) {
      for (int i = 0; i < 1000 && Site.CountTarget(seen) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_EQ(Site.CountTarget(seen), 1u);
      ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
  }

  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder.Dir()))
      names.insert(entry.path().filename().string());
    return names;
  }

  std::map<std::string, std::string> fFiles;
};

TEST_F(UpdateHardening, KilledInTheMiddleOfARunLeavesNothingTornAndTheNextRunRepairs) {
  GetIniFile()->WriteString("Keep", "Setting", "kept");
  // The run stalls on the fourth download; it is killed while it waits.
  Site.SetAnswerDelay("images/f3.gif", 3000);
  const int status = RunInChild(RLIM_INFINITY, true, "images/f3.gif");
  ASSERT_TRUE(WIFSIGNALED(status));
  ExpectNothingTorn();
  ExpectIniWhole();
  EXPECT_NE(IniString("Build2"), "200");  // the package is not taken as done
  EXPECT_FALSE(test::FileExists(Folder.Path("pub/images/f3.gif")));

  Site.SetAnswerDelay("images/f3.gif", 0);
  Run();
  ExpectAllCurrent();
  ExpectIniWhole();
}

TEST_F(UpdateHardening, FullDiskFailsTheDownloadsWithoutTornFilesAndTheNextRunRepairs) {
  GetIniFile()->WriteString("Keep", "Setting", "kept");
  // Room for small files (INI, log, build pages) but not for one whole picture.
  const int status = RunInChild(50000, false);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ExpectNothingTorn();
  for (const auto& [name, bytes] : fFiles)
    EXPECT_FALSE(test::FileExists(Folder.Path("pub/" + name))) << name;
  ExpectIniWhole();
  EXPECT_NE(IniString("Build2"), "200");

  Run();
  ExpectAllCurrent();
}

TEST_F(UpdateHardening, DownloadCutInTheMiddleKeepsTheOldFileAndIsRetriedNextRun) {
  Run();
  ExpectAllCurrent();
  // The site has a new f2, but the first attempt at it breaks off half way.
  const std::string fresh = Bytes(120000, 'z');
  Site.PutFile("images/f2.gif", fresh, kSiteDate + 10);
  Site.SetBuild(TUpdateTestSite::kGameBuild, "201");
  Site.OverrideAnswer("images/f2.gif",
                      "HTTP/1.1 200 OK\r\nContent-Length: 120000\r\n"
                      "Connection: close\r\n\r\n" +
                          fresh.substr(0, 60000),
                      true);
  Run();
  EXPECT_TRUE(test::ReadWholeFile(Folder.Path("pub/images/f2.gif")) == fFiles["images/f2.gif"]);
  EXPECT_EQ(IniString("Build2"), "200");
  ExpectNothingTorn();

  Site.OverrideAnswer("images/f2.gif", HttpAnswer("200 OK", fresh));
  fFiles["images/f2.gif"] = fresh;
  Run();
  EXPECT_TRUE(test::ReadWholeFile(Folder.Path("pub/images/f2.gif")) == fresh);
  EXPECT_EQ(IniString("Build2"), "201");
}

TEST_F(UpdateHardening, FileListBombIsRefusedAndLoggedAndTheRunGoesOn) {
  Site.OverrideAnswer(
      TUpdateTestSite::kGameList,
      HttpAnswer("200 OK", GzipOfZeros(kMaxDecompressedSize * 2), {"Content-Encoding: gzip"}));
  Run();
  const std::string log = test::ReadWholeFile(ChangeFileExt(Folder.ExePath(), ".log"));
  EXPECT_NE(log.find("Body refused"), std::string::npos) << log;
  EXPECT_NE(log.find(TUpdateTestSite::kGameList), std::string::npos);
  EXPECT_NE(IniString("Build2"), "200");
  // The other packages were still brought up to date.
  EXPECT_EQ(IniString("Build3"), "100");
  ExpectNothingTorn();
}

TEST_F(UpdateHardening, MillionLineAndHugeLineFileListsGetABoundedOutcome) {
  // A million lines the walk must skip (bad dates, names leaving the folder), around real ones.
  for (int i = 0; i < 1000000; ++i)
    Site.AddRawListLine(TUpdateTestSite::kGameList,
                        i % 2 ? "images/j" + std::to_string(i) + ".gif\t2011.13.40 99-99-99"
                              : "../escape" + std::to_string(i) + "\t2011.02.04 09-00-00");
  // Lines of 100 KiB: a name too long for any file system, and a line without a tab.
  Site.AddRawListLine(TUpdateTestSite::kGameList,
                      "images/" + std::string(100 << 10, 'n') + "\t2011.02.04 09-00-00");
  Site.AddRawListLine(TUpdateTestSite::kGameList, std::string(100 << 10, 'x'));
  ASSERT_GT(Site.ListText(TUpdateTestSite::kGameList).size(), size_t{30} << 20);
  const auto start = std::chrono::steady_clock::now();
  Run();
  const auto took =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_LT(took, 60);
  EXPECT_EQ(Site.CountTarget(TUpdateTestSite::kGameList), 1u);
  for (const auto& [name, bytes] : fFiles)
    EXPECT_TRUE(test::ReadWholeFile(Folder.Path("pub/" + name)) == bytes) << name;
  ExpectNothingTorn();
  EXPECT_FALSE(fs::exists(Folder.Path("escape0")));
  EXPECT_FALSE(fs::exists(Folder.Path("../escape0")));
}

TEST_F(UpdateHardening, ReadOnlyProgramFolderLosesWritesQuietlyAndKeepsTheIniWhole) {
  GetIniFile()->WriteString("Keep", "Setting", "kept");
  const std::string ini = GetIniFile()->FileName();
  const std::string before = test::ReadWholeFile(ini);
  const std::set<std::string> entriesBefore = Entries();
  // Root may write anywhere, so the run happens in a child that has become "nobody".
  ASSERT_EQ(::chmod(Folder.Dir().c_str(), 0555), 0);
  ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    try {
      GetIniFile()->WriteString("Keep", "Setting", "changed");
      GetIniFile()->WriteString("Main", "Other", "1");
      TUpdateProcessor processor(nullptr);
      processor.UpdateAll();
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ::chmod(Folder.Dir().c_str(), 0755);
  ::chmod(ini.c_str(), 0644);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(test::ReadWholeFile(ini), before);
  EXPECT_FALSE(fs::exists(Folder.Path("pub")));
  EXPECT_EQ(Entries(), entriesBefore);  // no temporary file either
  // Writable again: the next run brings everything up to date.
  Run();
  ExpectAllCurrent();
}

}  // namespace
