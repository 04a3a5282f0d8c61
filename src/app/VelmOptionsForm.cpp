#include "app/VelmOptionsForm.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>

#include "app/AutoUpdateInterval.h"
#include "app/HotKeys.h"
#include "app/Options.h"
#include "app/QtText.h"
#include "app/RadioGroup.h"
#include "app/UiFonts.h"

namespace velm {

namespace {
constexpr int kMinInterval = 1;
constexpr int kMaxInterval = 10000;
}  // namespace

TVelmOptionsForm::TVelmOptionsForm(QWidget* owner) : QDialog(owner) {
  setObjectName("VelmOptionsForm");
  setWindowTitle(UiText("Настройка опций клиента"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setFont(TahomaFont(8));
  setFixedSize(488, 218);

  cEnableAutoUpdate = new QCheckBox(UiText("Выполнять проверку обновлений в процессе игры"), this);
  cEnableAutoUpdate->setObjectName("cEnableAutoUpdate");
  cEnableAutoUpdate->setGeometry(12, 10, 464, 19);

  lInterval = new QLabel(UiText("Интервал проверки обновлений (минут):"), this);
  lInterval->setObjectName("lInterval");
  lInterval->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lInterval->setGeometry(12, 36, 300, 21);

  eInterval = new QSpinBox(this);
  eInterval->setObjectName("eInterval");
  eInterval->setRange(kMinInterval, kMaxInterval);
  eInterval->setValue(10);
  eInterval->setGeometry(320, 36, 73, 21);

  rCloseWindowMode =
      new TRadioGroup(UiText(" При закрытии окна внутри клиента... "),
                      {UiText("Переключаться на главное (первое) окно"),
                       UiText("Переключаться на окно, следующее за закрытым"),
                       UiText("Переключаться на окно, из которого было открыто данное окно")},
                      this);
  rCloseWindowMode->setObjectName("rCloseWindowMode");
  rCloseWindowMode->setGeometry(12, 66, 464, 102);

  // Kept, not shown: its key must survive an OK with the value it has.
  rOpenWindowMode =
      new TRadioGroup(UiText(" При открытии нового окна внутри клиента... "),
                      {UiText("Переключаться на него"), UiText("Оставаться в том же окне")}, this);
  rOpenWindowMode->setObjectName("rOpenWindowMode");
  rOpenWindowMode->setGeometry(12, 66, 464, 70);
  rOpenWindowMode->hide();

  bOk = new QPushButton(UiText("OK"), this);
  bOk->setObjectName("bOk");
  bOk->setDefault(true);
  bOk->setGeometry(320, 182, 75, 25);

  bCancel = new QPushButton(UiText("Отмена"), this);
  bCancel->setObjectName("bCancel");
  bCancel->setGeometry(401, 182, 75, 25);

  connect(cEnableAutoUpdate, &QCheckBox::clicked, this, [this] { cEnableAutoUpdateClick(); });
  connect(bOk, &QPushButton::clicked, this, [this] { bOkClick(); });
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

  FormCreate();
}

void TVelmOptionsForm::FormCreate() {
  cEnableAutoUpdate->setChecked(Options->AutoUpdateEnable());
  eInterval->setValue(Options->AutoUpdateInterval());
  fLoadedOpenWindowMode = Options->OpenWindowMode();
  fLoadedCloseWindowMode = Options->CloseWindowMode();
  rOpenWindowMode->SetItemIndex(fLoadedOpenWindowMode);
  rCloseWindowMode->SetItemIndex(fLoadedCloseWindowMode);
  cEnableAutoUpdateClick();
}

void TVelmOptionsForm::cEnableAutoUpdateClick() {
  const bool on = cEnableAutoUpdate->isChecked();
  lInterval->setEnabled(on);
  eInterval->setEnabled(on);
}

int TVelmOptionsForm::IntervalValue() const {
  bool ok = false;
  const int value = eInterval->cleanText().trimmed().toInt(&ok);
  if (!ok) return kMinInterval;
  return std::clamp(value, kMinInterval, kMaxInterval);
}

void TVelmOptionsForm::bOkClick() {
  Options->SetAutoUpdateEnable(cEnableAutoUpdate->isChecked());
  Options->SetAutoUpdateInterval(IntervalValue());
  // A group with nothing selected (a stored value it has no item for) keeps that value.
  const int open = rOpenWindowMode->ItemIndex();
  Options->SetOpenWindowMode(open >= 0 ? open : fLoadedOpenWindowMode);
  const int close = rCloseWindowMode->ItemIndex();
  Options->SetCloseWindowMode(close >= 0 ? close : fLoadedCloseWindowMode);
  accept();
}

bool ShowVelmOptions() {
  THotKeysDisabled hotKeysOff;
  TVelmOptionsForm form;
  return form.exec() == QDialog::Accepted;
}

void ApplyAutoUpdateOptions(QTimer& timer) {
  timer.stop();
  timer.setInterval(AutoUpdateIntervalMs(Options->AutoUpdateInterval()));
  if (Options->AutoUpdateEnable()) timer.start();
}

}  // namespace velm
