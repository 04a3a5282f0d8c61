#include "browser/PageControl.h"

namespace velm {

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent), fStrip(new TTabStrip(this)) {
  setTabBar(fStrip);
  setDocumentMode(true);
}

}  // namespace velm
