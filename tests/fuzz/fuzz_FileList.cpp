// A file list as the site (or whatever answers in its place) sends it: split into lines, each
// line after the first parsed, and the local path of every name worked out, as the update walk
// does. No path may leave the program folder.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/TextLines.h"
#include "update/UpdatePackage.h"

namespace {

bool Escapes(const std::string& path) {
  if (path.empty()) return false;
  if (path[0] == '/') return true;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static velm::TUpdatePackageDesc pub, client;
  pub.LocalPrefix = "pub/";
  client.LocalPrefix = "-info/client/";
  const auto lines =
      velm::SplitTextLines(std::string_view(reinterpret_cast<const char*>(data), size));
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string name;
    velm::TDateTime date = 0;
    if (!velm::ParseFileListLine(lines[i], name, date)) continue;
    if (name.empty() || date != date) std::abort();
    for (const auto* package : {&pub, &client}) {
      const std::string local = velm::LocalPathOf(*package, name);
      if (Escapes(local) || local.find('\0') != std::string::npos) std::abort();
    }
  }
  return 0;
}
