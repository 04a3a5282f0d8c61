// The INI file beside the executable, as a user's editor or a torn copy may leave it: every read
// gives a value or the default, and a write afterwards reads back while the file stays readable.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/IniFile.h"

namespace {

const std::string& IniPath() {
  static const std::string path = [] {
    char folder[] = "/dev/shm/velm-fuzz-ini-XXXXXX";
    if (!::mkdtemp(folder)) std::abort();
    return std::string(folder) + "/VelmC2.ini";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = IniPath();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  velm::TIniFile ini(path);
  for (const char* section : {"Main", "Transport", "Options", ""}) {
    for (const char* key : {"Build1", "ProxyPort", "UseProxy", "ProxyAddress", ""}) {
      if (ini.ReadString(section, key, "").size() > velm::kIniMaxValueLength) std::abort();
      ini.ReadInteger(section, key, -7);
      ini.ReadBool(section, key, true);
      ini.ValueExists(section, key);
    }
    ini.SectionExists(section);
  }
  ini.WriteString("Main", "Build2", "12345");
  if (ini.ReadString("Main", "Build2", "") != "12345") std::abort();
  ini.WriteInteger("Transport", "ProxyPort", 3128);
  if (ini.ReadInteger("Transport", "ProxyPort", 0) != 3128) std::abort();
  if (ini.ReadString("Main", "Build2", "") != "12345") std::abort();
  return 0;
}
