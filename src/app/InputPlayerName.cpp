#include "app/InputPlayerName.h"

#include <QLineEdit>
#include <QPushButton>

#include "app/AppSettings.h"
#include "app/HotKeys.h"
#include "app/IniFile.h"
#include "app/QtText.h"
#include "app/UiFonts.h"

namespace velm {

namespace {
constexpr int kDialogOffset = 150;
const char kSection[] = "Main";
const char kLastNameKey[] = "PlayerInfo_LastName";
}  // namespace

TInputPlayerNameForm::TInputPlayerNameForm(QWidget* owner) : QDialog(owner) {
  setObjectName("InputPlayerNameForm");
  setWindowTitle(UiText(" Введите имя персонажа"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setFont(TahomaFont(8));
  setFixedSize(281, 71);

  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setGeometry(8, 8, 265, 21);

  Button1 = new QPushButton(UiText("Показать"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button1->setGeometry(117, 38, 75, 25);

  Button2 = new QPushButton(UiText("Отмена"), this);
  Button2->setObjectName("Button2");
  Button2->setGeometry(198, 38, 75, 25);

  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  Edit1->setFocus();
}

bool ShowCharacterInfo(QWidget* mainWindow, const TOpenInNewTab& openInNewTab) {
  TInputPlayerNameForm form;
  if (mainWindow) form.move(mainWindow->x() + kDialogOffset, mainWindow->y() + kDialogOffset);
  auto ini = GetIniFile();
  form.Edit1->setText(AnsiToQString(ini->ReadString(kSection, kLastNameKey, "")));
  THotKeysDisabled hotKeysOff;
  if (form.exec() != QDialog::Accepted) return false;
  const std::string name = QStringToAnsi(form.Edit1->text());
  ini->WriteString(kSection, kLastNameKey, name);
  openInNewTab(GetSiteRoot() + "user_info.php?nick=" + name);
  return true;
}

}  // namespace velm
