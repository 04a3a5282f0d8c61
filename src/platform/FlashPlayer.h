// Which Flash Player the browser views can use. The embedded engine plays no Flash by itself.
#pragma once

#include <cstdint>
#include <string>

namespace velm {

// True with the player's version text and number (major version in the upper 16 bits) when one
// is available; false when none is.
bool DetectFlashPlayer(std::string& versionText, int32_t& version);

}  // namespace velm
