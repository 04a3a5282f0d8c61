// Update packages: what the updater keeps current and the proxy answers from the mirror.
#pragma once

#include <string>

namespace velm {

struct TUpdatePackageDesc {
  int Id = 0;
  std::string Title;
  std::string BuildURL;
  std::string FileListURL;
  std::string FileQueryURL;
  std::string SiteRoot;
  std::string LocalPrefix;
  std::string MatchPrefix;
  bool InBackground = false;
};

}  // namespace velm
