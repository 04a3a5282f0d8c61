// Whole update runs against the loopback test site, in a temporary program folder: what is
// fetched, where it lands, which dates it gets, and what the run leaves in the flags and the INI.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "update/UpdateTestFixture.h"
#include "update/UpdateThread.h"

namespace velm::test {
namespace {

const TDateTime kSiteDate = EncodeDateTime(2025, 3, 14, 10, 20, 30);
constexpr TDateTime kMinute = 1.0 / (24 * 60);

std::string Bytes(size_t n, char c = 'x') {
  return std::string(n, c);
}
std::string IniStringOf(const std::string& key) {
  return GetIniFile()->ReadString("Main", key, "<none>");
}

class UpdateRunTest : public UpdateTest {
 protected:
  // A small site: two portal graphics, three game files, one client file.
  void PublishSite() {
    Site.PutFile("info/pics/logo.gif", "GIF89a-logo", kSiteDate);
    Site.PutFile("info/pics/back.jpg", Bytes(3000, 'j'), kSiteDate + 1);
    Site.PutFile("images/a.gif", "GIF89a-a", kSiteDate);
    Site.PutFile("images/sub/deep/b.swf", Bytes(1048, 's'), kSiteDate - 2);
    Site.PutFile("images/c.js", "var c = 1;", kSiteDate);
    Site.PutFile("info/client/readme.txt", "read me", kSiteDate);
  }
  std::vector<std::string> NewTargets(size_t before) const {
    auto all = Site.Targets();
    return {all.begin() + static_cast<long>(before), all.end()};
  }
};

TEST_F(UpdateRunTest, FirstStartFetchesEveryFileDatesItAndAdoptsLocalFilesThatAreNotOlder) {
  PublishSite();
  Site.PutFile("images/kept.gif", "GIF89a-site", kSiteDate);
  Site.PutFile("images/stale.gif", "GIF89a-new", kSiteDate);
  WriteWholeFile(Folder.Path("pub/images/kept.gif"), "GIF89a-local");
  ASSERT_TRUE(SetFileDate("pub/images/kept.gif", kSiteDate + 2 * kMinute));
  WriteWholeFile(Folder.Path("pub/images/stale.gif"), "GIF89a-old");
  ASSERT_TRUE(SetFileDate("pub/images/stale.gif", kSiteDate - 2 * kMinute));
  // A slow list keeps the run going for a few refreshes of the waiting thread.
  Site.SetAnswerDelay(TUpdateTestSite::kGameList, 600);
  std::atomic<int> waits{0};
  const auto waiter = std::this_thread::get_id();
  auto previous = SetUpdateWaitHandler([&](int ms) {
    EXPECT_EQ(std::this_thread::get_id(), waiter);
    ++waits;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  });
  Run();
  SetUpdateWaitHandler(previous);

  const std::pair<const char*, const char*> landed[] = {
      {"pub/info/pics/logo.gif", "info/pics/logo.gif"},
      {"pub/info/pics/back.jpg", "info/pics/back.jpg"},
      {"pub/images/a.gif", "images/a.gif"},
      {"pub/images/sub/deep/b.swf", "images/sub/deep/b.swf"},
      {"pub/images/c.js", "images/c.js"},
      {"readme.txt", "info/client/readme.txt"},
      {"pub/images/stale.gif", "images/stale.gif"}};
  for (const auto& [local, remote] : landed) EXPECT_EQ(Site.CountTarget(remote), 1u) << remote;
  EXPECT_EQ(ReadWholeFile(Folder.Path("pub/images/sub/deep/b.swf")), Bytes(1048, 's'));
  EXPECT_EQ(ReadWholeFile(Folder.Path("readme.txt")), "read me");
  EXPECT_EQ(ReadWholeFile(Folder.Path("pub/images/stale.gif")), "GIF89a-new");
  ExpectDated("pub/info/pics/back.jpg", kSiteDate + 1);
  ExpectDated("pub/images/sub/deep/b.swf", kSiteDate - 2);
  ExpectDated("readme.txt", kSiteDate);
  // Newer than the site's copy: kept, and given the site's date.
  EXPECT_EQ(Site.CountTarget("images/kept.gif"), 0u);
  EXPECT_EQ(ReadWholeFile(Folder.Path("pub/images/kept.gif")), "GIF89a-local");
  ExpectDated("pub/images/kept.gif", kSiteDate);

  EXPECT_TRUE(UpdatedSuccessfully());
  EXPECT_EQ(IniString("Build3"), "100");
  EXPECT_EQ(IniString("Build2"), "200");
  EXPECT_EQ(IniString("Build1"), "300");
  EXPECT_TRUE(FilesUpdated);
  EXPECT_FALSE(LastAllListsFailed);
  EXPECT_FALSE(ClientUpdated);

  EXPECT_TRUE(Log.HasLine("Обновление файлов графики Игры"));
  EXPECT_EQ(Log.CountLines("Запрос свежих обновлений ... новый список файлов получен"), 3u);
  EXPECT_TRUE(Log.HasLine("Загрузка b.swf ... [2kb]. Oк"));
  // Lists are the only requests that accept compression; the site sent them gzip-encoded.
  for (const auto& r : Site.Requests()) {
    bool isList = r.Target.find("filelist.php") != std::string::npos;
    EXPECT_EQ(r.HasHeader("Accept-Encoding"), isList) << r.Target;
  }
  // The worker reports; the waiting thread refreshes, about every 100 ms.
  for (auto id : Log.EventThreads()) EXPECT_NE(id, waiter);
  auto refreshes = Log.RefreshThreads();
  EXPECT_GE(refreshes.size(), 2u);
  for (auto id : refreshes) EXPECT_EQ(id, waiter);
  EXPECT_GE(waits.load(), 20);
  // One refresh per fifty 2 ms waits: about every 100 ms.
  EXPECT_LE(refreshes.size(), static_cast<size_t>(waits.load() / 50 + 1));
}

TEST_F(UpdateRunTest, UnchangedBuildsAskOnlyTheBuildPagesAndAPublishedBuildFetchesWhatChanged) {
  PublishSite();
  Run();
  ASSERT_TRUE(UpdatedSuccessfully());

  size_t before = Site.Requests().size();
  Run();
  EXPECT_EQ(NewTargets(before),
            (std::vector<std::string>{TUpdateTestSite::kInfoBuild, TUpdateTestSite::kGameBuild,
                                      TUpdateTestSite::kClientBuild}));
  EXPECT_EQ(Log.CountLines("Запрос свежих обновлений ...  нет."), 3u);
  EXPECT_TRUE(FilesUpdated);

  // The game package publishes a new build: one file changed, one file added.
  Site.PutFile("images/a.gif", "GIF89a-a2", kSiteDate + 3);
  Site.PutFile("images/new.gif", "GIF89a-n", kSiteDate + 3);
  Site.SetBuild(TUpdateTestSite::kGameBuild, "201\r\n");
  before = Site.Requests().size();
  Run();
  EXPECT_EQ(NewTargets(before),
            (std::vector<std::string>{TUpdateTestSite::kInfoBuild, TUpdateTestSite::kGameBuild,
                                      TUpdateTestSite::kGameList, "images/a.gif", "images/new.gif",
                                      TUpdateTestSite::kClientBuild}));
  EXPECT_EQ(ReadWholeFile(Folder.Path("pub/images/a.gif")), "GIF89a-a2");
  ExpectDated("pub/images/a.gif", kSiteDate + 3);
  EXPECT_EQ(IniString("Build2"), "201");
}

TEST_F(UpdateRunTest, StoredBuildsThatMatchReachTheSiteWithoutAListAndMarkTheUpdateSuccessful) {
  PublishSite();
  for (const auto& [key, build] :
       {std::pair{"Build3", "100"}, {"Build2", "200"}, {"Build1", "300"}})
    GetIniFile()->WriteString("Main", key, build);
  Run();
  EXPECT_EQ(Site.Targets(),
            (std::vector<std::string>{TUpdateTestSite::kInfoBuild, TUpdateTestSite::kGameBuild,
                                      TUpdateTestSite::kClientBuild}));
  EXPECT_FALSE(LastAllListsFailed);
  EXPECT_TRUE(FilesUpdated);
  EXPECT_TRUE(UpdatedSuccessfully());
}

TEST_F(UpdateRunTest, ClientVersionIsComparedWithAndSavedToCurrentVersion) {
  TUpdateProcessor processor(&Log);
  EXPECT_TRUE(processor.ClientVersionChanged());
  GetIniFile()->WriteString("Main", "CurrentVersion", "2.04");
  EXPECT_TRUE(processor.ClientVersionChanged());
  processor.SaveClientVersion();
  EXPECT_EQ(IniString("CurrentVersion"), "2.05");
  EXPECT_FALSE(processor.ClientVersionChanged());
}

TEST_F(UpdateRunTest, OneMissingFileAmongManyLeavesTheOthersFetchedAndTheBuildUnstored) {
  for (int i = 0; i < 12; ++i)
    Site.PutFile("images/f" + std::to_string(i) + ".gif", "GIF89a-" + std::to_string(i), kSiteDate);
  Site.SetBroken("images/f5.gif", true);
  Run();

  for (int i = 0; i < 12; ++i) {
    std::string local = "pub/images/f" + std::to_string(i) + ".gif";
    EXPECT_EQ(FileExists(Folder.Path(local)), i != 5) << local;
  }
  EXPECT_TRUE(Log.HasLine("Загрузка f5.gif ... ошибка: загрузить не удалось"));
  EXPECT_NE(ReadWholeFile(ChangeFileExt(Folder.ExePath(), ".log"))
                .find("HTTP error 404 - " + Site.Root() + "images/f5.gif"),
            std::string::npos);
  EXPECT_EQ(IniString("Build2"), "<none>");
  EXPECT_EQ(IniString("Build3"), "100");
  // The package was reached: the run counts as a success.
  EXPECT_TRUE(FilesUpdated);
  EXPECT_TRUE(UpdatedSuccessfully());

  // The next run walks the list again and fetches only what is still missing.
  Site.SetBroken("images/f5.gif", false);
  size_t before = Site.Requests().size();
  Run();
  EXPECT_EQ(NewTargets(before),
            (std::vector<std::string>{TUpdateTestSite::kInfoBuild, TUpdateTestSite::kGameBuild,
                                      TUpdateTestSite::kGameList, "images/f5.gif",
                                      TUpdateTestSite::kClientBuild}));
  EXPECT_EQ(IniString("Build2"), "200");
}

TEST_F(UpdateRunTest, StopRequestMidRunEndsTheRunAndChangesNoFlagOrKey) {
  PublishSite();
  // Stop as soon as the game package has downloaded its first file.
  std::string package;
  Log.OnEventHook = [&](uint8_t kind, const std::string& text) {
    if (kind == kUpdEventPackage) package = text;
    if (kind == kUpdEventResult && text.find("kb]") != std::string::npos &&
        package == "Обновление файлов графики Игры")
      Log.Cancel = true;
  };
  TUpdateProcessor processor(&Log);
  processor.AllListsFailed = true;
  processor.RunUpdate();

  auto lines = Log.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Обновление прервано пользователем");
  EXPECT_EQ(lines.back(), "");
  EXPECT_EQ(Site.CountTarget("images/a.gif") + Site.CountTarget("images/c.js") +
                Site.CountTarget("images/sub/deep/b.swf"),
            1u);
  EXPECT_EQ(Site.CountTarget(TUpdateTestSite::kClientBuild), 0u);
  EXPECT_EQ(IniString("Build2"), "<none>");
  EXPECT_EQ(IniString("Build1"), "<none>");
  EXPECT_EQ(IniString("UpdatedSuccessfully"), "<none>");
  EXPECT_TRUE(processor.AllListsFailed);
  EXPECT_FALSE(FilesUpdated);
}

TEST_F(UpdateRunTest, UnreachableSiteFailsEveryListAndLeavesUpdatedSuccessfullyAlone) {
  const std::string root = Site.Root();
  Site.Server.Stop();
  FilesUpdated = true;
  Run();

  EXPECT_TRUE(LastAllListsFailed);
  EXPECT_FALSE(FilesUpdated);
  EXPECT_EQ(IniString("UpdatedSuccessfully"), "<none>");
  for (const char* list : {"info/filelist.php", "pub/filelist.php", "info/client/filelist.php"})
    EXPECT_TRUE(Log.HasLine("Запрос свежих обновлений ... ошибка: загрузить не удалось (" + root +
                            list + ")."))
        << list;
  EXPECT_EQ(IniString("Build3"), "<none>");
}

TEST_F(UpdateRunTest, CorruptOrTruncatedGzipListEndsTheRunWithoutChangingFlagsOrKeys) {
  PublishSite();
  const std::string good = GzipBytes(Site.ListText(TUpdateTestSite::kInfoList));
  const std::string bodies[] = {good.substr(0, good.size() / 2),
                                good.substr(0, 10) + Bytes(good.size(), '\x5a')};
  for (const std::string& body : bodies) {
    Site.OverrideAnswer(TUpdateTestSite::kInfoList,
                        HttpAnswer("200 OK", body, {"Content-Encoding: gzip"}));
    Run();
    EXPECT_FALSE(FilesUpdated);
    EXPECT_EQ(IniString("UpdatedSuccessfully"), "<none>");
    EXPECT_EQ(IniString("Build3"), "<none>");
    EXPECT_EQ(Site.CountTarget(TUpdateTestSite::kGameBuild), 0u);
    EXPECT_FALSE(FileExists(Folder.Path("pub/info/pics/logo.gif")));
  }
  EXPECT_NE(ReadWholeFile(ChangeFileExt(Folder.ExePath(), ".log")).find("Exception: "),
            std::string::npos);
}

// The running executable, older than the site's copy, and a list that names it.
void ExpectClientLandsAsNewExe(UpdateTest& t, const std::string& listed) {
  t.Site.PutFile(listed, "ELF-new-client", kSiteDate);
  WriteWholeFile(t.Folder.ExePath(), "ELF-running-client");
  ASSERT_TRUE(SetFileDate(t.Folder.ExePath(), kSiteDate - 1));
  t.Run();

  EXPECT_TRUE(ClientUpdated);
  EXPECT_EQ(ReadWholeFile(t.Folder.ExePath()), "ELF-running-client");
  EXPECT_EQ(ReadWholeFile(t.Folder.Path("VelmC2.new-exe")), "ELF-new-client");
  UpdateTest::ExpectDated("VelmC2.new-exe", kSiteDate);
  EXPECT_TRUE(t.Log.HasLine("Загрузка VelmC2.new-exe ... [0kb]. Oк"));
  EXPECT_EQ(IniStringOf("Build1"), "300");
}

TEST_F(UpdateRunTest, ClientExecutableInTheListLandsAsNewExe) {
  ExpectClientLandsAsNewExe(*this, "info/client/VelmC2");
}

// Letter case of the list name does not matter; the file takes the executable's own name, the
// one the hand-off starts.
TEST_F(UpdateRunTest, ClientExecutableListedInOtherLetterCaseLandsUnderTheExecutablesName) {
  ExpectClientLandsAsNewExe(*this, "info/client/VELMC2");
  EXPECT_FALSE(FileExists(Folder.Path("VELMC2.new-exe")));
}

TEST_F(UpdateRunTest, SizesAreReportedInKilobytesRoundedTheClientsWay) {
  Site.PutFile("images/zero.gif", "", kSiteDate);
  Site.PutFile("images/small.gif", Bytes(24), kSiteDate);
  Site.PutFile("images/large.gif", Bytes(1048), kSiteDate);
  Run();
  EXPECT_TRUE(Log.HasLine("Загрузка zero.gif ... [0kb]. Oк"));
  EXPECT_TRUE(Log.HasLine("Загрузка small.gif ... [1kb]. Oк"));
  EXPECT_TRUE(Log.HasLine("Загрузка large.gif ... [2kb]. Oк"));
  // "Oк" is a Latin O and a Cyrillic ka (0xEA in the client's code page).
  bool found = false;
  for (const auto& [kind, text] : Log.Events()) found |= text == "[1kb]. O\xEA";
  EXPECT_TRUE(found);
  EXPECT_EQ(FileExists(Folder.Path("pub/images/zero.gif")), true);
}

TEST_F(UpdateRunTest, StoredErrorPageInPlaceOfAGraphicIsFetchedAgain) {
  PublishSite();
  Site.PutFile("images/notes.txt", "notes", kSiteDate);
  Run();
  // Error pages stored over files whose dates still match the site's.
  WriteWholeFile(Folder.Path("pub/images/a.gif"), "<HTML><body>502</body></html>");
  WriteWholeFile(Folder.Path("pub/images/notes.txt"), "<html>");
  ASSERT_TRUE(SetFileDate("pub/images/a.gif", kSiteDate));
  ASSERT_TRUE(SetFileDate("pub/images/notes.txt", kSiteDate));
  Site.SetBuild(TUpdateTestSite::kGameBuild, "201");
  Run();
  EXPECT_EQ(Site.CountTarget("images/a.gif"), 2u);
  EXPECT_EQ(ReadWholeFile(Folder.Path("pub/images/a.gif")), "GIF89a-a");
  EXPECT_EQ(Site.CountTarget("images/notes.txt"), 1u);
  EXPECT_EQ(Site.CountTarget("images/c.js"), 1u);
}

TEST_F(UpdateRunTest, AnUnreadableLocalCopyIsFetchedAgainWithoutEndingTheRun) {
  PublishSite();
  // A folder where the list names a graphic: newer than the site's copy, so adopted by its
  // date in full-check mode, but it cannot be read.
  std::filesystem::create_directories(Folder.Path("pub/images/a.gif"));
  Run();
  EXPECT_EQ(Site.CountTarget("images/a.gif"), 1u);
  EXPECT_TRUE(Log.HasLine("Загрузка a.gif ... ошибка: загрузить не удалось"));
  EXPECT_TRUE(FileExists(Folder.Path("pub/images/c.js")));
  EXPECT_EQ(IniString("Build2"), "<none>");
  EXPECT_EQ(IniString("Build1"), "300");
  EXPECT_TRUE(FilesUpdated);
}

TEST_F(UpdateRunTest, UnreadableBuildPageWalksTheListAndStoresBuildZero) {
  PublishSite();
  Site.OverrideAnswer(TUpdateTestSite::kGameBuild, HttpAnswer("500 Internal Server Error", ""));
  Site.SetBuild(TUpdateTestSite::kInfoBuild, " \t\r\n");
  Run();
  EXPECT_EQ(IniString("Build2"), "0");
  EXPECT_EQ(IniString("Build3"), "0");
  EXPECT_EQ(Site.CountTarget(TUpdateTestSite::kGameList), 1u);
  EXPECT_TRUE(FileExists(Folder.Path("pub/images/a.gif")));
}

TEST_F(UpdateRunTest, ListWithOnlyItsFirstLineStoresTheBuildAndReportsFullProgress) {
  Run();
  EXPECT_EQ(IniString("Build2"), "200");
  EXPECT_EQ(Log.Progress(), (std::vector<double>{1.0, 1.0, 1.0}));
}

TEST_F(UpdateRunTest, ListNamesThatLeaveTheProgramFolderAreNeverWritten) {
  std::string outside = Folder.Dir() + "../velm-escape-" + std::to_string(getpid()) + ".gif";
  std::string absolute = "/tmp/velm-escape-abs-" + std::to_string(getpid());
  Site.PutFile("images/ok.gif", "GIF89a", kSiteDate);
  Site.AddRawListLine(
      TUpdateTestSite::kGameList,
      "images/../../velm-escape-" + std::to_string(getpid()) + ".gif\t" + ListDate(kSiteDate));
  Site.AddRawListLine(TUpdateTestSite::kClientList,
                      "info/client/" + absolute + "\t" + ListDate(kSiteDate));
  Site.AddRawListLine(TUpdateTestSite::kClientList,
                      "info/client/../escape.txt\t" + ListDate(kSiteDate));
  Run();
  EXPECT_FALSE(FileExists(outside));
  EXPECT_FALSE(FileExists(absolute));
  EXPECT_FALSE(FileExists(Folder.Dir() + "../escape.txt"));
  EXPECT_TRUE(FileExists(Folder.Path("pub/images/ok.gif")));
  EXPECT_EQ(IniString("Build1"), "300");
}

TEST_F(UpdateRunTest, BackgroundRunSkipsTheClientPackageSilently) {
  PublishSite();
  Run();
  StartupUpdateDone = true;
  size_t before = Site.Requests().size();
  size_t linesBefore = Log.Lines().size();
  Run();
  EXPECT_EQ(NewTargets(before),
            (std::vector<std::string>{TUpdateTestSite::kInfoBuild, TUpdateTestSite::kGameBuild}));
  auto lines = Log.Lines();
  std::vector<std::string> background(lines.begin() + static_cast<long>(linesBefore), lines.end());
  EXPECT_EQ(background,
            (std::vector<std::string>{
                "Обновление файлов графики Инфопортала", "Запрос свежих обновлений ...  нет.",
                "Обновление файлов графики Игры", "Запрос свежих обновлений ...  нет."}));
  EXPECT_TRUE(FilesUpdated);
}

}  // namespace
}  // namespace velm::test
