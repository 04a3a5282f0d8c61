// A framed group of radio buttons with one selected index, as the option dialogs use it.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>

namespace velm {

class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);

  // -1 when no item is selected.
  int ItemIndex() const { return fButtons.checkedId(); }
  // An index outside the items selects none.
  void SetItemIndex(int index);
  int Count() const { return static_cast<int>(fButtons.buttons().size()); }
  QAbstractButton* Item(int index) const { return fButtons.button(index); }

 private:
  QButtonGroup fButtons;
};

}  // namespace velm
