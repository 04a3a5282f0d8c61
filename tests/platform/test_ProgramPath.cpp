#include <gtest/gtest.h>

#include "platform/ProgramPath.h"
#include "support/TestFolder.h"

using namespace velm;

TEST(ProgramPath, NameHelpers) {
  EXPECT_EQ(ChangeFileExt("/opt/velm/VelmC2", ".ini"), "/opt/velm/VelmC2.ini");
  EXPECT_EQ(ChangeFileExt("/opt/velm.d/VelmC2.bin", ".log"), "/opt/velm.d/VelmC2.log");
  EXPECT_EQ(ChangeFileExt("/opt/velm.d/VelmC2", ".new-exe"), "/opt/velm.d/VelmC2.new-exe");
  EXPECT_EQ(ExtractFileName("/a/b/c.txt"), "c.txt");
  EXPECT_EQ(ExtractFilePath("/a/b/c.txt"), "/a/b/");
  EXPECT_EQ(ExtractFilePath("c.txt"), "");
  EXPECT_EQ(ExpandFileName("/a/./b/../c"), "/a/c");
  EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
}

TEST(ProgramPath, CurrentFolderFollowsTheExecutable) {
  test::TTestProgramFolder folder;
  EXPECT_EQ(ExePath(), folder.ExePath());
  EXPECT_EQ(ExeDir(), folder.Dir());
  ASSERT_EQ(chdir("/"), 0);
  ASSERT_TRUE(SetCurrentDirToExeDir());
  EXPECT_EQ(ExpandFileName("x"), folder.Dir() + "x");
}
