#include <gtest/gtest.h>

#include <QtTest/qtestspontaneevent.h>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "TabListFixture.h"
#include "app/HotKeys.h"
#include "browser/KeyboardHook.h"

namespace velm::test {
namespace {

class KeyboardHook : public TabListFixture {
 protected:
  KeyboardHook() {
    // The main menu's hidden "Закрыть страницу" closes the current tab, as the main window's does.
    QObject::connect(Env.miClosePage, &QAction::triggered, [this] {
      if (List->CurrentTab) List->CurrentTab->Close();
    });
  }
  ~KeyboardHook() override { HotKeysEnabled = true; }

  // A key typed on the current tab's page, as the window system delivers it.
  void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* page = List->CurrentTab->Browser->Widget();
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QSpontaneKeyEvent::setSpontaneous(&press);
    qApp->notify(page, &press);
  }
  int PageKeys() const {
    return static_cast<TFakeWebBrowser*>(List->CurrentTab->Browser)->KeysReceived;
  }
};

TEST_F(KeyboardHook, CtrlWAndCtrlF4CloseTheNewTabNotItsOpener) {
  OpenTabs(2);
  const int32_t second = List->TabAt(1)->Id;
  List->NewTab();
  const int32_t third = List->TabAt(2)->Id;
  Press(Qt::Key_W, Qt::ControlModifier);
  Flush();
  ASSERT_EQ(List->Count(), 2);
  EXPECT_EQ(List->FindTab(third), nullptr);
  EXPECT_NE(List->FindTab(second), nullptr);
  Env.PageControl->setCurrentIndex(1);
  Press(Qt::Key_F4, Qt::ControlModifier);
  Flush();
  EXPECT_EQ(List->Count(), 1);
}

TEST_F(KeyboardHook, CtrlWOnTheFirstTabIsSwallowed) {
  OpenTabs(1);
  Press(Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(List->Count(), 1);
  EXPECT_EQ(PageKeys(), 0);
}

TEST_F(KeyboardHook, CloseKeysByModifiers) {
  struct Case {
    int Key;
    Qt::KeyboardModifiers Mods;
    bool Closes;
  };
  const Case cases[] = {
      {Qt::Key_W, Qt::ControlModifier | Qt::AltModifier, true},  // AltGr
      {0x0426, Qt::ControlModifier, true},                       // Ц, the W key in Russian
      {Qt::Key_W, Qt::AltModifier, false},
      {Qt::Key_W, Qt::NoModifier, false},
      {Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier, false},
      {Qt::Key_F4, Qt::NoModifier, false},
  };
  for (const Case& c : cases) {
    List.reset();
    Flush();
    List = std::make_unique<TVelmTabList>(
        Env.PageControl, Env.StatusPanel, QPixmap(), QPixmap(),
        [](QWidget* sheet) -> IWebBrowser* { return new TFakeWebBrowser(sheet); });
    OpenTabs(2);
    Press(c.Key, c.Mods);
    Flush();
    EXPECT_EQ(List->Count(), c.Closes ? 1 : 2) << std::hex << c.Key << " " << c.Mods;
    EXPECT_EQ(PageKeys(), c.Closes ? 0 : 1) << std::hex << c.Key << " " << c.Mods;
  }
}

TEST_F(KeyboardHook, CtrlTabAndCtrlShiftTabWrap) {
  OpenTabs(3);
  ASSERT_EQ(Visible(), 2);
  Press(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(Visible(), 0);
  EXPECT_EQ(List->CurrentTab, List->TabAt(0));
  Press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Visible(), 2);
  Press(Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Visible(), 1);
  EXPECT_EQ(List->CurrentTab, List->TabAt(1));
}

TEST_F(KeyboardHook, KeyReleaseAndRepeatedDeliveriesNeverAct) {
  OpenTabs(2);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_W, Qt::ControlModifier);
  QSpontaneKeyEvent::setSpontaneous(&release);
  qApp->notify(List->CurrentTab->Browser->Widget(), &release);
  EXPECT_EQ(List->Count(), 2);
  // The page's unhandled key comes back to the window, not spontaneous.
  QKeyEvent again(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier);
  QApplication::sendEvent(&Env.Window, &again);
  Flush();
  EXPECT_EQ(List->Count(), 2);
}

TEST_F(KeyboardHook, WithHotKeysClearedOnlyTheMainMenuAnswers) {
  OpenTabs(3);
  int formScripts = 0;
  Fake(2)->FormScript = [&](auto&, auto&, auto&) {
    ++formScripts;
    return TFormScriptResult{TFormScriptStatus::Ran, {}};
  };
  HotKeysEnabled = false;
  Press(Qt::Key_W, Qt::ControlModifier);
  Press(Qt::Key_Tab, Qt::ControlModifier);
  Press(Qt::Key_Return);
  EXPECT_EQ(List->Count(), 3);
  EXPECT_EQ(Visible(), 2);
  EXPECT_EQ(formScripts, 0);
  EXPECT_EQ(PageKeys(), 3);
  // The hidden "Закрыть страницу" (Ctrl+F4) and "Открыть ссылку..." (Ctrl+U) still run.
  Press(Qt::Key_U, Qt::ControlModifier);
  EXPECT_EQ(Env.OpenUrlRuns, 1);
  Press(Qt::Key_F4, Qt::ControlModifier);
  Flush();
  EXPECT_EQ(List->Count(), 2);
}

TEST_F(KeyboardHook, KeysTypedIntoAModalDialogStillReachTheMainMenu) {
  OpenTabs(2);
  QDialog dialog(&Env.Window);
  auto* edit = new QLineEdit(&dialog);
  THotKeysDisabled modal;
  auto type = [&](int key, Qt::KeyboardModifiers mods) {
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QSpontaneKeyEvent::setSpontaneous(&press);
    qApp->notify(edit, &press);
  };
  type(Qt::Key_W, Qt::ControlModifier);
  type(Qt::Key_Return, Qt::NoModifier);
  EXPECT_EQ(List->Count(), 2);
  type(Qt::Key_U, Qt::ControlModifier);
  EXPECT_EQ(Env.OpenUrlRuns, 1);
  type(Qt::Key_F4, Qt::ControlModifier);
  Flush();
  EXPECT_EQ(List->Count(), 1);
}

TEST_F(KeyboardHook, AKeyIsJudgedOnceHoweverQtPassesItOn) {
  OpenTabs(1);
  int scripts = 0;
  Fake(0)->FormScript = [&](auto&, auto&, auto&) {
    ++scripts;
    return TFormScriptResult{TFormScriptStatus::Failed, "no chat"};
  };
  // A child that ignores keys: Qt offers the same key to the browser next.
  auto* inner = new QWidget(Fake(0));
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QSpontaneKeyEvent::setSpontaneous(&press);
  qApp->notify(inner, &press);
  EXPECT_EQ(scripts, 1);
  EXPECT_EQ(Env.Beeps, 1);
  EXPECT_EQ(PageKeys(), 1);

  // From the window system a key reaches the window first, then its focus widget.
  Env.Window.show();
  Env.Window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Env.Window));
  Fake(0)->setFocusPolicy(Qt::StrongFocus);
  Fake(0)->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), Fake(0));
  QKeyEvent fromSystem(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QSpontaneKeyEvent::setSpontaneous(&fromSystem);
  qApp->notify(Env.Window.windowHandle(), &fromSystem);
  EXPECT_EQ(scripts, 2);
  EXPECT_EQ(Env.Beeps, 2);
  EXPECT_EQ(PageKeys(), 2);
}

TEST_F(KeyboardHook, CopyAndPasteKeysAreNeverGivenToTheMenu) {
  OpenTabs(1);
  QMenu* edit = Env.Window.menuBar()->addMenu(QStringLiteral("Edit"));
  edit->menuAction()->setVisible(false);
  int copies = 0;
  QAction* copy = edit->addAction(QStringLiteral("Copy"));
  copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  QObject::connect(copy, &QAction::triggered, [&] { ++copies; });
  Press(Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(copies, 0);
  EXPECT_EQ(PageKeys(), 1);
  // A disabled item still takes its key.
  Env.miOpenUrl->setEnabled(false);
  Press(Qt::Key_U, Qt::ControlModifier);
  EXPECT_EQ(Env.OpenUrlRuns, 0);
  EXPECT_EQ(PageKeys(), 1);
}

TEST_F(KeyboardHook, EnterRunsTheChatRule) {
  OpenTabs(1);
  struct Case {
    TFormScriptStatus Status;
    Qt::KeyboardModifiers Mods;
    int Key;
    int ExpectedScripts;
    bool ReachesPage;
    bool Logged;
  };
  const Case cases[] = {
      {TFormScriptStatus::Ran, Qt::NoModifier, Qt::Key_Return, 1, false, false},
      {TFormScriptStatus::Ran, Qt::KeypadModifier, Qt::Key_Enter, 1, false, false},
      {TFormScriptStatus::NoForm, Qt::NoModifier, Qt::Key_Return, 1, true, false},
      {TFormScriptStatus::Composing, Qt::NoModifier, Qt::Key_Return, 1, true, false},
      {TFormScriptStatus::Failed, Qt::NoModifier, Qt::Key_Return, 1, true, true},
      {TFormScriptStatus::Ran, Qt::ShiftModifier, Qt::Key_Return, 0, true, false},
      {TFormScriptStatus::Ran, Qt::ControlModifier, Qt::Key_Return, 0, true, false},
  };
  for (const Case& c : cases) {
    int scripts = 0;
    Fake(0)->FormScript = [&](const std::u16string& frame, const std::u16string& field,
                              const std::u16string& script) {
      ++scripts;
      EXPECT_EQ(frame, u"chat");
      EXPECT_EQ(field, u"message");
      EXPECT_EQ(script, u"chatSend()");
      return TFormScriptResult{c.Status, "chatSend is not defined"};
    };
    const int keysBefore = PageKeys();
    const int beepsBefore = Env.Beeps;
    const std::size_t logBefore = Env.LogText().size();
    Press(c.Key, c.Mods);
    EXPECT_EQ(scripts, c.ExpectedScripts) << static_cast<int>(c.Status) << " " << c.Mods;
    EXPECT_EQ(PageKeys() - keysBefore, c.ReachesPage ? 1 : 0) << static_cast<int>(c.Status);
    const std::string added = Env.LogText().substr(logBefore);
    EXPECT_EQ(added.find("Exception in ProcessEnterKeyDown: chatSend is not defined") !=
                  std::string::npos,
              c.Logged);
    EXPECT_EQ(Env.Beeps - beepsBefore, c.Logged ? 1 : 0);
  }
}

TEST(KeyCombination, AltAloneIsASystemKeyAndAltGrCountsAsCtrl) {
  QKeyEvent altW(QEvent::KeyPress, Qt::Key_W, Qt::AltModifier);
  QKeyEvent altGrW(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier | Qt::AltModifier);
  QKeyEvent backtab(QEvent::KeyPress, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  QKeyEvent ctrlOnly(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
  EXPECT_TRUE(KeyCombination(altW).isEmpty());
  EXPECT_EQ(KeyCombination(altGrW), QKeySequence(Qt::CTRL | Qt::Key_W));
  EXPECT_EQ(KeyCombination(backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab));
  EXPECT_TRUE(KeyCombination(ctrlOnly).isEmpty());
}

}  // namespace
}  // namespace velm::test
