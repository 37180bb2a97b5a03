// Which message goes with each way an opening can fail.
#include "shell/OpenWith.h"

#include "shell/ShellStart.h"

namespace brisquell {

OpenWith::Outcome OpenWith::open(UserInterface& ui, std::string_view document,
                                 std::string_view extension) {
  return open(systemDocumentOpener(), ui, document, extension);
}

OpenWith::Outcome OpenWith::open(DocumentOpener& opener, UserInterface& ui,
                                 std::string_view document, std::string_view extension) {
  DocumentOpener::Program program = opener.programFor(document, extension);
  switch (program.lookup) {
    case DocumentOpener::Lookup::Failed:
      ui.inform(kApplicationTitle, kCannotLookUp);
      return Outcome::LookupFailed;
    case DocumentOpener::Lookup::NoProgram:
      ui.warn(kNoApplicationTitle, kNoApplication);
      return Outcome::NoApplication;
    case DocumentOpener::Lookup::Found: break;
  }
  if (program.command.empty() || !opener.start(program.command)) {
    ui.warn(kNotOpenedTitle, kNotOpened);
    return Outcome::StartFailed;
  }
  return Outcome::Started;
}

bool OpenWith::start(const std::vector<std::string>& command) {
  return systemDocumentOpener().start(command);
}

}  // namespace brisquell
