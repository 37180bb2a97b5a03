// Opening a document with the program the host system associates with its kind.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brisquell {

class DocumentOpener {
 public:
  enum class Lookup { Found, NoProgram, Failed };
  struct Program {
    Lookup lookup = Lookup::NoProgram;
    std::vector<std::string> command;  // when found: the program and its arguments
  };

  virtual ~DocumentOpener() = default;

  /// The command line of the program associated with files ending in ".extension", with
  /// `document` put in as one argument exactly as given. Failed: the lookup could not be run.
  virtual Program programFor(std::string_view document, std::string_view extension) = 0;
  /// Starts a command detached from this process; false when it could not be started.
  virtual bool start(const std::vector<std::string>& command) = 0;
};

/// The opener of the system this program runs on.
DocumentOpener& systemDocumentOpener();

}  // namespace brisquell
