#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "proxy/DateTimeStamp.h"
#include "support/TestFolder.h"

using namespace velm;

namespace {

constexpr double kTolerance = 1e-9;  // well below one millisecond
constexpr TDateTime kPlus3 = 3.0 / 24;

struct TParseCase {
  const char* text;
  TDateTime expectedInPlus3;  // the local value on a machine at +03:00
};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDateTime(y, mo, d, h, mi, s);
}

// A value that is not a date: 30 December 1899 plus the zone shifts.
constexpr TDateTime kNoDate = kPlus3;

std::vector<TParseCase> ParseCases() {
  const TDateTime sample = At(1994, 11, 6, 11, 49, 37);
  return {
      {"Sun, 06 Nov 1994 08:49:37 GMT", sample},
      {"Sunday, 06-Nov-94 08:49:37 GMT", sample},
      {"Sun Nov  6 08:49:37 1994", sample},
      {"Sun,06 Nov 1994 08:49:37 GMT", sample},
      {"sun, 06 nov 1994 08:49:37 gmt", sample},
      {"  Sun, 06 Nov 1994 08:49:37 GMT  ", sample},
      {"Sun, 06 Nov 1994 08:49:37 UTC", sample},
      {"Sun, 06 Nov 1994 08:49:37 +0300", At(1994, 11, 6, 8, 49, 37)},
      {"Sun, 06 Nov 1994 08:49:37 -0130", At(1994, 11, 6, 13, 19, 37)},
      {"Sat, 29 Oct 1994 19:43:31 GMT; length=3471", At(1994, 10, 29, 22, 43, 31)},
      {"Sun, 06 Nov 1994 08:49 GMT", At(1994, 11, 6, 11, 49, 0)},
      // Two-digit years: below 80 in this century, 80..99 in the last.
      {"06 Nov 07 08:49:37 GMT", At(2007, 11, 6, 11, 49, 37)},
      {"06 Nov 79 08:49:37 GMT", At(2079, 11, 6, 11, 49, 37)},
      {"06 Nov 80 08:49:37 GMT", At(1980, 11, 6, 11, 49, 37)},
      // AM/PM, and whatever follows the marker is dropped, a zone included.
      {"06 Nov 1994 8:49:37 PM", At(1994, 11, 6, 23, 49, 37)},
      {"06 Nov 1994 12:10:00 AM", At(1994, 11, 6, 3, 10, 0)},
      {"06 Nov 1994 12:10:00 PM", At(1994, 11, 6, 15, 10, 0)},
      {"06 Nov 1994 8:49:37 PM +0300", At(1994, 11, 6, 23, 49, 37)},
      // A date without time is midnight UTC.
      {"Sun, 06 Nov 1994", At(1994, 11, 6, 3, 0, 0)},
      // Not dates: the date part is 0 and only the zone shifts apply.
      {"Sun, 31 Feb 1994 08:49:37 GMT", kNoDate},
      {"nonsense", kNoDate},
      {"Sun, 06 November 1994 08:49:37 GMT", kNoDate},
      {"Sun, 06 Nov 1994 24:00:00 GMT", kNoDate},
      {"Sun, 06 Nov 1994 08:60:00 GMT", kNoDate},
      {"Sun", kNoDate},
      {"Sun,", kNoDate},
      {"   ", kNoDate},
      // A field too large for 16 bits is no date (it must not wrap round to year 1980).
      {"06 Nov 65616 08:49:37 GMT", kNoDate},
      {"06 Nov -1 08:49:37 GMT", kNoDate},
  };
}

}  // namespace

TEST(DateTimeStamp, ParsesHeaderFormsInTwoZones) {
  struct TZone {
    const char* tz;
    TDateTime offset;
  } zones[] = {{"<+03>-3", kPlus3}, {"<-0330>3:30", -3.5 / 24}};
  for (const auto& zone : zones) {
    test::TScopedTimeZone tz(zone.tz);
    ASSERT_NEAR(LocalZoneOffset(), zone.offset, kTolerance) << zone.tz;
    for (const auto& c : ParseCases()) {
      const TDateTime expected = c.expectedInPlus3 - kPlus3 + zone.offset;
      EXPECT_NEAR(ParseHttpDate(c.text), expected, kTolerance) << zone.tz << " \"" << c.text << '"';
    }
    EXPECT_EQ(ParseHttpDate(""), 0.0) << zone.tz;
  }
}

TEST(DateTimeStamp, FailedParseKeepsTheZoneSeenSoFar) {
  // The hour fails after the zone has been split off, so its shift still applies.
  test::TScopedTimeZone tz("<+03>-3");
  std::string_view text = "Sun, 06 Nov 1994 25:00:00 +0300";
  EXPECT_EQ(ParseDateTime(text), 0.0);
  EXPECT_EQ(text, "+0300");
  EXPECT_NEAR(ParseHttpDate("Sun, 06 Nov 1994 25:00:00 +0300"), 0.0, kTolerance);
}

TEST(DateTimeStamp, FormatsLocalValueWithZoneOffset) {
  struct TCase {
    const char* tz;
    TDateTime value;
    const char* expected;
  } cases[] = {
      {"<+03>-3", At(2011, 1, 1, 9, 5, 7), "Sat, 1 Jan 2011 09:05:07 +0300"},
      {"<+03>-3", At(2011, 2, 5, 13, 20, 30), "Sat, 5 Feb 2011 13:20:30 +0300"},
      {"<+03>-3", At(1994, 11, 6, 0, 0, 0), "Sun, 6 Nov 1994 00:00:00 +0300"},
      {"UTC0", At(2011, 1, 1, 9, 5, 7), "Sat, 1 Jan 2011 09:05:07 +0000"},
      {"<-0330>3:30", At(2011, 1, 1, 9, 5, 7), "Sat, 1 Jan 2011 09:05:07 -0330"},
      {"<-0330>3:30", At(2024, 12, 31, 23, 59, 59), "Tue, 31 Dec 2024 23:59:59 -0330"},
  };
  for (const auto& c : cases) {
    test::TScopedTimeZone tz(c.tz);
    EXPECT_EQ(FormatHttpDate(c.value), c.expected) << c.tz;
    // What the proxy writes, it reads back as the same local value.
    EXPECT_NEAR(ParseHttpDate(FormatHttpDate(c.value)), c.value, kTolerance) << c.tz;
  }
}

TEST(DateTimeStamp, SplitTextModes) {
  struct TCase {
    const char* text;
    bool remove;
    const char* head;
    const char* rest;
  } cases[] = {
      {"06 Nov", true, "06", "Nov"},    {"06 Nov", false, "06", "06 Nov"},
      {"nothing", true, "nothing", ""}, {"nothing", false, "nothing", "nothing"},
      {" lead", true, "", "lead"},      {"", true, "", ""},
      {"a  b", true, "a", " b"},
  };
  for (const auto& c : cases) {
    std::string_view text = c.text;
    EXPECT_EQ(SplitText(text, ' ', c.remove), c.head) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(DateTimeStamp, NameIndexesMatchWholeThreeLetterTokens) {
  EXPECT_EQ(DayIndex("SUN"), 1);
  EXPECT_EQ(DayIndex("sat"), 7);
  EXPECT_EQ(DayIndex("Sunday"), 0);
  EXPECT_EQ(DayIndex("Su"), 0);
  EXPECT_EQ(MonthIndex("Jan"), 1);
  EXPECT_EQ(MonthIndex("nov"), 11);
  EXPECT_EQ(MonthIndex("DEC"), 12);
  EXPECT_EQ(MonthIndex("NOVEMBER"), 0);
  EXPECT_EQ(MonthIndex(""), 0);
  EXPECT_STREQ(DayNames[1], "Sun");
  EXPECT_STREQ(MonthNames[12], "Dec");
}

TEST(DateTimeStamp, ZoneOffsetTextBothWays) {
  struct TCase {
    const char* text;
    TDateTime offset;
  } cases[] = {
      {"+0300", 3.0 / 24},
      {"-0130", -1.5 / 24},
      {" +0545 ", 5.75 / 24},
      {"+030012", 3.0 / 24},
      {"+0000", 0},
      {"GMT", 0},
      {"UTC", 0},
      {"+2400", 0},
      {"+0360", 0},
      {"+03x0", 0},
      {"+03", 0},
      {"", 0},
  };
  for (const auto& c : cases) EXPECT_NEAR(ParseZoneOffset(c.text), c.offset, kTolerance) << c.text;

  EXPECT_EQ(FormatZoneOffset(3.0 / 24), "+0300");
  EXPECT_EQ(FormatZoneOffset(0), "+0000");
  EXPECT_EQ(FormatZoneOffset(-3.5 / 24), "-0330");
  EXPECT_EQ(FormatZoneOffset(5.75 / 24), "+0545");
}

TEST(DateTimeStamp, ParseLeavesTheZonePart) {
  std::string_view text = "Sat, 29 Oct 1994 19:43:31 GMT; length=3471";
  EXPECT_NEAR(ParseDateTime(text), At(1994, 10, 29, 19, 43, 31), kTolerance);
  EXPECT_EQ(text, "GMT; length=3471");
  text = "Sun Nov  6 08:49:37 1994";
  EXPECT_NEAR(ParseDateTime(text), At(1994, 11, 6, 8, 49, 37), kTolerance);
  EXPECT_EQ(text, "");
}

TEST(DateTimeStamp, EveryCutOfAHeaderDateParsesWithoutRaising) {
  // For the sanitizer build: no cut text reads past its end. A cut asctime form may still be a
  // date ("Sun Nov  6 08" is 6 November 2008, "... 199" a day of the year 199), so only sane
  // values are asked for.
  test::TScopedTimeZone tz("<+03>-3");
  for (const std::string text : {"Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
                                 "Sun,06 Nov 1994 8:49:37 PM +0300"}) {
    for (size_t n = 0; n <= text.size(); ++n) {
      const std::vector<char> exact(text.begin(), text.begin() + n);  // nothing after the cut
      const TDateTime v = ParseHttpDate(std::string_view(exact.data(), n));
      EXPECT_TRUE(v > EncodeDate(100, 1, 1) && v < EncodeDate(2100, 1, 1)) << text.substr(0, n);
    }
  }
}
