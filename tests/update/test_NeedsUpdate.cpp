// Whether a local file must be downloaded: dates compared to the minute, local copies adopted in
// full-check mode, build-stamped copies recognised, error pages in place of graphics refetched,
// and the client's own executable diverted to its ".new-exe" name.
#include <gtest/gtest.h>

#include <filesystem>

#include "update/UpdateTestFixture.h"

namespace velm::test {
namespace {

const TDateTime kSiteDate = EncodeDateTime(2025, 3, 14, 10, 20, 30);
constexpr TDateTime kSecond = 1.0 / 86400;

struct TNeedsCase {
  const char* Name;
  bool FullCheck;
  const char* File;
  const char* Content;  // nullptr: no local file
  TDateTime LocalDate;  // ignored when there is no file
  bool Need;
  bool TakesSiteDate;  // the local file ends with the site's date
};

class NeedsUpdateTest : public UpdateTest {};

TEST_F(NeedsUpdateTest, DecidesByDateModeAndContent) {
  const TDateTime stamp = BuildToDate("201");
  const TNeedsCase cases[] = {
      {"normal, 30 s off stays", false, "a.gif", "GIF89a", kSiteDate + 30 * kSecond, false, false},
      {"normal, 2 min newer", false, "a.gif", "GIF89a", kSiteDate + 120 * kSecond, true, false},
      {"normal, 2 min older", false, "a.gif", "GIF89a", kSiteDate - 120 * kSecond, true, false},
      {"full check, 2 min newer adopted", true, "a.gif", "GIF89a", kSiteDate + 120 * kSecond, false,
       true},
      {"full check, 2 min older", true, "a.gif", "GIF89a", kSiteDate - 120 * kSecond, true, false},
      {"missing file", false, "missing.gif", nullptr, 0, true, false},
      {"missing file, full check", true, "missing.gif", nullptr, 0, true, false},
      {"stamped with this build", false, "a.gif", "GIF89a", stamp, false, true},
      {"stamped with another build", false, "a.gif", "GIF89a", BuildToDate("7"), true, false},
      {"error page as .swf", false, "m.swf", "<HTML><body>", kSiteDate, true, false},
      {"error page as .JPG", false, "p.JPG", "<html>", kSiteDate, true, false},
      {"error page as .js, full check", true, "s.js", "<Html>x", kSiteDate, true, true},
      {"short file as .gif", false, "t.gif", "<ht", kSiteDate, false, false},
      {"error page as .txt is kept", false, "n.txt", "<html>", kSiteDate, false, false},
  };
  for (const TNeedsCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string path = std::string("pub/n/") + c.File;
    std::filesystem::remove(Folder.Path(path));
    if (c.Content) {
      WriteWholeFile(Folder.Path(path), c.Content);
      ASSERT_TRUE(SetFileDate(path, c.LocalDate));
    }
    TUpdateProcessor processor(&Log);
    processor.FullCheck = c.FullCheck;
    processor.NewBuild = "201";
    EXPECT_EQ(processor.NeedsUpdate(path, kSiteDate), c.Need);
    if (c.Content) {
      TDateTime expected = c.TakesSiteDate ? kSiteDate : c.LocalDate;
      EXPECT_NEAR(GetFileDate(path), expected, 0.5 * kSecond);
    }
  }
}

TEST_F(NeedsUpdateTest, OnlyTheExecutablesOwnNameIsRedirected) {
  TUpdateProcessor processor(&Log);
  const std::pair<std::string, std::string> redirected[] = {{"VelmC2", "VelmC2.new-exe"},
                                                            {"velmc2", "VelmC2.new-exe"}};
  for (const auto& [listed, expected] : redirected) {
    std::string local = listed;
    EXPECT_TRUE(processor.RedirectClientExe(local));
    EXPECT_EQ(local, expected);
  }
  for (const char* other : {"VelmC2.ini", "pub/VelmC2", "VelmC", "VelmC2.new-exe"}) {
    std::string local = other;
    EXPECT_FALSE(processor.RedirectClientExe(local));
    EXPECT_EQ(local, other);
  }
}

}  // namespace
}  // namespace velm::test
