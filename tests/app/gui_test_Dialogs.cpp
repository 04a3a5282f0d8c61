#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/AppSettings.h"
#include "app/Artwork.h"
#include "app/HotKeys.h"
#include "app/IniFile.h"
#include "app/InputPlayerName.h"
#include "app/OpenUrl.h"
#include "app/Options.h"
#include "app/QtText.h"
#include "app/RadioGroup.h"
#include "app/UrlHistory.h"
#include "app/VelmAbout.h"
#include "app/VelmOptionsForm.h"
#include "platform/Encoding.h"
#include "support/TestFolder.h"

using namespace velm;

namespace {

// A program folder with an INI file written beforehand, and the process-wide objects the
// dialogs use, created on it.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("VELM_SITE_ROOT", "http://game.example/", 1); }
  void TearDown() override {
    FinalizeOpenUrl();
    FinalizeVelmOptions();
    FreeAppSettings();
    unsetenv("VELM_SITE_ROOT");
    HotKeysEnabled = true;
  }
  void WriteIni(const std::string& text) { test::WriteWholeFile(IniPath(), text); }
  void Start() {
    InitializeVelmOptions();
    InitializeOpenUrl();
    CreateAppSettings();
  }
  std::string IniPath() const { return fFolder.Path("VelmC2.ini"); }
  std::string Ini() const {
    return test::FileExists(IniPath()) ? test::ReadWholeFile(IniPath()) : std::string();
  }
  std::string Key(const char* section, const char* key) const {
    return GetIniFile()->ReadString(section, key, "<none>");
  }

  test::TTestProgramFolder fFolder;
};

QString U(const char* utf8) {
  return UiText(utf8);
}

}  // namespace

TEST_F(DialogTest, OptionsFormOfAFreshInstallation) {
  Start();
  TVelmOptionsForm form;
  EXPECT_EQ(form.objectName(), "VelmOptionsForm");
  EXPECT_EQ(form.windowTitle(), U("Настройка опций клиента"));
  EXPECT_EQ(form.size(), QSize(488, 218));
  EXPECT_TRUE(form.cEnableAutoUpdate->isChecked());
  EXPECT_EQ(form.eInterval->value(), 10);
  EXPECT_EQ(form.eInterval->minimum(), 1);
  EXPECT_EQ(form.eInterval->maximum(), 10000);
  EXPECT_EQ(form.rCloseWindowMode->ItemIndex(), 0);
  ASSERT_EQ(form.rCloseWindowMode->Count(), 3);
  EXPECT_EQ(form.rCloseWindowMode->Item(2)->text(),
            U("Переключаться на окно, из которого было открыто данное окно"));
  EXPECT_TRUE(form.lInterval->isEnabled());
  EXPECT_TRUE(form.bOk->isDefault());
  EXPECT_TRUE(form.rOpenWindowMode->isHidden());

  // Unchecking greys out the interval; checking again brings it back.
  form.cEnableAutoUpdate->click();
  EXPECT_FALSE(form.lInterval->isEnabled());
  EXPECT_FALSE(form.eInterval->isEnabled());
  form.cEnableAutoUpdate->click();
  EXPECT_TRUE(form.eInterval->isEnabled());
}

TEST_F(DialogTest, OptionsOkWritesAllFourKeysAndKeepsTheHiddenOpenMode) {
  WriteIni("[Main]\r\nAutoUpdateInterval=0\r\nOpenWindowMode=1\r\nCloseWindowMode=2\r\n");
  Start();
  TVelmOptionsForm form;
  EXPECT_EQ(form.eInterval->value(), 1);  // a stored 0 is shown and used as 1
  EXPECT_EQ(form.rCloseWindowMode->ItemIndex(), 2);
  form.cEnableAutoUpdate->click();
  form.eInterval->setValue(45);
  form.rCloseWindowMode->SetItemIndex(1);
  form.bOk->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(Key("Main", "AutoUpdateEnable"), "0");
  EXPECT_EQ(Key("Main", "AutoUpdateInterval"), "45");
  EXPECT_EQ(Key("Main", "OpenWindowMode"), "1");
  EXPECT_EQ(Key("Main", "CloseWindowMode"), "1");
  EXPECT_FALSE(Options->AutoUpdateEnable());
  EXPECT_EQ(Options->CloseWindowMode(), 1);
}

TEST_F(DialogTest, OptionsOkKeepsStoredModesTheGroupsHaveNoItemFor) {
  WriteIni("[Main]\r\nOpenWindowMode=7\r\nCloseWindowMode=9\r\n");
  Start();
  TVelmOptionsForm form;
  EXPECT_EQ(form.rCloseWindowMode->ItemIndex(), -1);
  form.bOk->click();
  EXPECT_EQ(Key("Main", "OpenWindowMode"), "7");
  EXPECT_EQ(Key("Main", "CloseWindowMode"), "9");
}

TEST_F(DialogTest, OptionsIntervalTextThatIsNotANumberCountsAsOne) {
  Start();
  TVelmOptionsForm form;
  form.eInterval->findChild<QLineEdit*>()->clear();
  EXPECT_EQ(form.IntervalValue(), 1);
  form.bOk->click();
  EXPECT_EQ(Key("Main", "AutoUpdateInterval"), "1");
}

TEST_F(DialogTest, ShowOptionsOkRearmsTheTimerAndCancelTouchesNothing) {
  Start();
  QTimer timer;
  ApplyAutoUpdateOptions(timer);
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(timer.interval(), 600000);

  // OK with the largest interval: 10000 minutes still fit the timer's milliseconds.
  bool hotKeysWhileShown = true;
  test::WhenModalShown([&](QDialog& dialog) {
    hotKeysWhileShown = HotKeysEnabled;
    auto& form = static_cast<TVelmOptionsForm&>(dialog);
    form.eInterval->setValue(10000);
    form.bOk->click();
  });
  ASSERT_TRUE(ShowVelmOptions());
  EXPECT_FALSE(hotKeysWhileShown);
  EXPECT_TRUE(HotKeysEnabled);
  ApplyAutoUpdateOptions(timer);
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(timer.interval(), 600000000);

  // Cancel: nothing stored, the INI file as it was.
  const std::string before = Ini();
  test::WhenModalShown([](QDialog& dialog) {
    auto& form = static_cast<TVelmOptionsForm&>(dialog);
    form.cEnableAutoUpdate->click();
    form.eInterval->setValue(3);
    form.bCancel->click();
  });
  EXPECT_FALSE(ShowVelmOptions());
  EXPECT_TRUE(HotKeysEnabled);
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(Options->AutoUpdateInterval(), 10000);

  // OK with the check box cleared stops the timer until it is enabled again.
  test::WhenModalShown([](QDialog& dialog) {
    auto& form = static_cast<TVelmOptionsForm&>(dialog);
    form.cEnableAutoUpdate->click();
    form.bOk->click();
  });
  ASSERT_TRUE(ShowVelmOptions());
  ApplyAutoUpdateOptions(timer);
  EXPECT_FALSE(timer.isActive());
  EXPECT_EQ(timer.interval(), 600000000);
}

TEST_F(DialogTest, OpenUrlAddsTypedAddressesOnceAndOpensThemAsTyped) {
  WriteIni(
      "[OpenUrl]\r\nCount=2\r\nUrl0=http://a.example/\r\nUrl1=http://B.example/x\r\n"
      "Url2=stale\r\nUrl3=stale too\r\n");
  Start();
  std::vector<std::string> opened;
  auto open = [&](const std::string& url) { opened.push_back(url); };

  QWidget mainWindow;
  mainWindow.setGeometry(200, 120, 605, 400);
  QPoint dialogPos;
  struct Step {
    QString typed;
    std::vector<std::string> history;  // afterwards
  } steps[] = {
      // New: inserted at the top.
      {"http://c.example/" + U("путь"),
       {"http://c.example/" + Ansi("путь"), "http://a.example/", "http://B.example/x"}},
      // Differs from a stored one only in letter case: neither added nor moved.
      {"HTTP://b.EXAMPLE/X",
       {"http://c.example/" + Ansi("путь"), "http://a.example/", "http://B.example/x"}},
      // An empty text: an empty entry at the top, once.
      {"", {"", "http://c.example/" + Ansi("путь"), "http://a.example/", "http://B.example/x"}},
      {"", {"", "http://c.example/" + Ansi("путь"), "http://a.example/", "http://B.example/x"}},
  };
  for (const Step& step : steps) {
    bool hotKeysWhileShown = true;
    test::WhenModalShown([&](QDialog& dialog) {
      hotKeysWhileShown = HotKeysEnabled;
      dialogPos = dialog.pos();
      auto& form = static_cast<TfOpenUrl&>(dialog);
      EXPECT_TRUE(form.cbURL->hasFocus() || !form.isActiveWindow());
      form.cbURL->setEditText(step.typed);
      form.bOk->click();
    });
    ASSERT_TRUE(ShowOpenUrl(&mainWindow, open));
    EXPECT_FALSE(hotKeysWhileShown);
    EXPECT_TRUE(HotKeysEnabled);
    EXPECT_EQ(opened.back(), QStringToAnsi(step.typed));
    EXPECT_EQ(*UrlHistory, step.history);
  }
  EXPECT_EQ(dialogPos, mainWindow.pos() + QPoint(150, 150));
  EXPECT_EQ(Key("OpenUrl", "Count"), "4");
  EXPECT_EQ(Key("OpenUrl", "Url0"), "");
  EXPECT_EQ(Key("OpenUrl", "Url1"), "http://c.example/" + Ansi("путь"));
  EXPECT_EQ(Key("OpenUrl", "Url3"), "http://B.example/x");
  // A stale key beyond an earlier, shorter count stays.
  WriteIni(Ini() + "[OpenUrl]\r\nUrl9=older\r\n");

  // Cancel: no change to the list or the file, nothing opened.
  const std::string before = Ini();
  const size_t openedBefore = opened.size();
  test::WhenModalShown([](QDialog& dialog) {
    auto& form = static_cast<TfOpenUrl&>(dialog);
    form.cbURL->setEditText("http://never.example/");
    form.bCancel->click();
  });
  EXPECT_FALSE(ShowOpenUrl(&mainWindow, open));
  EXPECT_TRUE(HotKeysEnabled);
  EXPECT_EQ(opened.size(), openedBefore);
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(UrlHistory->size(), 4u);
}

TEST_F(DialogTest, OpenUrlFormShowsTheHistoryAndKeepsItsHeight) {
  WriteIni("[OpenUrl]\r\nCount=3\r\nUrl0=one\r\nUrl1=\r\nUrl2=one\r\n");
  Start();
  TfOpenUrl form;
  EXPECT_EQ(form.objectName(), "fOpenUrl");
  EXPECT_EQ(form.windowTitle(), U(" Открыть ссылку"));
  EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
  ASSERT_EQ(form.cbURL->count(), 3);  // empty and repeated entries as stored
  EXPECT_EQ(form.cbURL->itemText(2), "one");
  EXPECT_EQ(form.cbURL->currentText(), "");
  EXPECT_EQ(form.cbURL->maxVisibleItems(), 24);
  form.show();
  form.resize(900, 300);
  QApplication::processEvents();
  EXPECT_EQ(form.height(), 70);
  EXPECT_EQ(form.bCancel->geometry().right(), form.width() - 9);
  EXPECT_GT(form.cbURL->width(), 850);
}

TEST_F(DialogTest, CharacterInfoOpensTheNameAsTypedAndRemembersIt) {
  WriteIni("[Main]\r\nPlayerInfo_LastName=" + Ansi("Старый") + "\r\n");
  Start();
  std::vector<std::string> opened;
  auto open = [&](const std::string& url) { opened.push_back(url); };

  // Cancel keeps the stored name and opens nothing.
  QString shownName;
  test::WhenModalShown([&](QDialog& dialog) {
    auto& form = static_cast<TInputPlayerNameForm&>(dialog);
    shownName = form.Edit1->text();
    EXPECT_FALSE(HotKeysEnabled);
    form.Edit1->setText("other");
    form.Button2->click();
  });
  EXPECT_FALSE(ShowCharacterInfo(nullptr, open));
  EXPECT_EQ(shownName, U("Старый"));
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(HotKeysEnabled);
  EXPECT_EQ(Key("Main", "PlayerInfo_LastName"), Ansi("Старый"));

  test::WhenModalShown([](QDialog& dialog) {
    auto& form = static_cast<TInputPlayerNameForm&>(dialog);
    form.Edit1->setText(U("Рыжий Кот"));
    form.Button1->click();
  });
  EXPECT_TRUE(ShowCharacterInfo(nullptr, open));
  EXPECT_TRUE(HotKeysEnabled);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "http://game.example/user_info.php?nick=" + Ansi("Рыжий Кот"));
  EXPECT_EQ(Key("Main", "PlayerInfo_LastName"), Ansi("Рыжий Кот"));
}

TEST_F(DialogTest, AboutBoxShowsTheVersionTwiceOverItsPicture) {
  Start();
  TfAbout about;
  EXPECT_EQ(about.objectName(), "fAbout");
  EXPECT_EQ(about.windowTitle(), U(" О программе"));
  EXPECT_EQ(about.size(), QSize(306, 179));
  EXPECT_EQ(about.V1->text(), U("Версия 2.05"));
  EXPECT_EQ(about.V2->text(), U("Версия 2.05"));
  EXPECT_EQ(about.Label1->text(), U("Велмара"));
  EXPECT_EQ(about.Label5->text(), U("Клиент"));
  EXPECT_EQ(about.V2->pos(), about.V1->pos() + QPoint(1, 1));
  EXPECT_EQ(about.Label4->pos(), about.Label1->pos() + QPoint(1, 1));
  EXPECT_EQ(about.Label4->palette().color(QPalette::WindowText), QColor(Qt::white));
  ASSERT_FALSE(about.bg->pixmap().isNull());
  EXPECT_EQ(about.Button1->text(), U("Закрыть"));

  test::WhenModalShown([](QDialog& dialog) {
    EXPECT_FALSE(HotKeysEnabled);
    static_cast<TfAbout&>(dialog).Button1->click();
  });
  ShowAbout();
  EXPECT_TRUE(HotKeysEnabled);
}

TEST(Artwork, PicturesHaveTheSizesTheWindowsExpect) {
  struct Case {
    const char* name;
    QPixmap picture;
    QSize size;
  } cases[] = {
      {"splash", SplashBackgroundPicture(), {481, 259}},
      {"stop button", StopButtonActivePicture(), {244, 32}},
      {"about", AboutBackgroundPicture(), {306, 179}},
      {"close", CloseButtonPicture(), {16, 16}},
      {"close, hot", CloseButtonHotPicture(), {16, 16}},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.picture.isNull()) << c.name;
    EXPECT_EQ(c.picture.size(), c.size) << c.name;
  }
  EXPECT_FALSE(ProgressBarPicture().isNull());
  EXPECT_FALSE(ProgramIcon().isNull());
}
