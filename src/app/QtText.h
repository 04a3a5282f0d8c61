// Client text (Windows-1251 bytes) to and from the QString of the widgets.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "platform/Encoding.h"

namespace velm {

inline QString AnsiToQString(std::string_view text) {
  return QString::fromStdU16String(Cp1251ToUtf16(text));
}

inline std::string QStringToAnsi(const QString& text) {
  return Utf16ToCp1251(text.toStdU16String());
}

// A UTF-8 source literal for a widget: the client's own texts, exactly as the client shows them.
inline QString UiText(std::string_view utf8) {
  return AnsiToQString(Ansi(utf8));
}

}  // namespace velm
