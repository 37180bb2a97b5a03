// machine.ini: read strictly. A refusal names the file and the line; what is accepted is
// trimmed, names each drive letter once, and reads the same every time.
#include <string>

#include "FuzzSupport.h"
#include "platform/machine/MachineFolder.h"

using namespace brisquell;

namespace {

bool trimmedText(const std::string& s) {
  constexpr std::string_view kBlanks = " \t\r";
  return s.empty() || (kBlanks.find(s.front()) == std::string_view::npos &&
                       kBlanks.find(s.back()) == std::string_view::npos);
}

std::string describe(MachineFolder& m) {
  const MachineInfo& i = m.machine();
  std::string s = std::to_string(i.platformId) + "|" + i.windowsDirectory + "|" +
                  i.systemDirectory + "|" + i.installFolder + "|" + i.tempFolder + "|" + i.userName;
  for (const DriveInfo& d : m.files().drives())
    s += "|" + std::string(1, d.letter) + std::to_string(d.type) + (d.ready ? "r" : "n");
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = [] {
    const std::string f = fuzz::scratchDir() + "/machine";
    fuzz::putFile(f + "/registry.reg", "Windows Registry Editor Version 5.00\r\n\r\n");
    fuzz::putFile(f + "/drive_c/.keep", "");
    fuzz::putFile(f + "/d/.keep", "");
    return f;
  }();
  fuzz::putFile(folder + "/machine.ini", fuzz::asText(data, size));

  auto opened = MachineFolder::open(folder);
  if (!opened) {
    FUZZ_CHECK(opened.message().rfind(folder + "/machine.ini:", 0) == 0, opened.message());
    return 0;
  }
  MachineFolder& m = **opened;
  const MachineInfo& i = m.machine();
  FUZZ_CHECK(i.platformId == 1 || i.platformId == 2, "platform");
  for (const std::string* s :
       {&i.windowsDirectory, &i.systemDirectory, &i.installFolder, &i.tempFolder, &i.userName})
    FUZZ_CHECK(trimmedText(*s), *s);
  std::string letters;
  for (const DriveInfo& d : m.files().drives()) {
    FUZZ_CHECK(d.letter >= 'A' && d.letter <= 'Z', std::string(1, d.letter));
    FUZZ_CHECK(letters.find(d.letter) == std::string::npos, "drive named twice");
    FUZZ_CHECK(d.type >= DriveRemovable && d.type <= DriveRamDisk, std::to_string(d.type));
    letters += d.letter;
  }
  auto again = MachineFolder::open(folder);
  FUZZ_CHECK(again, again ? std::string() : again.message());
  FUZZ_CHECK(describe(m) == describe(**again), "a second read differs");
  return 0;
}
