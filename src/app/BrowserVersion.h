// The browser check at start-up: the version of the embedded engine, as the registry layer
// answers it under the browser key, must be at least 6 before its first dot.
#pragma once

#include <string>

namespace velm {

// The "Version" value under the browser key of the local machine; empty when the key or the
// value is missing or the value is not text.
std::string ReadBrowserVersion();
// True when the text has a ".", and the text before the first one is a decimal integer >= 6.
bool IsBrowserVersionGood(const std::string& version);
// Reads the version through Registry() and applies the rule.
bool BrowserVersionPasses();

}  // namespace velm
