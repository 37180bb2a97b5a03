// Offline Windows installations: hives through hivex, the root mapping, users, safe saving.
#include "platform/hive/OfflineWindows.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/HiveWriter.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

TEST(OfflineWindows, Smoke) {
  TempDir dir;
  MemoryRegistry reg;
  test::loadRegText(reg, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\App]\r\n\"Path\"=\"C:\\\\App\\\\app.exe\"\r\n\r\n");
  test::writeOfflineWindows(dir.path(), reg);
  TargetError err;
  auto t = openTarget(dir.path(), err);
  ASSERT_TRUE(t) << err.message;
  EXPECT_EQ(t->kind(), "offline Windows installation");
}

}  // namespace
}  // namespace brisquell
