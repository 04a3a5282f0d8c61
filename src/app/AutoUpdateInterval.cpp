#include "app/AutoUpdateInterval.h"

#include <algorithm>

namespace velm {

int32_t AutoUpdateIntervalMs(int32_t minutes) {
  const int64_t ms = int64_t{std::max<int32_t>(minutes, 1)} * 60000;
  return static_cast<int32_t>(std::min<int64_t>(ms, kMaxTimerIntervalMs));
}

}  // namespace velm
