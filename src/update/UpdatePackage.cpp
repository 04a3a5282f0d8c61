#include "update/UpdatePackage.h"

#include <cstdint>

namespace velm {

std::atomic<bool> ClientUpdated{false};
std::atomic<bool> FilesUpdated{false};
std::atomic<bool> StartupUpdateDone{false};

namespace {

constexpr int64_t kMinutesPerDay = 24 * 60;
constexpr int64_t kBuildDays = 28;  // a build stamp stays inside January 2001

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A relative path that stays inside the folder it is taken from.
bool StaysInside(std::string_view path) {
  if (path.empty() || path[0] == '/' || path.find('\0') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

// 1 to maxDigits decimal digits at the front of s, taken off it.
bool TakeNumber(std::string_view& s, size_t minDigits, size_t maxDigits, int& value) {
  size_t n = 0;
  value = 0;
  while (n < s.size() && n < maxDigits && s[n] >= '0' && s[n] <= '9')
    value = value * 10 + (s[n++] - '0');
  if (n < minDigits) return false;
  s.remove_prefix(n);
  return true;
}

bool TakeChar(std::string_view& s, char c) {
  if (s.empty() || s[0] != c) return false;
  s.remove_prefix(1);
  return true;
}

// "YYYY.MM.DD HH-MM-SS" as a local date-time.
bool ParseListDate(std::string_view s, TDateTime& result) {
  int year, month, day, hour, minute, second;
  if (!TakeNumber(s, 4, 4, year) || !TakeChar(s, '.') || !TakeNumber(s, 1, 2, month) ||
      !TakeChar(s, '.') || !TakeNumber(s, 1, 2, day) || !TakeChar(s, ' '))
    return false;
  while (TakeChar(s, ' ')) {
  }
  if (!TakeNumber(s, 1, 2, hour) || !TakeChar(s, '-') || !TakeNumber(s, 1, 2, minute) ||
      !TakeChar(s, '-') || !TakeNumber(s, 1, 2, second) || !s.empty())
    return false;
  TDateTime date, time;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time))
    return false;
  result = date + time;
  return true;
}

}  // namespace

bool TUpdatePackageDesc::Matches(std::string_view url) const {
  const size_t n = url.size() < MatchPrefix.size() ? url.size() : MatchPrefix.size();
  return url.substr(0, n) == std::string_view(MatchPrefix).substr(0, n);
}

std::string LocalPathOf(const TUpdatePackageDesc& package, std::string_view name) {
  std::string path;
  if (!package.LocalPrefix.empty() && package.LocalPrefix[0] == '-') {
    // Whether the name really starts with the cut part is not checked; the site lists only such.
    const size_t cut = package.LocalPrefix.size() - 1;
    path = name.substr(cut < name.size() ? cut : name.size());
  } else {
    path.reserve(package.LocalPrefix.size() + name.size());
    for (char c : package.LocalPrefix) path += c == '\\' ? '/' : c;
    path += name;
  }
  if (!StaysInside(name) || !StaysInside(path)) path.clear();
  return path;
}

TDateTime BuildToDate(std::string_view build) {
  // A 32-bit decimal number with optional sign; anything else, and a negative build, is 0.
  std::string_view s = Trim(build);
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int64_t n = s.empty() ? -1 : 0;
  for (char c : s) {
    if (c < '0' || c > '9' || n > INT32_MAX) {
      n = -1;
      break;
    }
    n = n * 10 + (c - '0');
  }
  if (n < 0 || n > INT32_MAX || (negative && n != 0)) n = 0;
  const int64_t minutes = n % 60;
  const int64_t hours = n / 60 % 24;
  const int64_t days = n / kMinutesPerDay % kBuildDays;
  return EncodeDate(2001, 1, 1) + static_cast<double>(days) +
         EncodeTime(static_cast<int>(hours), static_cast<int>(minutes), 10, 0);
}

bool DateToBuild(TDateTime date, std::string& build) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(date, year, month, day);
  if (year != 2001 || month != 1) return false;
  DecodeTime(date, hour, minute, second, ms);
  build = std::to_string((static_cast<int64_t>(day - 1) * 24 + hour) * 60 + minute);
  return true;
}

bool ParseFileListLine(std::string_view line, std::string& name, TDateTime& date) {
  line = Trim(line);
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos || tab == 0) return false;
  const std::string_view listName = line.substr(0, tab);
  std::string_view rest = line.substr(tab + 1);
  while (!rest.empty() && IsBlank(rest[0])) rest.remove_prefix(1);
  TDateTime parsed;
  if (!StaysInside(listName) || !ParseListDate(rest, parsed)) return false;
  name.assign(listName);
  date = parsed;
  return true;
}

std::string BuildKey(int packageId) {
  return kBuildKeyPrefix + std::to_string(packageId);
}

}  // namespace velm
