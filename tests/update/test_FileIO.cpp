#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "platform/DateTime.h"
#include "support/TestFolder.h"
#include "update/FileIO.h"

using namespace velm;

namespace {

// Files of a folder, temporary ones included.
std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

time_t ModificationTime(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mtime;
}

}  // namespace

TEST(FileIO, MissingFileDateIsOlderThanAnyListDate) {
  test::TTestProgramFolder folder;
  EXPECT_DOUBLE_EQ(kNoFileDate, EncodeDate(100, 1, 1));
  EXPECT_DOUBLE_EQ(GetFileDate("pub/none.gif"), kNoFileDate);
  EXPECT_DOUBLE_EQ(GetFileDate(""), kNoFileDate);
  EXPECT_LT(GetFileDate("pub/none.gif"), EncodeDate(1980, 1, 1));
}

TEST(FileIO, FileDatesAreLocalTimeOfTheZone) {
  test::TTestProgramFolder folder;
  test::TScopedTimeZone tz("<+03>-3");
  test::WriteWholeFile(folder.Path("pub/a.gif"), "GIF89a");

  const TDateTime local = EncodeDateTime(2010, 5, 6, 12, 30, 45);
  ASSERT_TRUE(SetFileDate("pub/a.gif", local));
  struct tm utc {};
  utc.tm_year = 2010 - 1900;
  utc.tm_mon = 4;
  utc.tm_mday = 6;
  utc.tm_hour = 9;  // 12:30:45 at +03:00
  utc.tm_min = 30;
  utc.tm_sec = 45;
  EXPECT_EQ(ModificationTime(folder.Path("pub/a.gif")), timegm(&utc));
  EXPECT_NEAR(GetFileDate("pub/a.gif"), local, 1e-9);
  // A folder has a date too.
  EXPECT_GT(GetFileDate("pub"), EncodeDate(2020, 1, 1));

  {
    // The same moment read in another zone.
    test::TScopedTimeZone other("UTC0");
    EXPECT_NEAR(GetFileDate("pub/a.gif"), EncodeDateTime(2010, 5, 6, 9, 30, 45), 1e-9);
  }

  // Nothing to open for writing: a missing file, a folder.
  EXPECT_FALSE(SetFileDate("pub/missing.gif", local));
  EXPECT_FALSE(SetFileDate("pub", local));
}

TEST(FileIO, SameFileDateWithinOneMinute) {
  const TDateTime base = EncodeDateTime(2010, 5, 6, 12, 0, 0);
  const struct {
    int seconds;
    bool same;
  } cases[] = {{0, true}, {59, true}, {-59, true}, {61, false}, {-61, false}, {3600, false}};
  for (const auto& c : cases)
    EXPECT_EQ(SameFileDate(base, base + c.seconds * kOneSecond), c.same) << c.seconds;
}

TEST(FileIO, SaveCreatesFoldersAndWritesWholeStream) {
  test::TTestProgramFolder folder;
  TMemoryStream stream("whole content");
  stream.SetPosition(stream.Size());  // a stream positioned at its end
  SaveStreamToFile(stream, "pub/images/items/new/sword.gif");
  EXPECT_EQ(test::ReadWholeFile(folder.Path("pub/images/items/new/sword.gif")), "whole content");
  EXPECT_EQ(stream.Position(), stream.Size());

  // Replacing: new content, the old permission bits, no temporary file left beside it.
  ASSERT_EQ(::chmod(folder.Path("pub/images/items/new/sword.gif").c_str(), 0750), 0);
  SaveStreamToFile(TMemoryStream("v2"), folder.Path("pub/images/items/new/sword.gif"));
  EXPECT_EQ(test::ReadWholeFile(folder.Path("pub/images/items/new/sword.gif")), "v2");
  struct stat st {};
  ASSERT_EQ(::stat(folder.Path("pub/images/items/new/sword.gif").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(FolderEntries(folder.Path("pub/images/items/new")),
            std::vector<std::string>{"sword.gif"});

  // An empty stream makes an empty file.
  SaveStreamToFile(TMemoryStream(), "empty.txt");
  EXPECT_TRUE(test::FileExists(folder.Path("empty.txt")));
  EXPECT_EQ(test::ReadWholeFile(folder.Path("empty.txt")), "");
}

TEST(FileIO, SaveErrorsRaiseAndLeaveNoTemporaryFile) {
  test::TTestProgramFolder folder;
  test::WriteWholeFile(folder.Path("pub/file"), "x");
  ::mkdir(folder.Path("pub/folder").c_str(), 0777);
  EXPECT_THROW(SaveStreamToFile(TMemoryStream("a"), "pub/folder"), EInOutError);
  EXPECT_THROW(SaveStreamToFile(TMemoryStream("a"), "pub/file/below.gif"), EInOutError);
  EXPECT_THROW(SaveStreamToFile(TMemoryStream("a"), "pub/"), EInOutError);
  EXPECT_EQ(FolderEntries(folder.Path("pub")), (std::vector<std::string>{"file", "folder"}));
  EXPECT_EQ(test::ReadWholeFile(folder.Path("pub/file")), "x");
  // The lock is free again after the errors.
  EXPECT_TRUE(FileLock.try_lock());
  FileLock.unlock();
}

TEST(FileIO, OldContentSurvivesAWriterThatDiesMidWrite) {
  test::TTestProgramFolder folder;
  const std::string old(1000, 'o');
  test::WriteWholeFile(folder.Path("pub/big.swf"), old);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The kernel kills this process when a write passes 4 KiB (SIGXFSZ), half-way through.
    struct rlimit noCore {
      0, 0
    }, small{4096, 4096};
    setrlimit(RLIMIT_CORE, &noCore);
    setrlimit(RLIMIT_FSIZE, &small);
    signal(SIGXFSZ, SIG_DFL);
    try {
      SaveStreamToFile(TMemoryStream(std::string(1 << 20, 'n')), "pub/big.swf");
    } catch (...) {
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was expected to die mid-write";
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(test::ReadWholeFile(folder.Path("pub/big.swf")), old);
}

TEST(FileIO, LoadAndReadStart) {
  test::TTestProgramFolder folder;
  std::string content(200000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  test::WriteWholeFile(folder.Path("pub/data.bin"), content);
  test::WriteWholeFile(folder.Path("four"), "1234");
  test::WriteWholeFile(folder.Path("zero"), "");

  auto stream = LoadFileToStream("pub/data.bin");
  EXPECT_EQ(stream->Position(), 0u);
  EXPECT_TRUE(stream->View() == content);
  EXPECT_EQ(LoadFileToStream("zero")->Size(), 0u);
  EXPECT_THROW(LoadFileToStream("pub/missing.bin"), EInOutError);
  EXPECT_THROW(LoadFileToStream("pub"), EInOutError);

  EXPECT_EQ(ReadFileStart("four", 6), "1234");
  EXPECT_EQ(ReadFileStart("four", 2), "12");
  EXPECT_EQ(ReadFileStart("four", 0), "");
  EXPECT_EQ(ReadFileStart("pub/data.bin", 100000), content.substr(0, 100000));
  EXPECT_THROW(ReadFileStart("missing", 4), EInOutError);
}

TEST(FileIO, ReadersNeverSeeAHalfWrittenFile) {
  test::TTestProgramFolder folder;
  const std::string a(300000, 'a'), b(200000, 'b');
  SaveStreamToFile(TMemoryStream(a), "pub/game.swf");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, reads{0};
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i) SaveStreamToFile(TMemoryStream(i % 2 ? a : b), "pub/game.swf");
    stop = true;
  });
  std::thread reader([&] {
    while (!stop) {
      auto s = LoadFileToStream("pub/game.swf");
      if (!(s->View() == a) && !(s->View() == b)) ++bad;
      ++reads;
    }
  });
  writer.join();
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(reads.load(), 0);
}

TEST(FileIO, WriterWaitsForReadersOfTheLock) {
  test::TTestProgramFolder folder;
  std::shared_lock reading(FileLock);
  std::atomic<bool> saved{false};
  std::thread writer([&] {
    SaveStreamToFile(TMemoryStream("new"), "pub/locked.gif");
    saved = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(saved.load());
  EXPECT_FALSE(test::FileExists(folder.Path("pub/locked.gif")));
  reading.unlock();
  writer.join();
  EXPECT_TRUE(saved.load());
  EXPECT_EQ(test::ReadWholeFile(folder.Path("pub/locked.gif")), "new");
}

TEST(FileIO, LocalFileAnswersWithTheFileItOpened) {
  test::TTestProgramFolder folder;
  const std::string name = folder.Path("pub/images/a.gif");
  test::WriteWholeFile(name, "GIF89a first");
  ASSERT_TRUE(SetFileDate(name, EncodeDateTime(2009, 12, 10, 14, 3, 27)));

  TLocalFile file;
  ASSERT_TRUE(file.Open(name));
  EXPECT_EQ(file.Size(), 12u);
  EXPECT_EQ(file.Date(), GetFileDate(name));
  // The updater replacing the file meanwhile changes neither the size nor the bytes answered.
  SaveStreamToFile(TMemoryStream("GIF89a second version"), name);
  EXPECT_EQ(file.ReadAll()->ToString(), "GIF89a first");

  // Only regular files open: not a missing one, a folder or a pipe.
  ASSERT_EQ(::mkfifo(folder.Path("pub/pipe.gif").c_str(), 0600), 0);
  for (const char* other : {"pub/missing.gif", "pub/images", "pub/pipe.gif"})
    EXPECT_FALSE(file.Open(folder.Path(other))) << other;
}
