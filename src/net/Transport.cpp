#include "net/Transport.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>

#include "app/IniFile.h"
#include "platform/Encoding.h"
#include "platform/Registry.h"

namespace velm {
namespace {

std::mutex gSettingsMutex;
TTransportSettings gSettings;

// Whole-text decimal integer with an optional sign, as the INI and registry texts carry them.
bool TryParseInt(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
    return false;
  value = static_cast<int32_t>(v);
  return true;
}

}  // namespace

TTransportSettings TransportSettings() {
  std::lock_guard<std::mutex> lock(gSettingsMutex);
  return gSettings;
}

void SetTransportSettings(const TTransportSettings& settings) {
  std::lock_guard<std::mutex> lock(gSettingsMutex);
  gSettings = settings;
}

bool ExtractBetween(const std::string& s, const std::string& startMarker,
                    const std::string& endMarker, std::string& r) {
  size_t start = s.find(startMarker);
  if (start == std::string::npos) return false;
  start += startMarker.size();
  size_t end = s.find(endMarker, start);
  r = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return true;
}

void ReadSystemProxy(std::string& address, int32_t& port, bool& enabled) {
  address.clear();
  port = 80;
  enabled = false;
  IRegistry& registry = Registry();
  TRegValue value;
  std::string s;
  if (registry.ReadValue(TRegRoot::CurrentUser, kInternetSettingsKey, "ProxyServer", value) &&
      value.Kind == TRegValue::TKind::String)
    s = LowerCase(value.Text);
  ExtractBetween(s, "http=", ";", s);
  if (!s.empty()) {
    size_t p = s.find(':');
    address = s.substr(0, p);
    if (p == std::string::npos || !TryParseInt(s.substr(p + 1), port)) port = 80;
    enabled = true;
  }
  if (registry.ReadValue(TRegRoot::CurrentUser, kInternetSettingsKey, "ProxyEnable", value)) {
    switch (value.Kind) {
      case TRegValue::TKind::String: {
        const std::string v = " " + LowerCase(value.Text) + " ";
        enabled = true;
        if (std::string(" yes true t enabled 1 ").find(v) != std::string::npos)
          enabled = true;
        else if (std::string(" no false f none disabled 0 ").find(v) != std::string::npos)
          enabled = false;
        break;
      }
      case TRegValue::TKind::DWord:
        enabled = value.DWord != 0;
        break;
      case TRegValue::TKind::Binary:
        // An empty binary value has no first byte to say "on".
        enabled = !value.Bytes.empty() && value.Bytes[0] != 0;
        break;
    }
  }
}

void LoadTransportSettings() {
  std::string systemAddress;
  int32_t systemPort = 80;
  bool systemEnabled = false;
  try {
    ReadSystemProxy(systemAddress, systemPort, systemEnabled);
  } catch (const std::exception&) {
    // The system proxy only supplies defaults; whatever was read so far stays.
  }
  std::unique_ptr<TIniFile> ini = GetIniFile();
  TTransportSettings s;
  s.UseProxy = ini->ReadBool(kTransportSection, kUseProxyKey, systemEnabled);
  s.ProxyAddress = ini->ReadString(kTransportSection, kProxyAddressKey, systemAddress);
  s.ProxyPort = ini->ReadInteger(kTransportSection, kProxyPortKey, systemPort);
  s.UseProxyAuth = ini->ReadBool(kTransportSection, kUseProxyAuthKey, false);
  s.ProxyUserName = ini->ReadString(kTransportSection, kProxyUserNameKey, "");
  s.ProxyPassword = ini->ReadString(kTransportSection, kProxyPasswordKey, "");
  SetTransportSettings(s);
}

void SaveTransportSettings() {
  const TTransportSettings s = TransportSettings();
  std::unique_ptr<TIniFile> ini = GetIniFile();
  ini->WriteBool(kTransportSection, kUseProxyKey, s.UseProxy);
  ini->WriteString(kTransportSection, kProxyAddressKey, s.ProxyAddress);
  ini->WriteInteger(kTransportSection, kProxyPortKey, s.ProxyPort);
  ini->WriteBool(kTransportSection, kUseProxyAuthKey, s.UseProxyAuth);
  ini->WriteString(kTransportSection, kProxyUserNameKey, s.ProxyUserName);
  ini->WriteString(kTransportSection, kProxyPasswordKey, s.ProxyPassword);
}

void InitializeTransport() {
  LoadTransportSettings();
}

void FinalizeTransport() {
  SetTransportSettings(TTransportSettings{});
}

}  // namespace velm
