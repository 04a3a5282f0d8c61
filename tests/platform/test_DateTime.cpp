#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "support/TestFolder.h"

using namespace velm;

TEST(DateTime, EncodeDecodeKnownDays) {
  struct Case {
    int y, m, d;
    double serial;
  } cases[] = {
      {1899, 12, 30, 0},   {1900, 1, 1, 2},      {1970, 1, 1, 25569},
      {2001, 1, 1, 36892}, {100, 1, 1, -657434}, {2024, 2, 29, 45351},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(EncodeDate(c.y, c.m, c.d), c.serial) << c.y;
    int y, m, d;
    DecodeDate(c.serial, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
  }
  TDateTime out;
  EXPECT_FALSE(TryEncodeDate(1994, 2, 31, out));
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, out));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
  EXPECT_THROW(EncodeDate(2001, 13, 1), EConvertError);
}

TEST(DateTime, TimeOfDayAndWeekday) {
  TDateTime v = EncodeDateTime(2011, 2, 5, 13, 20, 30);
  int h, mi, s, ms;
  DecodeTime(v, h, mi, s, ms);
  EXPECT_EQ(h * 10000 + mi * 100 + s, 132030);
  EXPECT_EQ(DayOfWeek(v), 7);                        // Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(1994, 11, 6)), 1);  // Sunday
  // Before 30 December 1899 the time of day still counts forward from the day's start.
  TDateTime early = EncodeDateTime(1899, 12, 29, 6, 0, 0);
  EXPECT_DOUBLE_EQ(early, -1.25);
  DecodeTime(early, h, mi, s, ms);
  EXPECT_EQ(h, 6);
}

TEST(DateTime, UnixConversionFollowsTheZone) {
  test::TScopedTimeZone tz("<+03>-3");
  TDateTime local = UnixToLocalDateTime(0);
  EXPECT_DOUBLE_EQ(local, EncodeDateTime(1970, 1, 1, 3, 0, 0));
  time_t t;
  long ns;
  ASSERT_TRUE(LocalDateTimeToUnix(local, t, ns));
  EXPECT_EQ(t, 0);
}

TEST(DateTime, TimeZoneBias) {
  struct Case {
    const char* tz;
    int bias;
  } cases[] = {{"<+03>-3", -180}, {"UTC0", 0}, {"<-0330>3:30", 210}, {"<-05>5", 300}};
  for (const auto& c : cases) {
    test::TScopedTimeZone tz(c.tz);
    int bias = 12345;
    ASSERT_TRUE(GetTimeZoneBias(bias)) << c.tz;
    EXPECT_EQ(bias, c.bias) << c.tz;
  }
}
