// The open-URL dialog: any address into a new tab, with the history of what was typed.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QComboBox;
class QPushButton;

namespace velm {

// Opens an address in a new tab of the main window.
using TOpenInNewTab = std::function<void(const std::string& address)>;

class TfOpenUrl : public QDialog {
  Q_OBJECT
 public:
  explicit TfOpenUrl(QWidget* owner = nullptr);

  QComboBox* cbURL;
  QPushButton* bOk;
  QPushButton* bCancel;

  // Fills the list with a copy of UrlHistory.
  void FormCreate();
  // The list becomes the history, the typed text joins it at the top unless it is there
  // already (letter case ignored), the history is saved, and the dialog closes with OK.
  void bOkClick();

  // The combo box text as client text.
  std::string Text() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// Shows the dialog 150 pixels right of and below the main window's corner, modally, with the
// client's shortcuts off; on OK the text is opened as typed. True when an address was opened.
bool ShowOpenUrl(QWidget* mainWindow, const TOpenInNewTab& openInNewTab);

}  // namespace velm
