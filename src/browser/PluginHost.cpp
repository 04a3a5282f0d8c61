#include "browser/PluginHost.h"

namespace velm {

namespace {
IPluginHost* gPluginHost = nullptr;
}

IPluginHost* PluginHost() {
  return gPluginHost;
}

IPluginHost* SetPluginHost(IPluginHost* host) {
  IPluginHost* old = gPluginHost;
  gPluginHost = host;
  return old;
}

void OpenPluginPages(TTab& tab, TPluginEvents& events) {
  events.clear();
  if (gPluginHost) gPluginHost->OpenPluginPages(tab, events);
}

void ClosePluginPages(TTab& tab) {
  if (gPluginHost) gPluginHost->ClosePluginPages(tab);
}

}  // namespace velm
