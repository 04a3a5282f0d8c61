// The one beep of the program. The windows replace the sound; tests count the calls.
#pragma once

#include <functional>

namespace velm {

using TBeepHandler = std::function<void(int frequency, int milliseconds)>;

void Beep(int frequency, int milliseconds);
// Installs another handler and returns the previous one; an empty handler restores the default
// (the terminal bell when standard error is a terminal).
TBeepHandler SetBeepHandler(TBeepHandler handler);

}  // namespace velm
