// Connection settings: whether the client reaches the site through an upstream HTTP proxy, and
// which one. They live once per process, are loaded from the "Transport" section of the INI file
// at start (the system proxy supplies the defaults) and change only through the connection
// dialog. Loaders and the local proxy read them from several threads, so readers always take a
// whole copy under a small lock and never see a half-replaced text.
#pragma once

#include <cstdint>
#include <string>

namespace velm {

struct TTransportSettings {
  bool UseProxy = false;
  std::string ProxyAddress;
  int32_t ProxyPort = 80;
  bool UseProxyAuth = false;
  std::string ProxyUserName;
  std::string ProxyPassword;

  bool operator==(const TTransportSettings&) const = default;
};

// INI section and keys (each key is named like its setting).
inline constexpr const char* kTransportSection = "Transport";
inline constexpr const char* kUseProxyKey = "UseProxy";
inline constexpr const char* kProxyAddressKey = "ProxyAddress";
inline constexpr const char* kProxyPortKey = "ProxyPort";
inline constexpr const char* kUseProxyAuthKey = "UseProxyAuth";
inline constexpr const char* kProxyUserNameKey = "ProxyUserName";
inline constexpr const char* kProxyPasswordKey = "ProxyPassword";

// A consistent copy of the current settings; safe from any thread.
TTransportSettings TransportSettings();
// Replaces all six settings at once (the dialog's OK, tests).
void SetTransportSettings(const TTransportSettings& settings);

// Fills the settings from the INI file; a missing key takes the system proxy's value (address,
// port, enabled) or the fixed default. Errors while reading the system proxy are swallowed.
void LoadTransportSettings();
// Writes the six settings to the INI file in their fixed order.
void SaveTransportSettings();

// The current user's system proxy: empty address, port 80 and disabled unless the registry's
// "ProxyServer" and "ProxyEnable" say otherwise.
void ReadSystemProxy(std::string& address, int32_t& port, bool& enabled);

// R := the text of S after the first startMarker, up to the next endMarker or the end of S.
// False, with R untouched, when S has no startMarker.
bool ExtractBetween(const std::string& s, const std::string& startMarker,
                    const std::string& endMarker, std::string& r);

// Transport module: loads the settings at process start; clears them at the end.
void InitializeTransport();
void FinalizeTransport();

}  // namespace velm
