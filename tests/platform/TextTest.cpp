// The text codecs every layer shares: strict UTF-8 decoding and Windows-1252.
#include "platform/Text.h"

#include <gtest/gtest.h>

namespace brisquell {
namespace {

TEST(Text, Utf8IsDecodedStrictly) {
  EXPECT_TRUE(isValidUtf8("plain ASCII"));
  EXPECT_TRUE(isValidUtf8("Grüße € 😀"));
  for (const char* bad : {"\xe9", "\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                          "\xf4\x90\x80\x80", "\xff", "ok\xe2\x82"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(isValidUtf8(bad));
  }
  std::string s = "é😀";
  std::size_t i = 0;
  char32_t cp = 0;
  ASSERT_TRUE(decodeUtf8(s, i, cp));
  EXPECT_EQ(cp, U'é');
  ASSERT_TRUE(decodeUtf8(s, i, cp));
  EXPECT_EQ(cp, U'😀');
  EXPECT_EQ(i, s.size());
  std::string back;
  appendUtf8(U'é', back);
  appendUtf8(U'😀', back);
  EXPECT_EQ(back, s);
}

// Names are compared as Windows folds them, whatever their lengths in bytes: a bad byte reads
// as U+FFFD, which is three.
TEST(Text, CaseFoldedEqualityOfNamesOfAnyLength) {
  EXPECT_TRUE(iequals("InprocServer32", "INPROCSERVER32"));
  EXPECT_FALSE(iequals("InprocServer", "InprocServer32"));
  EXPECT_FALSE(iequals("", "x"));
  EXPECT_TRUE(iequals("", ""));
  EXPECT_FALSE(iequals("a[", "A{"));  // only letters fold
  EXPECT_TRUE(iequals("GRÜSSE Ä", "grüsse ä"));
  EXPECT_TRUE(iequals("ΣΟΦΙΑ", "σοφια"));
  EXPECT_FALSE(iequals("Ä", "A"));
  EXPECT_FALSE(iequals("\xff", "x"));
  EXPECT_TRUE(iequals("\xff", "\xef\xbf\xbd")) << "a bad byte reads as U+FFFD, of another length";
  EXPECT_TRUE(iequals("a\xfe", "A\xef\xbf\xbd"));
  EXPECT_FALSE(iequals("ab\xfe", "A\xef\xbf\xbd"));
}

TEST(Text, Windows1252MapsEveryByteAsWindowsDoes) {
  EXPECT_EQ(windows1252ToUtf8("Caf\xe9"), "Café");
  EXPECT_EQ(windows1252ToUtf8("\x80\x85\x8a\x99\x9f"), "€…Š™Ÿ");
  // The five bytes the code page leaves unassigned become their C1 controls.
  for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(windows1252CodePoint(b), b);
  for (int b = 0; b < 256; ++b) {  // each byte has its own code point, and back
    char32_t cp = windows1252CodePoint(static_cast<unsigned char>(b));
    EXPECT_EQ(windows1252Byte(cp), b) << b;
    EXPECT_TRUE(isValidUtf8(windows1252ToUtf8(std::string(1, static_cast<char>(b)))));
  }
  EXPECT_EQ(windows1252Byte(U'ж'), -1);
}

}  // namespace
}  // namespace brisquell
