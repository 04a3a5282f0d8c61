#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "app/Debug.h"
#include "platform/Beep.h"
#include "platform/ExceptionInfo.h"
#include "support/TestFolder.h"

using namespace velm;
using velm::test::ReadWholeFile;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "text must end with CR LF";
  return lines;
}

struct TBeepCounter {
  std::atomic<int> count{0};
  TBeepHandler previous;
  TBeepCounter() {
    previous = SetBeepHandler([this](int f, int ms) {
      EXPECT_EQ(f, 440);
      EXPECT_EQ(ms, 30);
      ++count;
    });
  }
  ~TBeepCounter() { SetBeepHandler(previous); }
};

}  // namespace

TEST(Debug, LineLayoutAndBeeps) {
  test::TTestProgramFolder folder;
  TBeepCounter beeps;
  TDebug log("VelmC2.log");
  log.LogInfo("started");
  log.LogError("quiet one", true);
  EXPECT_EQ(beeps.count, 0);
  log.LogError("loud one");
  EXPECT_EQ(beeps.count, 1);
  log.LogException(std::runtime_error("plain"));
  log.LogException(EExternal("Access violation", 0x0040ABCD));
  EXPECT_EQ(beeps.count, 3);

  auto lines = Lines(ReadWholeFile(folder.Path("VelmC2.log")));
  ASSERT_EQ(lines.size(), 6u);
  const std::string stamp = R"(\d\d\.\d\d\.\d{4}( \d\d:\d\d:\d\d)? )";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("Info: " + stamp + "started"))) << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex("Error: " + stamp + "quiet one")));
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("Error: " + stamp + "loud one")));
  EXPECT_TRUE(std::regex_match(lines[3], std::regex("Exception: " + stamp + "plain")));
  EXPECT_TRUE(std::regex_match(lines[4], std::regex("Exception: " + stamp + "Access violation")));
  EXPECT_EQ(lines[5], "EExternal: ExceptionAddress=0040ABCD");
}

TEST(Debug, RelativeNameLandsBesideTheExecutable) {
  test::TTestProgramFolder folder;
  ASSERT_EQ(chdir("/tmp"), 0);
  TDebug log("LocalProxy.log");
  EXPECT_EQ(log.LogFileName, folder.Path("LocalProxy.log"));
  log.WriteLine("one");
  log.WriteLine("two");  // appended, not replaced
  EXPECT_EQ(ReadWholeFile(folder.Path("LocalProxy.log")), "one\r\ntwo\r\n");
  TDebug absolute("/tmp/elsewhere/x.log");
  EXPECT_EQ(absolute.LogFileName, "/tmp/elsewhere/x.log");
}

TEST(Debug, ConcurrentWritersNeverInterleaveALine) {
  test::TTestProgramFolder folder;
  TDebug log("VelmC2.log");
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 200; ++i)
        log.WriteLine("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                      std::string(100 + t * 10, static_cast<char>('a' + t)));
    });
  }
  for (auto& th : threads) th.join();
  auto lines = Lines(ReadWholeFile(folder.Path("VelmC2.log")));
  EXPECT_GT(lines.size(), 8u * 190);  // a line may be lost after five busy attempts, never torn
  const std::regex whole(R"(thread (\d) line (\d+) (.*))");
  for (const auto& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
    int t = m[1].str()[0] - '0';
    EXPECT_EQ(m[3].str(), std::string(100 + t * 10, static_cast<char>('a' + t))) << line;
  }
}

TEST(Debug, HandleExceptionLayoutAndQuitSilence) {
  test::TTestProgramFolder folder;
  TBeepCounter beeps;
  TDebug log("VelmC2.log");
  try {
    throw std::logic_error("broken state");
  } catch (...) {
    log.HandleException("Page: http://x/");
  }
  try {
    throw std::runtime_error("ends with dot.");
  } catch (...) {
    log.HandleException("");
  }
  bool quit = true;
  SetQuitRequestHooks({[&] { return quit; }, [] {}});
  try {
    throw std::runtime_error("after quit");
  } catch (...) {
    log.HandleException("x");
  }
  SetQuitRequestHooks({});
  EXPECT_EQ(beeps.count, 0);

  std::string text = ReadWholeFile(folder.Path("VelmC2.log"));
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 6u) << text;
  EXPECT_TRUE(std::regex_match(
      lines[0],
      std::regex(R"(Exception: .+ Exception std::logic_error in module VelmC2 at 00000000\.)")))
      << lines[0];
  EXPECT_EQ(lines[1], "broken state.");
  EXPECT_EQ(lines[2], "  Page: http://x/");
  EXPECT_EQ(lines[4], "ends with dot.");
  EXPECT_EQ(lines[5], "");  // an empty extra text leaves an empty last line
  EXPECT_EQ(text.find("after quit"), std::string::npos);
  EXPECT_TRUE(log.Gate.IsSet());
}
