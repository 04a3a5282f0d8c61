// The single-instance lock of a program folder: one holder, freed with its holder, never passed
// on to children, and a local socket through which a second start asks for the window.
#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/TestFolder.h"
#include "update/SelfUpdate.h"

namespace velm {
namespace {

TEST(SingleInstance, OneHolderPerFolderUntilReleased) {
  test::TTestProgramFolder a, b;
  TSingleInstance first(a.Dir());
  EXPECT_FALSE(IsSingleInstanceLockHeld(a.Dir()));
  ASSERT_TRUE(first.Acquire());
  EXPECT_TRUE(IsSingleInstanceLockHeld(a.Dir()));

  TSingleInstance second(a.Dir());
  EXPECT_FALSE(second.Acquire());
  TSingleInstance elsewhere(b.Dir());
  EXPECT_TRUE(elsewhere.Acquire()) << "another program folder has its own lock";

  first.Release();
  EXPECT_FALSE(IsSingleInstanceLockHeld(a.Dir()));
  EXPECT_TRUE(second.Acquire());
}

TEST(SingleInstance, WaitForReleaseIsBounded) {
  test::TTestProgramFolder folder;
  auto holder = std::make_unique<TSingleInstance>(folder.Dir());
  ASSERT_TRUE(holder->Acquire());
  EXPECT_FALSE(WaitForSingleInstanceRelease(folder.Dir(), 200));

  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    holder.reset();
  });
  EXPECT_TRUE(WaitForSingleInstanceRelease(folder.Dir(), 10000));
  releaser.join();
}

TEST(SingleInstance, ChildProcessesDoNotInheritTheLock) {
  // A client that starts another program and ends must free the lock, or the self-update of a
  // replacing process would wait for a stranger.
  test::TTestProgramFolder folder;
  TSingleInstance holder(folder.Dir());
  ASSERT_TRUE(holder.Acquire());
  ASSERT_TRUE(RunProcess("/bin/sleep 3"));
  holder.Release();
  EXPECT_FALSE(IsSingleInstanceLockHeld(folder.Dir()));
}

TEST(SingleInstance, SecondStartAsksTheHolderToRaiseItsWindow) {
  test::TTestProgramFolder folder;
  EXPECT_FALSE(TSingleInstance::AskToRaise(folder.Dir())) << "nobody listens yet";

  TSingleInstance holder(folder.Dir());
  ASSERT_TRUE(holder.Acquire());
  std::atomic<int> raised{0};
  ASSERT_TRUE(holder.ListenForRaise([&] { ++raised; }));
  EXPECT_TRUE(TSingleInstance::AskToRaise(folder.Dir()));
  EXPECT_TRUE(TSingleInstance::AskToRaise(folder.Dir() + "./"));
  for (int i = 0; i < 200 && raised < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(raised.load(), 2);

  holder.Release();
  EXPECT_FALSE(TSingleInstance::AskToRaise(folder.Dir()));
}

}  // namespace
}  // namespace velm
