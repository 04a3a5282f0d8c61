// The system proxy as the environment gives it (http_proxy) and as the registry value
// "ProxyServer" holds it ("http=host:port;..."). The first byte picks which one is fed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "net/Transport.h"
#include "platform/Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string address;
  int32_t port = 0;
  bool enabled = false;
  if (data[0] & 1) {
    velm::ProxyServerFromUrl(text);
    auto registry = std::make_unique<velm::TMemoryRegistry>();
    registry->WriteValue(velm::TRegRoot::CurrentUser, velm::kInternetSettingsKey, "ProxyServer",
                         velm::TRegValue::FromString(text));
    registry->WriteValue(velm::TRegRoot::CurrentUser, velm::kInternetSettingsKey, "ProxyEnable",
                         velm::TRegValue::FromString(text.substr(0, 8)));
    velm::SetRegistry(std::move(registry));
  } else {
    // The Linux registry reads http_proxy itself; a NUL would end the variable early.
    text.resize(std::strlen(text.c_str()));
    ::setenv("http_proxy", text.c_str(), 1);
    velm::SetRegistry(nullptr);
  }
  velm::ReadSystemProxy(address, port, enabled);
  if (address.size() > text.size()) std::abort();
  return 0;
}
