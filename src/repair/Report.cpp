// The report is built whole and appended with one write, so a failed write is seen and said.
#include "repair/Report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/HostIo.h"
#include "platform/Text.h"

namespace brisquell {

std::string Report::text(const ProblemList& problems) {
  std::string out = "Brisquell\r\n\r\n";
  for (std::size_t i = 0; i < problems.size(); ++i) {
    out += std::to_string(i + 1);
    out += "->";
    out += problems[i].KeyValue;
    out += "\r\n\r\n";
  }
  return out;
}

bool Report::mnuFilePrintListofErrors_Click(std::string_view fileName) {
  if (ctx_.problems().empty()) return true;
  std::string name = trimBlanks(fileName);
  if (name.empty()) return true;
  std::string body = text(ctx_.problems());
  ctx_.doEvents();
  std::FILE* f = hostio::open(name, "ab");
  bool ok = f && std::fwrite(body.data(), 1, body.size(), f) == body.size();
  int err = errno;
  if (f && std::fclose(f) != 0) ok = false, err = errno;
  if (!ok) {
    ctx_.log().write("mnuFilePrintListofErrors_Click of frmMain", 75, "Path/File access error");
    ui_.warn("Brisquell", name + ": the report could not be written: " + std::strerror(err));
    return false;
  }
  ui_.inform("Brisquell", "File has been saved at :" + name);
  return true;
}

}  // namespace brisquell
