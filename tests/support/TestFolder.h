// Test helpers: a temporary program folder that stands for the executable's folder, a fixed time
// zone, whole-file reads and writes.
#pragma once

#include <string>

namespace velm::test {

// A fresh folder under /tmp; "the executable" is placed in it (OverrideExePathForTesting) and it
// becomes the current folder. Everything is removed and restored at the end of the scope.
class TTestProgramFolder {
 public:
  explicit TTestProgramFolder(const std::string& exeName = "VelmC2");
  ~TTestProgramFolder();
  TTestProgramFolder(const TTestProgramFolder&) = delete;
  TTestProgramFolder& operator=(const TTestProgramFolder&) = delete;

  // The folder with a trailing "/".
  const std::string& Dir() const { return fDir; }
  std::string Path(const std::string& relative) const { return fDir + relative; }
  const std::string& ExePath() const { return fExePath; }

 private:
  std::string fDir;
  std::string fExePath;
  std::string fOldCwd;
};

// Sets TZ for the scope (for example "<+03>-3") and restores the previous value.
class TScopedTimeZone {
 public:
  explicit TScopedTimeZone(const char* tz);
  ~TScopedTimeZone();

 private:
  bool fHad;
  std::string fOld;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace velm::test
