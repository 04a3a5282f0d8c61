// Whole update runs against the demo game site, started as its own process on a free port: the
// first start mirrors every package, a published build is fetched file by file and nothing else.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>

#include "net/DataLoader.h"
#include "update/UpdateTestFixture.h"

extern char** environ;

namespace velm::test {
namespace {

// The demo site in a child process; stopped when the object goes.
class TDemoSiteProcess {
 public:
  explicit TDemoSiteProcess(const std::string& root) : fRoot(root) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string script = std::string(VELM_SOURCE_DIR) + "/tools/demo-site/demo_site.py";
    const char* argv[] = {"python3", script.c_str(), "--port", "0",
                          "--root",  root.c_str(),   nullptr};
    if (posix_spawnp(&fPid, "python3", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
      fPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // "demo-site: serving http://127.0.0.1:PORT/ ..." once it accepts connections.
    FILE* in = fdopen(out[0], "r");
    char line[512];
    if (in && fgets(line, sizeof line, in)) {
      std::string text = line;
      size_t at = text.find("http://");
      if (at != std::string::npos) fUrl = text.substr(at, text.find('/', at + 7) + 1 - at);
    }
    fOut = in;
  }
  ~TDemoSiteProcess() {
    if (fPid > 0) {
      kill(fPid, SIGTERM);
      waitpid(fPid, nullptr, 0);
    }
    if (fOut) fclose(fOut);
  }

  // "http://127.0.0.1:PORT/", empty when the site did not come up.
  const std::string& Url() const { return fUrl; }
  // Targets of the request log, in order.
  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    std::istringstream log(ReadWholeFile(fRoot + "requests.log"));
    std::string line;
    while (std::getline(log, line)) {
      std::vector<std::string> fields;
      std::istringstream split(line);
      std::string field;
      while (std::getline(split, field, '\t')) fields.push_back(field);
      if (fields.size() > 4) targets.push_back(fields[4].substr(1));
    }
    return targets;
  }

 private:
  std::string fRoot;
  std::string fUrl;
  pid_t fPid = -1;
  FILE* fOut = nullptr;
};

class UpdateDemoSiteTest : public UpdateTest {};

TEST_F(UpdateDemoSiteTest, FirstStartMirrorsThePackagesAndAPublishedBuildFetchesOnlyItsFiles) {
  TDemoSiteProcess demo(Folder.Path("site-root/"));
  ASSERT_FALSE(demo.Url().empty()) << "the demo site did not start";
  // The packages point at the demo site.
  setenv("VELM_SITE_ROOT", demo.Url().c_str(), 1);
  TVelmAppSettings settings;
  TAppSettings* previous = AppSettings;
  AppSettings = &settings;

  Run();
  EXPECT_TRUE(FilesUpdated);
  EXPECT_TRUE(UpdatedSuccessfully());
  EXPECT_EQ(IniString("Build2"), "2301");
  EXPECT_EQ(IniString("Build3"), "101");
  EXPECT_EQ(IniString("Build1"), "205");
  EXPECT_TRUE(FileExists(Folder.Path("readme.txt")));
  EXPECT_TRUE(FileExists(Folder.Path("pub/images/map.swf")));
  size_t firstRun = demo.Targets().size();
  EXPECT_GT(firstRun, 60u);

  std::string answer;
  TDataLoader control;
  ASSERT_TRUE(control.GetString(demo.Url() + "_demo/publish?package=game", answer, false));
  Run();
  auto targets = demo.Targets();
  std::vector<std::string> second(targets.begin() + static_cast<long>(firstRun), targets.end());
  // Three build pages, the game list, and the four files the publication changed or added.
  ASSERT_EQ(second.size(), 8u) << answer;
  EXPECT_EQ(second[0], "info/build.html");
  EXPECT_EQ(second[1], "shared/build.html");
  EXPECT_EQ(second[2], "pub/filelist.php");
  EXPECT_EQ(second[7], "info/client/build.html");
  for (size_t i = 3; i < 7; ++i) {
    EXPECT_NE(answer.find("\"" + second[i] + "\""), std::string::npos) << second[i];
    EXPECT_TRUE(FileExists(Folder.Path("pub/" + second[i]))) << second[i];
  }
  EXPECT_EQ(IniString("Build2"), "2302");
  AppSettings = previous;
}

}  // namespace
}  // namespace velm::test
