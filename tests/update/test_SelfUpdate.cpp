// Self-update with real processes. The test executable itself plays every process of the
// hand-over: started with "--hold-lock" it is the old client holding its folder's lock (and
// starting the replacement), started with "-selfupdate" it is the replacing NAME.new-exe, and
// started without arguments (with VELM_TEST_SELFUPDATE set) it is the restarted client. The roles
// run before the test framework starts and end the process.
#include "update/SelfUpdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/ProgramPath.h"
#include "platform/SingleInstance.h"
#include "support/TestFolder.h"

namespace velm {
namespace {

constexpr const char* kRoleEnv = "VELM_TEST_SELFUPDATE";
constexpr const char* kWaitEnv = "VELM_TEST_SELFUPDATE_WAIT_MS";

std::vector<std::string> OwnArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  return args;
}

// Written beside the executable under a temporary name and renamed, so a reader sees it whole.
void WriteMarker(const std::string& name, const std::string& text) {
  const std::string path = ExeDir() + name;
  std::ofstream(path + ".part", std::ios::binary) << text;
  std::rename((path + ".part").c_str(), path.c_str());
}

int RunRoleIfAsked() {
  const char* role = std::getenv(kRoleEnv);
  if (!role) return 0;
  std::vector<std::string> args = OwnArguments();
  if (args.size() >= 3 && args[1] == "--hold-lock") {
    TSingleInstance lock(ExeDir());
    if (!lock.Acquire()) _exit(3);
    WriteMarker("holder-ready", "1");
    RunProcess(SelfUpdateCommandLine());
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(args[2].c_str())));
    WriteMarker("holder-done", "1");
    _exit(0);
  }
  if (args.size() >= 2 && args[1] == kSelfUpdateSwitch) {
    const char* wait = std::getenv(kWaitEnv);
    bool ok = SelfUpdate(wait ? std::atoi(wait) : kSelfUpdateWaitMs);
    bool holderDone = test::FileExists(ExeDir() + "holder-done");
    WriteMarker("selfupdate-result", std::string(ok ? "1" : "0") + (holderDone ? " after" : ""));
    _exit(0);
  }
  if (args.size() == 1) {
    WriteMarker("restarted", "args=" + std::to_string(args.size() - 1) + " exe=" + ExePath());
    _exit(0);
  }
  return 0;
}

const int kRoleRun = RunRoleIfAsked();

bool WaitForFile(const std::string& path, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!test::FileExists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value) : fName(name) {
    setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() { unsetenv(fName); }

 private:
  const char* fName;
};

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

// A program folder with the old client "VelmC2" and the downloaded "VelmC2.new-exe" (the same
// program with other bytes at its end), dated like the site's file.
class SelfUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string self = test::ReadWholeFile("/proc/self/exe");
    fOldBytes = self;
    fNewBytes = self + "\nnew build\n";
    test::WriteWholeFile(fOld, fOldBytes);
    test::WriteWholeFile(fNew, fNewBytes);
    chmod(fOld.c_str(), 0755);
    chmod(fNew.c_str(), 0755);
    const timespec siteDate[2] = {{kSiteDate, 0}, {kSiteDate, 0}};
    utimensat(AT_FDCWD, fNew.c_str(), siteDate, 0);
  }

  static constexpr time_t kSiteDate = 1588328430;  // 1 May 2020 10:20:30 UTC
  test::TTestProgramFolder fFolder{"VelmC2"};
  const std::string fOld = fFolder.Path("VelmC2");
  const std::string fNew = fFolder.Path("VelmC2.new-exe");
  std::string fOldBytes, fNewBytes;
};

TEST_F(SelfUpdateTest, ReplacingProcessWaitsForTheOldOneThenCopiesAndRestarts) {
  TScopedEnv role(kRoleEnv, "1");
  TScopedEnv wait(kWaitEnv, "30000");
  ASSERT_TRUE(RunProcess(QuoteCommandLineToken(fOld) + " --hold-lock 700"));

  ASSERT_TRUE(WaitForFile(fFolder.Path("restarted"), 60000));
  EXPECT_EQ(test::ReadWholeFile(fFolder.Path("selfupdate-result")), "1 after")
      << "the copy must wait until the old client has ended";
  EXPECT_EQ(test::ReadWholeFile(fFolder.Path("restarted")), "args=0 exe=" + fOld);

  EXPECT_TRUE(test::ReadWholeFile(fOld) == fNewBytes) << "the old name holds the new program";
  EXPECT_TRUE(test::ReadWholeFile(fNew) == fNewBytes) << "the .new-exe stays";
  for (const std::string& path : {fOld, fNew}) {
    struct stat st = StatOf(path);
    EXPECT_EQ(st.st_mtime, kSiteDate) << path;
    EXPECT_EQ(st.st_mode & 0777, 0755u) << path;
  }
}

TEST_F(SelfUpdateTest, GivesUpWhenTheOldProcessNeverEnds) {
  TScopedEnv role(kRoleEnv, "1");
  TScopedEnv wait(kWaitEnv, "300");
  ASSERT_TRUE(RunProcess(QuoteCommandLineToken(fOld) + " --hold-lock 4000"));

  ASSERT_TRUE(WaitForFile(fFolder.Path("selfupdate-result"), 30000));
  EXPECT_EQ(test::ReadWholeFile(fFolder.Path("selfupdate-result")), "0");
  EXPECT_TRUE(test::ReadWholeFile(fOld) == fOldBytes) << "the old program is untouched";
  EXPECT_FALSE(test::FileExists(fFolder.Path("restarted")));
  // Let the stand-in end before its folder goes.
  EXPECT_TRUE(WaitForSingleInstanceRelease(fFolder.Dir(), 30000));
}

TEST_F(SelfUpdateTest, RefusesToRunFromAFileThatIsNotTheNewExe) {
  // The test process "is" VelmC2 here: there is no name to restore.
  EXPECT_FALSE(SelfUpdate(100));
  EXPECT_TRUE(test::ReadWholeFile(fOld) == fOldBytes);
}

TEST(SelfUpdateCommandLine, NamesTheNewExeAndTheSwitch) {
  {
    test::TTestProgramFolder folder("VelmC2");
    EXPECT_EQ(SelfUpdateCommandLine(), folder.Path("VelmC2.new-exe") + " -selfupdate");
  }
  OverrideExePathForTesting("/opt/my games/VelmC2");
  EXPECT_EQ(SelfUpdateCommandLine(), "\"/opt/my games/VelmC2.new-exe\" -selfupdate");
  EXPECT_EQ(SplitCommandLine(SelfUpdateCommandLine())[1], "-selfupdate");
  OverrideExePathForTesting("");
}

TEST(RunProcess, SplitsTheCommandLineIntoProgramAndArguments) {
  struct {
    const char* Line;
    std::vector<std::string> Tokens;
  } cases[] = {
      {"/a/b -selfupdate", {"/a/b", "-selfupdate"}},
      {"  /a/b   x\ty ", {"/a/b", "x", "y"}},
      {"\"/my dir/b\" -selfupdate", {"/my dir/b", "-selfupdate"}},
      {"a\"b c\"d \"\"", {"ab cd", ""}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.Line), c.Tokens) << c.Line;
}

TEST(RunProcess, ChildGetsTheCallersFolderAndEnvironmentAndLeavesNoZombie) {
  test::TTestProgramFolder folder;
  TScopedEnv var("VELM_TEST_RUNPROCESS", "value 1");
  ASSERT_TRUE(
      RunProcess("/bin/sh -c \"pwd > out.part; echo $VELM_TEST_RUNPROCESS >> out.part; "
                 "mv out.part out.txt\""));
  // Nothing of ours is left to wait for: the starter was reaped, the program is not our child.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  ASSERT_TRUE(WaitForFile(folder.Path("out.txt"), 10000));
  std::string dir = folder.Dir();
  dir.pop_back();
  EXPECT_EQ(test::ReadWholeFile(folder.Path("out.txt")), dir + "\nvalue 1\n");
}

TEST(RunProcess, FailsForAProgramThatCannotBeStarted) {
  test::TTestProgramFolder folder;
  test::WriteWholeFile(folder.Path("not-runnable"), "#!/bin/sh\n");
  EXPECT_FALSE(RunProcess("/nonexistent/program -x"));
  EXPECT_FALSE(RunProcess(folder.Path("not-runnable")));
  EXPECT_FALSE(RunProcess("   "));
}

}  // namespace
}  // namespace velm
