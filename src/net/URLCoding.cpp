#include "net/URLCoding.h"

#include <array>
#include <cstdint>

namespace velm {
namespace {

using TCopiedSet = std::array<bool, 256>;

constexpr TCopiedSet MakeCopiedSet(unsigned first, unsigned last, std::string_view escaped) {
  TCopiedSet set{};
  for (unsigned b = first; b <= last; ++b) set[b] = true;
  for (char c : escaped) set[static_cast<unsigned char>(c)] = false;
  return set;
}

constexpr TCopiedSet kUrlCopied = MakeCopiedSet(32, 127, " #%*+<>[]");
constexpr TCopiedSet kQueryCopied = MakeCopiedSet(33, 128, " #%*<>[]");

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Sizes the result once, then fills it: no reallocation however many bytes are escaped.
std::string Encode(std::string_view text, const TCopiedSet& copied) {
  size_t size = text.size();
  for (char c : text)
    if (!copied[static_cast<unsigned char>(c)]) size += 2;
  if (size == text.size()) return std::string(text);
  std::string result(size, '\0');
  char* out = result.data();
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (copied[b]) {
      *out++ = c;
    } else {
      *out++ = '%';
      *out++ = kHexDigits[b >> 4];
      *out++ = kHexDigits[b & 15];
    }
  }
  return result;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string EncodeURL(std::string_view text) {
  return Encode(text, kUrlCopied);
}

std::string EncodeQuery(std::string_view text) {
  return Encode(text, kQueryCopied);
}

std::string DecodeURL(std::string_view text) {
  std::string result(text.size(), '\0');
  char* out = result.data();
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    if (text[i] != '%') {
      *out++ = text[i++];
      continue;
    }
    // Up to two characters after "%"; fewer at the end of the text.
    const size_t count = n - i - 1 < 2 ? n - i - 1 : 2;
    int value = 0;
    bool ok = count > 0;
    for (size_t k = 0; k < count && ok; ++k) {
      const int digit = HexValue(text[i + 1 + k]);
      ok = digit >= 0;
      value = value * 16 + digit;
    }
    if (ok) *out++ = static_cast<char>(value & 0xFF);
    i += 1 + count;
  }
  result.resize(static_cast<size_t>(out - result.data()));
  return result;
}

}  // namespace velm
