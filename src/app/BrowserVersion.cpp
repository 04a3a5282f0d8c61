#include "app/BrowserVersion.h"

#include <charconv>

#include "platform/Registry.h"

namespace velm {

std::string ReadBrowserVersion() {
  TRegValue value;
  if (!Registry().ReadValue(TRegRoot::LocalMachine, kBrowserVersionKey, "Version", value))
    return "";
  return value.Kind == TRegValue::TKind::String ? value.Text : "";
}

bool IsBrowserVersionGood(const std::string& version) {
  size_t dot = version.find('.');
  if (dot == std::string::npos || dot == 0) return false;
  const char* first = version.data();
  const char* last = first + dot;
  // An optional sign, as a decimal integer may carry; nothing else before the dot.
  if (*first == '+') ++first;
  int major = 0;
  auto [end, ec] = std::from_chars(first, last, major);
  return ec == std::errc() && end == last && major >= 6;
}

bool BrowserVersionPasses() {
  return IsBrowserVersionGood(ReadBrowserVersion());
}

}  // namespace velm
