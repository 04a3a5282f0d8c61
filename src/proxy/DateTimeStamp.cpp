#include "proxy/DateTimeStamp.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace velm {

const char* const DayNames[8] = {"", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MonthNames[13] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

// The parser's own upper-case lists: input is matched after upper-casing.
constexpr char kInputDays[7][4] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr char kInputMonths[12][4] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// Date fields are 16-bit while a date is parsed; a number that does not fit fails the parse.
constexpr int64_t kFieldMax = 0xFFFF;

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

void TrimLeft(std::string_view& s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  s.remove_prefix(i);
}

void Trim(std::string_view& s) {
  TrimLeft(s);
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  s = s.substr(0, n);
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

template <size_t N>
int IndexOf(const char (&table)[N][4], std::string_view token) {
  if (token.size() != 3) return 0;
  const char a = Upper(token[0]), b = Upper(token[1]), c = Upper(token[2]);
  for (size_t i = 0; i < N; ++i)
    if (table[i][0] == a && table[i][1] == b && table[i][2] == c) return static_cast<int>(i) + 1;
  return 0;
}

enum class TNumber { Ok, NotANumber, OutOfRange };

// A decimal number with optional leading blanks and sign, nothing after the digits.
TNumber ToField(std::string_view token, int& value) {
  TrimLeft(token);
  bool negative = false;
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  if (token.empty()) return TNumber::NotANumber;
  int64_t n = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return TNumber::NotANumber;
    if (n <= kFieldMax) n = n * 10 + (c - '0');
  }
  if (n == 0) negative = false;
  if (negative || n > kFieldMax) return TNumber::OutOfRange;
  value = static_cast<int>(n);
  return TNumber::Ok;
}

// Field value or the default for a non-number; false when the number cannot be a field.
bool ReadField(std::string_view token, int fallback, int& value) {
  switch (ToField(token, value)) {
    case TNumber::Ok:
      return true;
    case TNumber::NotANumber:
      value = fallback;
      return true;
    default:
      return false;
  }
}

// Exactly two decimal digits.
bool TwoDigits(std::string_view s, int& value) {
  if (s.size() != 2 || s[0] < '0' || s[0] > '9' || s[1] < '0' || s[1] > '9') return false;
  value = (s[0] - '0') * 10 + (s[1] - '0');
  return true;
}

// Five characters "+HHMM" of an offset.
void WriteZoneOffset(char* out, TDateTime offset) {
  int h, m, s, ms;
  DecodeTime(std::fabs(offset), h, m, s, ms);
  out[0] = offset < 0 ? '-' : '+';
  out[1] = static_cast<char>('0' + h / 10 % 10);
  out[2] = static_cast<char>('0' + h % 10);
  out[3] = static_cast<char>('0' + m / 10);
  out[4] = static_cast<char>('0' + m % 10);
}

}  // namespace

std::string_view SplitText(std::string_view& text, char delim, bool remove) {
  const size_t p = text.find(delim);
  std::string_view head = text.substr(0, p);
  if (remove) text = p == std::string_view::npos ? std::string_view() : text.substr(p + 1);
  return head;
}

int DayIndex(std::string_view token) {
  return IndexOf(kInputDays, token);
}
int MonthIndex(std::string_view token) {
  return IndexOf(kInputMonths, token);
}

TDateTime ParseDateTime(std::string_view& text) {
  Trim(text);
  if (text.empty()) return 0;

  // Weekday of any length; "Sun,06 Nov" reads as "Sun, 06 Nov".
  if (DayIndex(text.substr(0, 3)) > 0) {
    if (text.size() >= 4 && text[3] == ',' && (text.size() < 5 || text[4] != ' '))
      text.remove_prefix(4);
    else
      SplitText(text, ' ', true);
    TrimLeft(text);
  }

  // "06-Nov-94" uses "-" between the date fields, everything else a blank.
  const size_t dash = text.find('-');
  const size_t blank = text.find(' ');
  const char sep =
      dash != std::string_view::npos && dash >= 1 && blank != std::string_view::npos && dash < blank
          ? '-'
          : ' ';

  int day = 0, month = 0, year = 0;
  auto readDay = [&] {
    const bool ok = ReadField(SplitText(text, sep, true), 1, day);
    TrimLeft(text);
    return ok;
  };
  auto readMonth = [&] {
    month = MonthIndex(SplitText(text, sep, true));
    TrimLeft(text);
  };
  std::string_view peek = text;
  if (MonthIndex(SplitText(peek, sep, false)) > 0) {
    readMonth();
    if (!readDay()) return 0;
  } else {
    if (!readDay()) return 0;
    readMonth();
  }

  // In the asctime form the token after the day is the time and the year comes last.
  std::string_view yearToken = SplitText(text, ' ', true);
  if (!ReadField(yearToken, 1900, year)) return 0;
  if (year == 1900) {
    if (!ReadField(text, 1900, year)) return 0;
    text = yearToken;
  }
  if (year < 80)
    year += 2000;
  else if (year < 100)
    year += 1900;

  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) return 0;

  bool am = false, pm = false;
  size_t p = text.find("AM");
  if (p != std::string_view::npos) {
    am = true;
    text = text.substr(0, p);
  }
  p = text.find("PM");
  if (p != std::string_view::npos) {
    pm = true;
    text = text.substr(0, p);
  }

  if (text.find(':') != std::string_view::npos) {
    std::string_view time = SplitText(text, ' ', true);
    int hour, minute, second;
    if (!ReadField(SplitText(time, ':', true), 0, hour) ||
        !ReadField(SplitText(time, ':', true), 0, minute) ||
        !ReadField(SplitText(time, ' ', true), 0, second))
      return 0;
    TrimLeft(text);
    if (am) {
      if (hour == 12) hour = 0;
    } else if (pm && hour < 12) {
      hour += 12;
    }
    TDateTime t;
    if (!TryEncodeTime(hour, minute, second, 0, t)) return 0;
    result = ComposeDateTime(result, t);
  }
  TrimLeft(text);
  return result;
}

TDateTime ParseZoneOffset(std::string_view text) {
  Trim(text);
  text = text.substr(0, 5);
  if (text.empty() || (text[0] != '+' && text[0] != '-')) return 0;
  int hours, minutes;
  TDateTime offset;
  if (text.size() < 5 || !TwoDigits(text.substr(1, 2), hours) ||
      !TwoDigits(text.substr(3, 2), minutes) || !TryEncodeTime(hours, minutes, 0, 0, offset))
    return 0;
  return text[0] == '-' ? -offset : offset;
}

std::string FormatZoneOffset(TDateTime offset) {
  char buf[5];
  WriteZoneOffset(buf, offset);
  return std::string(buf, sizeof buf);
}

TDateTime LocalZoneOffset() {
  int bias;
  TDateTime offset;
  if (!GetTimeZoneBias(bias) ||
      !TryEncodeTime(std::abs(bias) / 60, std::abs(bias) % 60, 0, 0, offset))
    throw std::runtime_error("WRONG DATETIME ZONE");
  return bias > 0 ? -offset : offset;
}

TDateTime ParseHttpDate(std::string_view text) {
  if (text.empty()) return 0;
  TDateTime value = ParseDateTime(text);
  TDateTime zone = text.size() >= 5 ? ParseZoneOffset(text) : 0;
  return value - zone + LocalZoneOffset();
}

std::string FormatHttpDate(TDateTime value) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, ms);
  // Written by hand: this runs for every answer the proxy makes from a local file.
  char buf[40];
  char* p = buf;
  auto put = [&p](const char* text) {
    while (*text) *p++ = *text++;
  };
  auto twoDigits = [&p](int v) {
    *p++ = static_cast<char>('0' + v / 10);
    *p++ = static_cast<char>('0' + v % 10);
  };
  put(DayNames[DayOfWeek(value)]);
  put(", ");
  if (day >= 10) *p++ = static_cast<char>('0' + day / 10);
  *p++ = static_cast<char>('0' + day % 10);
  *p++ = ' ';
  put(MonthNames[month]);
  *p++ = ' ';
  char digits[12];
  int n = 0;
  for (int y = year > 0 ? year : 0; n == 0 || y > 0; y /= 10)
    digits[n++] = static_cast<char>('0' + y % 10);
  while (n > 0) *p++ = digits[--n];
  *p++ = ' ';
  twoDigits(hour);
  *p++ = ':';
  twoDigits(minute);
  *p++ = ':';
  twoDigits(second);
  *p++ = ' ';
  WriteZoneOffset(p, LocalZoneOffset());
  p += 5;
  return std::string(buf, static_cast<size_t>(p - buf));
}

}  // namespace velm
