// A scriptable browser for the tab list tests: it records what the tabs ask of it and raises the
// events the test tells it to, the way the engine would.
#pragma once

#include <QKeyEvent>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "browser/WebBrowser.h"

namespace velm::test {

class TFakeWebBrowser : public QWidget, public IWebBrowser {
 public:
  explicit TFakeWebBrowser(QWidget* parent);
  ~TFakeWebBrowser() override;

  QWidget* Widget() override { return this; }
  void SetEventSink(IWebBrowserEvents* sink) override { fSink = sink; }

  void Navigate(const std::u16string& url, int flags) override;
  void Stop() override { ++StopCount; }
  void Refresh() override { ++RefreshCount; }
  void Refresh2(int) override { ++RefreshCount; }
  void GoBack() override {}
  void GoForward() override {}

  int ReadyState() const override { return State; }
  bool HasDocument() const override { return Html; }
  std::u16string DocumentTitle() const override { return Title; }
  std::u16string LocationURL() const override { return Location; }
  std::u16string LocationName() const override { return Title; }
  bool Busy() const override { return false; }

  TFormScriptResult RunScriptInFormWindow(const std::u16string& frameName,
                                          const std::u16string& fieldName,
                                          const std::u16string& script) override;

  // Raising events as the engine does. Each returns what the handlers decided.
  void Raise(TBrowserEventArgs& args);
  bool BeforeNavigate(const std::u16string& url);  // true: cancelled
  IWebBrowser* NewWindow(bool* cancelled = nullptr);
  void Hover(const std::u16string& statusText);
  // A completed load: ready state 4, address and title, NavigateComplete2 and DocumentComplete.
  void Complete(const std::u16string& url, const std::u16string& title, bool html = true);
  void WindowClosing();
  bool Attached() const { return fSink != nullptr; }
  // Key presses that reached the page.
  int KeysReceived = 0;

  int State = kReadyStateUninitialized;
  bool Html = false;
  std::u16string Title;
  std::u16string Location;
  std::vector<std::pair<std::u16string, int>> Navigations;
  int StopCount = 0;
  int RefreshCount = 0;
  // Answers RunScriptInFormWindow; without it there is no form.
  std::function<TFormScriptResult(const std::u16string&, const std::u16string&,
                                  const std::u16string&)>
      FormScript;
  // Browsers alive, for leak checks.
  static int Alive;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  IWebBrowserEvents* fSink = nullptr;
};

}  // namespace velm::test
