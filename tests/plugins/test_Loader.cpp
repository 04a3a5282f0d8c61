#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include "app/Md5.h"
#include "net/URLCoding.h"
#include "platform/Encoding.h"
#include "plugins/Plugins.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::TPluginFolder;

TEST(LoadPlugins, EmptyFolderGivesEmptyReport) {
  TPluginFolder f;
  EXPECT_EQ(f.Load(), 0);
  EXPECT_EQ(f.Report, "");
  EXPECT_EQ(f.UnknownCount, 0);
  EXPECT_TRUE(LoadedPlugins.empty());

  TBrowserPage page{};
  TPluginEventTables tables(3);
  OpenPluginPages(page, tables);
  EXPECT_TRUE(tables.empty());
}

TEST(LoadPlugins, OnlyOrdinaryVisibleLibrariesWithAllFiveExports) {
  TPluginFolder f;
  f.Install("Recorder", ".Hidden.so");                            // hidden file
  f.Install("Recorder", "Recorder.so.txt");                       // other extension
  ASSERT_EQ(mkdir(f.Folder.Path("Folder.so").c_str(), 0755), 0);  // a folder
  test::WriteWholeFile(f.Folder.Path("Broken.so"), "not a shared library");
  f.Install("FourExports", "Four.so");
  TMD5Digest good = f.Install("NoEvents", "Good.so");

  EXPECT_EQ(f.Load(), 1);
  ASSERT_EQ(LoadedPlugins.size(), 1u);
  EXPECT_EQ(LoadedPlugins[0].FileName, "Good.so");
  EXPECT_EQ(f.Report, "Good;No events;" + MD5DigestToHex(good));
  EXPECT_EQ(f.UnknownCount, 1);
  // The library with four of the five exports was unloaded again.
  EXPECT_EQ(dlopen(f.Folder.Path("Four.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST(LoadPlugins, KnownDigestNamesThePluginAlone) {
  TPluginFolder f;
  TMD5Digest known = f.Install("Recorder", "Alpha.so");
  TMD5Digest other = f.Install("Recorder", "beta.so", std::string(16, '\0'));
  f.SetKnownDigest(known);

  EXPECT_EQ(f.Load(), 2);
  EXPECT_EQ(f.Report, "Alpha|beta;Recorder;" + MD5DigestToHex(other));
  EXPECT_EQ(f.UnknownCount, 1);
  ASSERT_EQ(LoadedPlugins.size(), 2u);
  EXPECT_EQ(LoadedPlugins[0].FileName, "Alpha.so");
  EXPECT_EQ(LoadedPlugins[1].FileName, "beta.so");
  EXPECT_EQ(MD5DigestToHex(other).size(), 32u);
  // Two copies of one library are two plug-ins with their own state.
  EXPECT_NE(LoadedPlugins[0].Handle, LoadedPlugins[1].Handle);
}

TEST(LoadPlugins, ListsByNameLetterCaseAside) {
  TPluginFolder f;
  for (const char* name : {"c.so", "B.so", "a.so", "D.so"}) f.Install("NoEvents", name);
  f.Load();
  std::vector<std::string> names;
  for (const TPlugin& p : LoadedPlugins) names.push_back(p.FileName);
  EXPECT_EQ(names, (std::vector<std::string>{"a.so", "B.so", "c.so", "D.so"}));
}

TEST(LoadPlugins, UnreadableFileOrFailingDescriptionGiveLoadError) {
  TPluginFolder f;
  f.Install("Vanishing", "Gone.so");  // removes its own file while it is loaded
  f.Install("FailingDescription", "Hurt.so");
  TMD5Digest zlog = f.Install("RecorderCyrillic", "Zlog.so");

  EXPECT_EQ(f.Load(), 3);
  ASSERT_FALSE(test::FileExists(f.Folder.Path("Gone.so")));
  EXPECT_EQ(f.Report, "Gone!file load error|Hurt!file load error|Zlog;" + Ansi("Журнал событий") +
                          ";" + MD5DigestToHex(zlog));
  EXPECT_EQ(f.UnknownCount, 1);
  // Plug-ins with a load error in the report are still loaded and get their tabs.
  EXPECT_EQ(LoadedPlugins.size(), 3u);
}

TEST(LoadPlugins, DescriptionAndVersionThroughTheCountedStringRules) {
  TPluginFolder f;
  f.Install("NoEvents", "A.so");  // hands out a constant description
  f.Install("Recorder", "B.so");  // allocates a new one each time
  f.Install("RecorderCyrillic", "C.so");
  f.Load();
  ASSERT_EQ(LoadedPlugins.size(), 3u);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(PluginDescription(LoadedPlugins[0]), "No events");
    EXPECT_EQ(PluginDescription(LoadedPlugins[1]), "Recorder");
    EXPECT_EQ(PluginDescription(LoadedPlugins[2]), Ansi("Журнал событий"));
  }
  EXPECT_EQ(PluginVersion(LoadedPlugins[0]), 7);
  EXPECT_EQ(PluginVersion(LoadedPlugins[1]), 105);
}

TEST(LoadPlugins, FinalizeEmptiesTheTableButLeavesLibrariesLoaded) {
  std::string path;
  {
    TPluginFolder f;
    f.Install("NoEvents", "Kept.so");
    f.Load();
    path = f.Folder.Path("Kept.so");
    FinalizePlugins();
    EXPECT_TRUE(LoadedPlugins.empty());
    void* again = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(again, nullptr);
    if (again) dlclose(again);  // drops only the reference taken here
  }
}

TEST(LoadPlugins, ReportTravelsReadablyInTheStatisticsQuery) {
  TPluginFolder f;
  TMD5Digest known = f.Install("Recorder", "Alpha.so");
  TMD5Digest zlog = f.Install("RecorderCyrillic", "Zlog.so");
  f.SetKnownDigest(known);
  f.Load();
  // The statistics request's query text, as it is sent: separators readable, the Cyrillic
  // description and its blank percent-encoded.
  EXPECT_EQ(
      EncodeQuery("p=" + f.Report + "&s=" + std::to_string(f.UnknownCount)),
      "p=Alpha|Zlog;%C6%F3%F0%ED%E0%EB%20%F1%EE%E1%FB%F2%E8%E9;" + MD5DigestToHex(zlog) + "&s=1");
}
