// The character information command: asks for a character's name and opens that character's
// page of the game site in a new tab.
#pragma once

#include <QDialog>

#include "app/OpenUrl.h"

class QLineEdit;
class QPushButton;

namespace velm {

class TInputPlayerNameForm : public QDialog {
  Q_OBJECT
 public:
  explicit TInputPlayerNameForm(QWidget* owner = nullptr);

  QLineEdit* Edit1;
  QPushButton* Button1;
  QPushButton* Button2;
};

// The main window's "Инфо по персонажу..." command: the dialog opens with the last name asked
// for ("PlayerInfo_LastName" of section "Main"); on OK the name is stored and the site root,
// "user_info.php?nick=" and the name, as typed, open in a new tab. True on OK.
bool ShowCharacterInfo(QWidget* mainWindow, const TOpenInNewTab& openInNewTab);

}  // namespace velm
