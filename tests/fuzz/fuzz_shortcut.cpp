// Shortcut (.lnk) files through liblnk: any file, however damaged, gives a bounded answer (the
// run's allocation limit catches a reader that asks for gigabytes), the same one every time,
// and valid UTF-8.
#include <string>

#include "FuzzSupport.h"
#include "platform/Text.h"
#include "platform/lnk/LnkShortcutReader.h"

using namespace brisquell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchDrive drive("lnk");
  static LnkShortcutReader reader(drive.files, {{"SystemRoot", "C:\\WINDOWS"}});
  fuzz::putFile(drive.root + "/Menu/app.lnk", fuzz::asText(data, size));
  const std::string first = reader.targetPath("C:\\Menu\\app.lnk");
  FUZZ_CHECK(isValidUtf8(first), first);
  FUZZ_CHECK(first.find('\0') == std::string::npos, first);
  FUZZ_CHECK(reader.targetPath("C:\\Menu\\app.lnk") == first, "a second read differs");
  return 0;
}
