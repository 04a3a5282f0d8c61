// Addresses typed into the open-URL dialog, newest first; section "OpenUrl" of the INI file.
#pragma once

#include <string>
#include <vector>

namespace velm {

extern std::vector<std::string>* UrlHistory;

void LoadUrlHistory();
void SaveUrlHistory();

// OpenUrl module: the list is created and loaded at start, freed (not saved) at exit.
void InitializeOpenUrl();
void FinalizeOpenUrl();

}  // namespace velm
