// The about box: the game's name, "Клиент" and the client version over the box's picture.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace velm {

class TfAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfAbout(QWidget* owner = nullptr);

  QLabel* bg;
  QLabel* Label4;
  QLabel* Label1;
  QLabel* Label5;
  QLabel* Label2;
  QLabel* V2;
  QLabel* V1;
  QPushButton* Button1;

  // Appends the client version to both version captions.
  void FormCreate();
};

// The main window's "О программе" command.
void ShowAbout();

}  // namespace velm
