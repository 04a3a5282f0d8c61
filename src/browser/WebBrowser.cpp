#include "browser/WebBrowser.h"

#include <QWidget>

namespace velm {

int IWebBrowser::Left() {
  return Widget()->x();
}

int IWebBrowser::Top() {
  return Widget()->y();
}

int IWebBrowser::Width() {
  return Widget()->width();
}

int IWebBrowser::Height() {
  return Widget()->height();
}

}  // namespace velm
