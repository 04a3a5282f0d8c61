// Windows for the plug-in tests: the application object (off-screen unless a platform is set)
// and a browser for tabs that is driven by the test instead of a web engine.
#pragma once

#include <QApplication>
#include <QWidget>
#include <string>
#include <vector>

#include "browser/WebBrowser.h"

namespace velm::test {

// The application object of the test run: made before the first test, freed after the last.
QApplication& GuiApp();

// A tab's browser whose events the test raises; it lives on the tab's sheet and goes with it.
class TScriptedBrowser : public QWidget, public IWebBrowser {
 public:
  explicit TScriptedBrowser(QWidget* sheet) : QWidget(sheet) {}

  QWidget* Widget() override { return this; }
  void SetEventSink(IWebBrowserEvents* sink) override { fSink = sink; }
  void Navigate(const std::u16string& url, int flags) override {
    Navigations.push_back(url + (flags ? u" (new window)" : u""));
  }
  void Stop() override {}
  void Refresh() override {}
  void Refresh2(int) override {}
  void GoBack() override {}
  void GoForward() override {}
  int ReadyState() const override { return kReadyStateComplete; }
  bool HasDocument() const override { return true; }
  std::u16string DocumentTitle() const override { return u"Page"; }
  std::u16string LocationURL() const override { return u"http://site/"; }
  std::u16string LocationName() const override { return u"Page"; }
  bool Busy() const override { return false; }
  TFormScriptResult RunScriptInFormWindow(const std::u16string&, const std::u16string&,
                                          const std::u16string&) override {
    return {};
  }

  // Delivers an event as the engine would.
  void Fire(TBrowserEventArgs& args) {
    if (fSink) fSink->BrowserEvent(args);
  }

  std::vector<std::u16string> Navigations;

 private:
  IWebBrowserEvents* fSink = nullptr;
};

}  // namespace velm::test
