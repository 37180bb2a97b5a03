// Single-value registry writes report the registry's own status, so that callers need not read
// a value back to learn whether it was stored.
#include "scan/RegistryAccess.h"

#include <gtest/gtest.h>

#include "scan/ScanTestSupport.h"

namespace brisquell::test {

namespace {

// Refuses every write, as a registry opened without write access does.
class ReadOnlyStore final : public RegistryStore {
 public:
  explicit ReadOnlyStore(RegistryStore& s) : s_(s) {}
  Status openKey(KeyHandle k, std::string_view p, std::uint32_t a, KeyHandle& r) override {
    return s_.openKey(k, p, a, r);
  }
  Status createKey(KeyHandle k, std::string_view p, KeyHandle& r) override {
    return s_.openKey(k, p, keyaccess::AllAccess, r) == Status::Success ? Status::Success
                                                                        : Status::AccessDenied;
  }
  Status closeKey(KeyHandle k) override { return s_.closeKey(k); }
  Status enumKey(KeyHandle k, std::uint32_t i, std::string& n) override {
    return s_.enumKey(k, i, n);
  }
  Status deleteValue(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status deleteKey(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status deleteTree(KeyHandle, std::string_view) override { return Status::AccessDenied; }
  Status enumValueRaw(KeyHandle k, std::uint32_t i, std::string& n, std::uint32_t& t,
                      Bytes& d) override {
    return s_.enumValueRaw(k, i, n, t, d);
  }
  Status queryValueRaw(KeyHandle k, std::string_view n, std::uint32_t& t, Bytes& d) override {
    return s_.queryValueRaw(k, n, t, d);
  }
  Status setValueRaw(KeyHandle, std::string_view, std::uint32_t, const Bytes&) override {
    return Status::AccessDenied;
  }
  Status queryInfo(KeyHandle k, std::uint32_t& a, std::uint32_t& b) override {
    return s_.queryInfo(k, a, b);
  }
  KeyLocation canonicalKey(KeyHandle root, std::string_view path) override {
    return s_.canonicalKey(root, path);
  }
  bool modified() const override { return s_.modified(); }
  void markSaved() override { s_.markSaved(); }

 private:
  RegistryStore& s_;
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
