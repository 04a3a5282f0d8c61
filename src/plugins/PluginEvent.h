// A browser event on its way to the plug-ins: the event's values turned into the plug-in forms
// (wide strings, variants, 16-bit flags, object handles), the plug-in's entry called, and what a
// plug-in may change (Cancel, the new window) taken back.
#pragma once

#include <functional>

#include "browser/WebBrowser.h"
#include "plugins/Plugins.h"

namespace velm {

// The objects plug-ins get for one tab.
struct TPluginPageObjects {
  VelmObject Browser = nullptr;  // the tab's browser: pDisp of events about the top document
  VelmObject Frame = nullptr;    // pDisp of events about a frame of it
  // The browser a handle stands for, or none. A plug-in may hand another window back in
  // NewWindow2; only handles of the client's own browsers are taken, anything else is ignored.
  std::function<IWebBrowser*(VelmObject)> BrowserOfHandle;
};

// Calls one plug-in's entry for the event with the tab's page record. False when the plug-in
// left the entry empty. A fault inside the plug-in throws (EExternal).
bool CallPluginEvent(const ::TBrowserPageEvents& table, TBrowserPage& page, TBrowserEventArgs& args,
                     const TPluginPageObjects& objects);

// Calls every plug-in that wants the event, in load order; a plug-in that fails is written to
// the debug log and the next one still runs.
void DispatchPluginEvent(const TPluginEventTables& tables, TBrowserPage& page,
                         TBrowserEventArgs& args, const TPluginPageObjects& objects);

}  // namespace velm
