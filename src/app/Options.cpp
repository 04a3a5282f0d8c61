#include "app/Options.h"

#include <algorithm>

#include "app/IniFile.h"

namespace velm {

TOptions* Options = nullptr;

namespace {
const char kSection[] = "Main";
}

TOptions::TOptions() {
  auto ini = GetIniFile();
  fAutoUpdateEnable = ini->ReadBool(kSection, "AutoUpdateEnable", true);
  fAutoUpdateInterval =
      std::max(1, ini->ReadInteger(kSection, "AutoUpdateInterval", kDefaultAutoUpdateInterval));
  fOpenWindowMode = ini->ReadInteger(kSection, "OpenWindowMode", 0);
  fCloseWindowMode = ini->ReadInteger(kSection, "CloseWindowMode", 0);
}

void TOptions::SetAutoUpdateEnable(bool value) {
  fAutoUpdateEnable = value;
  GetIniFile()->WriteBool(kSection, "AutoUpdateEnable", value);
}

void TOptions::SetAutoUpdateInterval(int32_t minutes) {
  fAutoUpdateInterval = minutes;
  GetIniFile()->WriteInteger(kSection, "AutoUpdateInterval", minutes);
}

void TOptions::SetOpenWindowMode(int32_t mode) {
  fOpenWindowMode = mode;
  GetIniFile()->WriteInteger(kSection, "OpenWindowMode", mode);
}

void TOptions::SetCloseWindowMode(int32_t mode) {
  fCloseWindowMode = mode;
  GetIniFile()->WriteInteger(kSection, "CloseWindowMode", mode);
}

void InitializeVelmOptions() {
  if (!Options) Options = new TOptions();
}

void FinalizeVelmOptions() {
  delete Options;
  Options = nullptr;
}

}  // namespace velm
