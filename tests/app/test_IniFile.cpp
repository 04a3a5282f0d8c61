#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "app/IniFile.h"
#include "app/Options.h"
#include "platform/Encoding.h"
#include "support/TestFolder.h"

using namespace velm;
using velm::test::ReadWholeFile;
using velm::test::WriteWholeFile;

TEST(IniFile, IntegerForms) {
  test::TTestProgramFolder folder;
  struct Case {
    const char* text;
    int expected;
  } cases[] = {
      {"30", 30}, {"-5", -5},    {"0x1E", 30}, {"0X1e", 30},        {"$1E", 30},       {"abc", 77},
      {"0x", 77}, {"12abc", 77}, {"", 77},     {"99999999999", 77}, {"$FFFFFFFF", -1},
  };
  for (const auto& c : cases) {
    WriteWholeFile(folder.Path("VelmC2.ini"), std::string("[Main]\r\nValue=") + c.text + "\r\n");
    EXPECT_EQ(GetIniFile()->ReadInteger("Main", "Value", 77), c.expected) << c.text;
  }
}

TEST(IniFile, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
  test::TTestProgramFolder folder;
  auto ini = GetIniFile();
  EXPECT_EQ(ini->FileName(), folder.Path("VelmC2.ini"));
  EXPECT_EQ(ini->ReadString("Main", "PlayerInfo_LastName", "none"), "none");
  EXPECT_TRUE(ini->ReadBool("Main", "AutoUpdateEnable", true));
  EXPECT_FALSE(test::FileExists(folder.Path("VelmC2.ini")));

  ini->WriteBool("Main", "AutoUpdateEnable", false);
  EXPECT_EQ(ReadWholeFile(folder.Path("VelmC2.ini")), "[Main]\r\nAutoUpdateEnable=0\r\n");
  EXPECT_FALSE(GetIniFile()->ReadBool("Main", "AutoUpdateEnable", true));
}

TEST(IniFile, NamesIgnoreCaseAndRewritesKeepTheRest) {
  test::TTestProgramFolder folder;
  WriteWholeFile(folder.Path("VelmC2.ini"),
                 "; comment\r\n[fMain]\r\nWidth=800\r\nunknown line\r\n\r\n[Main]\r\nBuild1=5\n"
                 "[Transport]\r\nUseProxy=1\r\n");
  auto ini = GetIniFile();
  EXPECT_EQ(ini->ReadInteger("FMAIN", "width", 0), 800);
  ini->WriteInteger("fmain", "WIDTH", 1024);
  ini->WriteString("Main", "Build2", "17");
  ini->WriteString("OpenUrl", "Count", "0");
  EXPECT_EQ(ReadWholeFile(folder.Path("VelmC2.ini")),
            "; comment\r\n[fMain]\r\nWIDTH=1024\r\nunknown line\r\n\r\n[Main]\r\nBuild1=5\r\n"
            "Build2=17\r\n[Transport]\r\nUseProxy=1\r\n\r\n[OpenUrl]\r\nCount=0\r\n");
}

TEST(IniFile, LongStringsAreCutAndCyrillicIsKept) {
  test::TTestProgramFolder folder;
  auto ini = GetIniFile();
  ini->WriteString("Main", "Long", std::string(3000, 'x'));
  EXPECT_EQ(ini->ReadString("Main", "Long", "").size(), kIniMaxValueLength);
  const std::string name = Ansi("Воин Света");
  ini->WriteString("Main", "PlayerInfo_LastName", name);
  EXPECT_EQ(ini->ReadString("Main", "PlayerInfo_LastName", ""), name);
  EXPECT_NE(ReadWholeFile(folder.Path("VelmC2.ini")).find(name), std::string::npos);
}

TEST(IniFile, BadInputIsReadWithoutACrash) {
  test::TTestProgramFolder folder;
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
  WriteWholeFile(folder.Path("VelmC2.ini"), "Orphan=1\r\n" + garbage +
                                                "\r\nno equals sign\r\n[Main]\r\nA=first\r\n"
                                                "[Main]\r\nA=second\r\nB=2\r\n[Big]\r\nLine=" +
                                                std::string(1 << 20, 'y') +
                                                "\r\n[Tail]\r\nC= 3 \r\n");
  auto ini = GetIniFile();
  EXPECT_EQ(ini->ReadString("Main", "A", ""), "first");  // the first of duplicated sections wins
  EXPECT_EQ(ini->ReadInteger("Tail", "C", 0), 3);
  EXPECT_EQ(ini->ReadString("Big", "Line", "").size(), kIniMaxValueLength);
  EXPECT_EQ(ini->ReadString("", "Orphan", "none"), "none");
}

TEST(IniFile, ReadOnlyFolderLosesWritesQuietly) {
  if (geteuid() == 0) {
    // Root writes through permission bits; a folder that is not there stands in for it.
    TIniFile ini("/nonexistent-velm-folder/VelmC2.ini");
    ini.WriteInteger("Main", "X", 5);
    EXPECT_EQ(ini.ReadInteger("Main", "X", 9), 9);
    return;
  }
  test::TTestProgramFolder folder;
  ASSERT_EQ(chmod(folder.Dir().c_str(), 0555), 0);
  GetIniFile()->WriteInteger("Main", "X", 5);
  EXPECT_EQ(GetIniFile()->ReadInteger("Main", "X", 9), 9);
}

TEST(Options, DefaultsBoundsAndImmediateWrites) {
  test::TTestProgramFolder folder;
  struct Case {
    const char* stored;
    int interval;
  } cases[] = {{nullptr, 10}, {"0", 1},    {"-5", 1},       {"abc", 10},
               {"0x1E", 30},  {"$1E", 30}, {"10000", 10000}};
  for (const auto& c : cases) {
    unlink(folder.Path("VelmC2.ini").c_str());
    if (c.stored) GetIniFile()->WriteString("Main", "AutoUpdateInterval", c.stored);
    TOptions options;
    EXPECT_EQ(options.AutoUpdateInterval(), c.interval) << (c.stored ? c.stored : "missing");
  }
  unlink(folder.Path("VelmC2.ini").c_str());
  TOptions options;
  EXPECT_TRUE(options.AutoUpdateEnable());
  EXPECT_EQ(options.CloseWindowMode(), 0);
  options.SetCloseWindowMode(2);
  options.SetAutoUpdateEnable(false);
  options.SetOpenWindowMode(options.OpenWindowMode());  // written even when unchanged
  TOptions reread;
  EXPECT_EQ(reread.CloseWindowMode(), 2);
  EXPECT_FALSE(reread.AutoUpdateEnable());
  EXPECT_TRUE(GetIniFile()->ValueExists("Main", "OpenWindowMode"));
}
