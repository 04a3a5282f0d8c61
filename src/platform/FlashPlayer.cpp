#include "platform/FlashPlayer.h"

#include <dirent.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/ProgramPath.h"

namespace velm {

namespace {

// The package description is a few hundred bytes; anything far larger is not ours.
constexpr size_t kMaxPackageDescription = 64 * 1024;

bool ReadSmallFile(const std::string& path, size_t limit, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad() && text.size() <= limit;
}

// The string value of a top-level-looking "key": "value" pair; enough for npm's package.json,
// whose values here hold no escapes.
bool JsonStringValue(const std::string& json, const std::string& key, std::string& value) {
  std::string quoted = "\"" + key + "\"";
  size_t at = json.find(quoted);
  if (at == std::string::npos) return false;
  at += quoted.size();
  while (at < json.size() &&
         (json[at] == ' ' || json[at] == '\t' || json[at] == '\r' || json[at] == '\n'))
    ++at;
  if (at >= json.size() || json[at] != ':') return false;
  ++at;
  while (at < json.size() &&
         (json[at] == ' ' || json[at] == '\t' || json[at] == '\r' || json[at] == '\n'))
    ++at;
  if (at >= json.size() || json[at] != '"') return false;
  size_t end = json.find('"', at + 1);
  if (end == std::string::npos) return false;
  value = json.substr(at + 1, end - at - 1);
  return value.find('\\') == std::string::npos;
}

// A version is digits and dots with optional pre-release text: "0.6.0", "0.1.0-nightly.2024".
bool PlausibleVersion(const std::string& version) {
  if (version.empty() || version.size() > 64 || version[0] < '0' || version[0] > '9') return false;
  for (char c : version) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              c == '.' || c == '-' || c == '+';
    if (!ok) return false;
  }
  return true;
}

bool NonEmptyFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char c;
  return in && in.get(c);
}

// "\0asm" and binary format version 1.
bool IsWasmModule(const std::string& path) {
  static const char kHeader[8] = {'\0', 'a', 's', 'm', 1, 0, 0, 0};
  std::ifstream in(path, std::ios::binary);
  char head[8];
  return in && in.read(head, sizeof head) && std::memcmp(head, kHeader, sizeof head) == 0;
}

bool HasWasmModule(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) return false;
  while (dirent* entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".wasm") == 0 &&
        IsWasmModule(folder + name))
      return true;
  }
  return false;
}

}  // namespace

std::string RuffleFolder() {
  return ExeDir() + "ruffle/";
}

bool DetectRuffle(const std::string& folder, std::string& versionText, int32_t& version) {
  versionText.clear();
  version = -1;
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  std::string description, name, number;
  if (!ReadSmallFile(dir + "package.json", kMaxPackageDescription, description)) return false;
  if (!JsonStringValue(description, "name", name) || name != "@ruffle-rs/ruffle") return false;
  if (!JsonStringValue(description, "version", number) || !PlausibleVersion(number)) return false;
  if (!NonEmptyFile(dir + kRuffleScriptName) || !HasWasmModule(dir)) return false;
  versionText = "Ruffle " + number;
  version = kRuffleFlashVersion;
  return true;
}

bool DetectFlashPlayer(std::string& versionText, int32_t& version) {
  return DetectRuffle(RuffleFolder(), versionText, version);
}

}  // namespace velm
