// Cleaning and path routines that every check stands on.
#include "scan/ScanContext.h"

#include <gtest/gtest.h>

namespace brisquell {

TEST(PathRules, SlashAndExtension) {
  EXPECT_EQ(GetPathWithSlash("   "), "");
  EXPECT_EQ(GetPathWithSlash("C:\\WINDOWS"), "C:\\WINDOWS\\");
  EXPECT_EQ(GetPathWithSlash("C:\\"), "C:\\");
  EXPECT_EQ(GetFileExtension("C:\\Prog\\App.EXE"), "exe");
  EXPECT_EQ(GetFileExtension("C:\\a.b\\file"), "");
  EXPECT_EQ(GetFileExtension("C:\\dir.d\\file"), "");
  EXPECT_EQ(GetFileExtension("file."), "");
  EXPECT_EQ(GetFileExtension("x.tar.GZ"), "gz");
  EXPECT_EQ(GetFileExtension("C:x"), "");
  EXPECT_EQ(GetFileExtension("noext"), "");
}

TEST(PathRules, Cleaning) {
  EXPECT_EQ(RemoveEnter("\"C:\\x.exe\""), "C:\\x.exe");
  EXPECT_EQ(RemoveEnter("abc\r\n"), "abc\r");  // the CR of a trailing CR LF stays
  EXPECT_EQ(RemoveEnter("\r\n x"), "\n x");    // and a leading LF does too
  EXPECT_EQ(RemoveEnter("\"\"\""), "");
  EXPECT_EQ(RemoveEnter("\tx\t"), "\tx\t");
  EXPECT_EQ(RemoveBackSlashandComma("C:\\x\\setup.exe /uninstall"), "C:\\x\\setup.exe");
  EXPECT_EQ(RemoveBackSlashandComma("rundll32.exe shell32.dll,Run"), "rundll32.exe shell32.dll");
  EXPECT_EQ(RemoveBackSlashandComma("C:\\x\\a.exe /s,1"), "C:\\x\\a.exe /s");
  EXPECT_EQ(RemoveBackSlashandComma("a.exe,1 /s"), "a.exe");
  EXPECT_EQ(RemoveBackSlashandComma("/x"), "/x");
  EXPECT_EQ(RemoveBackSlashandComma(",x /y"), ",x /y");  // a comma first empties the cut: unchanged
  EXPECT_EQ(CheckSystemRootDirectory("%SYSTEMROOT%\\x.dll"), "\\x.dll");
  EXPECT_EQ(CheckSystemRootDirectory("C:\\x.dll"), "");
  EXPECT_EQ(CheckSystemRootDirectory("ab%ProgramFiles%\\y"), "\\y");
  EXPECT_EQ(CheckCommonProgramFilesPath("%CommonProgramFiles%\\z.dll"), "\\z.dll");
  // Positions far beyond 32767 are ordinary positions.
  std::string longValue(40000, 'a');
  EXPECT_EQ(CheckSystemRootDirectory(longValue + "%systemroot%\\q.dll"), "\\q.dll");
  EXPECT_EQ(RemoveBackSlashandComma(longValue + ",1"), longValue);
}

}  // namespace brisquell
