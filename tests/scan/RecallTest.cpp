// Recall on a machine built from what real installers write: three programs (an NSIS one in the
// 32-bit view, an Inno Setup one, an MSI one) have their folders deleted, a fourth stays. Every
// stale reference they leave is known, so the records of a default scan and of a scan of all
// sections can be counted against them; the figures are those of docs/recall.md.
#include <filesystem>
#include <iostream>
#include <set>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "ScanTestSupport.h"
#include "platform/RegFile.h"
#include "repair/Repair.h"
#include "repair/Restore.h"
#include "repair/ResultsTree.h"
#include "support/ScriptedInterface.h"

namespace brisquell::test {

namespace {

struct Entry {
  const char* key;   // with its root: "HKEY_LOCAL_MACHINE\\SOFTWARE\\..."
  const char* name;  // "" for the default value
  const char* text;  // as Windows shows it; a number for regtype::Dword
  bool stale;        // names something in a deleted program's folder
  std::uint32_t type = regtype::Sz;
};

#define NOTES "C:\\Program Files (x86)\\Acme Notes"
#define BOLT "C:\\Program Files\\Bolt Sync"
#define CORVID "C:\\Program Files\\Corvid Studio"
#define KEPT "C:\\Program Files\\Kept Tool"
#define HKLM "HKEY_LOCAL_MACHINE\\"
#define HKCU "HKEY_CURRENT_USER\\"
#define HKCR "HKEY_CLASSES_ROOT\\"
#define CV "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
#define WOW "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
#define SERVICES HKLM "SYSTEM\\CurrentControlSet\\Services\\"
#define MUI HKCU "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache"

const Entry kMachine[] = {
    {HKLM CV, "ProgramFilesDir", "C:\\Program Files", false},
    {HKLM CV, "CommonFilesDir", "C:\\Program Files\\Common Files", false},
    {HKLM CV, "ProgramFilesDir (x86)", "C:\\Program Files (x86)", false},
    // NSIS, 32-bit, per machine: everything below Wow6432Node.
    {HKLM WOW "Uninstall\\AcmeNotes", "DisplayName", "Acme Notes 3.2", false},
    {HKLM WOW "Uninstall\\AcmeNotes", "UninstallString", "\"" NOTES "\\uninst.exe\"", true},
    {HKLM WOW "Uninstall\\AcmeNotes", "QuietUninstallString", "\"" NOTES "\\uninst.exe\" /S", true},
    {HKLM WOW "Uninstall\\AcmeNotes", "DisplayIcon", NOTES "\\notes.exe,0", true},
    {HKLM WOW "Uninstall\\AcmeNotes", "InstallLocation", NOTES, true},
    {HKLM WOW "App Paths\\notes.exe", "", NOTES "\\notes.exe", true},
    {HKLM WOW "App Paths\\notes.exe", "Path", NOTES, true},
    {HKLM WOW "Run", "AcmeNotesTray", "\"" NOTES "\\notestray.exe\" /background", true},
    {HKCR ".anote", "", "AcmeNotes.Document", false},
    {HKCR "AcmeNotes.Document\\DefaultIcon", "", NOTES "\\notes.exe,1", true},
    {HKCR "AcmeNotes.Document\\shell\\open\\command", "", "\"" NOTES "\\notes.exe\" \"%1\"", true},
    {HKCR "Wow6432Node\\CLSID\\{6A1C0E2B-1F7A-4C55-9E21-3D2A7B4C0001}\\InprocServer32", "",
     NOTES "\\notesext.dll", true},
    {HKCU "AppEvents\\Schemes\\Apps\\AcmeNotes\\Reminder\\.Current", "",
     NOTES "\\sounds\\reminder.wav", true},
    // Inno Setup, 64-bit, per machine, with a service, a filter driver and shared files.
    {HKLM CV "Uninstall\\Bolt Sync_is1", "UninstallString", "\"" BOLT "\\unins000.exe\"", true},
    {HKLM CV "Uninstall\\Bolt Sync_is1", "QuietUninstallString",
     "\"" BOLT "\\unins000.exe\" /SILENT", true},
    {HKLM CV "Uninstall\\Bolt Sync_is1", "DisplayIcon", BOLT "\\boltsync.exe", true},
    {HKLM CV "Uninstall\\Bolt Sync_is1", "InstallLocation", BOLT "\\", true},
    {HKLM CV "Uninstall\\Bolt Sync_is1", "Inno Setup: App Path", BOLT, true},
    {SERVICES "BoltSyncSvc", "ImagePath", "\"" BOLT "\\boltsvc.exe\"", true},
    {SERVICES "BoltSyncSvc", "Start", "2", false, regtype::Dword},
    {SERVICES "BoltSyncSvc", "Type", "16", false, regtype::Dword},
    {SERVICES "boltflt", "ImagePath", "\\??\\" BOLT "\\drivers\\boltflt.sys", true},
    {SERVICES "boltflt", "Start", "1", false, regtype::Dword},
    {SERVICES "boltflt", "Type", "2", false, regtype::Dword},
    {HKCU CV "Run", "BoltSync", "\"" BOLT "\\boltsync.exe\" --minimized", true},
    {HKCR "BoltSync.Link\\DefaultIcon", "", BOLT "\\boltsync.exe,0", true},
    {HKCR "BoltSync.Link\\shell\\open\\command", "", "\"" BOLT "\\boltsync.exe\" --open \"%1\"",
     true},
    {HKLM CV "App Paths\\boltsync.exe", "", BOLT "\\boltsync.exe", true},
    {MUI, BOLT "\\boltsync.exe.FriendlyAppName", "Bolt Sync", true},
    {MUI, BOLT "\\boltsync.exe.ApplicationCompany", "Bolt Labs", true},
    {HKLM CV "SharedDLLs", BOLT "\\boltcore.dll", "1", true, regtype::Dword},
    // MSI, 64-bit: the product's registrations and the installer's own folder records.
    {HKLM CV "Uninstall\\{8C2D7E11-5B3A-4F0C-A7D2-000000000003}", "UninstallString",
     "MsiExec.exe /X{8C2D7E11-5B3A-4F0C-A7D2-000000000003}", false},
    {HKLM CV "Uninstall\\{8C2D7E11-5B3A-4F0C-A7D2-000000000003}", "ModifyPath",
     "MsiExec.exe /I{8C2D7E11-5B3A-4F0C-A7D2-000000000003}", false},
    {HKLM CV "Uninstall\\{8C2D7E11-5B3A-4F0C-A7D2-000000000003}", "DisplayIcon",
     "C:\\WINDOWS\\Installer\\{8C2D7E11-5B3A-4F0C-A7D2-000000000003}\\corvid.ico", false},
    {HKLM CV "Uninstall\\{8C2D7E11-5B3A-4F0C-A7D2-000000000003}", "InstallLocation", CORVID "\\",
     true},
    {HKLM CV "Installer\\Folders", CORVID "\\", "", true},
    {HKLM CV "Installer\\Folders", CORVID "\\plugins\\", "", true},
    {HKLM CV "Installer\\UserData\\S-1-5-18\\Components\\0D1E2F3A4B5C6D7E8F90A1B2C3D4E5F6",
     "11E7D2C8A3B5C0F47A2D000000000003", CORVID "\\corvid.exe", true},
    {HKLM CV "Installer\\UserData\\S-1-5-18\\Components\\1D1E2F3A4B5C6D7E8F90A1B2C3D4E5F6",
     "11E7D2C8A3B5C0F47A2D000000000003", CORVID "\\plugins\\render.dll", true},
    {HKCR "CorvidStudio.Project\\DefaultIcon", "", CORVID "\\corvid.exe,2", true},
    {HKCR "CorvidStudio.Project\\shell\\open\\command", "", "\"" CORVID "\\corvid.exe\" \"%1\"",
     true},
    {HKCR "CLSID\\{3F2E1D0C-0000-4000-8000-000000000003}\\LocalServer32", "",
     "%ProgramFiles%\\Corvid Studio\\corvidsrv.exe /automation", true, regtype::ExpandSz},
    {HKCR "CLSID\\{3F2E1D0C-0000-4000-8000-000000000004}\\InprocServer32", "",
     CORVID "\\corvidext.dll", true},
    {HKLM CV "App Paths\\corvid.exe", "", CORVID "\\corvid.exe", true},
    {HKCU "AppEvents\\Schemes\\Apps\\CorvidStudio\\RenderDone\\.Current", "",
     CORVID "\\media\\done.wav", true},
    {HKLM "SOFTWARE\\Microsoft\\Windows\\HTML Help", "corvid.chm", CORVID "\\help", true},
    // A program still installed, and Windows' own entries: nothing of them may be reported.
    {HKLM CV "Uninstall\\KeptTool", "UninstallString", "\"" KEPT "\\uninstall.exe\"", false},
    {HKLM CV "Uninstall\\KeptTool", "QuietUninstallString", "\"" KEPT "\\uninstall.exe\" /quiet",
     false},
    {HKLM CV "Uninstall\\KeptTool", "InstallLocation", KEPT, false},
    {HKLM CV "Run", "KeptTool", KEPT "\\kept.exe -tray", false},
    {HKCR "KeptTool.File\\shell\\open\\command", "", KEPT "\\kept.exe %1", false},
    {HKCR "KeptTool.File\\DefaultIcon", "", "%ProgramFiles%\\Kept Tool\\kept.exe,0", false,
     regtype::ExpandSz},
    {HKCR "txtfile\\shell\\open\\command", "", "%SystemRoot%\\system32\\NOTEPAD.EXE %1", false,
     regtype::ExpandSz},
    {HKCR "exefile\\shell\\open\\command", "", "\"%1\" %*", false},
    {HKCR "Wow6432Node\\CLSID\\{0B1C2D3E-0000-4000-8000-000000000005}\\InprocServer32", "",
     "C:\\WINDOWS\\system32\\legacy32.dll", false},
    {SERVICES "Dhcp", "ImagePath",
     "%SystemRoot%\\system32\\svchost.exe -k LocalServiceNetworkRestricted", false,
     regtype::ExpandSz},
    {SERVICES "Tcpip", "ImagePath", "System32\\drivers\\tcpip.sys", false, regtype::ExpandSz},
    {SERVICES "Tcpip", "Type", "1", false, regtype::Dword},
    {SERVICES "OldVendorSvc", "ImagePath", "C:\\Vendor\\gone.exe", false},
    {SERVICES "OldVendorSvc", "Start", "4", false, regtype::Dword},
    {HKCU "AppEvents\\Schemes\\Apps\\.Default\\SystemAsterisk\\.Current", "", "Windows Ding.wav",
     false},
    {HKCU "AppEvents\\Schemes\\Apps\\.Default\\SystemHand\\.Current", "",
     "%SystemRoot%\\media\\Windows Critical Stop.wav", false, regtype::ExpandSz},
    {HKLM CV "Installer\\Folders", KEPT "\\", "", false},
    {MUI, "LangID", "1033", false, regtype::Dword},
    {MUI, "C:\\WINDOWS\\system32\\NOTEPAD.EXE.FriendlyAppName", "Notepad", false},
};

const char* kFiles[] = {
    "Program Files (x86)/Acme Notes/notes.exe",
    "Program Files (x86)/Acme Notes/uninst.exe",
    "Program Files (x86)/Acme Notes/notestray.exe",
    "Program Files (x86)/Acme Notes/notesext.dll",
    "Program Files/Bolt Sync/boltsync.exe",
    "Program Files/Bolt Sync/unins000.exe",
    "Program Files/Bolt Sync/boltsvc.exe",
    "Program Files/Bolt Sync/boltcore.dll",
    "Program Files/Bolt Sync/drivers/boltflt.sys",
    "Program Files/Corvid Studio/corvid.exe",
    "Program Files/Corvid Studio/corvidsrv.exe",
    "Program Files/Corvid Studio/corvidext.dll",
    "Program Files/Corvid Studio/plugins/render.dll",
    "Program Files/Corvid Studio/help/corvid.chm",
    "Program Files/Corvid Studio/media/done.wav",
    "Program Files/Kept Tool/kept.exe",
    "Program Files/Kept Tool/uninstall.exe",
    "WINDOWS/system32/NOTEPAD.EXE",
    "WINDOWS/system32/svchost.exe",
    "WINDOWS/SysWOW64/legacy32.dll",
    "WINDOWS/system32/msiexec.exe",
    "WINDOWS/system32/drivers/tcpip.sys",
    "WINDOWS/Media/Windows Ding.wav",
    "WINDOWS/Media/Windows Critical Stop.wav",
    "WINDOWS/Installer/{8C2D7E11-5B3A-4F0C-A7D2-000000000003}/corvid.ico",
};

std::string regString(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string regBody() {
  std::string body, key;
  for (const Entry& e : kMachine) {
    if (key != e.key) {
      key = e.key;
      body += fmt::format("\n[{}]\n", key);
    }
    std::string name = *e.name ? regString(e.name) : "@";
    if (e.type == regtype::Dword) {
      body += fmt::format("{}=dword:{:08x}\n", name, std::stoul(e.text));
    } else if (e.type == regtype::ExpandSz) {
      std::string hex;
      for (unsigned char c : std::string(e.text) + std::string(1, '\0'))
        hex += fmt::format("{}{:02x},00", hex.empty() ? "" : ",", c);
      body += fmt::format("{}=hex(2):{}\n", name, hex);
    } else {
      body += fmt::format("{}={}\n", name, regString(e.text));
    }
  }
  return body;
}

struct Count {
  std::size_t stale = 0, found = 0, records = 0, wrong = 0;
};

// Each record is matched to the entry it names, wherever it was found (HKEY_CLASSES_ROOT and
// the machine's classes are the same values): a reference found twice counts once.
std::unique_ptr<ScanMachine> uninstalled() {
  std::vector<std::string> files(std::begin(kFiles), std::end(kFiles));
  auto m = std::make_unique<ScanMachine>(regBody(), files);
  for (const char* gone :
       {"Program Files (x86)/Acme Notes", "Program Files/Bolt Sync", "Program Files/Corvid Studio"})
    std::filesystem::remove_all(m->dir / ("drive_c/" + std::string(gone)));
  return m;
}

Count measure(std::string_view sections) {
  auto machine = uninstalled();
  ScanMachine& m = *machine;
  auto chosen = chooseSections(sections);
  EXPECT_TRUE(chosen);
  m.ctx->sectionChoice = chosen.value();
  m.scan();
  RegistryStore& store = m.machine->registry();
  auto identity = [&](KeyHandle root, std::string_view path, std::string_view name) {
    KeyLocation k = store.canonicalKey(root, path);
    return fmt::format("{}\\{}|{}", rootName(k.root), foldCase(k.path), foldCase(name));
  };
  std::set<std::string> stale, found;
  for (const Entry& e : kMachine) {
    std::string_view key = e.key;
    std::size_t slash = key.find('\\');
    std::string id = identity(rootFromName(key.substr(0, slash)), key.substr(slash + 1), e.name);
    if (e.stale) stale.insert(id);
  }
  Count c;
  for (const auto& r : m.problems()) {
    ++c.records;
    std::string id = identity(rootFromName(r.MainKeyName), r.FullKeyPath,
                              r.KeyName == "(Default)" ? "" : r.KeyName);
    if (stale.count(id))
      found.insert(id);
    else {
      ++c.wrong;
      ADD_FAILURE() << "reported although it works: " << r.MainKeyName << "\\" << r.FullKeyPath
                    << " " << r.KeyName << " = " << r.KeyValue << " (" << r.Section << ")";
    }
  }
  c.stale = stale.size();
  c.found = found.size();
  return c;
}

}  // namespace

TEST(Recall, AllSectionsFindWhatTheDefaultOnesMissAndNothingThatWorks) {
  const Count plain = measure("default");
  const Count all = measure("all");
  EXPECT_EQ(plain.stale, 37u);
  EXPECT_EQ(plain.found, 15u);
  EXPECT_EQ(all.found, 33u);
  EXPECT_EQ(plain.wrong, 0u);
  EXPECT_EQ(all.wrong, 0u);
  std::cout << fmt::format("recall: default {}/{} ({} records), all {}/{} ({} records)\n",
                           plain.found, plain.stale, plain.records, all.found, all.stale,
                           all.records);
}

}  // namespace brisquell::test

namespace brisquell::test {

// Every section's records, the 32-bit views' among them, are repaired in the key they were
// found in and come back byte for byte.
TEST(Recall, RepairingAllSectionsRestoresByteForByte) {
  auto m = uninstalled();
  std::filesystem::create_directories(m->dir / "drive_c/Program Files/Brisquell");
  RegistryStore& store = m->machine->registry();
  const std::string before = exportReg(store, 0, "");
  m->ctx->sectionChoice = std::vector<std::string>{"all"};
  m->scan();
  ASSERT_EQ(m->problems().size(), 35u);
  ScriptedInterface ui;
  Repair repair(*m->ctx, ui);
  repair.setTakeBackup(true);
  RepairResult fixed = repair.cmdRepairCorruptFiles_Click();
  ASSERT_EQ(fixed.outcome, RepairResult::Outcome::Done) << fixed.error;
  EXPECT_EQ(fixed.fixed, 35u);
  EXPECT_TRUE(fixed.failures.empty());
  const std::string after = exportReg(store, 0, "");
  auto text = [](std::string utf16) {  // the export is UTF-16LE; its names are ASCII here
    std::erase(utf16, '\0');
    return utf16;
  };
  EXPECT_NE(text(before).find("\"AcmeNotesTray\""), std::string::npos);
  EXPECT_EQ(text(after).find("\"AcmeNotesTray\""), std::string::npos);
  EXPECT_NE(text(after).find("\"KeptTool\""), std::string::npos);
  m->scan();
  EXPECT_TRUE(m->problems().empty());

  ScanContext again(*m->machine);
  Restore restore(again, ui);
  ResultsTree tree;
  ASSERT_TRUE(restore.cmdRestore_Click(fixed.backupFile, &tree));
  EXPECT_EQ(tree.nodes().size(), 13u);  // one node per section that found something
  RestoreResult back = restore.cmdRestoreNow_Click();
  EXPECT_TRUE(back.failures.empty());
  EXPECT_EQ(exportReg(store, 0, ""), before);
}

}  // namespace brisquell::test
