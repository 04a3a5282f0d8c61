#include "plugins/PluginEventDispatcher.h"

#include <stdexcept>

#include "app/Debug.h"

namespace velm {

namespace {

void LogPluginFailure(const std::exception& e) {
  if (Debug) Debug->LogException(e);
}

}  // namespace

template <class Entry, class... A>
void TPluginEventDispatcher::Dispatch(Entry TBrowserPageEvents::*entry, A... args) {
  // By index: a handler may open or close tabs, but the table of this tab stays in place until
  // the tab is destroyed, which never happens inside its own event.
  for (size_t i = 0; i < fEvents.size(); ++i) {
    auto routine = fEvents[i].*entry;
    if (!routine) continue;
    try {
      CallPlugin(routine, &fPage, args...);
    } catch (const std::exception& e) {
      LogPluginFailure(e);
    } catch (...) {
      LogPluginFailure(std::runtime_error("Unknown exception in a plug-in event handler"));
    }
  }
}

namespace {

// A 16-bit flag passed by address: the plug-ins see the tab's decision and may change it.
class TFlag {
 public:
  explicit TFlag(bool& value) : fValue(value), fFlag(ToVelmBool(value)) {}
  ~TFlag() { fValue = FromVelmBool(fFlag); }
  TFlag(const TFlag&) = delete;
  TFlag& operator=(const TFlag&) = delete;
  VelmBool* Ptr() { return &fFlag; }

 private:
  bool& fValue;
  VelmBool fFlag;
};

}  // namespace

void TPluginEventDispatcher::StatusTextChange(const std::u16string& text) {
  if (!Wanted(&TBrowserPageEvents::StatusTextChange)) return;
  TWideString s(text);
  Dispatch(&TBrowserPageEvents::StatusTextChange, s.Get());
}

void TPluginEventDispatcher::ProgressChange(int32_t progress, int32_t progressMax) {
  Dispatch(&TBrowserPageEvents::ProgressChange, progress, progressMax);
}

void TPluginEventDispatcher::CommandStateChange(int32_t command, bool enable) {
  Dispatch(&TBrowserPageEvents::CommandStateChange, command, ToVelmBool(enable));
}

void TPluginEventDispatcher::DownloadBegin() {
  Dispatch(&TBrowserPageEvents::DownloadBegin);
}

void TPluginEventDispatcher::DownloadComplete() {
  Dispatch(&TBrowserPageEvents::DownloadComplete);
}

void TPluginEventDispatcher::TitleChange(const std::u16string& text) {
  if (!Wanted(&TBrowserPageEvents::TitleChange)) return;
  TWideString s(text);
  Dispatch(&TBrowserPageEvents::TitleChange, s.Get());
}

void TPluginEventDispatcher::BeforeNavigate2(VelmObject pDisp, const std::u16string& url,
                                             int32_t flags, const std::u16string& targetFrameName,
                                             const std::u16string& postData,
                                             const std::u16string& headers, bool& cancel) {
  if (!Wanted(&TBrowserPageEvents::BeforeNavigate2)) return;
  TVariant vUrl, vFlags, vTarget, vPostData, vHeaders;
  vUrl.String(url);
  vFlags.Int(flags);
  vTarget.String(targetFrameName);
  vPostData.String(postData);
  vHeaders.String(headers);
  TFlag vCancel(cancel);
  Dispatch(&TBrowserPageEvents::BeforeNavigate2, pDisp, vUrl.Ptr(), vFlags.Ptr(), vTarget.Ptr(),
           vPostData.Ptr(), vHeaders.Ptr(), vCancel.Ptr());
}

void TPluginEventDispatcher::NewWindow2(VelmObject& ppDisp, bool& cancel) {
  TFlag vCancel(cancel);
  Dispatch(&TBrowserPageEvents::NewWindow2, &ppDisp, vCancel.Ptr());
}

void TPluginEventDispatcher::NavigateComplete2(VelmObject pDisp, const std::u16string& url) {
  if (!Wanted(&TBrowserPageEvents::NavigateComplete2)) return;
  TVariant vUrl;
  vUrl.String(url);
  Dispatch(&TBrowserPageEvents::NavigateComplete2, pDisp, vUrl.Ptr());
}

void TPluginEventDispatcher::DocumentComplete(VelmObject pDisp, const std::u16string& url) {
  if (!Wanted(&TBrowserPageEvents::DocumentComplete)) return;
  TVariant vUrl;
  vUrl.String(url);
  Dispatch(&TBrowserPageEvents::DocumentComplete, pDisp, vUrl.Ptr());
}

void TPluginEventDispatcher::OnVisible(bool visible) {
  Dispatch(&TBrowserPageEvents::OnVisible, ToVelmBool(visible));
}

void TPluginEventDispatcher::WindowSetResizable(bool resizable) {
  Dispatch(&TBrowserPageEvents::WindowSetResizable, ToVelmBool(resizable));
}

void TPluginEventDispatcher::WindowSetLeft(int32_t left) {
  Dispatch(&TBrowserPageEvents::WindowSetLeft, left);
}

void TPluginEventDispatcher::WindowSetTop(int32_t top) {
  Dispatch(&TBrowserPageEvents::WindowSetTop, top);
}

void TPluginEventDispatcher::WindowSetWidth(int32_t width) {
  Dispatch(&TBrowserPageEvents::WindowSetWidth, width);
}

void TPluginEventDispatcher::WindowSetHeight(int32_t height) {
  Dispatch(&TBrowserPageEvents::WindowSetHeight, height);
}

void TPluginEventDispatcher::WindowClosing(bool isChildWindow, bool& cancel) {
  TFlag vCancel(cancel);
  Dispatch(&TBrowserPageEvents::WindowClosing, ToVelmBool(isChildWindow), vCancel.Ptr());
}

void TPluginEventDispatcher::FileDownload(bool& cancel) {
  TFlag vCancel(cancel);
  Dispatch(&TBrowserPageEvents::FileDownload, vCancel.Ptr());
}

void TPluginEventDispatcher::NavigateError(VelmObject pDisp, const std::u16string& url,
                                           const std::u16string& frame, int32_t statusCode,
                                           bool& cancel) {
  if (!Wanted(&TBrowserPageEvents::NavigateError)) return;
  TVariant vUrl, vFrame, vStatus;
  vUrl.String(url);
  vFrame.String(frame);
  vStatus.Int(statusCode);
  TFlag vCancel(cancel);
  Dispatch(&TBrowserPageEvents::NavigateError, pDisp, vUrl.Ptr(), vFrame.Ptr(), vStatus.Ptr(),
           vCancel.Ptr());
}

void TPluginEventDispatcher::UpdatePageStatus(VelmObject pDisp, int32_t nPage, bool fDone) {
  if (!Wanted(&TBrowserPageEvents::UpdatePageStatus)) return;
  TVariant vPage, vDone;
  vPage.Int(nPage);
  vDone.Bool(fDone);
  Dispatch(&TBrowserPageEvents::UpdatePageStatus, pDisp, vPage.Ptr(), vDone.Ptr());
}

}  // namespace velm
