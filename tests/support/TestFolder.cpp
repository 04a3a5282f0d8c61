#include "support/TestFolder.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/ProgramPath.h"

namespace velm::test {

TTestProgramFolder::TTestProgramFolder(const std::string& exeName) {
  char tmpl[] = "/tmp/velm-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  fDir = std::string(tmpl) + "/";
  fExePath = fDir + exeName;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd)) fOldCwd = cwd;
  OverrideExePathForTesting(fExePath);
  if (chdir(fDir.c_str()) != 0) throw std::runtime_error("chdir failed");
}

TTestProgramFolder::~TTestProgramFolder() {
  OverrideExePathForTesting("");
  if (!fOldCwd.empty() && chdir(fOldCwd.c_str()) != 0) {
  }
  std::error_code ec;
  std::filesystem::permissions(fDir, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(fDir, ec);
}

TScopedTimeZone::TScopedTimeZone(const char* tz) {
  const char* old = std::getenv("TZ");
  fHad = old != nullptr;
  if (old) fOld = old;
  setenv("TZ", tz, 1);
  tzset();
}

TScopedTimeZone::~TScopedTimeZone() {
  if (fHad)
    setenv("TZ", fOld.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

}  // namespace velm::test
