// Opening a page or document with the program the system associates with its extension, and
// what the user is told when that cannot be done.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/DocumentOpener.h"
#include "platform/UserInterface.h"

namespace brisquell {

class OpenWith {
 public:
  static constexpr std::string_view kCannotLookUp = "Sorry! file  cannot be created.";
  static constexpr std::string_view kNoApplication = "Could not find associated application!";
  static constexpr std::string_view kNoApplicationTitle = "Browser Not Found";
  static constexpr std::string_view kNotOpened = "Page not Opened.";
  static constexpr std::string_view kNotOpenedTitle = "URL Failed";

  enum class Outcome { Started, LookupFailed, NoApplication, StartFailed };

  /// Finds the program for `extension` (without the dot) and starts it with `document` as its
  /// one argument, exactly as given; says why through ui when it cannot.
  static Outcome open(UserInterface& ui, std::string_view document, std::string_view extension);
  static Outcome open(DocumentOpener& opener, UserInterface& ui, std::string_view document,
                      std::string_view extension);

  /// Starts the command detached from this process; false when it could not be started.
  static bool start(const std::vector<std::string>& command);
};

}  // namespace brisquell
