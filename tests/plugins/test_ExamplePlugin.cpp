#include <gtest/gtest.h>

#include <cctype>

#include "platform/Encoding.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::TPluginFolder;
using velm::test::TTestTab;

#ifdef VELM_EXAMPLE_PLUGIN

namespace {

// "2026-12-11 14:05:31 ": digits where the pattern has "9".
bool HasTimeStamp(const std::string& line) {
  static const std::string pattern = "9999-99-99 99:99:99 ";
  if (line.size() < pattern.size()) return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (pattern[i] == '9' ? !digit : line[i] != pattern[i]) return false;
  }
  return true;
}

// The log's lines without their time stamps.
std::vector<std::string> LogLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    std::string line = text.substr(start, end - start);
    EXPECT_TRUE(HasTimeStamp(line)) << line;
    lines.push_back(HasTimeStamp(line) ? line.substr(20) : line);
    start = end + 1;
  }
  return lines;
}

TBrowserEventArgs Args(TBrowserEvent kind, const std::u16string& text, bool top = true) {
  TBrowserEventArgs a(kind);
  a.Url = a.Text = text;
  a.TopLevel = top;
  return a;
}

}  // namespace

TEST(ExamplePlugin, NavigationLogWritesTheTabsNavigationsAndTitles) {
  TPluginFolder f;
  test::WriteWholeFile(f.Folder.Path("NavigationLog.so"), test::ReadWholeFile(VELM_EXAMPLE_PLUGIN));
  ASSERT_EQ(f.Load(), 1);
  EXPECT_EQ(PluginDescription(LoadedPlugins[0]), Ansi("Журнал переходов"));
  EXPECT_EQ(PluginVersion(LoadedPlugins[0]), 100);
  {
    TTestTab first, second;
    auto fire = [](TTestTab& tab, TBrowserEventArgs a, bool cancel = false) {
      a.Cancel = cancel;
      tab.Fire(a);
    };
    fire(second, Args(TBrowserEvent::BeforeNavigate2, u"http://site/main.php"));
    fire(second, Args(TBrowserEvent::BeforeNavigate2, u"http://site/chat.php", false));  // frame
    fire(second, Args(TBrowserEvent::DocumentComplete, u"http://site/main.php"));
    fire(second, Args(TBrowserEvent::TitleChange, u"Велмара"));
    fire(first, Args(TBrowserEvent::BeforeNavigate2, u"http://elsewhere/"), true);
    PluginMenuClick(0);  // pause
    fire(first, Args(TBrowserEvent::TitleChange, u"unseen"));
    PluginMenuClick(0);  // resume
  }
  EXPECT_EQ(LogLines(test::ReadWholeFile(f.Folder.Path("NavigationLog.txt"))),
            (std::vector<std::string>{
                "tab 2 navigate http://site/main.php",
                "tab 2 loaded http://site/main.php",
                "tab 2 title Велмара",
                "tab 1 blocked http://elsewhere/",
                "log paused",
                "log resumed",
                "tab 2 closed",
                "tab 1 closed",
            }));
}

#endif
