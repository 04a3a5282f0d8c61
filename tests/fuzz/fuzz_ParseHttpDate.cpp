// If-Modified-Since values as browsers (or anything else on the port) send them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "proxy/DateTimeStamp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool zone = [] { return ::setenv("TZ", "<+03>-3", 1) == 0; }();
  (void)zone;
  const velm::TDateTime value =
      velm::ParseHttpDate(std::string_view(reinterpret_cast<const char*>(data), size));
  if (value != value) std::abort();  // never NaN
  // A value that parsed is written back out as the proxy would in a Last-Modified line.
  if (value > 0 && value < 2958466) velm::FormatHttpDate(value);
  return 0;
}
