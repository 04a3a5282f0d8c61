// One tab of the main window: a page of the page control and the browser that fills it.
#pragma once

#include <cstdint>
#include <string>

#include "browser/PluginHost.h"
#include "browser/WebBrowser.h"

class QWidget;

namespace velm {

class TTabList;

// The caption of a tab that has started its first navigation.
inline constexpr const char16_t* kLoadingCaption = u"Загрузка...";
// Blanks appended to a closable tab's caption: the room the close button is drawn in.
inline constexpr const char16_t* kCloseButtonRoom = u"     ";

// Tab numbers: one process-wide counter; ids start at 1 and are never reused.
extern int32_t NextTabId;

class TTab : private IWebBrowserEvents {
 public:
  // Makes the page at the end of the page control and the browser on it, and introduces the tab
  // to the plug-ins. The list appends the tab to Tabs afterwards.
  TTab(TTabList* owner, bool closable);
  ~TTab();
  TTab(const TTab&) = delete;
  TTab& operator=(const TTab&) = delete;

  bool Closable;
  TTabList* Owner;
  std::u16string Title;
  std::u16string StatusText;
  QWidget* Sheet = nullptr;
  IWebBrowser* Browser = nullptr;
  TPluginEvents PluginEvents;
  int32_t Id = 0;
  int32_t OpenerId = 0;
  // Set when the tab starts going away; a second close then does nothing.
  bool Closing = false;

  // Closes the tab through its list when closable; nothing otherwise.
  void Close();
  void Activate();
  void Navigate(const std::u16string& url, bool newWindow);
  // Position of Sheet in the page control, -1 once it has left it.
  int PageIndex() const;
  void Refresh();
  // Puts the browser's address on the clipboard as text.
  void CopyLink();

  std::u16string Caption() const;
  void SetCaption(const std::u16string& caption);
  std::u16string FormatCaption(const std::u16string& text) const;
  void UpdateTitle(const std::u16string& url);

  // The destruction steps: plug-ins told, the browser stopped and blanked, queued events run,
  // the page taken out of the page control. With deferred, the sheet with its browser and this
  // tab itself are freed once control is back in the event loop (the tab may be closing from
  // inside one of its own browser's events); otherwise the sheet is freed at once.
  void Destroy(bool deferred);

 private:
  void BrowserEvent(TBrowserEventArgs& args) override;
  void OwnAction(TBrowserEventArgs& args);
  void BeforeNavigate2(TBrowserEventArgs& args);
  void NewWindow2(TBrowserEventArgs& args);
  void DispatchToPlugins(TBrowserEventArgs& args);
};

}  // namespace velm
