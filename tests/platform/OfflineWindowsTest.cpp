// Offline Windows installations: hives through hivex, the root mapping, users, safe saving.
#include "platform/hive/OfflineWindows.h"

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/RegFile.h"
#include "platform/memory/MemoryLoader.h"
#include "scan/ScanDriver.h"
#include "support/HiveTestSupport.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What each hive file holds, read back through a fresh load.
std::string hiveContent(const std::string& file) {
  MemoryRegistry m;
  HiveFile h(file, hkey::LocalMachine, "H");
  Outcome o = h.load(m);
  EXPECT_TRUE(o.ok()) << o.message();
  return test::dumpTree(m, hkey::LocalMachine, "H");
}

std::unique_ptr<OfflineWindows> openOffline(const std::string& folder, TargetOptions options = {}) {
  auto t = OfflineWindows::open(folder, options);
  EXPECT_TRUE(t) << t.message();
  return t ? std::move(t).value() : nullptr;
}

bool saved(Target& t, std::string& err) {
  Outcome o = t.save();
  err = o.message();
  return o.ok();
}

std::string text(RegistryStore& reg, KeyHandle root, std::string_view path, std::string_view name) {
  KeyHandle h = 0;
  if (reg.openKey(root, path, 0, h) != Status::Success) return "<no key>";
  ScopedKey k(reg, h);
  std::uint32_t type = 0;
  Bytes data;
  if (reg.queryValue(h, name, type, data) != Status::Success) return "<no value>";
  std::string s(data.begin(), data.end());
  return s.substr(0, s.find('\0'));
}

const char* kMapping =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\both]\r\n\"who\"=\"machine\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\both\\machinesub]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\machineonly]\r\n@=\"m\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\r\n\"Path\"=\"C:\\\\App\\\\app.exe\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\r\n\"Current\"=dword:00000002\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Two]\r\n\"Start\"=dword:00000003\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\App]\r\n\"Recent\"=\"C:\\\\doc.txt\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Classes\\both]\r\n\"who\"=\"user\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Classes\\both\\usersub]\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Classes\\useronly]\r\n@=\"u\"\r\n\r\n";

TEST(OfflineWindows, MapsEachRootAndWritesOnlyChangedHives) {
  TempDir dir;
  MemoryRegistry src;
  test::loadRegText(src, kMapping);
  test::writeOfflineWindows(dir.path(), src, "alice");
  // Names on the volume are matched without regard to case.
  fs::rename(dir / "Windows/System32", dir / "Windows/SYSTEM32");
  const std::string root = dir.path();
  auto cfg = [&](const std::string& n) { return root + "/Windows/SYSTEM32/config/" + n; };
  const std::string ntuser = dir / "Users/alice/NTUSER.DAT";
  const std::string usrclass = dir / "Users/alice/AppData/Local/Microsoft/Windows/UsrClass.dat";
  const std::string systemBefore = bytesOf(cfg("SYSTEM"));

  auto t = openOffline(dir.path());
  ASSERT_TRUE(t);
  RegistryStore& reg = t->registry();
  EXPECT_EQ(text(reg, hkey::LocalMachine, "SOFTWARE\\App", "Path"), "C:\\App\\app.exe");
  EXPECT_EQ(text(reg, hkey::CurrentUser, "Software\\App", "Recent"), "C:\\doc.txt");
  EXPECT_EQ(text(reg, hkey::LocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Two", "Start"),
            "\x03");
  KeyHandle sys = 0;
  ASSERT_EQ(reg.openKey(hkey::LocalMachine, "SYSTEM", 0, sys), Status::Success);
  KeyHandle two = 0;
  ASSERT_EQ(reg.openKey(sys, "currentcontrolset\\Services\\Two", 0, two), Status::Success)
      << "CurrentControlSet is the set Select\\Current names";
  EXPECT_EQ(reg.setValue(two, "Via", regtype::Sz, Bytes{'c', 'c', 's', 0}), Status::Success);
  reg.closeKey(two);
  reg.closeKey(sys);

  // HKCR: the user's classes over the machine's.
  std::vector<std::string> names;
  std::string n;
  for (std::uint32_t i = 0; reg.enumKey(hkey::ClassesRoot, i, n) == Status::Success; ++i)
    names.push_back(n);
  EXPECT_EQ(names, (std::vector<std::string>{"both", "useronly", "machineonly"}));
  EXPECT_EQ(text(reg, hkey::ClassesRoot, "both", "who"), "user");
  EXPECT_EQ(text(reg, hkey::ClassesRoot, "machineonly", ""), "m");
  KeyHandle both = 0;
  ASSERT_EQ(reg.openKey(hkey::ClassesRoot, "both", 0, both), Status::Success);
  std::uint32_t subs = 0, vals = 0;
  ASSERT_EQ(reg.queryInfo(both, subs, vals), Status::Success);
  EXPECT_EQ(subs, 2u) << "subkeys of both hives are merged";
  EXPECT_EQ(reg.setValue(both, "new", regtype::Sz, Bytes{'x', 0}), Status::Success);
  reg.closeKey(both);
  KeyHandle made = 0;
  ASSERT_EQ(reg.createKey(hkey::ClassesRoot, "brandnew\\deep", made), Status::Success);
  reg.closeKey(made);
  ASSERT_EQ(reg.createKey(hkey::ClassesRoot, "useronly\\child", made), Status::Success);
  reg.closeKey(made);
  ASSERT_EQ(reg.deleteTree(hkey::ClassesRoot, "machineonly"), Status::Success);
  // Keys no hive would hold are refused, not kept in memory and lost.
  EXPECT_EQ(reg.createKey(hkey::LocalMachine, "HARDWARE\\X", made), Status::AccessDenied);
  EXPECT_EQ(reg.deleteTree(hkey::LocalMachine, "SOFTWARE"), Status::AccessDenied);
  EXPECT_EQ(reg.deleteTree(hkey::CurrentUser, "Software"), Status::AccessDenied)
      << "it holds the mount of UsrClass.dat";

  std::string err;
  ASSERT_TRUE(saved(*t, err)) << err;
  EXPECT_NE(bytesOf(cfg("SYSTEM")), systemBefore);
  // SYSTEM changed through CurrentControlSet; NTUSER.DAT did not change at all.
  int copies = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
    std::string p = e.path().filename().string();
    if (p.find(".brisquell-before-") != std::string::npos) ++copies;
    EXPECT_EQ(p.find(".brisquell-new"), std::string::npos) << p;
    EXPECT_EQ(p.rfind("NTUSER.DAT.brisquell-before-", 0), std::string::npos) << "unchanged hive";
  }
  EXPECT_EQ(copies, 3) << "SOFTWARE, SYSTEM and UsrClass.dat each keep their original";

  std::string system = hiveContent(cfg("SYSTEM"));
  EXPECT_NE(system.find("[ControlSet002\\Services\\Two]\n  \"Start\" type 4 : 03 00 00 00\n"
                        "  \"Via\" type 1 : 63 00 63 00 73 00 00 00\n"),
            std::string::npos)
      << system;
  std::string classes = hiveContent(usrclass);
  EXPECT_NE(classes.find("\"new\" type 1 : 78 00 00 00"), std::string::npos) << classes;
  EXPECT_NE(classes.find("[useronly\\child]"), std::string::npos) << classes;
  std::string software = hiveContent(cfg("SOFTWARE"));
  EXPECT_NE(software.find("[Classes\\brandnew\\deep]"), std::string::npos) << software;
  EXPECT_EQ(software.find("machineonly"), std::string::npos) << software;
  EXPECT_EQ(software.find("\"new\""), std::string::npos) << "the user's key held the write";
  EXPECT_NE(hiveContent(ntuser).find("\"Recent\""), std::string::npos);

  // A second save of the same target writes on top of the first without a second copy.
  reg.setValue(hkey::LocalMachine, "x", regtype::Sz, Bytes{0});  // HKLM itself is in no hive
  KeyHandle app = 0;
  ASSERT_EQ(reg.openKey(hkey::LocalMachine, "SOFTWARE\\App", 0, app), Status::Success);
  ASSERT_EQ(reg.deleteValue(app, "Path"), Status::Success);
  reg.closeKey(app);
  ASSERT_TRUE(saved(*t, err)) << err;
  EXPECT_EQ(hiveContent(cfg("SOFTWARE")).find("\"Path\""), std::string::npos);
  auto again = openOffline(dir.path());
  ASSERT_TRUE(again);
  EXPECT_EQ(text(again->registry(), hkey::ClassesRoot, "both", "new"), "x");

  // After a failed command the gate reads the hives again: what was only in memory is gone,
  // and the mounts, the control set and the classes merge are as they were.
  std::string before = hiveContent(cfg("SOFTWARE"));
  ASSERT_EQ(again->registry().openKey(hkey::LocalMachine, "SOFTWARE\\App", 0, app),
            Status::Success);
  ASSERT_EQ(again->registry().setValue(app, "Unsaved", regtype::Sz, Bytes{'u', 0}),
            Status::Success);
  again->registry().closeKey(app);
  ASSERT_TRUE(again->reload()) << "reload";
  EXPECT_FALSE(again->registry().modified());
  EXPECT_EQ(text(again->registry(), hkey::LocalMachine, "SOFTWARE\\App", "Unsaved"), "<no value>");
  EXPECT_EQ(text(again->registry(), hkey::ClassesRoot, "both", "new"), "x");
  ASSERT_TRUE(saved(*again, err)) << err;
  EXPECT_EQ(hiveContent(cfg("SOFTWARE")), before) << "nothing left to write after the reload";
}

TEST(OfflineWindows, ChoosesTheUser) {
  TempDir dir;
  MemoryRegistry src;
  test::loadRegText(src, kMapping);
  test::writeOfflineWindows(dir.path(), src, "alice");
  test::writeOfflineWindows(dir.path(), src, "bob");
  test::writeOfflineWindows(dir.path(), src, "Default");
  fs::create_directories(dir / "Users/dave");
  // bob's hive was written last; Default's later still, but a template is never chosen alone.
  auto age = [&](const std::string& user, time_t when) {
    struct utimbuf t {
      when, when
    };
    ::utime((dir / ("Users/" + user + "/NTUSER.DAT")).c_str(), &t);
  };
  age("alice", 1000000000);
  age("bob", 1100000000);
  age("Default", 1200000000);
  auto t = openOffline(dir.path());
  ASSERT_TRUE(t);
  ASSERT_TRUE(t->user());
  EXPECT_EQ(t->user()->name, "bob");
  EXPECT_EQ(t->machine().userName, "bob");
  ASSERT_FALSE(t->notes().empty());
  EXPECT_NE(t->notes().front().find("bob"), std::string::npos);
  EXPECT_NE(t->notes().front().find("--user"), std::string::npos);

  auto a = openOffline(dir.path(), TargetOptions{"ALICE", {}});
  ASSERT_TRUE(a && a->user());
  EXPECT_EQ(a->user()->name, "alice");

  auto carol = OfflineWindows::open(dir.path(), TargetOptions{"carol", {}});
  EXPECT_FALSE(carol);
  EXPECT_NE(carol.message().find("carol"), std::string::npos) << carol.message();
  EXPECT_NE(carol.message().find("alice, bob"), std::string::npos) << carol.message();
  auto dave = OfflineWindows::open(dir.path(), TargetOptions{"dave", {}});
  EXPECT_FALSE(dave);
  EXPECT_NE(dave.message().find("NTUSER.DAT"), std::string::npos) << dave.message();
  EXPECT_FALSE(OfflineWindows::open(dir.path(), TargetOptions{"", {"C=" + dir.path()}}));
  EXPECT_FALSE(OfflineWindows::open(dir.path(), TargetOptions{"", {"E=/no/such"}}));
  fs::create_directories(dir / "stick");
  auto d = openOffline(dir.path(), TargetOptions{"", {"e=" + (dir / "stick") + ",removable"}});
  ASSERT_TRUE(d);
  auto drives = d->files().drives();
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[1].letter, 'E');
  EXPECT_EQ(drives[1].type, DriveRemovable);

  test::RunResult r = test::runCli({"--target", dir.path(), "users"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("bob"), std::string::npos);
  EXPECT_NE(r.out.find("(the default user)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("dave"), std::string::npos);
  EXPECT_NE(r.out.find("(no NTUSER.DAT)"), std::string::npos);
  r = test::runCli({"--target", dir.path(), "users", "--format", "json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto users = nlohmann::json::parse(r.out);
  std::size_t defaults = 0;
  for (const auto& u : users) {
    defaults += u["default"].get<bool>();
    if (u["name"] == "dave") {
      EXPECT_TRUE(u["hive"].is_null()) << u;
    }
    if (u["name"] == "bob") {
      EXPECT_TRUE(u["hive"].is_string()) << u;
    }
  }
  EXPECT_EQ(defaults, 1u) << r.out;
  r = test::runCli({"--target", dir.path(), "--user", "alice", "reg", "export",
                    "HKEY_CURRENT_USER\\Software\\App"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("user alice"), std::string::npos) << r.err;
  // The options belong to offline installations only.
  TempDir machine;
  test::makeMachine(machine.path(), "");
  EXPECT_EQ(test::runCli({"--target", machine.path(), "users"}).exitCode, 2);
  r = test::runCli({"--target", machine.path(), "--user", "alice", "scan"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("offline Windows installation only"), std::string::npos) << r.err;
}

Bytes utf16(std::string_view s) {
  Bytes b = toUtf16le(s);
  b.push_back(0);
  b.push_back(0);
  return b;
}

TEST(OfflineWindows, EveryValueKindSurvivesAndUntouchedPartsStayExact) {
  TempDir dir;
  MemoryRegistry src;
  auto* app = src.ensure(src.root(hkey::LocalMachine), "SOFTWARE\\App");
  src.setRaw(app, "keep", regtype::Sz, utf16("keep"));
  src.setRaw(app, "drop", regtype::Sz, utf16("drop"));
  auto* k = src.ensure(src.root(hkey::LocalMachine), "SOFTWARE\\Kinds");
  Bytes big(40000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  src.setRaw(k, "", regtype::Sz, utf16("default"));
  src.setRaw(k, "big", regtype::Binary, big);
  src.setRaw(k, "bigtext", regtype::Sz, Bytes(20001, 'a'));  // odd length, no terminator
  src.setRaw(k, "dword", regtype::Dword, {1, 2, 3, 4});
  src.setRaw(k, "bigendian", regtype::DwordBigEndian, {0, 0, 1, 0});
  src.setRaw(k, "qword", regtype::Qword, {1, 2, 3, 4, 5, 6, 7, 8});
  src.setRaw(k, "link", regtype::Link, toUtf16le("\\Registry\\Machine\\Target"));
  src.setRaw(k, "multi", regtype::MultiSz, [] {
    Bytes b = utf16("one");
    Bytes two = utf16("two");
    b.insert(b.end(), two.begin(), two.end());
    b.push_back(0);
    b.push_back(0);
    return b;
  }());
  src.setRaw(k, "none", regtype::None, {});
  src.setRaw(k, "odd type", 0x12345, {9, 8, 7});
  src.setRaw(k, "short sz", regtype::Sz, {'a', 0, 'b'});
  src.setRaw(k, "Grüße ✓", regtype::ExpandSz, utf16("%SystemRoot%\\x"));
  src.setRaw(k, "\xC4\x80\xC4\x80\xC4\x80\xC4\x80", regtype::Sz, utf16("renamed below"));
  src.ensure(k, "Ключ");
  test::writeOfflineWindows(dir.path(), src);
  const std::string software = dir / "Windows/System32/config/SOFTWARE";
  const std::string before = hiveContent(software);
  EXPECT_EQ(before, test::dumpTree(src, hkey::LocalMachine, "SOFTWARE"));

  // A name that is not valid UTF-16: the value "ĀĀĀĀ" gets an unpaired surrogate in the file.
  std::string bytes = bytesOf(software);
  const std::string name("\x00\x01\x00\x01\x00\x01\x00\x01", 8);
  auto at = bytes.find(name);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 1] = '\xD8';
  std::ofstream(software, std::ios::binary | std::ios::trunc) << bytes;

  auto t = openOffline(dir.path());
  ASSERT_TRUE(t);
  bool noted = false;
  for (const auto& n : t->notes()) noted |= n.find("not valid UTF-16") != std::string::npos;
  EXPECT_TRUE(noted);
  RegistryStore& reg = t->registry();
  KeyHandle h = 0;
  ASSERT_EQ(reg.openKey(hkey::LocalMachine, "SOFTWARE\\App", 0, h), Status::Success);
  ASSERT_EQ(reg.deleteValue(h, "drop"), Status::Success);
  reg.closeKey(h);
  std::string err;
  ASSERT_TRUE(saved(*t, err)) << err;
  // The unreadable name is still in the file, beside everything else of its key.
  bytes = bytesOf(software);
  EXPECT_NE(bytes.find(std::string("\x00\xD8\x00\x01\x00\x01\x00\x01", 8)), std::string::npos);
  // Changing a value beside it would lose it: refused, nothing written.
  ASSERT_EQ(reg.openKey(hkey::LocalMachine, "SOFTWARE\\Kinds", 0, h), Status::Success);
  ASSERT_EQ(reg.setValueRaw(h, "added", regtype::Dword, {5, 0, 0, 0}), Status::Success);
  reg.closeKey(h);
  EXPECT_FALSE(saved(*t, err));
  EXPECT_NE(err.find("not valid UTF-16"), std::string::npos) << err;
  EXPECT_EQ(bytesOf(software), bytes);
  for (const auto& e : fs::directory_iterator(dir / "Windows/System32/config"))
    EXPECT_EQ(e.path().string().find(".brisquell-new"), std::string::npos);

  auto* kinds = src.find(src.root(hkey::LocalMachine), "SOFTWARE\\Kinds");
  kinds->values.erase(kinds->values.end() - 1);  // unreadable now
  kinds->valueIndex.invalidate();
  auto* srcApp = src.find(src.root(hkey::LocalMachine), "SOFTWARE\\App");
  srcApp->values.pop_back();
  srcApp->valueIndex.invalidate();
  MemoryRegistry after;
  HiveFile reread(software, hkey::LocalMachine, "SOFTWARE");
  ASSERT_TRUE(reread.load(after).ok());
  EXPECT_EQ(test::dumpTree(after, hkey::LocalMachine, "SOFTWARE"),
            test::dumpTree(src, hkey::LocalMachine, "SOFTWARE"));
}

// Every file below the folder with its bytes, to prove nothing was written.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    // The target lock's file is left empty by a command that has ended: it holds nothing.
    if (e.is_regular_file() &&
        !(e.path().filename() == ".brisquell.lock" && fs::file_size(e.path()) == 0))
      out[e.path().string()] = bytesOf(e.path().string());
  return out;
}

void fixChecksum(std::string& hive) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 508; i += 4) {
    std::uint32_t w;
    std::memcpy(&w, hive.data() + i, 4);
    sum ^= w;
  }
  std::memcpy(hive.data() + 508, &sum, 4);
}

TEST(OfflineWindows, DamagedHivesAreRefusedAndNothingIsWritten) {
  TempDir dir;
  MemoryRegistry src;
  test::loadRegText(src, kMapping);
  test::writeOfflineWindows(dir.path(), src, "alice");
  const std::string software = dir / "Windows/System32/config/SOFTWARE";
  const std::string ntuser = dir / "Users/alice/NTUSER.DAT";
  const std::string good = bytesOf(software);
  std::string outOfRange = good;
  std::uint32_t far = 0x7ffff000;
  std::memcpy(outOfRange.data() + 36, &far, 4);  // the root cell lies past the end
  fixChecksum(outOfRange);
  struct Case {
    std::string file, bytes, why;
  };
  std::vector<Case> cases = {
      {software, "REGEDIT4\r\n", "not a hive"},
      {software, good.substr(0, good.size() / 2 + 100), "truncated"},
      {software, outOfRange, "out of range"},
      {ntuser, "", "empty"},
  };
  for (const auto& c : cases) {
    std::ofstream(c.file, std::ios::binary | std::ios::trunc) << c.bytes;
    auto before = snapshot(dir.path());
    test::RunResult r = test::runCli({"--target", dir.path(), "fix", "--yes"});
    EXPECT_EQ(r.exitCode, 2) << c.why << ": " << r.err;
    EXPECT_NE(r.err.find(c.file), std::string::npos) << c.why << ": " << r.err;
    EXPECT_TRUE(snapshot(dir.path()) == before) << c.why;
    std::ofstream(software, std::ios::binary | std::ios::trunc) << good;
    if (c.file == ntuser) test::writeHive(ntuser, src, hkey::CurrentUser, "", "Software\\Classes");
  }
  // A subkey list that leads back to the root key: a cycle.
  {
    MemoryRegistry c;
    c.ensure(c.root(hkey::LocalMachine), "SOFTWARE\\Aloop\\Bcycle");
    test::writeHive(software, c, hkey::LocalMachine, "SOFTWARE");
    std::string bytes = bytesOf(software);
    auto name = bytes.find("Bcycle");
    ASSERT_NE(name, std::string::npos);
    std::uint32_t node = static_cast<std::uint32_t>(name - 0x50 - 0x1000), root = 0;
    std::memcpy(&root, bytes.data() + 36, 4);
    std::string entry =
        std::string("lh\x01\x00", 4) + std::string(reinterpret_cast<char*>(&node), 4);
    auto at = bytes.find(entry);
    ASSERT_NE(at, std::string::npos);
    std::memcpy(bytes.data() + at + 4, &root, 4);
    std::ofstream(software, std::ios::binary | std::ios::trunc) << bytes;
    auto before = snapshot(dir.path());
    test::RunResult r = test::runCli({"--target", dir.path(), "fix", "--yes"});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(software), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cycle"), std::string::npos) << r.err;
    EXPECT_TRUE(snapshot(dir.path()) == before);
    std::ofstream(software, std::ios::binary | std::ios::trunc) << good;
  }
  // A missing SYSTEM hive: what exists is scanned, what is missing is said.
  fs::remove(dir / "Windows/System32/config/SYSTEM");
  test::RunResult r = test::runCli({"--target", dir.path(), "scan", "--format", "tsv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("SYSTEM is missing"), std::string::npos) << r.err;
  auto t = openOffline(dir.path());
  ASSERT_TRUE(t);
  KeyHandle h = 0;
  EXPECT_EQ(t->registry().createKey(hkey::LocalMachine, "SYSTEM\\CurrentControlSet\\X", h),
            Status::AccessDenied);
}

TEST(OfflineWindows, DirtyHivesRefuseWrites) {
  TempDir dir;
  MemoryRegistry src;
  test::loadRegText(src, kMapping);
  test::writeOfflineWindows(dir.path(), src, "alice");
  const std::string config = dir / "Windows/System32/config";
  {
    auto t = openOffline(dir.path());
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->writeBlocker());
  }
  // A log whose entries are older than the hive changes nothing.
  std::string log(1024, '\0');
  std::memcpy(log.data(), "regf", 4);
  std::memcpy(log.data() + 512, "HvLE", 4);
  std::ofstream(config + "/system.log1", std::ios::binary) << log;
  {
    auto t = openOffline(dir.path());
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->writeBlocker());
  }
  std::uint32_t seq = 7;
  std::memcpy(log.data() + 512 + 8, &seq, 4);
  std::ofstream(config + "/system.log1", std::ios::binary | std::ios::trunc) << log;
  {
    auto t = openOffline(dir.path());
    ASSERT_TRUE(t);
    auto blocker = t->writeBlocker();
    ASSERT_TRUE(blocker);
    EXPECT_NE(blocker->find("system.log1"), std::string::npos) << *blocker;
  }
  fs::remove(config + "/system.log1");
  std::string hive = bytesOf(config + "/SOFTWARE");
  std::memcpy(&seq, hive.data() + 8, 4);
  ++seq;  // a write was begun and never finished
  std::memcpy(hive.data() + 4, &seq, 4);
  fixChecksum(hive);
  std::ofstream(config + "/SOFTWARE", std::ios::binary | std::ios::trunc) << hive;
  auto before = snapshot(dir.path());
  test::RunResult r = test::runCli({"--target", dir.path(), "fix", "--yes"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("shut it down fully"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("sequence numbers"), std::string::npos) << r.err;
  EXPECT_TRUE(snapshot(dir.path()) == before);
  r = test::runCli({"--target", dir.path(), "scan"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("stale"), std::string::npos) << r.err;
  auto t = openOffline(dir.path());
  ASSERT_TRUE(t);
  KeyHandle h = 0;
  ASSERT_EQ(t->registry().createKey(hkey::LocalMachine, "SOFTWARE\\New", h), Status::Success);
  std::string err;
  EXPECT_FALSE(saved(*t, err));
  EXPECT_TRUE(snapshot(dir.path()) == before);
}

TEST(OfflineWindows, ASaveAcrossHivesIsAllOrNothing) {
  TempDir dir;
  MemoryRegistry src;
  test::loadRegText(src, kMapping);
  test::writeOfflineWindows(dir.path(), src, "alice");
  auto before = snapshot(dir.path());
  auto t = openOffline(dir.path());
  ASSERT_TRUE(t);
  RegistryStore& reg = t->registry();
  ASSERT_EQ(reg.deleteTree(hkey::LocalMachine, "SOFTWARE\\App"), Status::Success);
  ASSERT_EQ(reg.deleteTree(hkey::CurrentUser, "Software\\App"), Status::Success);
  t->failBeforeReplacing("NTUSER.DAT");
  std::string err;
  EXPECT_FALSE(saved(*t, err));
  EXPECT_NE(err.find("every hive was left as it was"), std::string::npos) << err;
  auto after = snapshot(dir.path());
  for (const auto& [path, bytes] : before) EXPECT_EQ(after[path], bytes) << path;
  for (const auto& [path, bytes] : after)
    if (!before.count(path)) {
      EXPECT_NE(path.find(".brisquell-before-"), std::string::npos) << path;
      EXPECT_EQ(bytes, before[path.substr(0, path.find(".brisquell-before-"))]) << path;
    }
  t->failBeforeReplacing("");
  ASSERT_TRUE(saved(*t, err)) << err;
  EXPECT_EQ(hiveContent(dir / "Windows/System32/config/SOFTWARE").find("[App]"), std::string::npos);
}

// The demo machine as an offline installation: its registry as hives, drive C: as the volume.
std::string makeOfflineDemo(const TempDir& dir) {
  const std::string demo = std::string(BRISQUELL_SOURCE_DIR) + "/examples/demo-machine";
  const std::string volume = dir / "win";
  fs::copy(demo + "/drive_c", volume, fs::copy_options::recursive);
  fs::copy(demo + "/drive_e", dir / "stick", fs::copy_options::recursive);

  MemoryRegistry reg;
  Outcome loaded = loadRegFile(demo + "/registry.reg", reg);
  EXPECT_TRUE(loaded) << loaded.message();
  test::writeOfflineWindows(volume, reg, "user", true);
  return volume;
}

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    lines.push_back(text.substr(i, j - i));
    i = j + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// A hive's content with each key's values in name order: a restored value comes back last.
std::string valuesSorted(const std::string& dump) {
  std::string out;
  std::vector<std::string> values;
  auto flush = [&] {
    std::sort(values.begin(), values.end());
    for (const auto& v : values) out += v + "\n";
    values.clear();
  };
  for (const auto& line : [&] {
         std::vector<std::string> l;
         std::size_t i = 0;
         while (i < dump.size()) {
           std::size_t j = dump.find('\n', i);
           l.push_back(dump.substr(i, j - i));
           i = j + 1;
         }
         return l;
       }()) {
    if (line.rfind("  ", 0) == 0) {
      values.push_back(line);
      continue;
    }
    flush();
    out += line + "\n";
  }
  flush();
  return out;
}

std::string tsv(ScanContext& ctx) {
  std::string out;
  for (const auto& r : ctx.problems().rows())
    out += r.MainKey + "\t" + r.KeyName + "\t" + r.KeyValue + "\t" + r.Section + "\t" +
           r.FullKeyPath + "\t" + r.MainKeyName + "\n";
  return out;
}

TEST(OfflineWindows, DemoMachineScansAsTheMachineFolderDoes) {
  TempDir dir;
  std::string volume = makeOfflineDemo(dir);
  for (auto [mode, golden] :
       {std::pair{ScanMode::Quick, "demo-quick.tsv"}, std::pair{ScanMode::Deep, "demo-deep.tsv"}}) {
    auto t = openOffline(volume, TargetOptions{"",
                                               {"A=,removable,notready", "D=,cdrom,notready",
                                                "E=" + (dir / "stick") + ",removable"}});
    ASSERT_TRUE(t);
    EXPECT_EQ(t->machine().windowsDirectory, "C:\\WINDOWS");
    ScanContext ctx(*t);
    runScan(ctx, mode);
    // The same records; the hive keeps subkeys sorted, so they come in the hive's order.
    EXPECT_EQ(sortedLines(tsv(ctx)),
              sortedLines(test::readText(std::string(BRISQUELL_TEST_DATA) + "/" + golden)))
        << golden;
  }
}

TEST(OfflineWindows, ScanFixRestoreGivesBackEveryHive) {
  TempDir dir;
  std::string volume = makeOfflineDemo(dir);
  const std::vector<std::string> hives = {findNoCase(volume, "Windows/System32/config/SOFTWARE"),
                                          findNoCase(volume, "Windows/System32/config/SYSTEM"),
                                          volume + "/Documents and Settings/user/NTUSER.DAT"};
  std::vector<std::string> before;
  for (const auto& h : hives) before.push_back(valuesSorted(hiveContent(h)));
  const std::string drive = "E=" + (dir / "stick") + ",removable";
  test::RunResult fix = test::runCli(
      {"--target", volume, "--drive", drive, "--drive", "D=,cdrom,notready", "fix", "--yes"});
  ASSERT_EQ(fix.exitCode, 0) << fix.err;
  EXPECT_NE(valuesSorted(hiveContent(hives[0])), before[0]) << "the fix removed something";
  test::RunResult list = test::runCli({"--target", volume, "backups"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  auto at = list.out.find("BrisquellBK");
  ASSERT_NE(at, std::string::npos) << list.out;
  std::string name = list.out.substr(at, list.out.find(' ', at) - at);
  EXPECT_TRUE(fs::exists(volume + "/Program Files/Brisquell/Backup/" + name))
      << "backup sets live on the volume";
  test::RunResult restore =
      test::runCli({"--target", volume, "--drive", drive, "restore", name, "--yes"});
  ASSERT_EQ(restore.exitCode, 0) << restore.err;
  for (std::size_t i = 0; i < hives.size(); ++i)
    EXPECT_EQ(valuesSorted(hiveContent(hives[i])), before[i]) << hives[i];
}

TEST(OfflineWindows, UserClassesHideWhatNtuserHoldsThereAndLeaveItAlone) {
  TempDir dir;
  MemoryRegistry src;
  test::loadRegText(src, kMapping);
  test::writeOfflineWindows(dir.path(), src, "alice");
  // An NTUSER.DAT that holds a Software\Classes key of its own, which UsrClass.dat covers.
  MemoryRegistry own;
  test::loadRegText(own,
                    "[HKEY_CURRENT_USER\\Software\\App]\r\n\"Recent\"=\"x\"\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Classes\\ntuseronly]\r\n@=\"n\"\r\n\r\n");
  const std::string ntuser = dir / "Users/alice/NTUSER.DAT";
  test::writeHive(ntuser, own, hkey::CurrentUser, "");
  auto t = openOffline(dir.path());
  ASSERT_TRUE(t);
  RegistryStore& reg = t->registry();
  KeyHandle h = 0;
  EXPECT_EQ(reg.openKey(hkey::CurrentUser, "Software\\Classes\\ntuseronly", 0, h),
            Status::FileNotFound);
  EXPECT_EQ(text(reg, hkey::CurrentUser, "Software\\Classes\\useronly", ""), "u");
  // A tail of values goes from the key HKCR shows, the user's; the machine's stays.
  KeyHandle both = 0;
  ASSERT_EQ(reg.openKey(hkey::ClassesRoot, "both", 0, both), Status::Success);
  ASSERT_EQ(reg.setValue(both, "second", regtype::Sz, Bytes{'2', 0}), Status::Success);
  ASSERT_EQ(reg.setValue(both, "third", regtype::Sz, Bytes{'3', 0}), Status::Success);
  ASSERT_EQ(reg.deleteValuesFrom(both, 1), Status::Success);
  reg.closeKey(both);
  EXPECT_EQ(text(reg, hkey::ClassesRoot, "both", "who"), "user");
  EXPECT_EQ(text(reg, hkey::ClassesRoot, "both", "second"), "<no value>");
  EXPECT_EQ(text(reg, hkey::LocalMachine, "SOFTWARE\\Classes\\both", "who"), "machine");
  ASSERT_EQ(reg.deleteTree(hkey::CurrentUser, "Software\\App"), Status::Success);
  ASSERT_EQ(reg.deleteTree(hkey::CurrentUser, "Software\\Classes\\useronly"), Status::Success);
  std::string err;
  ASSERT_TRUE(saved(*t, err)) << err;
  std::string user = hiveContent(ntuser);
  EXPECT_EQ(user.find("[Software\\App]"), std::string::npos) << user;
  EXPECT_NE(user.find("[Software\\Classes\\ntuseronly]"), std::string::npos) << user;
  std::string classes =
      hiveContent(dir / "Users/alice/AppData/Local/Microsoft/Windows/UsrClass.dat");
  EXPECT_EQ(classes.find("useronly"), std::string::npos) << classes;
  EXPECT_NE(classes.find("[both]"), std::string::npos) << classes;
  EXPECT_EQ(classes.find("\"second\""), std::string::npos) << classes;
}

TEST(OfflineWindows, ModernMuiCacheAndThe32BitViewAreScannedRepairedAndRestored) {
  TempDir dir;
  MemoryRegistry src;
  test::loadRegText(
      src,
      "[HKEY_CURRENT_USER\\Software\\Classes\\Local "
      "Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache]\r\n"
      "\"C:\\\\Gone\\\\app.exe.FriendlyAppName\"=\"App\"\r\n\"LangID\"=hex:09,04\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run]"
      "\r\n\"Tray32\"=\"C:\\\\Gone\\\\tray.exe\"\r\n\r\n");
  test::writeOfflineWindows(dir.path(), src, "alice");
  const std::string usrclass = dir / "Users/alice/AppData/Local/Microsoft/Windows/UsrClass.dat";
  const std::string software = findNoCase(dir.path(), "Windows/System32/config/SOFTWARE");
  const std::string classesBefore = valuesSorted(hiveContent(usrclass));
  const std::string softwareBefore = valuesSorted(hiveContent(software));
  {
    auto t = openOffline(dir.path());
    ASSERT_TRUE(t);
    ScanContext ctx(*t);
    runScan(ctx, ScanMode::Quick);
    EXPECT_EQ(tsv(ctx),
              "-2147483647\tC:\\Gone\\app.exe.FriendlyAppName\tC:\\Gone\\app.exe\tApplication "
              "Paths\tSoftware\\Classes\\Local "
              "Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache\tHKEY_CURRENT_USER\n"
              "-2147483646\tTray32\tC:\\Gone\\tray.exe\tWindows "
              "Startup\tSOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\tHKEY_"
              "LOCAL_MACHINE\n");
  }
  test::RunResult fix = test::runCli({"--target", dir.path(), "fix", "--yes"});
  ASSERT_EQ(fix.exitCode, 0) << fix.err;
  EXPECT_EQ(hiveContent(usrclass).find("FriendlyAppName"), std::string::npos);
  EXPECT_EQ(hiveContent(software).find("Tray32"), std::string::npos);
  test::RunResult list = test::runCli({"--target", dir.path(), "backups"});
  auto at = list.out.find("BrisquellBK");
  ASSERT_NE(at, std::string::npos) << list.out;
  std::string name = list.out.substr(at, list.out.find(' ', at) - at);
  test::RunResult restore = test::runCli({"--target", dir.path(), "restore", name, "--yes"});
  ASSERT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_EQ(valuesSorted(hiveContent(usrclass)), classesBefore);
  EXPECT_EQ(valuesSorted(hiveContent(software)), softwareBefore);
}

}  // namespace
}  // namespace brisquell
