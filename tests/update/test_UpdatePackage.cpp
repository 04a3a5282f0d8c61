#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "update/UpdatePackage.h"

using namespace velm;

namespace {

const std::string kRoot = "http://velmara.example/";

// The three packages in their table order, as the settings build them.
std::vector<TUpdatePackageDesc> Packages() {
  return {
      {3, "portal", kRoot + "info/build.html", kRoot + "info/filelist.php",
       kRoot + "info/filelist.php?mask=", kRoot, "pub/", kRoot + "info/", true},
      {2, "game", kRoot + "shared/build.html", kRoot + "pub/filelist.php",
       kRoot + "pub/filelist.php?name=", kRoot, "pub/", kRoot + "images/", true},
      {1, "client", kRoot + "info/client/build.html", kRoot + "info/client/filelist.php", "", kRoot,
       "-info/client/", kRoot + "info/client/", false},
  };
}

// Id of the first package that takes the URL, 0 when none does.
int FirstMatch(const std::string& url) {
  for (const auto& p : Packages())
    if (p.Matches(url)) return p.Id;
  return 0;
}

}  // namespace

TEST(UpdatePackage, FirstMatchingPackageInTableOrder) {
  const struct {
    std::string url;
    int id;
  } cases[] = {
      {kRoot + "images/items/sword.gif", 2},
      {kRoot + "info/map/town.jpg", 3},
      {kRoot + "info/client/VelmC2", 3},  // the portal package comes first
      {kRoot + "index.php", 0},
      {kRoot + "Images/x.gif", 0},  // exact bytes: callers lower-case URLs
      {kRoot + "inf", 3},           // shorter than the prefix, but its beginning
      {"http://velmara.exa", 3},
      {"http://other.example/images/x.gif", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(FirstMatch(c.url), c.id) << c.url;
  EXPECT_TRUE(Packages()[2].Matches(kRoot + "info/client/VelmC2"));
}

TEST(UpdatePackage, LocalPathsOfListNames) {
  const auto packages = Packages();
  const struct {
    size_t package;
    std::string name;
    std::string path;
  } cases[] = {
      {1, "images/items/sword.gif", "pub/images/items/sword.gif"},
      {0, "info/map/town.jpg", "pub/info/map/town.jpg"},
      {2, "info/client/VelmC2", "VelmC2"},
      {2, "info/client/plugins/chat.so", "plugins/chat.so"},
      // Names that would leave the program folder map to nothing.
      {1, "images/../../etc/passwd", ""},
      {1, "/etc/passwd", ""},
      {1, "..", ""},
      {2, "info/client//etc/passwd", ""},
      {2, "info/client/../x", ""},
      {2, "info/client/", ""},
      {2, "short", ""},
      // ".." inside a name is only a name.
      {1, "images/a..b.gif", "pub/images/a..b.gif"},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalPathOf(packages[c.package], c.name), c.path) << c.name;

  // A prefix written with the Windows delimiter still lands below "pub/".
  TUpdatePackageDesc legacy = packages[1];
  legacy.LocalPrefix = "pub\\";
  EXPECT_EQ(LocalPathOf(legacy, "images/x.gif"), "pub/images/x.gif");
}

TEST(UpdatePackage, BuildStampRoundTrips) {
  EXPECT_DOUBLE_EQ(BuildToDate("0"), EncodeDateTime(2001, 1, 1, 0, 0, 10));
  EXPECT_DOUBLE_EQ(BuildToDate("61"), EncodeDateTime(2001, 1, 1, 1, 1, 10));
  EXPECT_DOUBLE_EQ(BuildToDate("1500"), EncodeDateTime(2001, 1, 2, 1, 0, 10));
  constexpr int kStampRange = 28 * 24 * 60;
  for (int n :
       {0, 1, 59, 60, 61, 1439, 1440, 12345, kStampRange - 1, kStampRange, kStampRange + 61}) {
    std::string build;
    ASSERT_TRUE(DateToBuild(BuildToDate(std::to_string(n)), build)) << n;
    EXPECT_EQ(build, std::to_string(n % kStampRange)) << n;
  }
  // Text that is not a build number is build 0; so is a negative one (its minutes would be
  // negative and no time at all).
  for (const char* text : {"", "abc", "12a", "-5", "-1", "99999999999", " "})
    EXPECT_DOUBLE_EQ(BuildToDate(text), EncodeDateTime(2001, 1, 1, 0, 0, 10)) << text;

  std::string build = "unchanged";
  EXPECT_FALSE(DateToBuild(EncodeDateTime(2001, 2, 1, 0, 0, 10), build));
  EXPECT_FALSE(DateToBuild(EncodeDateTime(2000, 12, 31, 23, 59, 0), build));
  EXPECT_EQ(build, "unchanged");
  ASSERT_TRUE(DateToBuild(EncodeDateTime(2001, 1, 31, 23, 59, 59), build));
  EXPECT_EQ(build, std::to_string(30 * 1440 + 23 * 60 + 59));  // seconds ignored
}

TEST(UpdatePackage, FileListLines) {
  const struct {
    std::string line;
    bool ok;
    std::string name;
    TDateTime date;
  } cases[] = {
      {"images/a.gif\t2010.05.06 12-30-45", true, "images/a.gif",
       EncodeDateTime(2010, 5, 6, 12, 30, 45)},
      {"  images/a.gif\t2010.5.6 1-2-3\r", true, "images/a.gif",
       EncodeDateTime(2010, 5, 6, 1, 2, 3)},
      {"images/b c.gif\t2010.12.31  23-59-59 ", true, "images/b c.gif",
       EncodeDateTime(2010, 12, 31, 23, 59, 59)},
      {"info/client/VelmC2\t 2011.01.01 00-00-10", true, "info/client/VelmC2",
       EncodeDateTime(2011, 1, 1, 0, 0, 10)},
      {"images/a.gif 2010.05.06 12-30-45", false, "", 0},   // no tab
      {"images/a.gif\t2010-05-06 12-30-45", false, "", 0},  // hyphens in the date
      {"images/a.gif\t2010.05.06 12:30:45", false, "", 0},  // colons in the time
      {"images/a.gif\t2010.02.30 12-30-45", false, "", 0},
      {"images/a.gif\t2010.05.06 24-00-00", false, "", 0},
      {"images/a.gif\t2010.05.06", false, "", 0},
      {"images/a.gif\t10.05.06 12-30-45", false, "", 0},
      {"images/a.gif\t2010.05.06 12-30-45 extra", false, "", 0},
      {"images/a.gif\t2010.005.06 12-30-45", false, "", 0},
      {"\t2010.05.06 12-30-45", false, "", 0},  // empty name
      {"images/../../x\t2010.05.06 12-30-45", false, "", 0},
      {"/etc/passwd\t2010.05.06 12-30-45", false, "", 0},
      {"", false, "", 0},
      {"images/a.gif\t", false, "", 0},
  };
  for (const auto& c : cases) {
    std::string name = "untouched";
    TDateTime date = -1;
    EXPECT_EQ(ParseFileListLine(c.line, name, date), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(name, c.name) << c.line;
      EXPECT_DOUBLE_EQ(date, c.date) << c.line;
    } else {
      EXPECT_EQ(name, "untouched") << c.line;
    }
  }
}

TEST(UpdatePackage, IniKeysAndFlags) {
  EXPECT_EQ(BuildKey(3), "Build3");
  EXPECT_EQ(BuildKey(1), "Build1");
  EXPECT_FALSE(ClientUpdated.load());
  EXPECT_FALSE(FilesUpdated.load());
  EXPECT_FALSE(StartupUpdateDone.load());
}

TEST(UpdatePackage, EveryCutOfAListLineIsSkippedOrWhole) {
  const std::string line = "images/a.gif\t2010.05.06 12-30-45";
  for (size_t n = 0; n <= line.size(); ++n) {
    std::string name;
    TDateTime date = 0;
    const std::vector<char> exact(line.begin(), line.begin() + n);  // nothing after the cut
    const bool ok = ParseFileListLine(std::string_view(exact.data(), n), name, date);
    // Only a cut inside the seconds still gives a (different) date.
    EXPECT_EQ(ok, n >= line.size() - 1) << n;
    if (ok) {
      EXPECT_EQ(name, "images/a.gif");
    }
  }
}
