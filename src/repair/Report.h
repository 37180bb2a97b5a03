// The problem report: the problem list as plain text, appended to a file the user names.
#pragma once

#include <string>
#include <string_view>

#include "platform/UserInterface.h"
#include "scan/ScanContext.h"

namespace brisquell {

class Report {
 public:
  Report(ScanContext& ctx, UserInterface& ui) : ctx_(ctx), ui_(ui) {}

  /// Appends the report to the host file `fileName` (blanks around it ignored); does nothing
  /// for an empty list or a blank name. False when the file could not be written.
  bool mnuFilePrintListofErrors_Click(std::string_view fileName);

  /// "Brisquell", an empty line, then "i->KeyValue" and an empty line per problem; CR LF.
  static std::string text(const ProblemList& problems);

 private:
  ScanContext& ctx_;
  UserInterface& ui_;
};

}  // namespace brisquell
