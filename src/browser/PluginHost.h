// The seam between the tabs and the loaded plug-ins. The tabs call OpenPluginPages when a tab's
// browser exists, ClosePluginPages first thing when a tab is destroyed, and run each browser
// event through the tab's PluginEvents after their own action. The plug-in loader installs an
// IPluginHost that fills these; without one the plug-in table is empty: tabs get no entries and
// nothing is called.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "browser/WebBrowser.h"

namespace velm {

class TTab;

// One plug-in's callback for one event of one tab; an empty entry means the plug-in does not
// want that event. It gets the tab (whose Browser carries the page operations) and the event's
// parameters after the tab's own action; it may change Cancel and NewWindow. It may throw: the
// tab logs the error and calls the next plug-in.
using TPluginEventEntry = std::function<void(TTab& tab, TBrowserEventArgs& args)>;

// One plug-in's event table for one tab, indexed by TBrowserEvent.
struct TBrowserPageEvents {
  std::array<TPluginEventEntry, kBrowserEventCount> Entries;
};

// A tab's tables, one per loaded plug-in, in load order.
using TPluginEvents = std::vector<TBrowserPageEvents>;

class IPluginHost {
 public:
  // Sizes events to the loaded plug-ins and lets each, in load order, see the tab and fill its
  // table. Errors of one plug-in are the host's to absorb.
  virtual void OpenPluginPages(TTab& tab, TPluginEvents& events) = 0;
  // Tells every plug-in, in load order, that the tab goes away.
  virtual void ClosePluginPages(TTab& tab) = 0;

 protected:
  ~IPluginHost() = default;
};

// The installed host or none. UI thread only.
IPluginHost* PluginHost();
// Installs a host (none: the empty table) and returns the previous one.
IPluginHost* SetPluginHost(IPluginHost* host);

// What the tabs call; with no host installed, events is cleared and nothing else happens.
void OpenPluginPages(TTab& tab, TPluginEvents& events);
void ClosePluginPages(TTab& tab);

}  // namespace velm
