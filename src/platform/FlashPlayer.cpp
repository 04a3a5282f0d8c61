#include "platform/FlashPlayer.h"

namespace velm {

bool DetectFlashPlayer(std::string& versionText, int32_t& version) {
  // Qt WebEngine on Linux has no Flash plug-in.
  versionText.clear();
  version = -1;
  return false;
}

}  // namespace velm
