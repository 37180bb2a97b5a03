// Backup files: the records a backup file holds, written again as a backup writes them, read
// back to the same records and the same original values, byte for byte.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Text.h"
#include "repair/BackupSet.h"
#include "repair/cInifile.h"

using namespace brisquell;

namespace {

// A text field as the INI class writes and reads it back: NULs dropped, a line break (a lone
// CR can be read from a damaged file) made a blank, then trimmed like every value read.
std::string asWritten(const std::string& field) {
  std::string out;
  for (char c : field)
    if (c != '\0') out += (c == '\r' || c == '\n') ? ' ' : c;
  return trimmed(out, " \t");
}

std::string describe(const ProblemList& problems, const std::vector<BackupSet::Original>& o) {
  std::string s;
  FUZZ_CHECK(problems.size() == o.size(), "one original per record");
  for (std::size_t i = 0; i < problems.size(); ++i) {
    const ProblemRecord& r = problems[i];
    for (const std::string* f :
         {&r.MainKey, &r.KeyName, &r.KeyValue, &r.Section, &r.FullKeyPath, &r.MainKeyName})
      s += asWritten(*f) + "|";
    if (o[i].known)
      s += (o[i].existed ? "was " + std::to_string(o[i].type) + ":" +
                               BackupSet::toHex(o[i].data.data(), o[i].data.size())
                         : std::string("created")) +
           "@" + std::to_string(o[i].index) + " " + BackupSet::toHex(o[i].name) + " " +
           BackupSet::toHex(o[i].keyPath);
    s += "\n";
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ScratchDrive drive("backup");
  fuzz::putFile(drive.root + "/BrisquellBK1.bkp", fuzz::asText(data, size));

  cInifile in(drive.files);
  in.setPath("C:\\BrisquellBK1.bkp");
  ProblemList problems;
  std::vector<BackupSet::Original> originals;
  BackupSet::readRecords(in, problems, originals);
  const std::string read = describe(problems, originals);

  cInifile out(drive.files);
  out.setPath("C:\\BrisquellBK2.bkp");
  out.setSection(BackupSet::kInfoSection);
  out.setKey(BackupSet::kTimeKey);
  out.setValue("12/8/2026 5:35:34 PM");
  for (std::size_t i = 0; i < problems.size(); ++i)
    BackupSet::writeRecord(out, i + 1, problems[i], &originals[i]);
  FUZZ_CHECK(out.Flush(), "flush failed");

  cInifile back(drive.files);
  back.setPath("C:\\BrisquellBK2.bkp");
  ProblemList problems2;
  std::vector<BackupSet::Original> originals2;
  BackupSet::readRecords(back, problems2, originals2);
  FUZZ_CHECK(describe(problems2, originals2) == read,
             "records read back differently " +
                 fuzz::firstDifference(read, describe(problems2, originals2)));
  FUZZ_CHECK(BackupSet::list(drive.files, "C:\\").size() == 2, "both sets listed");
  return 0;
}
