#include "net/ConnectionSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <charconv>

#include "app/HotKeys.h"
#include "app/QtText.h"
#include "app/UiFonts.h"
#include "net/Transport.h"

namespace velm {

namespace {

constexpr int kWidth = 356;
constexpr int kHeight = 243;

QLabel* FieldLabel(QWidget* parent, const char* name, const char* text, int x, int y, int w) {
  auto* label = new QLabel(UiText(text), parent);
  label->setObjectName(name);
  label->setGeometry(x, y, w, 16);
  return label;
}

QLineEdit* Field(QWidget* parent, const char* name, int x, int y, int w) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(x, y, w, 22);
  return edit;
}

}  // namespace

bool TryParsePortText(const std::string& text, int32_t& port) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  if (first == last || (*first == '-' && first + 1 == last)) return false;
  int32_t value = 0;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last) return false;
  port = value;
  return true;
}

TfConnectionSettings::TfConnectionSettings(QWidget* owner) : QDialog(owner) {
  setObjectName("fConnectionSettings");
  setWindowTitle(UiText("Настройка соединения"));
  // Dialog border, no title-bar buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFont(SegoeFont(8));
  setFixedSize(kWidth, kHeight);

  gbProxyServer = new QGroupBox(UiText("Прокси-сервер"), this);
  gbProxyServer->setObjectName("gbProxyServer");
  gbProxyServer->setGeometry(8, 6, kWidth - 16, 192);
  QWidget* g = gbProxyServer;

  cbUseProxy = new QCheckBox(UiText("Использовать прокси-сервер"), g);
  cbUseProxy->setObjectName("cbUseProxy");
  cbUseProxy->setGeometry(12, 22, 300, 19);

  lProxyAddress = FieldLabel(g, "lProxyAddress", "Адрес:", 12, 46, 200);
  eProxyAddress = Field(g, "eProxyAddress", 12, 63, 236);
  lProxyPort = FieldLabel(g, "lProxyPort", "Порт:", 256, 46, 70);
  eProxyPort = Field(g, "eProxyPort", 256, 63, 72);

  cbUseProxyAuth = new QCheckBox(UiText("Использовать авторизацию"), g);
  cbUseProxyAuth->setObjectName("cbUseProxyAuth");
  cbUseProxyAuth->setGeometry(12, 94, 300, 19);

  lProxyUserName = FieldLabel(g, "lProxyUserName", "Имя пользователя:", 12, 118, 120);
  eProxyUserName = Field(g, "eProxyUserName", 136, 115, 192);
  lProxyPassword = FieldLabel(g, "lProxyPassword", "Пароль:", 12, 150, 120);
  eProxyPassword = Field(g, "eProxyPassword", 136, 147, 192);
  eProxyPassword->setEchoMode(QLineEdit::Password);

  bOk = new QPushButton(UiText("OK"), this);
  bOk->setObjectName("bOk");
  bOk->setDefault(true);
  bOk->setGeometry(kWidth - 8 - 2 * 75 - 6, kHeight - 8 - 25, 75, 25);
  bCancel = new QPushButton(UiText("Отмена"), this);
  bCancel->setObjectName("bCancel");
  bCancel->setGeometry(kWidth - 8 - 75, kHeight - 8 - 25, 75, 25);

  setTabOrder(cbUseProxy, eProxyAddress);
  setTabOrder(eProxyAddress, eProxyPort);
  setTabOrder(eProxyPort, cbUseProxyAuth);
  setTabOrder(cbUseProxyAuth, eProxyUserName);
  setTabOrder(eProxyUserName, eProxyPassword);
  setTabOrder(eProxyPassword, bCancel);
  setTabOrder(bCancel, bOk);

  connect(cbUseProxy, &QCheckBox::clicked, this, [this] { cbUseProxyClick(); });
  connect(cbUseProxyAuth, &QCheckBox::clicked, this, [this] { cbUseProxyClick(); });
  connect(bOk, &QPushButton::clicked, this, [this] { bOkClick(); });
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

  FormCreate();
}

void TfConnectionSettings::FormCreate() {
  const TTransportSettings s = TransportSettings();
  eProxyAddress->setText(AnsiToQString(s.ProxyAddress));
  eProxyPort->setText(QString::number(s.ProxyPort));
  cbUseProxy->setChecked(s.UseProxy);
  eProxyUserName->setText(AnsiToQString(s.ProxyUserName));
  eProxyPassword->setText(AnsiToQString(s.ProxyPassword));
  cbUseProxyAuth->setChecked(s.UseProxyAuth);
  cbUseProxyClick();
}

void TfConnectionSettings::cbUseProxyClick() {
  const bool proxy = cbUseProxy->isChecked();
  const bool auth = proxy && cbUseProxyAuth->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(lProxyAddress), static_cast<QWidget*>(eProxyAddress),
                     static_cast<QWidget*>(lProxyPort), static_cast<QWidget*>(eProxyPort),
                     static_cast<QWidget*>(cbUseProxyAuth)})
    w->setEnabled(proxy);
  for (QWidget* w : {static_cast<QWidget*>(lProxyUserName), static_cast<QWidget*>(eProxyUserName),
                     static_cast<QWidget*>(lProxyPassword), static_cast<QWidget*>(eProxyPassword)})
    w->setEnabled(auth);
}

void TfConnectionSettings::bOkClick() {
  int32_t port = 0;
  if (!TryParsePortText(QStringToAnsi(eProxyPort->text()), port)) {
    QMessageBox::critical(this, QApplication::applicationDisplayName(),
                          UiText("Порт прокси задан неверно"), QMessageBox::Ok);
    return;
  }
  TTransportSettings s;
  s.ProxyAddress = QStringToAnsi(eProxyAddress->text());
  s.ProxyPort = port;
  s.UseProxy = cbUseProxy->isChecked();
  s.ProxyUserName = QStringToAnsi(eProxyUserName->text());
  s.ProxyPassword = QStringToAnsi(eProxyPassword->text());
  s.UseProxyAuth = cbUseProxyAuth->isChecked();
  SetTransportSettings(s);
  // Raises when the INI file cannot be written: the dialog then stays open.
  SaveTransportSettings();
  accept();
}

void TfConnectionSettings::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QWidget* owner = parentWidget()) {
    const QRect frame = owner->frameGeometry();
    move(frame.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
}

bool ShowConnectionSettings(QWidget* owner) {
  THotKeysDisabled hotKeysOff;
  TfConnectionSettings form(owner);
  return form.exec() == QDialog::Accepted;
}

}  // namespace velm
