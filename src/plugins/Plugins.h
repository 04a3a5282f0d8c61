// The plug-in loader: the plug-in libraries of the program folder, the report the statistics
// request carries, and the calls that tell every plug-in about every tab.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/PluginsAPI.h"

namespace velm {

// One loaded plug-in library.
struct TPlugin {
  void* Handle = nullptr;  // dlopen handle
  TVelmGetVersion GetVersion = nullptr;
  TVelmGetDescription GetDescription = nullptr;
  TVelmOpenBrowserPage OpenBrowserPage = nullptr;
  TVelmCloseBrowserPage CloseBrowserPage = nullptr;
  TVelmShowSettings ShowSettings = nullptr;
  std::string FileName;  // the library's file name as found, without folder
};

// The loaded plug-ins in load order. Filled once by LoadPlugins; never shrinks while the program
// runs; the libraries stay loaded until the process ends.
extern std::vector<TPlugin> LoadedPlugins;

// The plug-ins' own event tables for one tab: one per entry of LoadedPlugins, same order. (The
// tab's PluginEvents hold the client's side of them, see PluginTabHost.)
using TPluginEventTables = std::vector<::TBrowserPageEvents>;

// The library name pattern of plug-ins on this platform.
inline constexpr const char* kPluginExtension = ".so";
// The report entry of a plug-in whose file or description could not be read.
inline constexpr const char* kPluginLoadError = "!file load error";

// Loads the plug-ins of the current folder (the program folder) and appends them to
// LoadedPlugins. report receives one entry per plug-in, joined by "|"; unknownCount the number
// of plug-ins whose digest is not the known one. Returns the number of plug-ins loaded.
int LoadPlugins(std::string& report, int& unknownCount);

// The report entry of a loaded plug-in: its name, then ";" description ";" digest unless its
// digest is the known one (then unknownCount grows by one), or the name and "!file load error".
std::string DescribePlugin(const TPlugin& plugin, int& unknownCount);

// The plug-in's description (GetDescription) and version (GetVersion). A fault inside the
// plug-in comes back as EExternal.
std::string PluginDescription(const TPlugin& plugin);
int32_t PluginVersion(const TPlugin& plugin);

// A new tab: every plug-in, in load order, gets the page and a zeroed event table to fill in.
// tables is sized once, before the first call: the plug-ins keep the tables' addresses.
// A plug-in failing in OpenBrowserPage is passed over; its table keeps what it wrote.
void OpenPluginPages(TBrowserPage& page, TPluginEventTables& tables);
// A tab goes away: every plug-in, in load order, is told; failures are dropped.
void ClosePluginPages(TBrowserPage& page);

// The click on the plug-ins menu item with the given tag (the plug-in's position in
// LoadedPlugins): the plug-in's ShowSettings with the client's shortcuts off during the call.
// Failures of the plug-in go on to the caller; a tag outside the table does nothing.
void PluginMenuClick(int tag);

// Plugins module: the table starts empty; at the end it is emptied without unloading.
void InitializePlugins();
void FinalizePlugins();

}  // namespace velm
