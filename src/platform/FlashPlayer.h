// Which Flash Player the browser views can use. The embedded engine plays no Flash by itself; the
// client ships the Ruffle emulator (WebAssembly and JavaScript) in the "ruffle" folder beside the
// executable, and the browser views load it into pages that carry Flash content.
#pragma once

#include <cstdint>
#include <string>

namespace velm {

// The Flash Player version Ruffle presents to movies (32.0), major version in the upper 16 bits.
inline constexpr int32_t kRuffleFlashVersion = 32 << 16;
// The script a page loads to get the emulator; it fetches the rest of the folder itself.
inline constexpr const char* kRuffleScriptName = "ruffle.js";

// The emulator's folder: ExeDir() + "ruffle/".
std::string RuffleFolder();

// True with "Ruffle <version>" and kRuffleFlashVersion when the folder holds a usable emulator:
// its package description names "@ruffle-rs/ruffle" with a version, its script is there and at
// least one of its WebAssembly modules is readable and begins like one. False (text empty,
// version -1) otherwise.
bool DetectRuffle(const std::string& folder, std::string& versionText, int32_t& version);

// True with the player's version text and number (major version in the upper 16 bits) when one
// is available; false when none is. The player is the emulator in RuffleFolder().
bool DetectFlashPlayer(std::string& versionText, int32_t& version);

}  // namespace velm
