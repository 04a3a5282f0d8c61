#include "app/RadioGroup.h"

#include <QRadioButton>
#include <QVBoxLayout>

namespace velm {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), fButtons(this) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setSpacing(2);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    fButtons.addButton(button, i);
    layout->addWidget(button);
  }
}

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* button = fButtons.button(index)) {
    button->setChecked(true);
    return;
  }
  // Clearing an exclusive group takes its exclusivity off for a moment.
  fButtons.setExclusive(false);
  for (QAbstractButton* b : fButtons.buttons()) b->setChecked(false);
  fButtons.setExclusive(true);
}

}  // namespace velm
