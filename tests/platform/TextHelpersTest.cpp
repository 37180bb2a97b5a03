// The shared text helpers: trimming at either or one end, and the stored switches' truth values.
#include "platform/Text.h"

#include <gtest/gtest.h>

#include "scan/RegistryAccess.h"

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

}  // namespace
}  // namespace brisquell
