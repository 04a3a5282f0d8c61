#include "app/HotKeys.h"

namespace velm {

std::atomic<bool> HotKeysEnabled{true};

}  // namespace velm
