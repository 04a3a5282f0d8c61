#include "plugins/PluginsControl.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "app/HotKeys.h"
#include "platform/Encoding.h"
#include "plugins/Plugins.h"

namespace velm {

namespace {

// The form as designed; components keep their distances to the edges they are anchored to.
constexpr int kClientWidth = 409;
constexpr int kClientHeight = 269;

QString Text(const std::string& cp1251) {
  return QString::fromStdU16String(Cp1251ToUtf16(cp1251));
}

}  // namespace

TfConnectedModules::TfConnectedModules(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("fConnectedModules"));
  setWindowTitle(Text(Ansi("Подключенные модули")));
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  setFont(font);

  Label1 = new QLabel(Text(Ansi("Имеющиеся модули")), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  Label2 = new QLabel(Text(Ansi("Характеристики выбранного модуля")), this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Button1 = new QPushButton(Text(Ansi("Закрыть")), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

  resize(kClientWidth, kClientHeight);
  PlaceComponents();
  if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }

  FormCreate();
  connect(ListBox1, &QListWidget::currentRowChanged, this, [this](int) { ListBox1Click(); });
}

void TfConnectedModules::FormCreate() {
  for (size_t i = 0; i < LoadedPlugins.size(); ++i) {
    auto* entry = new QListWidgetItem(Text(PluginDescription(LoadedPlugins[i])), ListBox1);
    entry->setData(Qt::UserRole, static_cast<int>(i));
  }
  if (ListBox1->count() > 0) ListBox1->setCurrentRow(0);
  ListBox1Click();
}

void TfConnectedModules::ListBox1Click() {
  Memo1->clear();
  int row = ListBox1->currentRow();
  if (row < 0 || row >= ListBox1->count() || !ListBox1->item(row)->isSelected()) return;
  int index = ListBox1->item(row)->data(Qt::UserRole).toInt();
  if (index < 0 || static_cast<size_t>(index) >= LoadedPlugins.size()) return;
  const TPlugin& plugin = LoadedPlugins[static_cast<size_t>(index)];
  Memo1->appendPlainText(Text(Ansi("Файл: ") + plugin.FileName));
  Memo1->appendPlainText(Text(Ansi("Описание: ") + PluginDescription(plugin)));
  const int major = PluginVersion(plugin) / 100;
  const int minor = PluginVersion(plugin) % 100;
  char version[64];
  std::snprintf(version, sizeof version, Ansi("Версия: %d.%.2d").c_str(), major, minor);
  Memo1->appendPlainText(Text(version));
}

void TfConnectedModules::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  PlaceComponents();
}

void TfConnectedModules::PlaceComponents() {
  const int dw = width() - kClientWidth;
  const int dh = height() - kClientHeight;
  Label1->adjustSize();
  Label1->move(16, 9);
  ListBox1->setGeometry(8, 23, 393 + dw, 86 + dh);  // all four sides
  Label2->adjustSize();
  Label2->move(16, 120 + dh);                     // left and bottom
  Memo1->setGeometry(8, 134 + dh, 393 + dw, 89);  // left, right and bottom
  Button1->setGeometry(160, 235 + dh, 89, 25);    // left and bottom
}

void ShowConnectedModules(QWidget* parent) {
  auto dialog = std::make_unique<TfConnectedModules>(parent);
  THotKeysDisabled hotKeysOff;
  dialog->exec();
}

}  // namespace velm
