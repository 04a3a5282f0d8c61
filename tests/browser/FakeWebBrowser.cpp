#include "FakeWebBrowser.h"

namespace velm::test {

int TFakeWebBrowser::Alive = 0;

TFakeWebBrowser::TFakeWebBrowser(QWidget* parent) : QWidget(parent) {
  ++Alive;
}

TFakeWebBrowser::~TFakeWebBrowser() {
  --Alive;
}

void TFakeWebBrowser::keyPressEvent(QKeyEvent* event) {
  ++KeysReceived;
  event->accept();
}

void TFakeWebBrowser::Navigate(const std::u16string& url, int flags) {
  Navigations.emplace_back(url, flags);
}

TFormScriptResult TFakeWebBrowser::RunScriptInFormWindow(const std::u16string& frameName,
                                                         const std::u16string& fieldName,
                                                         const std::u16string& script) {
  if (FormScript) return FormScript(frameName, fieldName, script);
  TFormScriptResult result;
  result.Status = TFormScriptStatus::NoForm;
  return result;
}

void TFakeWebBrowser::Raise(TBrowserEventArgs& args) {
  if (fSink) fSink->BrowserEvent(args);
}

bool TFakeWebBrowser::BeforeNavigate(const std::u16string& url) {
  TBrowserEventArgs args(TBrowserEvent::BeforeNavigate2);
  args.Url = url;
  Raise(args);
  return args.Cancel;
}

IWebBrowser* TFakeWebBrowser::NewWindow(bool* cancelled) {
  TBrowserEventArgs args(TBrowserEvent::NewWindow2);
  Raise(args);
  if (cancelled) *cancelled = args.Cancel;
  return args.Cancel ? nullptr : args.NewWindow;
}

void TFakeWebBrowser::Hover(const std::u16string& statusText) {
  TBrowserEventArgs args(TBrowserEvent::StatusTextChange);
  args.Text = statusText;
  Raise(args);
}

void TFakeWebBrowser::Complete(const std::u16string& url, const std::u16string& title, bool html) {
  State = kReadyStateComplete;
  Location = url;
  Title = title;
  Html = html;
  TBrowserEventArgs nav(TBrowserEvent::NavigateComplete2);
  nav.Url = url;
  Raise(nav);
  TBrowserEventArgs doc(TBrowserEvent::DocumentComplete);
  doc.Url = url;
  Raise(doc);
}

void TFakeWebBrowser::WindowClosing() {
  TBrowserEventArgs args(TBrowserEvent::WindowClosing);
  Raise(args);
}

}  // namespace velm::test
