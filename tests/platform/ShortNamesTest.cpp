// Short (8.3) names: Wine's hashed names (as `wine cmd /c dir /x` lists them), the names an
// NTFS volume stored, the classic scheme on a machine folder, and what cannot be decided.
#include "platform/host/ShortNames.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/host/HostFileSystem.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::TempDir;

TEST(ShortNames, WineNamesAsWineListsThem) {
  // Taken from `wine cmd /c dir /a /x` (Wine 8.0) over a folder holding these names.
  const std::map<std::string, std::string> listed = {
      {"Program Files", "PROG~FBU"},
      {"Documents and Settings", "DOCU~CNJ"},
      {"Inkwell 2", "INKW~LNP"},
      {"inkwell-2.10.exe", "INKW~2HX.EXE"},
      {"runtime-1.8", "RUNT~0ZU.8"},
      {"readme.txt2", "READ~25H.TXT"},
      {"abcdefghi", "ABCD~GDH"},
      {"a.b.c.txt", "A_B_~BDV.TXT"},
      {"Ab.Cd.Ef.gh", "AB_C~RZI.GH"},
      {"x+y=z;[1].html", "X_Y_~0E2.HTM"},
      {".hidden.txt", "_HID~3H5.TXT"},
      {"..x y", "_~~~~XIJ.X_Y"},
      {"\xC3\x84\xC3\x96\xC3\x9C.dat", "___~~4CF.DAT"},  // ÄÖÜ.dat
      {"\xC3\x9Cn\xC3\xAF"
       "code F\xC3\xAFle.txt",
       "_N_C~KZO.TXT"},  // Ünïcode Fïle.txt
  };
  for (const auto& [name, expected] : listed) {
    bool certain = false;
    EXPECT_EQ(wineShortName(name, WineShortForm::DotsReplaced, &certain), expected) << name;
    EXPECT_TRUE(certain) << name;
  }
  // Later Wine versions leave dots out of the first part; the hash is the same.
  EXPECT_EQ(wineShortName(".hidden.txt", WineShortForm::DotsSkipped), "HIDD~3H5.TXT");
  EXPECT_EQ(wineShortName("a.b.c.txt", WineShortForm::DotsSkipped), "ABC~~BDV.TXT");
  bool certain = true;
  wineShortName("\xE4\xB8\xAD\xE6\x96\x87.txt", WineShortForm::DotsReplaced, &certain);  // 中文
  EXPECT_FALSE(certain) << "lower case beyond Latin-1 may differ from Wine's";

  EXPECT_TRUE(isShortNameForm("PROG~FBU"));
  EXPECT_TRUE(isShortNameForm("progra~1.exe"));
  EXPECT_FALSE(isShortNameForm("Program Files"));
  EXPECT_FALSE(isShortNameForm("PROGRA~1.html"));
  EXPECT_FALSE(isShortNameForm("TOOLONGNA~1"));
  EXPECT_FALSE(isShortNameForm("tallyman.exe"));
}

TEST(ShortNames, WhoOwnsAShortName) {
  const std::vector<std::string> names = {"Program Files", "Programs Old", "Documents and Settings",
                                          "Tallyman", "x.exe"};
  auto owner = [&](ShortNameScheme scheme, std::string_view shortName,
                   const DosNameReader& dos = nullptr) {
    return findShortNameOwner(scheme, shortName, names, "/nowhere", dos);
  };
  // Wine: the hash decides; a name no entry hashes to is not there.
  EXPECT_EQ(owner(ShortNameScheme::Wine, "prog~fbu").status, Status::Success);
  EXPECT_EQ(owner(ShortNameScheme::Wine, "PROG~FBU").index, 0u);
  EXPECT_EQ(owner(ShortNameScheme::Wine, "PROG~AAA").status, Status::FileNotFound);

  // Classic: only one entry may own a basis; two make it undecidable.
  EXPECT_EQ(owner(ShortNameScheme::Classic, "DOCUME~1").status, Status::Success);
  EXPECT_EQ(owner(ShortNameScheme::Classic, "DOCUME~1").index, 2u);
  EXPECT_EQ(owner(ShortNameScheme::Classic, "PROGRA~1").status, Status::NotSupported);
  EXPECT_EQ(owner(ShortNameScheme::Classic, "PROGRA~2").status, Status::NotSupported);
  EXPECT_EQ(owner(ShortNameScheme::Classic, "WINDOW~1").status, Status::FileNotFound);
  EXPECT_EQ(owner(ShortNameScheme::Classic, "TALLYM~1").status, Status::FileNotFound)
      << "a legal 8.3 name has no other short name";
  EXPECT_EQ(owner(ShortNameScheme::Classic, "DO12AB~5").status, Status::Success)
      << "the hashed form past four collisions keeps two basis characters";

  // NTFS: the stored names decide; where none are stored nothing can be said.
  std::map<std::string, std::string> stored = {{"/nowhere/Program Files", "PROGRA~1"},
                                               {"/nowhere/Programs Old", "PROGRA~2"}};
  DosNameReader reader = [&](const std::string& host, std::string& dos) {
    auto it = stored.find(host);
    if (it == stored.end()) return Status::FileNotFound;
    dos = it->second;
    return Status::Success;
  };
  EXPECT_EQ(owner(ShortNameScheme::Ntfs, "progra~2", reader).index, 1u);
  EXPECT_EQ(owner(ShortNameScheme::Ntfs, "PROGRA~3", reader).status, Status::FileNotFound);
  // Where no names are stored, the classic scheme NTFS made them by decides, or nothing does.
  DosNameReader none = [](const std::string&, std::string&) { return Status::FileNotFound; };
  EXPECT_EQ(owner(ShortNameScheme::Ntfs, "PROGRA~1", none).status, Status::NotSupported);
  EXPECT_EQ(owner(ShortNameScheme::Ntfs, "DOCUME~1", none).index, 2u);
  DosNameReader unsupported = [](const std::string&, std::string&) { return Status::NotSupported; };
  EXPECT_EQ(owner(ShortNameScheme::Ntfs, "PROGRA~1", unsupported).status, Status::NotSupported);
  EXPECT_EQ(owner(ShortNameScheme::None, "PROGRA~1").status, Status::FileNotFound);
}

TEST(ShortNames, HostDrivesResolveShortComponents) {
  TempDir d;
  test::writeText(d / "c/Program Files/Tallyman/tallyman.exe", "");
  test::writeText(d / "c/Program Files/Inkwell 2/runtime-1.8/bin/inkupd.exe", "");
  std::vector<DirEntry> out;
  {
    HostFileSystem fs({{{'C', DriveFixed, true}, d / "c"}}, "C:\\");
    fs.setShortNames(ShortNameScheme::Wine);
    for (bool cached : {false, true}) {
      fs.setListingCache(cached);
      EXPECT_EQ(fs.find("C:\\PROG~FBU\\Tallyman\\tallyman.exe", out), Status::Success);
      EXPECT_EQ(fs.find("C:\\prog~fbu\\INKW~LNP\\RUNT~0ZU.8\\bin\\inkupd.exe", out),
                Status::Success);
      EXPECT_EQ(fs.find("C:\\PROG~FBU\\Tallyman\\gone.exe", out), Status::FileNotFound);
      EXPECT_EQ(fs.find("C:\\PROG~XXX\\Tallyman\\tallyman.exe", out), Status::PathNotFound);
#ifndef _WIN32  // a Windows host opens its own short names itself and keeps them
      EXPECT_EQ(*fs.hostPath("C:\\PROG~FBU\\TALLYMAN"), d / "c/Program Files/Tallyman");
#endif
    }
  }
  {
    HostFileSystem fs({{{'C', DriveFixed, true}, d / "c"}}, "C:\\");
    fs.setShortNames(ShortNameScheme::Classic);
    EXPECT_EQ(fs.find("C:\\PROGRA~1\\Tallyman\\tallyman.exe", out), Status::Success);
    test::writeText(d / "c/Programs Old/x", "");
    EXPECT_EQ(fs.find("C:\\PROGRA~1\\Tallyman\\tallyman.exe", out), Status::NotSupported)
        << "two folders could own PROGRA~1";
  }
  {
    // A volume copied off NTFS without its short names (as here): the classic scheme, and
    // two folders could own PROGRA~1.
    HostFileSystem fs({{{'C', DriveFixed, true}, d / "c"}}, "C:\\");
    fs.setShortNames(ShortNameScheme::Ntfs);
    EXPECT_EQ(fs.find("C:\\PROGRA~1\\Tallyman\\tallyman.exe", out), Status::NotSupported);
    EXPECT_EQ(fs.find("C:\\PROGRA~9\\Tallyman\\tallyman.exe", out), Status::NotSupported);
    fs.setShortNames(ShortNameScheme::Ntfs, [&](const std::string& host, std::string& dos) {
      if (host != d / "c/Program Files") return Status::FileNotFound;
      dos = "PROGRA~1";
      return Status::Success;
    });
    EXPECT_EQ(fs.find("C:\\PROGRA~1\\Tallyman\\tallyman.exe", out), Status::Success);
    EXPECT_EQ(fs.find("C:\\PROGRA~3\\Tallyman\\tallyman.exe", out), Status::PathNotFound);
  }
}

}  // namespace
}  // namespace brisquell
