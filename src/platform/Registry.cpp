#include "platform/Registry.h"

#include <cstdlib>

#include "platform/Encoding.h"

namespace velm {
namespace {

std::mutex gRegistryMutex;
std::unique_ptr<IRegistry> gRegistry;

}  // namespace

TRegValue TRegValue::FromString(std::string text) {
  TRegValue v;
  v.Kind = TKind::String;
  v.Text = std::move(text);
  return v;
}

TRegValue TRegValue::FromDWord(uint32_t value) {
  TRegValue v;
  v.Kind = TKind::DWord;
  v.DWord = value;
  return v;
}

TRegValue TRegValue::FromBinary(std::vector<uint8_t> bytes) {
  TRegValue v;
  v.Kind = TKind::Binary;
  v.Bytes = std::move(bytes);
  return v;
}

bool TMemoryRegistry::ReadValue(TRegRoot root, const std::string& key, const std::string& name,
                                TRegValue& value) {
  std::lock_guard<std::mutex> lock(fMutex);
  auto it = fValues.find({root, LowerCase(key), LowerCase(name)});
  if (it == fValues.end()) return false;
  value = it->second;
  return true;
}

bool TMemoryRegistry::WriteValue(TRegRoot root, const std::string& key, const std::string& name,
                                 const TRegValue& value) {
  std::lock_guard<std::mutex> lock(fMutex);
  fValues[{root, LowerCase(key), LowerCase(name)}] = value;
  return true;
}

std::string ProxyServerFromUrl(const std::string& url) {
  std::string rest = url;
  size_t scheme = rest.find("://");
  if (scheme != std::string::npos) rest = rest.substr(scheme + 3);
  size_t slash = rest.find('/');
  if (slash != std::string::npos) rest = rest.substr(0, slash);
  size_t at = rest.rfind('@');
  if (at != std::string::npos) rest = rest.substr(at + 1);
  size_t colon = rest.rfind(':');
  if (rest.empty() || colon == std::string::npos || colon == 0 || colon + 1 == rest.size())
    return {};
  for (size_t i = colon + 1; i < rest.size(); ++i)
    if (rest[i] < '0' || rest[i] > '9') return {};
  return rest;
}

bool TLinuxRegistry::ReadValue(TRegRoot root, const std::string& key, const std::string& name,
                               TRegValue& value) {
  if (TMemoryRegistry::ReadValue(root, key, name, value)) return true;
  if (root == TRegRoot::LocalMachine && SameText(key, kBrowserVersionKey) &&
      SameText(name, "Version")) {
    std::lock_guard<std::mutex> lock(fVersionMutex);
    if (fBrowserVersion.empty()) return false;
    value = TRegValue::FromString(fBrowserVersion);
    return true;
  }
  if (root == TRegRoot::CurrentUser && SameText(key, kInternetSettingsKey)) {
    const char* env = std::getenv("http_proxy");
    if (!env || !*env) env = std::getenv("HTTP_PROXY");
    std::string server = env ? ProxyServerFromUrl(env) : std::string();
    if (server.empty()) return false;
    if (SameText(name, "ProxyServer")) {
      value = TRegValue::FromString(server);
      return true;
    }
    if (SameText(name, "ProxyEnable")) {
      value = TRegValue::FromDWord(1);
      return true;
    }
  }
  return false;
}

void TLinuxRegistry::SetBrowserVersion(const std::string& version) {
  std::lock_guard<std::mutex> lock(fVersionMutex);
  fBrowserVersion = version;
}

IRegistry& Registry() {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  if (!gRegistry) gRegistry = std::make_unique<TLinuxRegistry>();
  return *gRegistry;
}

void SetRegistry(std::unique_ptr<IRegistry> registry) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  gRegistry = std::move(registry);
}

}  // namespace velm
