// The browser control of a tab: what the tab list, the keyboard hook, the game rules and the
// plug-ins use of a browser. The program implements it on Qt WebEngine (TQtWebBrowser); the tab
// list tests drive a scriptable fake.
#pragma once

#include <string>

class QWidget;

namespace velm {

// The 20 browser events in the order of the plug-in event table. The numbers are fixed: plug-ins
// index their callbacks by them.
enum class TBrowserEvent {
  StatusTextChange = 0,
  ProgressChange = 1,
  CommandStateChange = 2,
  DownloadBegin = 3,
  DownloadComplete = 4,
  TitleChange = 5,
  BeforeNavigate2 = 6,
  NewWindow2 = 7,
  NavigateComplete2 = 8,
  DocumentComplete = 9,
  OnVisible = 10,
  WindowSetResizable = 11,
  WindowSetLeft = 12,
  WindowSetTop = 13,
  WindowSetWidth = 14,
  WindowSetHeight = 15,
  WindowClosing = 16,
  FileDownload = 17,
  NavigateError = 18,
  UpdatePageStatus = 19,
};
inline constexpr int kBrowserEventCount = 20;

// Navigate flag: open the address in a new window.
inline constexpr int kNavOpenInNewWindow = 1;
// ReadyState values.
inline constexpr int kReadyStateUninitialized = 0;
inline constexpr int kReadyStateLoading = 1;
inline constexpr int kReadyStateComplete = 4;
// CommandStateChange commands.
inline constexpr int kCommandNavigateForward = 1;
inline constexpr int kCommandNavigateBack = 2;

class IWebBrowser;

// One event with the parameters it carries. Fields an event does not use keep their defaults.
// Handlers may change Cancel (BeforeNavigate2, NewWindow2, WindowClosing, FileDownload,
// NavigateError) and NewWindow (NewWindow2); the browser acts on them after the handlers return.
struct TBrowserEventArgs {
  explicit TBrowserEventArgs(TBrowserEvent kind) : Kind(kind) {}

  TBrowserEvent Kind;
  // StatusTextChange, TitleChange.
  std::u16string Text;
  // BeforeNavigate2, NavigateComplete2, DocumentComplete, NavigateError.
  std::u16string Url;
  // The event concerns the top document (false: a frame inside it).
  bool TopLevel = true;
  // BeforeNavigate2: Flags, TargetFrameName, Headers; NavigateError: Frame (in TargetFrameName).
  int Flags = 0;
  std::u16string TargetFrameName;
  std::u16string Headers;
  std::string PostData;
  // ProgressChange.
  int Progress = 0;
  int ProgressMax = 0;
  // CommandStateChange.
  int Command = 0;
  bool Enable = false;
  // OnVisible (Visible), WindowSetResizable (Resizable), WindowClosing (IsChildWindow).
  bool Flag = false;
  // WindowSetLeft, WindowSetTop, WindowSetWidth, WindowSetHeight.
  int Value = 0;
  // NavigateError: the HTTP status or the engine's error code.
  int StatusCode = 0;
  // UpdatePageStatus.
  int PageNumber = 0;
  bool Done = false;
  bool Cancel = false;
  // NewWindow2: the browser that is to show the new window's content; none opens no window.
  IWebBrowser* NewWindow = nullptr;
};

// Receives every event of one browser, on the UI thread, one at a time.
class IWebBrowserEvents {
 public:
  virtual void BrowserEvent(TBrowserEventArgs& args) = 0;

 protected:
  ~IWebBrowserEvents() = default;
};

// Outcome of running a script in the frame that holds a form with a given field.
enum class TFormScriptStatus {
  NoDocument,  // no HTML document is loaded
  NoForm,      // no form of the chosen window has an element of that name
  Ran,         // the script ran without an error
  Failed,      // a script error or a failing call; Error says what
  Composing,   // an input-method composition is open in the page: nothing ran
  Busy,        // another such script is still waiting for its answer: nothing ran
};

struct TFormScriptResult {
  TFormScriptStatus Status = TFormScriptStatus::NoDocument;
  std::string Error;  // client text (Windows-1251)
};

class IWebBrowser {
 public:
  virtual ~IWebBrowser() = default;

  // The widget that shows the page; it is placed on the tab's sheet.
  virtual QWidget* Widget() = 0;
  // None detaches the receiver; events raised later are dropped.
  virtual void SetEventSink(IWebBrowserEvents* sink) = 0;

  virtual void Navigate(const std::u16string& url, int flags) = 0;
  virtual void Stop() = 0;
  virtual void Refresh() = 0;
  virtual void Refresh2(int level) = 0;
  virtual void GoBack() = 0;
  virtual void GoForward() = 0;

  virtual int ReadyState() const = 0;
  // An HTML document is loaded (a picture or plain text shown by the browser is none).
  virtual bool HasDocument() const = 0;
  virtual std::u16string DocumentTitle() const = 0;
  virtual std::u16string LocationURL() const = 0;
  virtual std::u16string LocationName() const = 0;
  virtual bool Busy() const = 0;

  // The window the script runs in: the first child frame of the top document whose name equals
  // frameName exactly, else the top window. In that window's document the forms are searched in
  // order for an element named fieldName; at the first such form the script runs in that window.
  // Answers before it returns.
  virtual TFormScriptResult RunScriptInFormWindow(const std::u16string& frameName,
                                                  const std::u16string& fieldName,
                                                  const std::u16string& script) = 0;

  // Position and size of the browser in its page.
  int Left();
  int Top();
  int Width();
  int Height();
};

}  // namespace velm
