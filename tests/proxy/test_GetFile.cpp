#include <gtest/gtest.h>

#include <string>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/FightAlert.h"
#include "platform/ProgramPath.h"
#include "support/TestFolder.h"

using namespace velm;

namespace {

struct TCountingSink : IFightAlertSink {
  int starts = 0, resets = 0;
  void StartFightAlert() override { ++starts; }
  void ResetFightAlert() override { ++resets; }
};

}  // namespace

TEST(GetFile, PackagePrefixesDecideWhatIsLocal) {
  test::TTestProgramFolder folder;
  TVelmAppSettings settings;
  const std::string root = GetSiteRoot();
  struct {
    std::string path, url;
    bool local;
  } cases[] = {
      {"/images/a.gif", root + "images/a.gif", true},
      {"/IMAGES/A.GIF", root + "IMAGES/A.GIF", true},  // prefixes compare with the lower-cased URL
      {"/info/x/y.jpg", root + "info/x/y.jpg", true},
      {"/info/client/VelmC2.exe", root + "info/client/VelmC2.exe", true},
      {"/images/map.swf", root + "images/map.swf?v=7", true},
      {"/ima", root + "ima", true},  // the beginning of a prefix counts as well
      {"/images/x.PHP", root + "images/x.PHP", false},
      {"/images/x.php", root + "images/x.php?a=1", false},
      {"/images/x.js", root + "images/x.js?1", false},
      {"/images/x.js", root + "images/x.js", true},
      {"/", root, false},
      {"", root, false},
      {"/index.php", root + "index.php", false},
      {"/shared/a.gif", root + "shared/a.gif", false},
      {"/images/a.gif", "http://other.example/images/a.gif", false},
  };
  for (const auto& c : cases) {
    std::string rootFolder = "unchanged";
    EXPECT_EQ(settings.GetFile(c.path, c.url, rootFolder), c.local) << c.url;
    EXPECT_EQ(rootFolder, c.local ? folder.Dir() + "pub" : "unchanged") << c.url;
  }
}

TEST(GetFile, LogsEveryRequestAndDrivesTheFightAlert) {
  test::TTestProgramFolder folder;
  TDebug log("VelmC2.log");
  Debug = &log;
  TVelmAppSettings settings;
  const std::string root = GetSiteRoot();
  std::string rootFolder;

  // Without a window nothing happens.
  settings.GetFile("/game.swf", root + "game.swf?1", rootFolder);

  TCountingSink sink;
  SetFightAlertSink(&sink);
  settings.GetFile("/game.swf", root + "GAME.SWF?2", rootFolder);
  settings.GetFile("/fight_finish.php", root + "fight_finish.php?x", rootFolder);
  settings.GetFile("/a", root + "fight_finish.php/game.swf?", rootFolder);
  SetFightAlertSink(nullptr);
  Debug = nullptr;

  EXPECT_EQ(sink.starts, 2);
  EXPECT_EQ(sink.resets, 1);
  std::string text = test::ReadWholeFile(folder.Path("VelmC2.log"));
  EXPECT_NE(text.find("GetFile: " + root + "game.swf?1"), std::string::npos);
  EXPECT_NE(text.find("GetFile: " + root + "fight_finish.php?x"), std::string::npos);
}
