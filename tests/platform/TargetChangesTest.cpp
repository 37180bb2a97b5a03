// The write gate: refusal before any change, rollback of a failed save, and what is said.
#include "platform/TargetChanges.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/RegFile.h"
#include "platform/machine/MachineFolder.h"
#include "shell/LastResort.h"
#include "support/GatedTarget.h"
#include "support/Portable.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

const std::string kBody = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Kept\"=\"yes\"\r\n\r\n";

Result<std::unique_ptr<Target>> machine(const test::TempDir& dir) {
  test::makeMachine(dir.path(), kBody);
  return openTarget(dir.path());
}

Status setText(RegistryStore& store, std::string_view name, std::string_view text) {
  Bytes data(text.begin(), text.end());
  data.push_back(0);
  KeyHandle h = 0;
  if (Status st = store.createKey(hkey::LocalMachine, "SOFTWARE\\Vendor", h); st != Status::Success)
    return st;
  ScopedKey key(store, h);
  return store.setValue(h, name, regtype::Sz, data);
}

TEST(TargetChanges, RefusesWhileBlockedAndChangesNothing) {
  test::TempDir dir;
  auto opened = machine(dir);
  ASSERT_TRUE(opened) << opened.message();
  test::GatedTarget t(std::move(opened).value());
  t.blocker = "a wineserver (process 9) is running";
  TargetChanges changes(t);
  bool ran = false;
  Outcome o = changes.apply([&] { ran = true; });
  EXPECT_FALSE(o);
  EXPECT_FALSE(ran);
  EXPECT_EQ(o.status(), Status::AccessDenied);
  EXPECT_NE(o.message().find("process 9"), std::string::npos) << o.message();
  EXPECT_NE(o.message().find("Nothing was changed"), std::string::npos) << o.message();
  EXPECT_EQ(t.saves, 0);
  t.blocker.reset();
  EXPECT_TRUE(changes.apply([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(TargetChanges, AFailedSaveOfAMachineFolderIsUndoneInMemory) {
  test::TempDir dir;
  auto opened = machine(dir);
  ASSERT_TRUE(opened) << opened.message();
  auto& m = dynamic_cast<MachineFolder&>(**opened);
  const std::string onDisk = test::readText(dir / "registry.reg");
  const std::string before = exportReg(m.registry(), 0, "");
  TargetChanges changes(m);
  m.failSaveAfterBytes(10);
  Outcome o = changes.apply([&] {
    ASSERT_EQ(setText(m.registry(), "Lost", "1"), Status::Success);
    ASSERT_EQ(setText(m.registry(), "Kept", "changed"), Status::Success);
  });
  ASSERT_FALSE(o);
  EXPECT_NE(o.message().find("could not be saved"), std::string::npos) << o.message();
  EXPECT_NE(o.message().find("undone"), std::string::npos) << o.message();
  EXPECT_FALSE(m.registry().modified());
  EXPECT_EQ(exportReg(m.registry(), 0, ""), before);
  EXPECT_EQ(test::readText(dir / "registry.reg"), onDisk);

  // The next save carries its own change only.
  m.failSaveAfterBytes(SIZE_MAX);
  ASSERT_TRUE(changes.apply([&] { setText(m.registry(), "Own", "2"); }));
  auto again = openTarget(dir.path());
  ASSERT_TRUE(again);
  const std::string saved = exportReg((*again)->registry(), 0, "", RegFormat::Regedit4);
  EXPECT_NE(saved.find("\"Own\"=\"2\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"Kept\"=\"yes\""), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Lost"), std::string::npos) << saved;
}

TEST(TargetChanges, SaysSoWhenTheRegistryCannotBeReadAgain) {
  test::TempDir dir;
  auto opened = machine(dir);
  ASSERT_TRUE(opened) << opened.message();
  test::GatedTarget t(std::move(opened).value());
  t.failSaves = true;
  test::writeText(dir / "registry.reg", "not a registry file");
  Outcome o = TargetChanges(t).apply([&] { setText(t.registry(), "x", "1"); });
  ASSERT_FALSE(o);
  EXPECT_NE(o.message().find("Reading the registry again failed too"), std::string::npos)
      << o.message();
  EXPECT_NE(o.message().find("registry.reg"), std::string::npos) << o.message();
}

TEST(TargetResolution, OptionThenEnvironmentThenAClearMessage) {
  test::setEnvironment("BRISQUELL_TARGET", "/from/env");
  EXPECT_EQ(targetFolder("/given", "brisquell").value(), "/given");
  EXPECT_EQ(targetFolder("", "brisquell").value(), "/from/env");
  test::unsetEnvironment("BRISQUELL_TARGET");
  auto none = targetFolder("", "brisquell-gui");
  ASSERT_FALSE(none);
  EXPECT_NE(none.message().find("brisquell-gui --target DIR"), std::string::npos) << none.message();
  EXPECT_NE(none.message().find("BRISQUELL_TARGET"), std::string::npos) << none.message();
}

TEST(LastResort, NamesWhatWentWrong) {
  EXPECT_NE(
      lastResortMessage(std::make_exception_ptr(std::runtime_error("bad path"))).find("bad path"),
      std::string::npos);
  EXPECT_NE(lastResortMessage(std::make_exception_ptr(std::bad_alloc())).find("out of memory"),
            std::string::npos);
  EXPECT_NE(lastResortMessage(std::make_exception_ptr(42)).find("unknown fault"),
            std::string::npos);
}

}  // namespace
}  // namespace brisquell
