#include "app/UiFonts.h"

#include <QFontDatabase>
#include <QStringList>
#include <cstring>

namespace velm {

namespace {

QString InstalledFamily(const char* family) {
  QStringList wanted{QString::fromLatin1(family)};
  if (std::strcmp(family, "Tahoma") == 0)
    wanted << "DejaVu Sans Condensed"
           << "Liberation Sans Narrow"
           << "DejaVu Sans";
  wanted << "DejaVu Sans"
         << "Liberation Sans"
         << "Noto Sans";
  const QStringList installed = QFontDatabase::families();
  for (const QString& name : wanted)
    if (installed.contains(name, Qt::CaseInsensitive)) return name;
  return QString::fromLatin1(family);
}

QFont MakeFont(const char* family, bool bold) {
  QFont font(InstalledFamily(family));
  font.setStyleHint(QFont::SansSerif);
  font.setBold(bold);
  return font;
}

}  // namespace

QFont UiFont(const char* family, int points, bool bold) {
  QFont font = MakeFont(family, bold);
  font.setPointSize(points);
  return font;
}

QFont UiFontPixels(const char* family, int pixels, bool bold) {
  QFont font = MakeFont(family, bold);
  font.setPixelSize(pixels);
  return font;
}

}  // namespace velm
