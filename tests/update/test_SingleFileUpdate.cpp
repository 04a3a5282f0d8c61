// The one-file update the proxy calls after fetching a game file itself: the body is stored,
// dated from the site's one-file query and recorded as refreshed; calls from several proxy
// workers at once are serialised.
#include <gtest/gtest.h>

#include <thread>

#include "net/DataLoader.h"
#include "update/UpdateTestFixture.h"

namespace velm::test {
namespace {

const TDateTime kSiteDate = EncodeDateTime(2025, 6, 1, 8, 9, 10);
const TDateTime kBuildZero = EncodeDateTime(2001, 1, 1, 0, 0, 10);

class SingleFileUpdateTest : public UpdateTest {
 protected:
  SingleFileUpdateTest() { CreateSingleFileUpdater(); }

  bool Update(const std::string& url, const std::string& localFile, const std::string& body) {
    TMemoryStream data(body);
    return SingleFileUpdater->UpdateSingleFile(url, localFile, data);
  }
};

TEST_F(SingleFileUpdateTest, DatesTheFileFromItsPackagesQueryAndRecordsItRefreshed) {
  Site.PutFile("images/ab.gif", "GIF89a", kSiteDate);
  Site.PutFile("info/client/pic.gif", "GIF89a", kSiteDate + 1);
  // Percent-encoded and upper-case addresses match their package once decoded and lower-cased.
  EXPECT_TRUE(Update(Site.Root() + "IMAGES/%41b.gif", "pub/images/Ab.gif", "body-1"));
  EXPECT_TRUE(Update(Site.Root() + "info/client/pic.gif", "pub/info/client/pic.gif", "body-2"));

  EXPECT_EQ(Site.Targets(),
            (std::vector<std::string>{"pub/filelist.php?name=images/ab.gif",
                                      "info/filelist.php?mask=info/client/pic.gif"}));
  EXPECT_EQ(ReadWholeFile(Folder.Path("pub/images/Ab.gif")), "body-1");
  ExpectDated("pub/images/Ab.gif", kSiteDate);
  ExpectDated("pub/info/client/pic.gif", kSiteDate + 1);
  EXPECT_TRUE(IsFileRefreshed("PUB/IMAGES/AB.GIF"));
  EXPECT_TRUE(IsFileRefreshed("pub/info/client/pic.gif"));
  EXPECT_FALSE(IsFileRefreshed("pub/images/other.gif"));
}

TEST_F(SingleFileUpdateTest, AnAddressOfNoPackageIsStoredWithBuildZerosDate) {
  EXPECT_FALSE(Update("http://elsewhere.example/images/x.gif", "pub/x.gif", "elsewhere"));
  EXPECT_EQ(ReadWholeFile(Folder.Path("pub/x.gif")), "elsewhere");
  ExpectDated("pub/x.gif", kBuildZero);
  EXPECT_FALSE(IsFileRefreshed("pub/x.gif"));
  EXPECT_TRUE(Site.Targets().empty());
}

TEST_F(SingleFileUpdateTest, AFolderAddressIsNeitherStoredNorQueried) {
  EXPECT_FALSE(Update(Site.Root() + "images/sub/", "pub/images/sub/x", "folder"));
  EXPECT_FALSE(Update("", "pub/images/empty", "nothing"));
  EXPECT_FALSE(FileExists(Folder.Path("pub/images/sub/x")));
  EXPECT_FALSE(FileExists(Folder.Path("pub/images/empty")));
  EXPECT_TRUE(Site.Targets().empty());
}

TEST_F(SingleFileUpdateTest, AFailedQueryLeavesTheFileStoredWithTheFallbackDateAndNotRefreshed) {
  const std::string query = "pub/filelist.php?name=images/q.gif";
  const std::string answers[] = {
      HttpAnswer("404 Not Found", "filelist v1\nimages/q.gif\t2025.06.01 08-09-10\n"),
      HttpAnswer("200 OK", "filelist v1\n"),
      HttpAnswer("200 OK", "images/q.gif\t2025.06.01 08-09-10"),
      HttpAnswer("200 OK", "filelist v1\nimages/q.gif\t2025-06-01 08-09-10\n"),
      // Claims gzip but is not: a failed query like the others, not an error for the proxy.
      HttpAnswer("200 OK", "not gzip at all", {"Content-Encoding: gzip"}),
  };
  for (const std::string& answer : answers) {
    Site.OverrideAnswer(query, answer);
    EXPECT_FALSE(Update(Site.Root() + "images/q.gif", "pub/images/q.gif", "q")) << answer;
    EXPECT_EQ(ReadWholeFile(Folder.Path("pub/images/q.gif")), "q");
    ExpectDated("pub/images/q.gif", kBuildZero);
    EXPECT_FALSE(IsFileRefreshed("pub/images/q.gif"));
  }
  Site.Server.Stop();
  EXPECT_FALSE(Update(Site.Root() + "images/q.gif", "pub/images/q.gif", "q2"));
  ExpectDated("pub/images/q.gif", kBuildZero);
}

TEST_F(SingleFileUpdateTest, WorkersAndTheStatisticsRequestShareTheLoaderOneAtATime) {
  constexpr int kFiles = 16;
  for (int i = 0; i < kFiles; ++i)
    Site.PutFile("images/w" + std::to_string(i) + ".gif", "GIF", kSiteDate + i);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([this, t] {
      for (int i = t; i < kFiles; i += 4) {
        std::string name = "w" + std::to_string(i) + ".gif";
        EXPECT_TRUE(Update(Site.Root() + "images/" + name, "pub/images/" + name, name));
      }
    });
  }
  // The statistics request takes the same lock around its use of the loader.
  std::string answer;
  {
    std::lock_guard<std::mutex> lock(SingleFileUpdater->LoaderLock());
    SingleFileUpdater->GetLoader().GetString(Site.Root() + "pub/clientstats.php?p=&s=0", answer,
                                             false);
  }
  for (auto& w : workers) w.join();
  for (int i = 0; i < kFiles; ++i) {
    std::string local = "pub/images/w" + std::to_string(i) + ".gif";
    ExpectDated(local, kSiteDate + i);
    EXPECT_TRUE(IsFileRefreshed(local));
  }
  // One loader, one kept-alive connection for every query.
  EXPECT_EQ(Site.Server.ConnectionCount(), 1);
}

TEST(RefreshedFiles, LowerCasesCyrillicAndKeepsOneEntryPerPath) {
  TRefreshedFiles files;
  files.Add(Ansi("pub/images/Тест/Ёлка.GIF"));
  files.Add(Ansi("PUB/IMAGES/тест/ёлка.gif"));
  EXPECT_TRUE(files.Contains(Ansi("pub/images/ТЕСТ/ЁЛКА.gif")));
  EXPECT_FALSE(files.Contains(Ansi("pub/images/тест/елка.gif")));
  EXPECT_EQ(files.Count(), 1u);
}

}  // namespace
}  // namespace velm::test
