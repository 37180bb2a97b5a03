// The shared text helpers: trimming at either or one end, the stored switches' truth values,
// searches without regard to case, and the walks' reading of stored strings.
#include "platform/Text.h"

#include <gtest/gtest.h>

#include "platform/RegistryStore.h"
#include "scan/RegistryAccess.h"
#include "scan/Walkers.h"

namespace brisquell {
namespace {

TEST(Text, Trimming) {
  EXPECT_EQ(trimmedView(" \t a b \t\r", " \t\r"), "a b");
  EXPECT_EQ(trimmedView("  \t ", " \t"), "");
  EXPECT_EQ(trimmedView("", " "), "");
  EXPECT_EQ(trimmedView("\tx", " "), "\tx") << "only the characters named";
  EXPECT_EQ(trimmedRightView(" name\r\n", "\n\r "), " name");
  EXPECT_EQ(trimmedRightView("\r\n", "\n\r "), "");
  EXPECT_EQ(trimBlanks("  C:\\Program Files  "), "C:\\Program Files");
  EXPECT_EQ(trimBlanks("\t1\t"), "\t1\t") << "blanks are spaces only";
}

TEST(Text, TruthValues) {
  EXPECT_EQ(truthValue(" True "), true);
  EXPECT_EQ(truthValue("FALSE"), false);
  EXPECT_EQ(truthValue("0"), false);
  EXPECT_EQ(truthValue("-0.0"), false);
  EXPECT_EQ(truthValue("2.5"), true);
  EXPECT_EQ(truthValue(" -1 "), true);
  EXPECT_EQ(truthValue(""), std::nullopt);
  EXPECT_EQ(truthValue("yes"), std::nullopt);
  EXPECT_EQ(truthValue("Truely"), std::nullopt);
}

// Every place a match can start or fail, against the plain search of the lower-cased texts.
TEST(Text, SearchWithoutRegardToCaseFindsTheFirstPlaceFromAnyStart) {
  auto lower = [](std::string t) {
    for (char& c : t)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return t;
  };
  const std::string hays[] = {"",          "t",
                              "TypeLib\\", "xTYPELIB\\TypeLiB\\",
                              "tttypelib", "%SystemRoot%\\%sysROOT%",
                              "TypeLi",    "ab\\HELPDIR\\x\\helpdir"};
  const std::string needles[] = {"",          "t",         "typelib\\", "TYPELIB",
                                 "%sysroot%", "\\helpdir", "b",         "tt"};
  for (const std::string& h : hays)
    for (const std::string& n : needles)
      for (std::size_t from = 0; from <= h.size() + 1; ++from) {
        std::size_t expected = lower(h).find(lower(n), from);
        EXPECT_EQ(ifind(h, n, from), expected) << h << " / " << n << " from " << from;
      }
  EXPECT_TRUE(icontains("C:\\WINDOWS\\%SystemRoot%\\x", "%systemroot%"));
  EXPECT_FALSE(icontains("C:\\WINDOWS\\SystemRoot\\x", "%systemroot%"));
}

// What the walks read from stored bytes is what the text view gives, whatever the length, the
// place of a NUL or of a character beyond ASCII, and an odd byte at the end.
TEST(Text, StoredStringsReadAsTheirTextView) {
  const std::vector<std::string> units = {"a", "\\", "Z", "\xc3\xa9", "\xe2\x82\xac", "~"};
  std::string text = "left over from the last value";
  for (std::uint32_t type : {regtype::Sz, regtype::MultiSz, regtype::ExpandSz}) {
    for (std::size_t length = 0; length <= 13; ++length) {
      for (std::size_t special = 0; special <= length; ++special) {
        for (int kind = 0; kind < 3; ++kind) {
          std::string s;
          for (std::size_t i = 0; i < length; ++i)
            s += i == special ? (kind == 0 ? units[3] : kind == 1 ? units[4] : "x") : units[i % 3];
          Bytes raw = textToRaw(regtype::Sz, Bytes(s.begin(), s.end()));
          if (kind == 2 && special < length) {
            raw[2 * special] = 0;  // a NUL in the middle ends the text
            raw[2 * special + 1] = 0;
          }
          for (bool odd : {false, true}) {
            Bytes stored = raw;
            if (odd) stored.push_back('q');
            valueTextOfRaw(type, stored, text);
            EXPECT_EQ(text, valueTextOf(type, rawToText(type, stored)))
                << "type " << type << ", " << length << " units, special at " << special
                << ", kind " << kind << (odd ? ", odd" : "");
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace brisquell
