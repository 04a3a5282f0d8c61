// The main window's update timer counts milliseconds; the options give minutes.
#pragma once

#include <cstdint>

namespace velm {

// The largest interval a timer can be given (about 24.8 days).
inline constexpr int32_t kMaxTimerIntervalMs = INT32_MAX;

// minutes x 60000, computed without overflow: an interval stored by hand beyond what a timer
// can hold is cut to the largest one; below 1 minute counts as 1.
int32_t AutoUpdateIntervalMs(int32_t minutes);

}  // namespace velm
