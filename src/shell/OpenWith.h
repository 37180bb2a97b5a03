// Opening a page or document with the program the desktop associates with its extension.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

  /// The MIME type the shared MIME database gives to files ending in ".extension".
  static std::optional<std::string> mimeTypeOf(std::string_view extension);
  /// The command line of the desktop entry that handles the MIME type, with the document put
  /// in; nullopt when no program is associated. lookupFailed: the lookup could not be run.
  static std::optional<std::vector<std::string>> commandFor(std::string_view mimeType,
                                                            std::string_view document,
                                                            bool& lookupFailed);
  /// Starts the command detached from this process; false when it could not be started.
  static bool start(const std::vector<std::string>& command);

  /// The data folders of the desktop ($XDG_DATA_HOME, then $XDG_DATA_DIRS).
  static std::vector<std::string> dataFolders();
};

}  // namespace brisquell
