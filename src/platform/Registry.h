// The few registry values the client reads and writes, behind one interface.
// Linux: the browser key answers the embedded engine's version, the Internet Settings proxy
// values come from http_proxy; everything written is kept in memory for the run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace velm {

enum class TRegRoot { LocalMachine, CurrentUser };

struct TRegValue {
  enum class TKind { String, DWord, Binary };
  TKind Kind = TKind::String;
  std::string Text;            // String
  uint32_t DWord = 0;          // DWord
  std::vector<uint8_t> Bytes;  // Binary

  static TRegValue FromString(std::string text);
  static TRegValue FromDWord(uint32_t value);
  static TRegValue FromBinary(std::vector<uint8_t> bytes);
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // False when the key or the value does not exist. Key and value names ignore letter case.
  virtual bool ReadValue(TRegRoot root, const std::string& key, const std::string& name,
                         TRegValue& value) = 0;
  virtual bool WriteValue(TRegRoot root, const std::string& key, const std::string& name,
                          const TRegValue& value) = 0;
};

// Values kept in memory: the registry of tests, and the store under the Linux registry.
class TMemoryRegistry : public IRegistry {
 public:
  bool ReadValue(TRegRoot root, const std::string& key, const std::string& name,
                 TRegValue& value) override;
  bool WriteValue(TRegRoot root, const std::string& key, const std::string& name,
                  const TRegValue& value) override;

 private:
  using TKey = std::tuple<TRegRoot, std::string, std::string>;
  std::mutex fMutex;
  std::map<TKey, TRegValue> fValues;
};

inline constexpr const char* kBrowserVersionKey = "Software\\Microsoft\\Internet Explorer";
inline constexpr const char* kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The Linux registry: written values win; otherwise the browser "Version" is the engine version
// given by SetBrowserVersion, and "ProxyServer"/"ProxyEnable" come from http_proxy/HTTP_PROXY.
class TLinuxRegistry : public TMemoryRegistry {
 public:
  bool ReadValue(TRegRoot root, const std::string& key, const std::string& name,
                 TRegValue& value) override;
  void SetBrowserVersion(const std::string& version);

 private:
  std::mutex fVersionMutex;
  std::string fBrowserVersion;
};

// "http://[user:password@]host:port/" -> "host:port"; empty when the text is not such an address.
std::string ProxyServerFromUrl(const std::string& url);

// The process-wide registry (a TLinuxRegistry until replaced).
IRegistry& Registry();
// Replaces the process-wide registry (tests install a TMemoryRegistry); null restores the default.
void SetRegistry(std::unique_ptr<IRegistry> registry);

}  // namespace velm
