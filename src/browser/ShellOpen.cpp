#include "browser/ShellOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace velm {

namespace {
TShellOpenHandler gHandler;
}

void ShellOpen(const std::u16string& address) {
  if (gHandler) {
    gHandler(address);
    return;
  }
  QDesktopServices::openUrl(QUrl(QString::fromStdU16String(address)));
}

TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler) {
  TShellOpenHandler old = std::move(gHandler);
  gHandler = std::move(handler);
  return old;
}

}  // namespace velm
