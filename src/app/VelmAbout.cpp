#include "app/VelmAbout.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "app/AppSettings.h"
#include "app/Artwork.h"
#include "app/HotKeys.h"
#include "app/QtText.h"
#include "app/UiFonts.h"

namespace velm {

namespace {

constexpr int kWidth = 306;
constexpr int kHeight = 179;

// A bold, 10-point, centred caption across the box at the given top, in the given colour.
QLabel* Caption(QWidget* parent, const char* name, const QString& text, int top, int shift,
                const QColor& color) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setFont(TahomaFont(10, true));
  label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  label->setGeometry(shift, top + shift, kWidth, 20);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  label->setAttribute(Qt::WA_TranslucentBackground);
  return label;
}

}  // namespace

TfAbout::TfAbout(QWidget* owner) : QDialog(owner) {
  setObjectName("fAbout");
  setWindowTitle(UiText(" О программе"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setFont(TahomaFont(8));
  setFixedSize(kWidth, kHeight);

  bg = new QLabel(this);
  bg->setObjectName("bg");
  bg->setGeometry(0, 0, kWidth, kHeight);
  bg->setPixmap(AboutBackgroundPicture());
  bg->setScaledContents(true);

  const QColor windowText = palette().color(QPalette::WindowText);
  // Each white shadow lies one pixel right of and below its caption, beneath it.
  Label4 = Caption(this, "Label4", UiText("Велмара"), 28, 1, Qt::white);
  Label1 = Caption(this, "Label1", UiText("Велмара"), 28, 0, Qt::black);
  Label2 = Caption(this, "Label2", UiText("Клиент"), 66, 1, Qt::white);
  Label5 = Caption(this, "Label5", UiText("Клиент"), 66, 0, windowText);
  V2 = Caption(this, "V2", UiText("Версия "), 94, 1, Qt::white);
  V1 = Caption(this, "V1", UiText("Версия "), 94, 0, windowText);

  Button1 = new QPushButton(UiText("Закрыть"), this);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button1->setGeometry((kWidth - 75) / 2, 140, 75, 25);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  FormCreate();
}

void TfAbout::FormCreate() {
  const QString version = AnsiToQString(AppSettings->GetClientVersion());
  V1->setText(V1->text() + version);
  V2->setText(V2->text() + version);
}

void ShowAbout() {
  TfAbout about;
  THotKeysDisabled hotKeysOff;
  about.exec();
}

}  // namespace velm
