// The INI class of the backup files: whatever it reads, a flush writes so that a fresh read
// shows the same sections, keys and values; an added key reads back with its value.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Text.h"
#include "repair/cInifile.h"

using namespace brisquell;

namespace {

// Everything the class shows: each section's keys with the values Value() gives for them.
std::string modelOf(cInifile& ini, bool trimValues = false) {
  std::string m;
  std::vector<std::string> sections, keys;
  long count = 0;
  ini.EnumerateAllSections(sections, count);
  FUZZ_CHECK(count == static_cast<long>(sections.size()), "section count");
  for (const std::string& s : sections) {
    m += "[" + s + "]\n";
    ini.setSection(s);
    ini.EnumerateCurrentSection(keys, count);
    for (const std::string& k : keys) {
      // A listed key has a value: the default shows through for neither of two defaults.
      ini.setKey(k);
      ini.setDefault("a");
      const std::string v = ini.Value();
      ini.setDefault("b");
      FUZZ_CHECK(v != "a" || ini.Value() != "b", "a listed key has no value: " + k);
      m += k + "=" + (trimValues ? trimmed(v, " \t") : v) + "\n";
    }
  }
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDrive drive("ini");
  const std::string_view text = fuzz::asText(data, size);
  fuzz::putFile(drive.root + "/in.ini", text);

  cInifile ini(drive.files);
  ini.setPath("C:\\in.ini");
  modelOf(ini);

  // A value made of the input's first bytes: NULs dropped, line breaks made blanks.
  const std::string added(text.substr(0, 40));
  std::string clean;
  for (char c : added)
    if (c != '\0') clean += (c == '\r' || c == '\n') ? ' ' : c;
  ini.setSection("Fuzz Added");
  ini.setKey("Fuzz Key");
  ini.setValue(added);
  FUZZ_CHECK(ini.Value() == clean, ini.Value() + " != " + clean);
  const std::string inMemory = modelOf(ini);
  FUZZ_CHECK(ini.Flush(), "flush failed");

  // Read again, the file shows what the object showed before the flush. Blanks at the ends of
  // values are compared trimmed: how they are kept is settled by the backup tests.
  cInifile back(drive.files);
  back.setPath("C:\\in.ini");
  FUZZ_CHECK(modelOf(back, true) == modelOf(ini, true), inMemory + "\n---\n" + modelOf(back));
  return 0;
}
