// Opening an address in the user's default browser, through one replaceable function so tests
// can record what would have been opened.
#pragma once

#include <functional>
#include <string>

namespace velm {

using TShellOpenHandler = std::function<void(const std::u16string& address)>;

// Hands the address to the desktop's default handler; the result is not examined.
void ShellOpen(const std::u16string& address);
// Installs another handler and returns the previous one; an empty handler restores the desktop's.
TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler);

}  // namespace velm
