// Hands a tab's browser events to the plug-ins. The tab calls the operation named after the event
// once its own handling is done; every plug-in that filled in the event's entry is called, in
// load order, with the tab's page record. A plug-in that fails is written to the debug log and
// the next plug-in still runs. Values passed by address come back as the plug-ins left them.
#pragma once

#include <cstdint>
#include <string>

#include "plugins/Plugins.h"

namespace velm {

class TPluginEventDispatcher {
 public:
  TPluginEventDispatcher(TBrowserPage& page, const TPluginEvents& events)
      : fPage(page), fEvents(events) {}

  void StatusTextChange(const std::u16string& text);
  void ProgressChange(int32_t progress, int32_t progressMax);
  void CommandStateChange(int32_t command, bool enable);
  void DownloadBegin();
  void DownloadComplete();
  void TitleChange(const std::u16string& text);
  void BeforeNavigate2(VelmObject pDisp, const std::u16string& url, int32_t flags,
                       const std::u16string& targetFrameName, const std::u16string& postData,
                       const std::u16string& headers, bool& cancel);
  void NewWindow2(VelmObject& ppDisp, bool& cancel);
  void NavigateComplete2(VelmObject pDisp, const std::u16string& url);
  void DocumentComplete(VelmObject pDisp, const std::u16string& url);
  void OnVisible(bool visible);
  void WindowSetResizable(bool resizable);
  void WindowSetLeft(int32_t left);
  void WindowSetTop(int32_t top);
  void WindowSetWidth(int32_t width);
  void WindowSetHeight(int32_t height);
  void WindowClosing(bool isChildWindow, bool& cancel);
  void FileDownload(bool& cancel);
  void NavigateError(VelmObject pDisp, const std::u16string& url, const std::u16string& frame,
                     int32_t statusCode, bool& cancel);
  void UpdatePageStatus(VelmObject pDisp, int32_t nPage, bool fDone);

  // True when some plug-in wants the event: the tab may skip preparing its values otherwise.
  template <class Entry>
  bool Wanted(Entry TBrowserPageEvents::*entry) const {
    for (const TBrowserPageEvents& table : fEvents)
      if (table.*entry) return true;
    return false;
  }

 private:
  template <class Entry, class... A>
  void Dispatch(Entry TBrowserPageEvents::*entry, A... args);

  TBrowserPage& fPage;
  const TPluginEvents& fEvents;
};

}  // namespace velm
