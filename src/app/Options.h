// The user's client options, section "Main" of the INI file; every setter writes its key at once.
#pragma once

#include <cstdint>

namespace velm {

class TOptions {
 public:
  // Reads the four keys with their defaults; an interval below 1 is read as 1.
  TOptions();

  bool AutoUpdateEnable() const { return fAutoUpdateEnable; }
  int32_t AutoUpdateInterval() const { return fAutoUpdateInterval; }
  int32_t OpenWindowMode() const { return fOpenWindowMode; }
  int32_t CloseWindowMode() const { return fCloseWindowMode; }

  void SetAutoUpdateEnable(bool value);
  void SetAutoUpdateInterval(int32_t minutes);
  void SetOpenWindowMode(int32_t mode);
  void SetCloseWindowMode(int32_t mode);

 private:
  bool fAutoUpdateEnable = true;
  int32_t fAutoUpdateInterval = 10;
  int32_t fOpenWindowMode = 0;
  int32_t fCloseWindowMode = 0;
};

inline constexpr int32_t kDefaultAutoUpdateInterval = 10;

extern TOptions* Options;
void InitializeVelmOptions();
void FinalizeVelmOptions();

}  // namespace velm
