// Machine folders: machine.ini, the drive map, and the registry's atomic save.
#include "platform/machine/MachineFolder.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::TempDir;

const std::string kBody =
    "[HKEY_CURRENT_USER\\Software\\App]\r\n\"Path\"=\"C:\\\\App\\\\app.exe\"\r\n\r\n";

std::size_t filesIn(const std::string& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST(MachineFolder, ReadsMachineIniAndDrives) {
  TempDir dir;
  std::filesystem::create_directories(dir / "abs-ram");
  test::makeMachine(dir.path(), kBody,
                    "; test machine\n[Machine]\nPlatform=1\nUserName=alice ; who\n"
                    "WindowsDirectory=C:\\WIN98\n\n[Drives]\n"
                    "e=network,drive_c\nD=cdrom,no-disc,notready\n"
                    "C=fixed,drive_c\nA=removable,drive_c\nR=ramdisk," +
                        dir / "abs-ram" + "\n");
  auto mOpened = MachineFolder::open(dir.path());
  auto m = mOpened ? std::move(mOpened).value() : nullptr;
  ASSERT_TRUE(m) << mOpened.message();
  EXPECT_EQ(m->machine().platformId, 1);
  EXPECT_EQ(m->machine().userName, "alice");
  EXPECT_EQ(m->machine().windowsDirectory, "C:\\WIN98");
  EXPECT_EQ(m->machine().systemDirectory, "C:\\WINDOWS\\system32") << "missing entries default";
  std::string letters;
  std::vector<int> types;
  for (const auto& d : m->files().drives()) {
    letters += d.letter;
    types.push_back(d.type);
  }
  EXPECT_EQ(letters, "ACDER");
  EXPECT_EQ(types, (std::vector<int>{1, 2, 4, 3, 5}));
  std::uint32_t a;
  EXPECT_TRUE(isPathError(m->files().attributes("D:\\autorun.inf", a)));
  EXPECT_EQ(m->files().attributes("C:\\nothing.txt", a), Status::FileNotFound);

  KeyHandle h = 0;
  ASSERT_EQ(m->registry().openKey(hkey::CurrentUser, "software\\app", 0, h), Status::Success);
  std::uint32_t type;
  Bytes data;
  ASSERT_EQ(m->registry().queryValue(h, "path", type, data), Status::Success);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("C:\\App\\app.exe", 15))
      << "the text view keeps the terminating NUL, as RegQueryValueExA does";
}

TEST(MachineFolder, RefusesABadMachineIniNamingTheLine) {
  struct Case {
    std::string ini, where, what;
  } cases[] = {
      {"[Machine]\n[Drives]\nC=floppy,drive_c\n",
       "machine.ini:3:", "removable, fixed, network, cdrom, ramdisk"},
      {"[Drives]\nCD=fixed,drive_c\n", "machine.ini:2:", "drive letter"},
      {"[Drives]\n1=fixed,drive_c\n", "machine.ini:2:", "drive letter"},
      {"[Drives]\nC=fixed,drive_c\nD=fixed,drive_d\n", "machine.ini:3:", "missing"},
      {"[Drives]\nC=fixed\n", "machine.ini:2:", "TYPE,FOLDER"},
      {"[Drives]\nC=fixed,drive_c,sleepy\n", "machine.ini:2:", "sleepy"},
      {"[Drives]\nC=fixed,drive_c\nc=fixed,drive_c\n", "machine.ini:3:", "twice"},
      {"[Machine]\nPlatform=3\n", "machine.ini:2:", "Platform"},
      {"[Machine]\nColour=blue\n", "machine.ini:2:", "Colour"},
      {"[Hardware]\n", "machine.ini:1:", "Hardware"},
      {"Platform=2\n", "machine.ini:1:", "outside a section"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ini);
    TempDir dir;
    test::makeMachine(dir.path(), kBody, c.ini);
    auto err = MachineFolder::open(dir.path());
    EXPECT_FALSE(err);
    EXPECT_NE(err.message().find(c.where), std::string::npos) << err.message();
    EXPECT_NE(err.message().find(c.what), std::string::npos) << err.message();
  }

  TempDir dir;
  test::makeMachine(dir.path(), "[HKEY_CURRENT_USER\\X]\r\n\"v\"=hex:zz\r\n");
  auto err = openTarget(dir.path());
  EXPECT_FALSE(err);
  EXPECT_NE(err.message().find("registry.reg:4:"), std::string::npos) << err.message();
  std::filesystem::remove(dir / "registry.reg");
  err = openTarget(dir.path());
  EXPECT_FALSE(err);
  EXPECT_NE(err.message().find("registry.reg"), std::string::npos) << err.message();

  TempDir empty;
  err = openTarget(empty.path());
  EXPECT_FALSE(err);
  EXPECT_NE(err.message().find("machine folder"), std::string::npos) << err.message();
  EXPECT_NE(err.message().find("Wine prefix"), std::string::npos) << err.message();
}

TEST(MachineFolder, SavesTheRegistryAtomically) {
  TempDir dir;
  test::makeMachine(dir.path(), kBody);
  const std::string reg = dir / "registry.reg";
  const std::string before = test::readText(reg);
  auto mOpened = MachineFolder::open(dir.path());
  auto m = mOpened ? std::move(mOpened).value() : nullptr;
  ASSERT_TRUE(m) << mOpened.message();
  ASSERT_TRUE(m->save());
  EXPECT_EQ(test::readText(reg), before) << "nothing changed, nothing written";

  KeyHandle h = 0;
  m->registry().createKey(hkey::LocalMachine, "SOFTWARE\\New", h);
  m->registry().setValue(h, "v", regtype::Sz, Bytes{'1'});
  const std::size_t entries = filesIn(dir.path());
  for (std::size_t failAt : {std::size_t{0}, std::size_t{10}, std::size_t{100}}) {
    m->failSaveAfterBytes(failAt);
    Outcome saved = m->save();
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.message().empty());
    EXPECT_EQ(test::readText(reg), before);
    EXPECT_EQ(filesIn(dir.path()), entries) << "no temporary file is left behind";
  }
  m->failSaveAfterBytes(SIZE_MAX);
  Outcome saved = m->save();
  ASSERT_TRUE(saved) << saved.message();
  EXPECT_EQ(test::readText(reg).substr(0, 2), "\xFF\xFE");

  auto reopened = MachineFolder::open(dir.path());
  ASSERT_TRUE(reopened) << reopened.message();
  auto& again = *reopened;
  std::uint32_t type;
  Bytes data;
  ASSERT_EQ(again->registry().openKey(hkey::LocalMachine, "SOFTWARE\\New", 0, h), Status::Success);
  EXPECT_EQ(again->registry().queryValue(h, "v", type, data), Status::Success);
  EXPECT_EQ(again->registry().openKey(hkey::CurrentUser, "Software\\App", 0, h), Status::Success);
}

}  // namespace
}  // namespace brisquell
