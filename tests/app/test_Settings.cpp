#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/IniFile.h"
#include "app/Md5.h"
#include "app/ProcessModules.h"
#include "app/UrlHistory.h"
#include "platform/Encoding.h"
#include "platform/ProgramPath.h"
#include "support/TestFolder.h"

using namespace velm;

TEST(Md5, Rfc1321Vectors) {
  struct Case {
    std::string input;
    const char* hex;
  } cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {[] {
         std::string s;
         for (int i = 0; i < 8; ++i) s += "1234567890";
         return s;
       }(),
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MD5DigestToHex(MD5Buffer(c.input.data(), c.input.size())), c.hex) << c.input;
  }
}

TEST(Md5, StreamDigestRestoresPositionAndDigestsAreAssembled) {
  std::string big(10000, 'q');
  TMemoryStream stream(big);
  stream.SetPosition(1234);
  EXPECT_TRUE(MD5Equal(MD5Stream(stream), MD5Buffer(big.data(), big.size())));
  EXPECT_EQ(stream.Position(), 1234u);
  // The words are laid out in memory order, as the digest's bytes.
  TMD5Digest d = MakeDigest(0xD98C1DD4, 0x04B2008F, 0x980980E9, 0x7E42F8EC);
  EXPECT_EQ(MD5DigestToHex(d), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(AppSettings, FixedFactsAndPackageTable) {
  test::TTestProgramFolder folder;
  setenv("VELM_SITE_ROOT", "http://Game.Example:8080/", 1);
  unsetenv("VELM_PROXY_PORT");
  TVelmAppSettings settings(MakeDigest(1, 2, 3, 4));
  EXPECT_EQ(settings.GetClientVersion(), "2.05");
  EXPECT_EQ(settings.GetProxyPort(), 15220);
  EXPECT_EQ(settings.GetRegistryKey(), "Software\\Velm2");
  EXPECT_EQ(settings.GetStartPage(), "http://Game.Example:8080/index.php");
  EXPECT_EQ(settings.GetMaxTabCaption(), 18);
  EXPECT_EQ(GetSiteHost(), "game.example:8080");
  EXPECT_TRUE(settings.IsKnownPluginDigest(MakeDigest(1, 2, 3, 4)));
  EXPECT_FALSE(settings.IsKnownPluginDigest(MakeDigest(1, 2, 3, 5)));
  EXPECT_EQ(settings.FlashVersionText, "Unknown");
  EXPECT_EQ(settings.FlashVersion, -1);
  EXPECT_EQ(settings.LocalRoot, folder.Path("pub"));

  ASSERT_EQ(settings.Packages.size(), 3u);
  const auto& portal = settings.Packages[0];
  const auto& game = settings.Packages[1];
  const auto& client = settings.Packages[2];
  EXPECT_EQ(portal.Id * 100 + game.Id * 10 + client.Id, 321);
  EXPECT_EQ(portal.Title, Ansi("Обновление файлов графики Инфопортала"));
  EXPECT_EQ(game.BuildURL, "http://Game.Example:8080/shared/build.html");
  EXPECT_EQ(game.FileListURL, "http://Game.Example:8080/pub/filelist.php");
  EXPECT_EQ(game.FileQueryURL, "http://Game.Example:8080/pub/filelist.php?name=");
  EXPECT_EQ(portal.FileQueryURL, "http://Game.Example:8080/info/filelist.php?mask=");
  EXPECT_EQ(game.MatchPrefix, "http://game.example:8080/images/");
  EXPECT_EQ(client.MatchPrefix, "http://game.example:8080/info/client/");
  EXPECT_EQ(client.LocalPrefix, "-info/client/");
  EXPECT_EQ(game.LocalPrefix, "pub/");
  EXPECT_TRUE(portal.InBackground && game.InBackground && !client.InBackground);

  setenv("VELM_PROXY_PORT", "15999", 1);
  EXPECT_EQ(settings.GetProxyPort(), 15999);
  setenv("VELM_PROXY_PORT", "not a port", 1);
  EXPECT_EQ(settings.GetProxyPort(), 15220);
  unsetenv("VELM_PROXY_PORT");
  unsetenv("VELM_SITE_ROOT");
  EXPECT_EQ(GetSiteRoot(), "http://velmara.example/");
}

TEST(UrlHistory, LoadAndSave) {
  test::TTestProgramFolder folder;
  test::WriteWholeFile(
      folder.Path("VelmC2.ini"),
      "[OpenUrl]\r\nCount=3\r\nUrl0=http://a/\r\nUrl2=http://c/\r\nUrl3=stale\r\n");
  InitializeOpenUrl();
  EXPECT_EQ(*UrlHistory, (std::vector<std::string>{"http://a/", "", "http://c/"}));
  UrlHistory->erase(UrlHistory->begin() + 1);
  SaveUrlHistory();
  FinalizeOpenUrl();
  auto ini = GetIniFile();
  EXPECT_EQ(ini->ReadInteger("OpenUrl", "Count", 0), 2);
  EXPECT_EQ(ini->ReadString("OpenUrl", "Url1", ""), "http://c/");
  EXPECT_EQ(ini->ReadString("OpenUrl", "Url3", ""), "stale");  // never removed
}

namespace {
std::vector<std::string> gTrace;
void InitA() {
  gTrace.push_back("+A");
}
void FiniA() {
  gTrace.push_back("-A");
}
void InitB() {
  gTrace.push_back("+B");
}
void FiniB() {
  gTrace.push_back("-B");
}
void InitFail() {
  throw std::runtime_error("cannot start");
}
}  // namespace

TEST(ProcessModules, ReverseOrderAndReleaseOnFailure) {
  gTrace.clear();
  {
    TProcessModules modules(
        {{1, "A", InitA, FiniA}, {2, "B", InitB, FiniB}, {3, "C", nullptr, nullptr}});
  }
  EXPECT_EQ(gTrace, (std::vector<std::string>{"+A", "+B", "-B", "-A"}));
  gTrace.clear();
  EXPECT_THROW(TProcessModules({{1, "A", InitA, FiniA}, {2, "X", InitFail, FiniB}}),
               std::runtime_error);
  EXPECT_EQ(gTrace, (std::vector<std::string>{"+A", "-A"}));

  auto rows = ProcessModulesWith({{6, "IETab", nullptr, nullptr}});
  std::vector<int> orders;
  for (const auto& r : rows) orders.push_back(r.Order);
  EXPECT_TRUE(std::is_sorted(orders.begin(), orders.end()));
  EXPECT_EQ(rows.front().Order, 1);
  EXPECT_EQ(rows.back().Order, 11);
}

TEST(ProcessModules, CoreModulesComeAndGo) {
  test::TTestProgramFolder folder;
  {
    TProcessModules modules(CoreProcessModules());
    ASSERT_NE(AppSettings, nullptr);
    ASSERT_NE(UrlHistory, nullptr);
    EXPECT_EQ(ExpandFileName("x"), folder.Path("x"));
  }
  EXPECT_EQ(AppSettings, nullptr);
  EXPECT_EQ(UrlHistory, nullptr);
}
