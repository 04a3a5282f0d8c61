#include "platform/ProgramPath.h"

#include <unistd.h>

#include <climits>
#include <mutex>
#include <vector>

namespace velm {
namespace {

std::mutex gPathMutex;
std::string gOverride;

std::string ReadSelfExe() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

std::string ExePath() {
  {
    std::lock_guard<std::mutex> lock(gPathMutex);
    if (!gOverride.empty()) return gOverride;
  }
  static const std::string path = ReadSelfExe();
  return path;
}

std::string ExeDir() {
  return ExtractFilePath(ExePath());
}

void OverrideExePathForTesting(const std::string& path) {
  std::lock_guard<std::mutex> lock(gPathMutex);
  gOverride = path;
}

bool SetCurrentDirToExeDir() {
  std::string dir = ExeDir();
  return !dir.empty() && chdir(dir.c_str()) == 0;
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    dot = path.size();
  std::string r(path.substr(0, dot));
  r += ext;
  return r;
}

std::string ExtractFileName(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ExtractFilePath(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExpandFileName(std::string_view path) {
  std::string full;
  if (!path.empty() && path[0] == '/') {
    full = path;
  } else {
    char cwd[PATH_MAX];
    full = getcwd(cwd, sizeof cwd) ? cwd : "";
    full += '/';
    full += path;
  }
  std::vector<std::string> parts;
  size_t start = 1;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    std::string seg = full.substr(start, end - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = end + 1;
  }
  std::string r;
  for (const auto& p : parts) r += "/" + p;
  if (r.empty() || (!full.empty() && full.back() == '/')) r += "/";
  return r;
}

}  // namespace velm
