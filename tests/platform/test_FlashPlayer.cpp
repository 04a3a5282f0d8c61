#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "app/AppSettings.h"
#include "platform/FlashPlayer.h"
#include "support/TestFolder.h"

using namespace velm;
using test::WriteWholeFile;

namespace {

const std::string kWasmHeader("\0asm\x01\0\0\0", 8);
const std::string kPackage = R"({"name":"@ruffle-rs/ruffle","version":"0.6.0","main":"ruffle.js"})";

// An emulator folder as npm installs it, with small stand-ins for the large files.
void WriteEmulator(const std::string& dir) {
  mkdir(dir.c_str(), 0755);
  WriteWholeFile(dir + "package.json", kPackage);
  WriteWholeFile(dir + "ruffle.js", "/* loader */");
  WriteWholeFile(dir + "72a20ef1c0b8ceb37720.wasm", kWasmHeader + "module");
}

}  // namespace

TEST(FlashPlayer, EmulatorFolderIsCheckedFileByFile) {
  struct TCase {
    const char* what;
    const char* file;  // written over the complete folder's file; nullptr: file removed
    std::string bytes;
    bool remove;
  };
  const TCase cases[] = {
      {"complete", nullptr, "", false},
      {"no package description", "package.json", "", true},
      {"another package", "package.json", R"({"name":"ruffle-mirror","version":"0.6.0"})", false},
      {"no version", "package.json", R"({"name":"@ruffle-rs/ruffle"})", false},
      {"version not a string", "package.json", R"({"name":"@ruffle-rs/ruffle","version":6})",
       false},
      {"version with markup", "package.json", R"({"name":"@ruffle-rs/ruffle","version":"0.6<b>"})",
       false},
      {"no script", "ruffle.js", "", true},
      {"empty script", "ruffle.js", "", false},
      {"no module", "72a20ef1c0b8ceb37720.wasm", "", true},
      {"module cut short", "72a20ef1c0b8ceb37720.wasm", std::string("\0asm", 4), false},
      {"not a module", "72a20ef1c0b8ceb37720.wasm", "<html>404</html>", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::TTestProgramFolder folder;
    std::string dir = folder.Path("ruffle/");
    WriteEmulator(dir);
    if (c.file && c.remove) std::remove((dir + c.file).c_str());
    if (c.file && !c.remove) WriteWholeFile(dir + c.file, c.bytes);
    std::string text = "stale";
    int32_t version = 7;
    bool complete = c.file == nullptr;
    EXPECT_EQ(DetectRuffle(dir, text, version), complete);
    EXPECT_EQ(text, complete ? "Ruffle 0.6.0" : "");
    EXPECT_EQ(version, complete ? kRuffleFlashVersion : -1);
  }
}

TEST(FlashPlayer, PackageDescriptionWithSpacesAndAFolderWithoutSlash) {
  test::TTestProgramFolder folder;
  std::string dir = folder.Path("ruffle/");
  WriteEmulator(dir);
  WriteWholeFile(
      dir + "package.json",
      "{\n  \"name\" : \"@ruffle-rs/ruffle\",\n  \"version\":\t\"0.1.0-nightly.2024.5.1\"\n}\n");
  std::string text;
  int32_t version;
  ASSERT_TRUE(DetectRuffle(folder.Path("ruffle"), text, version));
  EXPECT_EQ(text, "Ruffle 0.1.0-nightly.2024.5.1");
}

// The client's settings take the emulator beside the executable as its Flash Player: the version
// is at least 9.0, so the start-up warning stays away; without the folder they say "Unknown".
TEST(FlashPlayer, SettingsReportTheEmulatorBesideTheExecutable) {
  test::TTestProgramFolder folder;
  {
    TVelmAppSettings settings;
    EXPECT_EQ(settings.FlashVersionText, "Unknown");
    EXPECT_EQ(settings.FlashVersion, -1);
  }
  EXPECT_EQ(RuffleFolder(), folder.Path("ruffle/"));
  WriteEmulator(folder.Path("ruffle/"));
  TVelmAppSettings settings;
  EXPECT_EQ(settings.FlashVersionText, "Ruffle 0.6.0");
  EXPECT_EQ(settings.FlashVersion, 0x200000);
  EXPECT_GE(settings.FlashVersion, 0x90000);
}
