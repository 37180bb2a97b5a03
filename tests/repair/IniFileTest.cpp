// cInifile: the INI semantics backup files rely on, values and name lists read whole.
#include "repair/cInifile.h"

#include <gtest/gtest.h>

#include "platform/host/HostFileSystem.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

struct IniFileTest : ::testing::Test {
  test::TempDir dir;
  HostFileSystem fs{{HostDrive{DriveInfo{'C', DriveFixed, true}, dir.path()}}, "C:\\"};
};

TEST_F(IniFileTest, KeepsOrderMatchesWithoutCaseReplacesInPlaceAndAppends) {
  test::writeText(dir / "a.ini", "; head\r\n[One]\r\nA=1\r\nB = 2 \r\n[Two]\r\nX=9\r\n");
  cInifile ini(fs);
  ini.setPath("C:\\a.ini");
  ini.setSection("one");
  ini.setKey("b");
  EXPECT_EQ(ini.Value(), "2");  // blanks around a value are not part of it
  ini.setValue("22");           // replaced in place
  ini.setKey("C");
  ini.setValue("3");  // appended at the end of its section
  ini.setSection("Three");
  ini.setKey("K");
  ini.setValue("v");  // a new section goes at the end of the file
  ASSERT_TRUE(ini.Flush());
  EXPECT_TRUE(ini.Success());
  EXPECT_EQ(test::readText(dir / "a.ini"),
            "; head\r\n[One]\r\nA=1\r\nB=22\r\nC=3\r\n[Two]\r\nX=9\r\n[Three]\r\nK=v\r\n");

  cInifile again(fs);
  again.setPath("C:\\A.INI");
  std::vector<std::string> names;
  long count = 0;
  again.EnumerateAllSections(names, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(names, (std::vector<std::string>{"One", "Two", "Three"}));
  again.setSection("ONE");
  again.EnumerateCurrentSection(names, count);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C"}));
  again.setSection("Nowhere");
  again.EnumerateCurrentSection(names, count);
  EXPECT_EQ(count, 0);
}

TEST_F(IniFileTest, ValuesWithBlanksAtTheEndsOrInQuotesComeBackExactly) {
  const std::vector<std::string> values = {" ",           "\t",      "  two ", "\"q\"",
                                           "\"a\" \"b\"", "\" x \"", "\"\"",   "plain"};
  auto key = [](std::size_t i) {
    std::string k = "K";
    k += std::to_string(i);
    return k;
  };
  cInifile ini(fs);
  ini.setPath("C:\\q.ini");
  ini.setSection("S");
  for (std::size_t i = 0; i < values.size(); ++i) {
    ini.setKey(key(i));
    ini.setValue(values[i]);
  }
  ASSERT_TRUE(ini.Flush());
  cInifile back(fs);
  back.setPath("C:\\q.ini");
  back.setSection("S");
  for (std::size_t i = 0; i < values.size(); ++i) {
    back.setKey(key(i));
    EXPECT_EQ(back.Value(), values[i]) << i;
  }
  // A value an older writer stored in quotes of its own keeps them.
  test::writeText(dir / "old.ini", "[S]\r\nK=\"C:\\x.exe\" \"%1\"\r\nL=\"C:\\y.exe\"\r\n");
  back.setPath("C:\\old.ini");
  back.setKey("K");
  EXPECT_EQ(back.Value(), "\"C:\\x.exe\" \"%1\"");
  back.setKey("L");
  EXPECT_EQ(back.Value(), "\"C:\\y.exe\"");
}

TEST_F(IniFileTest, AbsentFileSectionOrKeyGivesTheDefault) {
  cInifile ini(fs);
  ini.setPath("C:\\missing.ini");
  ini.setSection("S");
  ini.setKey("K");
  EXPECT_EQ(ini.Value(), "");
  ini.setDefault("dflt");
  EXPECT_EQ(ini.Value(), "dflt");
  std::vector<std::string> names{"stale"};
  long count = 5;
  ini.EnumerateAllSections(names, count);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(names.empty());
}

TEST_F(IniFileTest, LongValuesAndManySectionsComeBackWhole) {
  cInifile ini(fs);
  ini.setPath("C:\\long.ini");
  std::string value(10000, 'x');
  value[299] = 'y';
  ini.setSection("S");
  ini.setKey("K");
  ini.setValue(value);
  for (int i = 0; i < 2000; ++i) {  // far more than 8192 characters of names
    ini.setSection("Restore: " + std::to_string(i));
    ini.setKey("MainKey");
    ini.setValue(std::to_string(i));
  }
  ASSERT_TRUE(ini.Flush());
  cInifile back(fs);
  back.setPath("C:\\long.ini");
  back.setSection("S");
  back.setKey("K");
  EXPECT_EQ(back.Value(), value);
  std::vector<std::string> names;
  long count = 0;
  back.EnumerateAllSections(names, count);
  ASSERT_EQ(count, 2001);
  EXPECT_EQ(names.back(), "Restore: 1999");
}

TEST_F(IniFileTest, NulsAreDroppedAndLineBreaksCannotSplitARecord) {
  cInifile ini(fs);
  ini.setPath("C:\\n.ini");
  ini.setSection("S");
  ini.setKey("K");
  ini.setValue(std::string("a\0b\r\n[Evil]\nX=1", 15));
  ini.setKey("k");  // the same key, whatever its case
  EXPECT_EQ(ini.Value(), "ab  [Evil] X=1");
  ASSERT_TRUE(ini.Flush());
  cInifile back(fs);
  back.setPath("C:\\n.ini");
  std::vector<std::string> names;
  long count = 0;
  back.EnumerateAllSections(names, count);
  EXPECT_EQ(count, 1);
}

TEST_F(IniFileTest, ByteOrderMarksAtTheStartAllGoSoAFlushKeepsTheMeaning) {
  test::writeText(dir / "b.ini", "\xEF\xBB\xBF\xEF\xBB\xBF[A]\r\nx=1\r\n");
  cInifile ini(fs);
  ini.setPath("C:\\b.ini");
  ini.setSection("A");
  ini.setKey("x");
  EXPECT_EQ(ini.Value(), "1");
  ini.setSection("B");
  ini.setKey("y");
  ini.setValue("2");
  ASSERT_TRUE(ini.Flush());
  EXPECT_EQ(test::readText(dir / "b.ini"), "[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
}

TEST_F(IniFileTest, AWriteIntoAMissingFolderFailsThroughTheReturnCode) {
  cInifile ini(fs);
  ini.setPath("C:\\no\\such\\folder\\x.ini");
  ini.setSection("S");
  ini.setKey("K");
  ini.setValue("v");
  EXPECT_FALSE(ini.Flush());
  EXPECT_FALSE(ini.Success());
  EXPECT_EQ(ini.LastReturnCode(), 0);
}

}  // namespace
}  // namespace brisquell
