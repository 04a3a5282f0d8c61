#include "plugins/PluginTabHost.h"

#include "browser/Tab.h"

namespace velm {

namespace {

// The 17 page operations on a tab's browser.
class TTabPluginBrowser : public IPluginBrowser {
 public:
  TTabPluginBrowser(TTab& tab, VelmObject document) : fTab(tab), fDocument(document) {}

  void GoBack() override { Browser().GoBack(); }
  void GoForward() override { Browser().GoForward(); }
  // The browser takes the address and the new-window flag; a target frame, a request body and
  // extra header lines are not carried to the page.
  void Navigate(const std::u16string& url, int32_t flags, const std::u16string&, const std::string&,
                const std::u16string&) override {
    Browser().Navigate(url, flags & kNavOpenInNewWindow);
  }
  void Refresh() override { Browser().Refresh(); }
  void Refresh2(int32_t level) override { Browser().Refresh2(level); }
  void Stop() override { Browser().Stop(); }
  VelmObject Application() override { return ToPluginObject(fTab.Browser); }
  VelmObject Parent() override { return ToPluginObject(fTab.Browser); }
  VelmObject Container() override { return ToPluginObject(fTab.Browser); }
  VelmObject Document() override {
    return fTab.Browser && fTab.Browser->HasDocument() ? fDocument : nullptr;
  }
  int32_t Left() override { return Browser().Left(); }
  int32_t Top() override { return Browser().Top(); }
  int32_t Width() override { return Browser().Width(); }
  int32_t Height() override { return Browser().Height(); }
  std::u16string LocationName() override { return Browser().LocationName(); }
  std::u16string LocationURL() override { return Browser().LocationURL(); }
  bool Busy() override { return Browser().Busy(); }

 private:
  IWebBrowser& Browser() {
    if (!fTab.Browser) throw std::runtime_error("the tab's browser is gone");
    return *fTab.Browser;
  }

  TTab& fTab;
  VelmObject fDocument;
};

}  // namespace

// One tab's records. Shared with the tab's entries, so a record outlives an event that is still
// being delivered while its tab goes away.
struct TPluginTabHost::TTabPages {
  TTabPages(TTab& tab, const TPluginTabHost& host) : Browser(tab, ToPluginObject(&DocumentAnchor)) {
    FillBrowserPage(Page, Browser);
    Objects.Browser = ToPluginObject(tab.Browser);
    Objects.Frame = ToPluginObject(&FrameAnchor);
    Objects.BrowserOfHandle = [&host](VelmObject h) { return host.BrowserOfHandle(h); };
  }
  // Their addresses are the handles of the tab's frames and document.
  char FrameAnchor = 0;
  char DocumentAnchor = 0;
  TTabPluginBrowser Browser;
  TBrowserPage Page{};
  TPluginEventTables Tables;
  TPluginPageObjects Objects;
};

TPluginTabHost::TPluginTabHost() = default;
TPluginTabHost::~TPluginTabHost() = default;

void TPluginTabHost::OpenPluginPages(TTab& tab, TPluginEvents& events) {
  auto pages = std::make_shared<TTabPages>(tab, *this);
  fTabs[&tab] = pages;
  velm::OpenPluginPages(pages->Page, pages->Tables);
  // Every entry leads to the plug-in's table, read at each event: a plug-in may fill in its table
  // later, as long as the tab lives.
  events.assign(pages->Tables.size(), TBrowserPageEvents{});
  for (size_t i = 0; i < events.size(); ++i) {
    for (TPluginEventEntry& entry : events[i].Entries) {
      entry = [pages, i](TTab&, TBrowserEventArgs& args) {
        CallPluginEvent(pages->Tables[i], pages->Page, args, pages->Objects);
      };
    }
  }
}

void TPluginTabHost::ClosePluginPages(TTab& tab) {
  auto found = fTabs.find(&tab);
  if (found == fTabs.end()) return;
  std::shared_ptr<TTabPages> pages = found->second;
  fTabs.erase(found);
  velm::ClosePluginPages(pages->Page);
}

IWebBrowser* TPluginTabHost::BrowserOfHandle(VelmObject handle) const {
  if (!handle) return nullptr;
  for (const auto& [tab, pages] : fTabs)
    if (tab->Browser && ToPluginObject(tab->Browser) == handle) return tab->Browser;
  return nullptr;
}

TBrowserPage* TPluginTabHost::PageOf(const TTab& tab) const {
  auto found = fTabs.find(&tab);
  return found == fTabs.end() ? nullptr : &found->second->Page;
}

namespace {
std::unique_ptr<TPluginTabHost> gHost;
}

void InitializePluginTabs() {
  gHost = std::make_unique<TPluginTabHost>();
  SetPluginHost(gHost.get());
}

void FinalizePluginTabs() {
  if (PluginHost() == gHost.get()) SetPluginHost(nullptr);
  gHost.reset();
}

TPluginTabHost* PluginTabHost() {
  return gHost.get();
}

}  // namespace velm
