// The client's date-time type: days since 30 December 1899 as a double, the time of day as the
// fraction, local time unless said otherwise. This module alone converts to and from time_t.
#pragma once

#include <ctime>
#include <stdexcept>

namespace velm {

using TDateTime = double;

// 1 January 1970 as a TDateTime.
inline constexpr TDateTime kUnixEpochDate = 25569.0;
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kOneSecond = 1.0 / kSecondsPerDay;

// An invalid date or time given to the date routines.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool IsValidDate(int year, int month, int day);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
// Throwing forms, for code that guards a whole parse with one handler.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec = 0);
// Date part plus time part; for days before 30 December 1899 the time still counts forward.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

TDateTime Now();
// Local wall-clock value of a moment; with nsec the sub-second part is kept in milliseconds.
TDateTime UnixToLocalDateTime(time_t t, long nsec = 0);
// The moment a local wall-clock value denotes under the machine's zone rules.
bool LocalDateTimeToUnix(TDateTime value, time_t& t, long& nsec);

// The machine's time-zone bias in minutes (UTC = local + bias) for the current moment.
// False where the zone cannot be read.
bool GetTimeZoneBias(int& biasMinutes);

}  // namespace velm
