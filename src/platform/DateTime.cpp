#include "platform/DateTime.h"

#include <sys/time.h>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace velm {
namespace {

constexpr int64_t kDaysFrom1970To1899 = -25569;  // 30 Dec 1899 relative to 1 Jan 1970

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Whole milliseconds of the time of day, rounded as the date library does.
int64_t TimeMs(TDateTime value) {
  double frac = std::fabs(value - std::trunc(value));
  return static_cast<int64_t>(std::llround(frac * kSecondsPerDay * 1000.0));
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  int last = kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  return day <= last;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (!IsValidDate(year, month, day)) return false;
  result = static_cast<double>(DaysFromCivil(year, month, day) - kDaysFrom1970To1899);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
      msec >= 1000)
    return false;
  result = (((hour * 60.0 + min) * 60.0 + sec) * 1000.0 + msec) / (kSecondsPerDay * 1000.0);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, min, sec, msec, r))
    throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  return ComposeDateTime(EncodeDate(year, month, day), EncodeTime(hour, min, sec, msec));
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int64_t days = static_cast<int64_t>(std::trunc(value));
  if (TimeMs(value) >= 86400000LL) days += value < 0 ? -1 : 1;
  CivilFromDays(days + kDaysFrom1970To1899, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  int64_t ms = TimeMs(value) % 86400000LL;
  hour = static_cast<int>(ms / 3600000);
  min = static_cast<int>(ms / 60000 % 60);
  sec = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime value) {
  int y, m, d;
  DecodeDate(value, y, m, d);
  int64_t days = DaysFromCivil(y, m, d);  // 1 Jan 1970 was a Thursday (5)
  return static_cast<int>(((days + 4) % 7 + 7) % 7) + 1;
}

TDateTime UnixToLocalDateTime(time_t t, long nsec) {
  struct tm tm {};
  if (!localtime_r(&t, &tm)) return 0;
  TDateTime date = 0, time = 0;
  TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, date);
  TryEncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec,
                static_cast<int>(nsec / 1000000), time);
  return ComposeDateTime(date, time);
}

TDateTime Now() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return UnixToLocalDateTime(ts.tv_sec, ts.tv_nsec);
}

bool LocalDateTimeToUnix(TDateTime value, time_t& t, long& nsec) {
  if (!std::isfinite(value)) return false;
  int y, mo, d, h, mi, s, ms;
  DecodeDate(value, y, mo, d);
  DecodeTime(value, h, mi, s, ms);
  struct tm tm {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  errno = 0;
  time_t r = mktime(&tm);
  if (r == static_cast<time_t>(-1) && errno != 0) return false;
  t = r;
  nsec = static_cast<long>(ms) * 1000000L;
  return true;
}

bool GetTimeZoneBias(int& biasMinutes) {
  time_t now = time(nullptr);
  struct tm tm {};
  if (now == static_cast<time_t>(-1) || !localtime_r(&now, &tm)) return false;
  // tm_gmtoff is local minus UTC in seconds; the bias runs the other way.
  biasMinutes = static_cast<int>(-tm.tm_gmtoff / 60);
  return true;
}

}  // namespace velm
