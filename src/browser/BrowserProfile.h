// The one Qt WebEngine profile of every tab: the browser's own options (cookies, cache, local
// storage) kept on disk under the user's data folder, apart from other programs' browsers, in a
// store named after the client's registry key. Pages of new windows must share it, so there is
// exactly one.
#pragma once

#include <string>

class QWebEngineProfile;

namespace velm {

// The store name made from a registry key: "Software\Velm2" gives "Software_Velm2".
std::string BrowserStorageName(const std::string& registryKey);

// Created at the first call, after the application object exists (AppSettings must exist too).
QWebEngineProfile* BrowserProfile();
// Frees the profile once no browser view is left; the next BrowserProfile() makes a new one.
void ReleaseBrowserProfile();

// The tab module of the process: HotKeysEnabled set at start, the profile released at the end.
void InitializeIETab();
void FinalizeIETab();

}  // namespace velm
