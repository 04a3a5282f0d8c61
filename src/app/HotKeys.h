// The process-wide switch of the client's keyboard shortcuts: cleared while a modal dialog is up.
#pragma once

#include <atomic>

namespace velm {

extern std::atomic<bool> HotKeysEnabled;

// Clears HotKeysEnabled for its scope and sets it again afterwards, also when the scope is left
// by an exception.
class THotKeysDisabled {
 public:
  THotKeysDisabled() { HotKeysEnabled = false; }
  ~THotKeysDisabled() { HotKeysEnabled = true; }
  THotKeysDisabled(const THotKeysDisabled&) = delete;
  THotKeysDisabled& operator=(const THotKeysDisabled&) = delete;
};

}  // namespace velm
