#include "app/OpenUrl.h"

#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

#include "app/HotKeys.h"
#include "app/QtText.h"
#include "app/UiFonts.h"
#include "app/UrlHistory.h"
#include "platform/Encoding.h"

namespace velm {

namespace {

// Client area and the window's frame of the design: a 97-pixel window holds 70 pixels of client
// area, a 258-pixel one 250.
constexpr int kClientWidth = 550;
constexpr int kClientHeight = 70;
constexpr int kMinClientWidth = 250;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kMargin = 8;
constexpr int kDialogOffset = 150;

}  // namespace

TfOpenUrl::TfOpenUrl(QWidget* owner) : QDialog(owner) {
  setObjectName("fOpenUrl");
  setWindowTitle(UiText(" Открыть ссылку"));
  // No border icons: no close button, no system menu.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(SegoeFont(8));
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kMinClientWidth, kClientHeight);
  setMaximumHeight(kClientHeight);

  cbURL = new QComboBox(this);
  cbURL->setObjectName("cbURL");
  cbURL->setEditable(true);
  cbURL->setMaxVisibleItems(24);
  // What is typed stays in the edit field; OK decides what joins the list.
  cbURL->setInsertPolicy(QComboBox::NoInsert);
  cbURL->setDuplicatesEnabled(true);
  // The text is opened exactly as typed: no completion or matching may change its letter case.
  cbURL->completer()->setCaseSensitivity(Qt::CaseSensitive);

  bOk = new QPushButton(UiText("OK"), this);
  bOk->setObjectName("bOk");
  bOk->setDefault(true);

  bCancel = new QPushButton(UiText("Отмена"), this);
  bCancel->setObjectName("bCancel");

  connect(bOk, &QPushButton::clicked, this, [this] { bOkClick(); });
  // Esc rejects the dialog too.
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

  FormCreate();
  cbURL->setFocus();
}

void TfOpenUrl::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int w = event->size().width();
  cbURL->setGeometry(kMargin, kMargin, w - 2 * kMargin, 23);
  bCancel->setGeometry(w - kMargin - kButtonWidth, 37, kButtonWidth, kButtonHeight);
  bOk->setGeometry(w - 2 * kMargin - 2 * kButtonWidth + 2, 37, kButtonWidth, kButtonHeight);
}

void TfOpenUrl::FormCreate() {
  cbURL->clear();
  for (const std::string& url : *UrlHistory) cbURL->addItem(AnsiToQString(url));
  cbURL->setEditText(QString());
}

std::string TfOpenUrl::Text() const {
  return QStringToAnsi(cbURL->currentText());
}

void TfOpenUrl::bOkClick() {
  std::vector<std::string> list;
  list.reserve(cbURL->count());
  for (int i = 0; i < cbURL->count(); ++i) list.push_back(QStringToAnsi(cbURL->itemText(i)));
  *UrlHistory = std::move(list);

  const std::string text = Text();
  bool present = false;
  for (const std::string& url : *UrlHistory)
    if (SameText(url, text)) {
      present = true;
      break;
    }
  if (!present) UrlHistory->insert(UrlHistory->begin(), text);
  SaveUrlHistory();
  accept();
}

bool ShowOpenUrl(QWidget* mainWindow, const TOpenInNewTab& openInNewTab) {
  THotKeysDisabled hotKeysOff;
  std::string text;
  bool ok = false;
  {
    TfOpenUrl form;
    if (mainWindow) form.move(mainWindow->x() + kDialogOffset, mainWindow->y() + kDialogOffset);
    ok = form.exec() == QDialog::Accepted;
    text = form.Text();
  }
  if (ok) openInNewTab(text);
  return ok;
}

}  // namespace velm
