// The main window's page control: one page per tab, the tabs drawn on a TTabStrip.
#pragma once

#include <QTabWidget>

#include "browser/TabStrip.h"

namespace velm {

class TPageControl : public QTabWidget {
  Q_OBJECT
 public:
  explicit TPageControl(QWidget* parent = nullptr);

  TTabStrip* Strip() const { return fStrip; }

 private:
  TTabStrip* fStrip;
};

}  // namespace velm
