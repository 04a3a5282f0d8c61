// The plug-ins' side of the tabs: for every tab the loaded plug-ins get a page record bound to
// the tab's browser and fill in their event tables; the tab's PluginEvents then lead each event
// to the plug-in's entry. Installed as the tabs' plug-in host for the life of the program.
#pragma once

#include <map>
#include <memory>

#include "browser/PluginHost.h"
#include "plugins/PluginEvent.h"

namespace velm {

class TPluginTabHost : public IPluginHost {
 public:
  TPluginTabHost();
  ~TPluginTabHost();
  TPluginTabHost(const TPluginTabHost&) = delete;
  TPluginTabHost& operator=(const TPluginTabHost&) = delete;

  void OpenPluginPages(TTab& tab, TPluginEvents& events) override;
  void ClosePluginPages(TTab& tab) override;

  // The browser of a tab this host knows whose handle this is, or none.
  IWebBrowser* BrowserOfHandle(VelmObject handle) const;
  // The page record the plug-ins got for the tab, or none.
  TBrowserPage* PageOf(const TTab& tab) const;

 private:
  struct TTabPages;
  std::map<const TTab*, std::shared_ptr<TTabPages>> fTabs;
};

// PluginTabs module: installs the process-wide host (after the Plugins module, before the first
// tab) and removes it at the end.
void InitializePluginTabs();
void FinalizePluginTabs();
TPluginTabHost* PluginTabHost();

}  // namespace velm
