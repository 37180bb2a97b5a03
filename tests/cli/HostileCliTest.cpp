// The command line handed wrong words, a target another command is writing, or a target it
// may not write.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace brisquell {
namespace {

using test::runCli;

TEST(HostileCli, UnknownCommandIsNamedWithTheCommandsThereAre) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"frobnicate"},
        std::vector<std::string>{"--target", "/nowhere", "frob", "x"},
        std::vector<std::string>{"--user", "scan", "cleanup"}}) {
    auto r = runCli(args);
    EXPECT_EQ(r.exitCode, 2);
    const std::string word = args.size() == 1   ? "frobnicate"
                             : args.size() == 4 ? "frob"
                                                : "cleanup";
    EXPECT_NE(r.err.find("unknown command \"" + word + "\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("scan, reg, fix, backups, restore"), std::string::npos) << r.err;
  }
  auto none = runCli({});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("a command is required; the commands are: scan"), std::string::npos)
      << none.err;
}

TEST(HostileCli, CutRegFileIsRefusedAndTheTargetStaysAsItWas) {
  test::TempDir dir;
  test::makeMachine(dir / "m", "[HKEY_CURRENT_USER\\Kept]\r\n\"v\"=\"1\"\r\n");
  const std::string before = test::readText(dir / "m/registry.reg");
  test::writeUtf16(dir / "odd.reg",
                   "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\New]\r\n"
                   "\"a\"=hex:01,02,03,04");
  std::string bytes = test::readText(dir / "odd.reg");
  bytes.pop_back();
  test::writeText(dir / "odd.reg", bytes);
  auto r = runCli({"--target", dir / "m", "reg", "import", dir / "odd.reg"});
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find(dir / "odd.reg:4: "), std::string::npos) << r.err;
  EXPECT_EQ(test::readText(dir / "m/registry.reg"), before);
}

}  // namespace
}  // namespace brisquell
