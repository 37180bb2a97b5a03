// Single-value registry writes report the registry's own status, so that callers need not read
// a value back to learn whether it was stored.
#include "scan/RegistryAccess.h"

#include <gtest/gtest.h>

#include "scan/ScanTestSupport.h"
#include "support/ForwardingStore.h"

namespace brisquell::test {

namespace {

// Refuses every write, as a registry opened without write access does.
class ReadOnlyStore final : public ForwardingStore {
 public:
  explicit ReadOnlyStore(RegistryStore& s) : ForwardingStore(s) {}
  Status createKey(KeyHandle k, std::string_view p, KeyHandle& r) override {
    return s_.openKey(k, p, keyaccess::AllAccess, r) == Status::Success ? Status::Success
                                                                        : Status::AccessDenied;
  }
  Status deleteValue(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status deleteKey(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status deleteTree(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status setValueRaw(KeyHandle, std::string_view, std::uint32_t, const Bytes&) override {
    return Status::AccessDenied;
  }
};

}  // namespace

TEST(RegistryAccess, WritesReturnTheRegistrysStatus) {
  ScanMachine m("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"v\"=\"old\"\r\n");
  RegistryAccess& writable = m.ctx->registry();
  EXPECT_EQ(
      writable.SetKeyValue(hkey::LocalMachine, "SOFTWARE\\New\\Deep", "n", "42", regtype::Dword),
      Status::Success);
  EXPECT_EQ(writable.SetKeyValue(hkey::LocalMachine, "SOFTWARE\\New", "t", true, regtype::Sz),
            Status::Success);
  std::string text;
  ASSERT_TRUE(writable.QueryValue(hkey::LocalMachine, "SOFTWARE\\New\\Deep", "n", text));
  EXPECT_EQ(text, "42") << "a literal is text, not a truth value";
  EXPECT_EQ(writable.SetKeyValue(hkey::LocalMachine, "SOFTWARE\\New", "x", "abc", regtype::Dword),
            Status::InvalidParameter);
  EXPECT_EQ(writable.SetKeyValue(hkey::LocalMachine, "SOFTWARE\\New", "b", "1", regtype::Binary),
            Status::NotSupported);
  EXPECT_EQ(writable.DeleteValue(hkey::LocalMachine, "SOFTWARE\\New", "t"), Status::Success);
  EXPECT_EQ(writable.DeleteValue(hkey::LocalMachine, "SOFTWARE\\New", "t"), Status::FileNotFound);
  EXPECT_EQ(writable.DeleteValue(hkey::LocalMachine, "SOFTWARE\\Absent", "t"),
            Status::FileNotFound);

  ReadOnlyStore readOnly(m.machine->registry());
  RegistryAccess refused(readOnly, m.ctx->log(), 2);
  EXPECT_EQ(refused.SetKeyValue(hkey::LocalMachine, "SOFTWARE\\Kept", "v", "new", regtype::Sz),
            Status::AccessDenied);
  EXPECT_EQ(refused.SetKeyValue(hkey::LocalMachine, "SOFTWARE\\Other", "v", "new", regtype::Sz),
            Status::AccessDenied);
  EXPECT_EQ(refused.DeleteValue(hkey::LocalMachine, "SOFTWARE\\Kept", "v"), Status::AccessDenied);
  ASSERT_TRUE(writable.QueryValue(hkey::LocalMachine, "SOFTWARE\\Kept", "v", text));
  EXPECT_EQ(text, "old");
}

}  // namespace brisquell::test
