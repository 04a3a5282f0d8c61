#include "plugins/PluginEvent.h"

#include <stdexcept>

#include "app/Debug.h"
#include "platform/Encoding.h"

namespace velm {

namespace {

// A 16-bit flag passed by address; the plug-in sees the tab's decision and may change it.
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

VelmObject SourceOf(const TBrowserEventArgs& args, const TPluginPageObjects& objects) {
  return args.TopLevel ? objects.Browser : objects.Frame;
}

// NewWindow2: the window handed back. The tab's own choice stays unless the plug-in cleared it
// (no window) or named another of the client's browsers.
void TakeNewWindow(TBrowserEventArgs& args, VelmObject before, VelmObject after,
                   const TPluginPageObjects& objects) {
  if (after == before) return;
  if (!after) {
    args.NewWindow = nullptr;
    return;
  }
  if (IWebBrowser* browser = objects.BrowserOfHandle ? objects.BrowserOfHandle(after) : nullptr)
    args.NewWindow = browser;
}

}  // namespace

bool CallPluginEvent(const ::TBrowserPageEvents& t, TBrowserPage& page, TBrowserEventArgs& a,
                     const TPluginPageObjects& objects) {
  TBrowserPage* p = &page;
  switch (a.Kind) {
    case TBrowserEvent::StatusTextChange:
    case TBrowserEvent::TitleChange: {
      auto entry = a.Kind == TBrowserEvent::StatusTextChange ? t.StatusTextChange : t.TitleChange;
      if (!entry) return false;
      TWideString text(a.Text);
      CallPlugin(entry, p, text.Get());
      return true;
    }
    case TBrowserEvent::ProgressChange:
      if (!t.ProgressChange) return false;
      CallPlugin(t.ProgressChange, p, int32_t{a.Progress}, int32_t{a.ProgressMax});
      return true;
    case TBrowserEvent::CommandStateChange:
      if (!t.CommandStateChange) return false;
      CallPlugin(t.CommandStateChange, p, int32_t{a.Command}, ToVelmBool(a.Enable));
      return true;
    case TBrowserEvent::DownloadBegin:
      if (!t.DownloadBegin) return false;
      CallPlugin(t.DownloadBegin, p);
      return true;
    case TBrowserEvent::DownloadComplete:
      if (!t.DownloadComplete) return false;
      CallPlugin(t.DownloadComplete, p);
      return true;
    case TBrowserEvent::BeforeNavigate2: {
      if (!t.BeforeNavigate2) return false;
      TVariant url, flags, target, postData, headers;
      url.String(a.Url);
      flags.Int(a.Flags);
      target.String(a.TargetFrameName);
      postData.String(Utf8ToUtf16(a.PostData));
      headers.String(a.Headers);
      TFlag cancel(a.Cancel);
      CallPlugin(t.BeforeNavigate2, p, SourceOf(a, objects), url.Ptr(), flags.Ptr(), target.Ptr(),
                 postData.Ptr(), headers.Ptr(), cancel.Ptr());
      return true;
    }
    case TBrowserEvent::NewWindow2: {
      if (!t.NewWindow2) return false;
      const VelmObject before = ToPluginObject(a.NewWindow);
      VelmObject window = before;
      {
        TFlag cancel(a.Cancel);
        CallPlugin(t.NewWindow2, p, &window, cancel.Ptr());
      }
      TakeNewWindow(a, before, window, objects);
      return true;
    }
    case TBrowserEvent::NavigateComplete2:
    case TBrowserEvent::DocumentComplete: {
      auto entry =
          a.Kind == TBrowserEvent::NavigateComplete2 ? t.NavigateComplete2 : t.DocumentComplete;
      if (!entry) return false;
      TVariant url;
      url.String(a.Url);
      CallPlugin(entry, p, SourceOf(a, objects), url.Ptr());
      return true;
    }
    case TBrowserEvent::OnVisible:
    case TBrowserEvent::WindowSetResizable: {
      auto entry = a.Kind == TBrowserEvent::OnVisible ? t.OnVisible : t.WindowSetResizable;
      if (!entry) return false;
      CallPlugin(entry, p, ToVelmBool(a.Flag));
      return true;
    }
    case TBrowserEvent::WindowSetLeft:
    case TBrowserEvent::WindowSetTop:
    case TBrowserEvent::WindowSetWidth:
    case TBrowserEvent::WindowSetHeight: {
      auto entry = a.Kind == TBrowserEvent::WindowSetLeft    ? t.WindowSetLeft
                   : a.Kind == TBrowserEvent::WindowSetTop   ? t.WindowSetTop
                   : a.Kind == TBrowserEvent::WindowSetWidth ? t.WindowSetWidth
                                                             : t.WindowSetHeight;
      if (!entry) return false;
      CallPlugin(entry, p, int32_t{a.Value});
      return true;
    }
    case TBrowserEvent::WindowClosing: {
      if (!t.WindowClosing) return false;
      TFlag cancel(a.Cancel);
      CallPlugin(t.WindowClosing, p, ToVelmBool(a.Flag), cancel.Ptr());
      return true;
    }
    case TBrowserEvent::FileDownload: {
      if (!t.FileDownload) return false;
      TFlag cancel(a.Cancel);
      CallPlugin(t.FileDownload, p, cancel.Ptr());
      return true;
    }
    case TBrowserEvent::NavigateError: {
      if (!t.NavigateError) return false;
      TVariant url, frame, status;
      url.String(a.Url);
      frame.String(a.TargetFrameName);
      status.Int(a.StatusCode);
      TFlag cancel(a.Cancel);
      CallPlugin(t.NavigateError, p, SourceOf(a, objects), url.Ptr(), frame.Ptr(), status.Ptr(),
                 cancel.Ptr());
      return true;
    }
    case TBrowserEvent::UpdatePageStatus: {
      if (!t.UpdatePageStatus) return false;
      TVariant number, done;
      number.Int(a.PageNumber);
      done.Bool(a.Done);
      CallPlugin(t.UpdatePageStatus, p, SourceOf(a, objects), number.Ptr(), done.Ptr());
      return true;
    }
  }
  return false;
}

void DispatchPluginEvent(const TPluginEventTables& tables, TBrowserPage& page,
                         TBrowserEventArgs& args, const TPluginPageObjects& objects) {
  for (const ::TBrowserPageEvents& table : tables) {
    try {
      CallPluginEvent(table, page, args, objects);
    } catch (const std::exception& e) {
      if (Debug) Debug->LogException(e);
    } catch (...) {
      if (Debug) Debug->LogException(std::runtime_error("unknown error in a plug-in"));
    }
  }
}

}  // namespace velm
