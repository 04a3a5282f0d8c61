// Text encodings. Client text is std::string holding Windows-1251 bytes; windows get UTF-16,
// the terminal UTF-8. Source literals are UTF-8 and become client text through Ansi().
#pragma once

#include <string>
#include <string_view>

namespace velm {

std::string Cp1251ToUtf8(std::string_view text);
// Characters that Windows-1251 cannot hold become '?'.
std::string Utf8ToCp1251(std::string_view text);
std::u16string Cp1251ToUtf16(std::string_view text);
std::string Utf16ToCp1251(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// A UTF-8 source literal as client text: Ansi("Загрузка").
inline std::string Ansi(std::string_view utf8) {
  return Utf8ToCp1251(utf8);
}

// Letter case of Windows-1251 text, Latin and Cyrillic letters alike.
char LowerChar(char c);
char UpperChar(char c);
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

}  // namespace velm
