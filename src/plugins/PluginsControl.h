// The "Подключенные модули" dialog: the loaded plug-ins and the file, description and version of
// the one selected.
#pragma once

#include <QDialog>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QResizeEvent;

namespace velm {

class TfConnectedModules : public QDialog {
  Q_OBJECT
 public:
  explicit TfConnectedModules(QWidget* parent = nullptr);

  // Lists the plug-ins and selects the first; runs on creation.
  void FormCreate();
  // Shows the selected plug-in's file, description and version.
  void ListBox1Click();

  QLabel* Label1;
  QListWidget* ListBox1;
  QLabel* Label2;
  QPlainTextEdit* Memo1;
  QPushButton* Button1;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceComponents();
};

// The "Подключенные модули..." command: the dialog shown modally with the client's keyboard
// shortcuts off, then freed.
void ShowConnectedModules(QWidget* parent);

}  // namespace velm
