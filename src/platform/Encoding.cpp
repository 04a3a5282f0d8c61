#include "platform/Encoding.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

namespace velm {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

// Windows-1251 is a single-byte code page: glibc's iconv converts each high byte once into a
// table, after which conversions are plain lookups on any thread.
struct TCodePage {
  std::array<char16_t, 256> toUnicode{};
  std::unordered_map<char16_t, unsigned char> fromUnicode;
  std::array<unsigned char, 256> lower{};
  std::array<unsigned char, 256> upper{};

  TCodePage() {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: no CP1251");
    for (int b = 0; b < 256; ++b) {
      char in = static_cast<char>(b);
      char out[4] = {};
      char* pin = &in;
      char* pout = out;
      size_t inLeft = 1, outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &pin, &inLeft, &pout, &outLeft) == static_cast<size_t>(-1) || outLeft != 2) {
        toUnicode[b] = kReplacement;
      } else {
        toUnicode[b] = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                             (static_cast<unsigned char>(out[1]) << 8));
        fromUnicode.emplace(toUnicode[b], static_cast<unsigned char>(b));
      }
    }
    iconv_close(cd);
    for (int b = 0; b < 256; ++b) lower[b] = upper[b] = static_cast<unsigned char>(b);
    for (int b = 0; b < 256; ++b) {
      char16_t u = toUnicode[b];
      char16_t l = u;
      if (u >= u'A' && u <= u'Z')
        l = u + 32;
      else if (u >= 0x0410 && u <= 0x042F)
        l = u + 0x20;
      else if (u >= 0x0400 && u <= 0x040F)
        l = u + 0x50;
      else if (u == 0x0490)
        l = 0x0491;
      if (l == u) continue;
      auto it = fromUnicode.find(l);
      if (it == fromUnicode.end()) continue;
      lower[b] = it->second;
      upper[it->second] = static_cast<unsigned char>(b);
    }
  }
};

const TCodePage& CodePage() {
  static const TCodePage page;
  return page;
}

// Appends one code point as UTF-16.
void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes the next code point of UTF-8 text; malformed bytes give U+FFFD one byte at a time.
char32_t NextUtf8(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
  if (extra < 0 || c >= 0xF8) return kReplacement;
  char32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return cp;
}

char32_t NextUtf16(std::u16string_view s, size_t& i) {
  char16_t c = s[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < s.size() && s[i] >= 0xDC00 && s[i] < 0xE000) {
    return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[i++] - 0xDC00);
  }
  return c;
}

char FromCodePoint(char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  const auto& map = CodePage().fromUnicode;
  auto it = cp < 0x10000 ? map.find(static_cast<char16_t>(cp)) : map.end();
  return it == map.end() ? '?' : static_cast<char>(it->second);
}

}  // namespace

std::u16string Cp1251ToUtf16(std::string_view text) {
  const auto& table = CodePage().toUnicode;
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(table[static_cast<unsigned char>(c)]);
  return out;
}

std::string Cp1251ToUtf8(std::string_view text) {
  const auto& table = CodePage().toUnicode;
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) AppendUtf8(out, table[static_cast<unsigned char>(c)]);
  return out;
}

std::string Utf8ToCp1251(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(FromCodePoint(NextUtf8(text, i)));
  return out;
}

std::string Utf16ToCp1251(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(FromCodePoint(NextUtf16(text, i)));
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf16(out, NextUtf8(text, i));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(out, NextUtf16(text, i));
  return out;
}

char LowerChar(char c) {
  return static_cast<char>(CodePage().lower[static_cast<unsigned char>(c)]);
}
char UpperChar(char c) {
  return static_cast<char>(CodePage().upper[static_cast<unsigned char>(c)]);
}

std::string LowerCase(std::string_view text) {
  const auto& t = CodePage().lower;
  std::string out(text);
  for (char& c : out) c = static_cast<char>(t[static_cast<unsigned char>(c)]);
  return out;
}

std::string UpperCase(std::string_view text) {
  const auto& t = CodePage().upper;
  std::string out(text);
  for (char& c : out) c = static_cast<char>(t[static_cast<unsigned char>(c)]);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto& t = CodePage().lower;
  for (size_t i = 0; i < a.size(); ++i) {
    if (t[static_cast<unsigned char>(a[i])] != t[static_cast<unsigned char>(b[i])]) return false;
  }
  return true;
}

}  // namespace velm
