// Files under a plug-in's name that are no loadable library: empty, text, garbage, a library cut
// off in the middle (a copy or download that stopped), a library for another machine or word
// size. Each is skipped without a report entry, the plug-ins beside it load and work.
#include <gtest/gtest.h>

#include <elf.h>

#include <string>
#include <utility>
#include <vector>

#include "plugins/Plugins.h"
#include "plugins/support/PluginTestSupport.h"

using namespace velm;
using velm::test::TPluginFolder;
using velm::test::TRecording;
using velm::test::TTestTab;

namespace {

std::string Garbage(size_t n) {
  std::string s(n, '\0');
  unsigned x = 12345;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

// Bad files by name; the names sort between the two good plug-ins.
std::vector<std::pair<std::string, std::string>> BadFiles() {
  const std::string library = test::ReadWholeFile(test::TestPluginPath("Recorder"));
  std::string foreign = library;
  foreign[18] = static_cast<char>(EM_AARCH64);  // e_machine, little-endian
  foreign[19] = 0;
  std::string otherWordSize = library;
  otherWordSize[EI_CLASS] = ELFCLASS32;
  std::string elfGarbage =
      "\x7f"
      "ELF" +
      Garbage(65536);
  return {
      {"B-empty.so", ""},
      {"B-text.so", "This is not a plug-in, only a note left beside the client.\r\n"},
      {"B-garbage.so", Garbage(1 << 20)},
      {"B-elf-garbage.so", elfGarbage},
      {"B-header-only.so", library.substr(0, sizeof(Elf64_Ehdr))},
      {"B-cut-1k.so", library.substr(0, 1024)},
      {"B-cut-4k.so", library.substr(0, 4096)},
      {"B-cut-8k.so", library.substr(0, 8192)},
      {"B-cut-12k.so", library.substr(0, 12288)},
      {"B-foreign.so", foreign},
      {"B-32-bit.so", otherWordSize},
  };
}

TEST(BadPluginFiles, AreSkippedWithoutAnEntryAndThePluginsBesideThemLoadAndWork) {
  TPluginFolder f;
  f.Install("Recorder", "A-good.so");
  for (const auto& [name, bytes] : BadFiles()) test::WriteWholeFile(f.Folder.Path(name), bytes);
  f.Install("RecorderCyrillic", "Z-good.so");

  EXPECT_EQ(f.Load(), 2);
  ASSERT_EQ(LoadedPlugins.size(), 2u);
  EXPECT_EQ(LoadedPlugins[0].FileName, "A-good.so");
  EXPECT_EQ(LoadedPlugins[1].FileName, "Z-good.so");
  // Only the two good ones are reported; a file that is not loaded leaves no trace.
  EXPECT_EQ(f.Report.find("B-"), std::string::npos) << f.Report;
  EXPECT_EQ(f.Report.rfind("A-good;Recorder;", 0), 0u) << f.Report;
  EXPECT_NE(f.Report.find("|Z-good;"), std::string::npos) << f.Report;
  EXPECT_EQ(f.UnknownCount, 2);
  EXPECT_EQ(f.DebugLog().find("B-"), std::string::npos);

  // Both go on working: a tab reaches both, an event of it too.
  TRecording rec;
  {
    TTestTab tab;
    TBrowserEventArgs status(TBrowserEvent::StatusTextChange);
    status.Text = u"ready";
    tab.Fire(status);
  }
  EXPECT_FALSE(rec.With("A-good.so").empty());
  EXPECT_FALSE(rec.With("Z-good.so").empty());
  EXPECT_EQ(rec.With("StatusTextChange").size(), 2u);
}

}  // namespace
