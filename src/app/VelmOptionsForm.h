// The client options dialog: periodic update check, its interval, and which tab becomes current
// when a tab is closed.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace velm {

class TRadioGroup;

class TVelmOptionsForm : public QDialog {
  Q_OBJECT
 public:
  explicit TVelmOptionsForm(QWidget* owner = nullptr);

  QCheckBox* cEnableAutoUpdate;
  QLabel* lInterval;
  QSpinBox* eInterval;
  TRadioGroup* rCloseWindowMode;
  TRadioGroup* rOpenWindowMode;
  QPushButton* bOk;
  QPushButton* bCancel;

  void FormCreate();
  void cEnableAutoUpdateClick();
  // Stores the four options (four INI writes), then closes with OK.
  void bOkClick();

  // The spin edit's value: a text that is not a number counts as the minimum.
  int IntervalValue() const;

 private:
  int fLoadedOpenWindowMode = 0;
  int fLoadedCloseWindowMode = 0;
};

// Shows the dialog modally with the client's shortcuts off; true when it closed with OK.
bool ShowVelmOptions();

// What the main window does after an OK, and at its creation: the timer stops, takes
// Options.AutoUpdateInterval minutes, and runs again only when the check is enabled.
void ApplyAutoUpdateOptions(QTimer& timer);

}  // namespace velm
