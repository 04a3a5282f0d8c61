#include "app/UrlHistory.h"

#include <algorithm>

#include "app/IniFile.h"

namespace velm {

std::vector<std::string>* UrlHistory = nullptr;

namespace {
const char kSection[] = "OpenUrl";
// A damaged Count must not make the start-up read millions of keys.
constexpr int kMaxUrlHistory = 10000;
}  // namespace

void LoadUrlHistory() {
  auto ini = GetIniFile();
  int n = std::min(ini->ReadInteger(kSection, "Count", 0), kMaxUrlHistory);
  for (int i = 0; i < n; ++i)
    UrlHistory->push_back(ini->ReadString(kSection, "Url" + std::to_string(i), ""));
}

void SaveUrlHistory() {
  auto ini = GetIniFile();
  ini->WriteInteger(kSection, "Count", static_cast<int>(UrlHistory->size()));
  for (size_t i = 0; i < UrlHistory->size(); ++i)
    ini->WriteString(kSection, "Url" + std::to_string(i), (*UrlHistory)[i]);
}

void InitializeOpenUrl() {
  if (UrlHistory) return;
  UrlHistory = new std::vector<std::string>();
  LoadUrlHistory();
}

void FinalizeOpenUrl() {
  delete UrlHistory;
  UrlHistory = nullptr;
}

}  // namespace velm
