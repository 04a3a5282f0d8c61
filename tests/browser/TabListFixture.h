// A TVelmTabList on fake browsers inside the test window.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <memory>

#include "BrowserTestEnv.h"
#include "FakeWebBrowser.h"
#include "browser/VelmTabList.h"

namespace velm::test {

class TabListFixture : public ::testing::Test {
 protected:
  TabListFixture() {
    List = std::make_unique<TVelmTabList>(
        Env.PageControl, Env.StatusPanel, TBrowserTestEnv::Picture(Qt::red),
        TBrowserTestEnv::Picture(Qt::blue),
        [](QWidget* sheet) -> IWebBrowser* { return new TFakeWebBrowser(sheet); });
  }
  ~TabListFixture() override {
    List.reset();
    Flush();
  }

  // The start page in the first tab, then more tabs opened in new tabs.
  void OpenTabs(int count) {
    for (int i = 0; i < count; ++i)
      List->OpenAddress(u"http://game.example/page" + std::u16string(1, u'0' + i), i > 0);
  }
  TFakeWebBrowser* Fake(int position) const {
    return static_cast<TFakeWebBrowser*>(List->TabAt(position)->Browser);
  }
  std::u16string Caption(int position) const {
    return Env.PageControl->tabText(position).toStdU16String();
  }
  int Visible() const { return Env.PageControl->currentIndex(); }
  // Runs the deferred deletions of closed tabs.
  static void Flush() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  TBrowserTestEnv Env;
  std::unique_ptr<TVelmTabList> List;
};

}  // namespace velm::test
