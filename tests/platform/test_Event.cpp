#include <gtest/gtest.h>

#include <thread>

#include "platform/Event.h"

using namespace velm;

TEST(Event, ManualAndAutoReset) {
  TEvent manual(true, false);
  EXPECT_EQ(manual.WaitFor(10), TWaitResult::Timeout);
  manual.SetEvent();
  EXPECT_EQ(manual.WaitFor(0), TWaitResult::Signaled);
  EXPECT_EQ(manual.WaitFor(0), TWaitResult::Signaled);
  manual.ResetEvent();
  EXPECT_FALSE(manual.IsSet());

  TEvent autoReset(false, true);
  EXPECT_EQ(autoReset.WaitFor(0), TWaitResult::Signaled);
  EXPECT_EQ(autoReset.WaitFor(0), TWaitResult::Timeout);
}

TEST(Event, WaitForEitherWakesForTheSecond) {
  TEvent a, b;
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    b.SetEvent();
  });
  int index = -1;
  EXPECT_EQ(TEvent::WaitForEither(a, b, 5000, index), TWaitResult::Signaled);
  EXPECT_EQ(index, 1);
  t.join();
}
