#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/URLCoding.h"
#include "platform/Encoding.h"

using namespace velm;

namespace {

struct TCodingCase {
  std::string input;
  std::string url;    // EncodeURL
  std::string query;  // EncodeQuery
};

}  // namespace

TEST(URLCoding, EncodersByteTable) {
  const std::string cyrillicA = Ansi("а");  // 0xE0 in the client's code page
  ASSERT_EQ(cyrillicA, "\xE0");
  const TCodingCase cases[] = {
      {"a b", "a%20b", "a%20b"},
      {"x" + cyrillicA, "x%E0", "x%E0"},
      {"1+1", "1%2B1", "1+1"},
      {"\x80", "%80", "\x80"},
      {"\x81", "%81", "%81"},
      {"\xFF", "%FF", "%FF"},
      {"%41", "%2541", "%2541"},
      {"#*<>[]", "%23%2A%3C%3E%5B%5D", "%23%2A%3C%3E%5B%5D"},
      {"/a:b?c&d=e|f;g~", "/a:b?c&d=e|f;g~", "/a:b?c&d=e|f;g~"},
      {"\x7F", "\x7F", "\x7F"},
      {std::string("\x00\x01\x1F", 3), "%00%01%1F", "%00%01%1F"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeURL(c.input), c.url) << c.input;
    EXPECT_EQ(EncodeQuery(c.input), c.query) << c.input;
  }
}

TEST(URLCoding, EncodersCoverEveryByte) {
  // Each byte on its own: copied or exactly "%XX" in upper-case hexadecimal.
  const std::string url = " #%*+<>[]";
  const std::string query = " #%*<>[]";
  for (int b = 0; b < 256; ++b) {
    const std::string in(1, static_cast<char>(b));
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", b);
    const bool urlCopied = b >= 32 && b <= 127 && url.find(in) == std::string::npos;
    const bool queryCopied = b >= 33 && b <= 128 && query.find(in) == std::string::npos;
    EXPECT_EQ(EncodeURL(in), urlCopied ? in : hex) << b;
    EXPECT_EQ(EncodeQuery(in), queryCopied ? in : hex) << b;
    EXPECT_EQ(DecodeURL(EncodeURL(in)), in) << b;
  }
}

TEST(URLCoding, DecodeTable) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"%41", "A"},
      {"%4a%4A", "JJ"},
      {"x%zzy", "xy"},
      {"x%4zy", "xy"},
      {"a%4", std::string("a\x04")},
      {"a%", "a"},
      {"a+b", "a+b"},
      {"%E0%ff", "\xE0\xFF"},
      {"%00", std::string(1, '\0')},
      {"%2541", "%41"},
      {"100%", "100"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeURL(c.input), c.expected) << c.input;
}

TEST(URLCoding, DecodeNeverReadsPastTheText) {
  // For the sanitizer build: each cut of an escaped text in a buffer with nothing after it.
  const std::string text = "%E0%2b%4";
  for (size_t n = 0; n <= text.size(); ++n) {
    const std::vector<char> exact(text.begin(), text.begin() + n);
    const std::string decoded = DecodeURL(std::string_view(exact.data(), n));
    EXPECT_LE(decoded.size(), n);
  }
  EXPECT_EQ(DecodeURL(text), "\xE0+\x04");
}
