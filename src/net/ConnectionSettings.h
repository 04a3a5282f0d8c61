// The connection dialog: direct connection or an upstream HTTP proxy, with optional credentials.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velm {

class TfConnectionSettings : public QDialog {
  Q_OBJECT
 public:
  explicit TfConnectionSettings(QWidget* owner);

  QGroupBox* gbProxyServer;
  QCheckBox* cbUseProxy;
  QLabel* lProxyAddress;
  QLineEdit* eProxyAddress;
  QLabel* lProxyPort;
  QLineEdit* eProxyPort;
  QCheckBox* cbUseProxyAuth;
  QLabel* lProxyUserName;
  QLineEdit* eProxyUserName;
  QLabel* lProxyPassword;
  QLineEdit* eProxyPassword;
  QPushButton* bOk;
  QPushButton* bCancel;

  void FormCreate();
  // Fields follow the two check boxes; disabled fields keep their contents.
  void cbUseProxyClick();
  // A port that is a decimal integer: the six settings are stored and saved, the dialog closes
  // with OK. Otherwise the error box, and the dialog stays open with nothing changed.
  void bOkClick();

 protected:
  void showEvent(QShowEvent* event) override;
};

// The port text as the dialog takes it: optional sign, decimal digits, no range check beyond
// what a 32-bit integer holds.
bool TryParsePortText(const std::string& text, int32_t& port);

// Shows the dialog modally, centred on its owner, with the client's shortcuts off; true when it
// closed with OK.
bool ShowConnectionSettings(QWidget* owner);

}  // namespace velm
