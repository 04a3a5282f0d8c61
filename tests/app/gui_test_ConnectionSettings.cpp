#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <memory>
#include <string>

#include "GuiTestSupport.h"
#include "app/HotKeys.h"
#include "app/IniFile.h"
#include "app/QtText.h"
#include "net/ConnectionSettings.h"
#include "net/Transport.h"
#include "platform/Registry.h"
#include "support/TestFolder.h"

using namespace velm;

namespace {

class ConnectionDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRegistry(std::make_unique<TMemoryRegistry>());
    TTransportSettings s;
    s.UseProxy = true;
    s.ProxyAddress = "proxy.example";
    s.ProxyPort = 3128;
    s.UseProxyAuth = false;
    s.ProxyUserName = Ansi("Пользователь");
    s.ProxyPassword = "secret";
    SetTransportSettings(s);
  }
  void TearDown() override {
    SetTransportSettings({});
    SetRegistry(nullptr);
    HotKeysEnabled = true;
  }
  std::string Key(const char* key) const {
    return GetIniFile()->ReadString("Transport", key, "<none>");
  }
  test::TTestProgramFolder fFolder;
};

}  // namespace

TEST(ConnectionPortText, DecimalIntegerWithOptionalSign) {
  struct Case {
    const char* text;
    bool ok;
    int32_t port;
  } cases[] = {
      {"8080", true, 8080}, {"-1", true, -1}, {"70000", true, 70000},
      {"+81", true, 81},    {"", false, 0},   {"80a", false, 0},
      {" 80", false, 0},    {"-", false, 0},  {"99999999999", false, 0},
      {"0x50", false, 0},
  };
  for (const auto& c : cases) {
    int32_t port = 0;
    EXPECT_EQ(TryParsePortText(c.text, port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
}

TEST_F(ConnectionDialogTest, ShowsTheSettingsAndFollowsTheCheckBoxes) {
  TfConnectionSettings form(nullptr);
  EXPECT_EQ(form.windowTitle(), UiText("Настройка соединения"));
  EXPECT_EQ(form.size(), QSize(356, 243));
  EXPECT_EQ(form.eProxyAddress->text(), "proxy.example");
  EXPECT_EQ(form.eProxyPort->text(), "3128");
  EXPECT_EQ(form.eProxyUserName->text(), UiText("Пользователь"));
  EXPECT_EQ(form.eProxyPassword->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(form.cbUseProxy->isChecked());
  EXPECT_TRUE(form.eProxyAddress->isEnabled());
  EXPECT_FALSE(form.eProxyUserName->isEnabled());  // authorisation off

  form.cbUseProxyAuth->click();
  EXPECT_TRUE(form.eProxyUserName->isEnabled());
  EXPECT_TRUE(form.lProxyPassword->isEnabled());
  form.cbUseProxy->click();
  EXPECT_FALSE(form.eProxyAddress->isEnabled());
  EXPECT_FALSE(form.cbUseProxyAuth->isEnabled());
  EXPECT_FALSE(form.eProxyPassword->isEnabled());
  EXPECT_EQ(form.eProxyAddress->text(), "proxy.example");  // disabled fields keep their text
}

TEST_F(ConnectionDialogTest, OkStoresAllSixAlsoFromDisabledFields) {
  bool hotKeysWhileShown = true;
  test::WhenModalShown([&](QDialog& dialog) {
    hotKeysWhileShown = HotKeysEnabled;
    auto& form = static_cast<TfConnectionSettings&>(dialog);
    form.eProxyPort->setText("-5");  // accepted as typed
    form.cbUseProxy->click();        // off: the rest stays stored
    form.bOk->click();
  });
  EXPECT_TRUE(ShowConnectionSettings(nullptr));
  EXPECT_FALSE(hotKeysWhileShown);
  EXPECT_TRUE(HotKeysEnabled);
  const TTransportSettings s = TransportSettings();
  EXPECT_FALSE(s.UseProxy);
  EXPECT_EQ(s.ProxyAddress, "proxy.example");
  EXPECT_EQ(s.ProxyPort, -5);
  EXPECT_EQ(s.ProxyUserName, Ansi("Пользователь"));
  EXPECT_EQ(Key("UseProxy"), "0");
  EXPECT_EQ(Key("ProxyAddress"), "proxy.example");
  EXPECT_EQ(Key("ProxyPort"), "-5");
  EXPECT_EQ(Key("UseProxyAuth"), "0");
  EXPECT_EQ(Key("ProxyUserName"), Ansi("Пользователь"));
  EXPECT_EQ(Key("ProxyPassword"), "secret");
}

TEST_F(ConnectionDialogTest, BadPortShowsTheErrorAndChangesNothing) {
  QString boxText;
  test::WhenModalShown([&](QDialog& dialog) {
    auto& form = static_cast<TfConnectionSettings&>(dialog);
    form.eProxyAddress->setText("other.example");
    form.eProxyPort->setText("80a");
    // The error box comes up over the dialog; after it the dialog is still open.
    test::WhenModalShown([&](QDialog& box) {
      boxText = static_cast<QMessageBox&>(box).text();
      box.accept();
      QTimer::singleShot(50, &form, [&form] {
        EXPECT_TRUE(form.isVisible());
        form.bCancel->click();
      });
    });
    form.bOk->click();
  });
  EXPECT_FALSE(ShowConnectionSettings(nullptr));
  EXPECT_EQ(boxText, UiText("Порт прокси задан неверно"));
  EXPECT_EQ(TransportSettings().ProxyAddress, "proxy.example");
  EXPECT_FALSE(test::FileExists(fFolder.Path("VelmC2.ini")));
  EXPECT_TRUE(HotKeysEnabled);
}
