// The fonts the windows were laid out with. Linux usually lacks them; then the closest installed
// sans-serif family is taken at the same point size.
#pragma once

#include <QFont>

namespace velm {

// "Tahoma" falls back to a condensed sans-serif (Tahoma is narrow), "Segoe UI" to a plain one.
QFont UiFont(const char* family, int points, bool bold = false);
inline QFont TahomaFont(int points, bool bold = false) {
  return UiFont("Tahoma", points, bold);
}
inline QFont SegoeFont(int points, bool bold = false) {
  return UiFont("Segoe UI", points, bold);
}
// The same families at a size in pixels (the splash's memos).
QFont UiFontPixels(const char* family, int pixels, bool bold = false);

}  // namespace velm
