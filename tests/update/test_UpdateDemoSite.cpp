// Whole update runs against the demo game site, started as its own process on a free port: the
// first start mirrors every package, a published build is fetched file by file and nothing else.
#include <gtest/gtest.h>

#include "net/DataLoader.h"
#include "support/DemoSiteProcess.h"
#include "update/UpdateTestFixture.h"

namespace velm::test {
namespace {

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
