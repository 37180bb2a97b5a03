// Backup set names, dates, listing and the reading rules of the plain record format.
#include "repair/BackupSet.h"

#include <gtest/gtest.h>

#include "platform/host/HostFileSystem.h"
#include "platform/memory/MemoryRegistry.h"
#include "repair/cInifile.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

struct BackupSetTest : ::testing::Test {
  test::TempDir dir;
  HostFileSystem fs{{HostDrive{DriveInfo{'C', DriveFixed, true}, dir.path()}}, "C:\\"};
};

TEST(BackupNames, BaseNameNameTestAndArchivePath) {
  EXPECT_EQ(BackupSet::folderOf("C:\\Program Files\\Brisquell"),
            "C:\\Program Files\\Brisquell\\Backup\\");
  EXPECT_EQ(BackupSet::folderOf("D:\\"), "D:\\Backup\\");
  EXPECT_TRUE(BackupSet::isBackupFileName("BRISQUELLBK300.BKP.old"));
  EXPECT_TRUE(BackupSet::isBackupFileName("BrisquellBK4529.53.bkp"));
  EXPECT_FALSE(BackupSet::isBackupFileName("Brisquell300.bkp"));
  EXPECT_FALSE(BackupSet::isBackupFileName("BrisquellBK300.zip"));
  EXPECT_EQ(BackupSet::archivePathOf("C:\\B\\BrisquellBK7.5.bkp"), "C:\\B\\BrisquellBK7.5.zip");
  EXPECT_EQ(BackupSet::archivePathOf("C:\\B\\x.bkp.bkp"), "C:\\B\\x.zip.zip");
  EXPECT_EQ(BackupSet::archivePathOf("C:\\B\\X.BKP"), "C:\\B\\X.BKP");  // case-sensitive

  std::tm tm{};
  tm.tm_year = 126, tm.tm_mon = 11, tm.tm_mday = 8, tm.tm_hour = 1, tm.tm_min = 15, tm.tm_sec = 29;
  tm.tm_isdst = -1;
  auto t = BackupSet::Clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(530);
  EXPECT_EQ(BackupSet::secondsText(t), "4529.53");
  EXPECT_EQ(BackupSet::baseName("C:\\P\\Backup\\", t), "C:\\P\\Backup\\BrisquellBK4529.53");
  tm.tm_hour = 0, tm.tm_min = 5, tm.tm_sec = 0;
  EXPECT_EQ(BackupSet::secondsText(BackupSet::Clock::from_time_t(std::mktime(&tm))), "300");
  EXPECT_EQ(BackupSet::generalDate(BackupSet::Clock::from_time_t(std::mktime(&tm))),
            "12/8/2026 12:05:00 AM");
}

TEST(BackupNames, KeyIdentityFollowsTheStoresViews) {
  MemoryRegistry store;
  const std::string viaView = BackupSet::keyIdentity(store, hkey::ClassesRoot, "CLSID\\{1}\\");
  EXPECT_EQ(viaView, "hkey_local_machine\\software\\classes\\clsid\\{1}");
  EXPECT_EQ(viaView,
            BackupSet::keyIdentity(store, hkey::LocalMachine, "Software\\Classes\\clsid\\{1}"));
  EXPECT_EQ(BackupSet::keyIdentity(store, hkey::ClassesRoot, ""),
            "hkey_local_machine\\software\\classes");
  EXPECT_NE(viaView,
            BackupSet::keyIdentity(store, hkey::CurrentUser, "Software\\Classes\\CLSID\\{1}"));
}

TEST(BackupDates, GeneralDateParsesToTheListAndSortForms) {
  auto t = BackupSet::parseDate("12/8/2026 5:35:34 PM");
  ASSERT_TRUE(t);
  EXPECT_EQ(BackupSet::listDate(*t), "Dec 08, 2026 at 05:35:34 PM");
  EXPECT_EQ(BackupSet::sortKey(*t), "20261208173534");
  t = BackupSet::parseDate("1/2/2027 12:00:01 AM");
  ASSERT_TRUE(t);
  EXPECT_EQ(BackupSet::sortKey(*t), "20270102000001");
  EXPECT_EQ(BackupSet::listDate(*t), "Jan 02, 2027 at 12:00:01 AM");
  EXPECT_TRUE(BackupSet::parseDate("2026-12-08 17:35:34"));
  EXPECT_FALSE(BackupSet::parseDate("yesterday"));
  EXPECT_FALSE(BackupSet::parseDate("13/45/2026 1:00:00 PM"));
}

TEST_F(BackupSetTest, ListingKeepsBackupFilesOnlyNewestFirstAndUnreadableDatesLast) {
  auto make = [&](const std::string& name, const std::string& time) {
    test::writeText(dir / ("B/" + name), "[Backup Info]\r\nTime=" + time + "\r\n");
  };
  make("BrisquellBK10.bkp", "12/8/2026 5:35:34 PM");
  make("BrisquellBK20.bkp", "not a date");
  make("brisquellbk30.BKP", "1/2/2027 9:00:00 AM");
  make("Brisquell40.bkp", "1/2/2027 9:00:00 AM");
  test::writeText(dir / "B/BrisquellBK10.zip", "");
  auto sets = BackupSet::list(fs, "C:\\B\\");
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].name, "brisquellbk30.BKP");
  EXPECT_EQ(sets[0].dateText, "Jan 02, 2027 at 09:00:00 AM");
  EXPECT_EQ(sets[0].path, "C:\\B\\brisquellbk30.BKP");
  EXPECT_EQ(sets[1].name, "BrisquellBK10.bkp");
  EXPECT_EQ(sets[2].name, "BrisquellBK20.bkp");
  EXPECT_EQ(sets[2].dateText, "");
  EXPECT_TRUE(BackupSet::list(fs, "C:\\Nowhere").empty());
}

TEST_F(BackupSetTest, PlainRecordsReadInFileOrderWithTheFormatsQuirks) {
  test::writeText(dir / "b.bkp",
                  "[Backup Info]\r\nTime=12/8/2026 5:35:34 PM\r\n"
                  "[Restore: 5]\r\nSection=ignored, no record yet\r\nMainKey=-2147483646\r\n"
                  "KeyName=Five\r\nKeyValue=C:\\5.exe\r\n"
                  "FullKeyPath=SOFTWARE\\Five\r\nMainKeyName=HKEY_LOCAL_MACHINE\r\n"
                  "[Restore: 2]\r\nmainkey=-2147483647\r\nkeyname=Two\r\nOther=x\r\n"
                  "[Restore 3]\r\nMainKey=1\r\n"
                  "[restore:7]\r\nKeyName=Overwrites two\r\n"
                  "[Old Restore: 3]\r\nMainKey=-2147483648\r\nMainKey=-2147483646\r\n");
  cInifile ini(fs);
  ini.setPath("C:\\b.bkp");
  ProblemList list;
  std::vector<BackupSet::Original> originals;
  BackupSet::readRecords(ini, list, originals);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].KeyName, "Five");
  EXPECT_EQ(list[0].FullKeyPath, "SOFTWARE\\Five");
  EXPECT_EQ(list[0].Section, "");  // keys before the first MainKey are dropped
  EXPECT_EQ(list[1].MainKey, "-2147483647");
  EXPECT_EQ(list[1].KeyName, "Overwrites two");
  EXPECT_EQ(list[2].MainKey, "-2147483648");
  EXPECT_EQ(list[3].MainKey, "-2147483648");  // a repeated key reads as its first line
  ASSERT_EQ(originals.size(), 4u);
  for (const auto& o : originals) EXPECT_FALSE(o.known);
}

TEST_F(BackupSetTest, OriginalValuesSurviveTheFileExactly) {
  ProblemRecord r{"-2147483646",     " spaced name ", "text",
                  "Windows Startup", "SOFTWARE\\K ",  "HKEY_LOCAL_MACHINE"};
  BackupSet::Original o;
  o.known = o.existed = true;
  o.type = regtype::MultiSz;
  o.data = {'a', 0, '\r', 0, '\n', 0, 0, 0, 0, 0};
  o.index = 3;
  o.name = " spaced name ";
  o.keyPath = "SOFTWARE\\K ";
  BackupSet::Original created;
  created.known = true;
  created.name = "";
  created.keyPath = "SOFTWARE\\K";
  cInifile ini(fs);
  ini.setPath("C:\\o.bkp");
  BackupSet::writeRecord(ini, 1, r, &o);
  BackupSet::writeRecord(ini, 4, r, &created);
  ASSERT_TRUE(ini.Flush());
  cInifile back(fs);
  back.setPath("C:\\o.bkp");
  ProblemList list;
  std::vector<BackupSet::Original> originals;
  BackupSet::readRecords(back, list, originals);
  ASSERT_EQ(originals.size(), 2u);
  EXPECT_EQ(list[0].KeyName, " spaced name ");  // names are kept exactly, blanks included
  EXPECT_TRUE(originals[0].known && originals[0].existed);
  EXPECT_EQ(originals[0].name, " spaced name ");
  EXPECT_EQ(originals[0].keyPath, "SOFTWARE\\K ");
  EXPECT_EQ(originals[0].type, regtype::MultiSz);
  EXPECT_EQ(originals[0].data, o.data);
  EXPECT_EQ(originals[0].index, 3);
  EXPECT_TRUE(originals[1].known);
  EXPECT_FALSE(originals[1].existed);
}

}  // namespace
}  // namespace brisquell
