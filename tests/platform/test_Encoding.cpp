#include <gtest/gtest.h>

#include "platform/Encoding.h"

using namespace velm;

TEST(Encoding, CyrillicRoundTrips) {
  const std::string utf8 = "Велмара: Ёлка, ёж, Ґ, «цитата» — №5";
  std::string cp = Utf8ToCp1251(utf8);
  EXPECT_EQ(cp.size(), 35u);                           // one byte per character
  EXPECT_EQ(static_cast<unsigned char>(cp[0]), 0xC2);  // В
  EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
  EXPECT_EQ(Utf16ToCp1251(Cp1251ToUtf16(cp)), cp);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(utf8)), utf8);
}

TEST(Encoding, EveryDefinedByteRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    if (b == 0x98) continue;  // the one byte Windows-1251 leaves undefined
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf16ToCp1251(Cp1251ToUtf16(one)), one) << b;
  }
}

TEST(Encoding, UnmappableAndMalformedInput) {
  EXPECT_EQ(Utf8ToCp1251("a\xE4\xB8\xADz"), "a?z");  // CJK character
  EXPECT_EQ(Utf8ToCp1251("\xFF"), "?");              // not UTF-8 at all
  EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");              // cut sequence
  EXPECT_EQ(Utf16ToCp1251(u"\U0001F600"), "?");      // surrogate pair
}

TEST(Encoding, LetterCaseCoversCyrillic) {
  EXPECT_EQ(LowerCase(Ansi("ПРИВЕТ Ёж ABC")), Ansi("привет ёж abc"));
  EXPECT_EQ(UpperCase(Ansi("привет ёж abc")), Ansi("ПРИВЕТ ЁЖ ABC"));
  EXPECT_TRUE(SameText(Ansi("Главная"), Ansi("гЛАВНАЯ")));
  EXPECT_FALSE(SameText("abc", "abd"));
}
