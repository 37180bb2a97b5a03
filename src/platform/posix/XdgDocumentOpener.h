// Opening documents on a freedesktop system: the shared MIME database, xdg-mime and the
// desktop entries' Exec lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DocumentOpener.h"

namespace brisquell {

class XdgDocumentOpener final : public DocumentOpener {
 public:
  Program programFor(std::string_view document, std::string_view extension) override;
  bool start(const std::vector<std::string>& command) override;

  /// The MIME type the shared MIME database gives to files ending in ".extension".
  static std::optional<std::string> mimeTypeOf(std::string_view extension);
  /// The command line of the desktop entry that handles the MIME type, with the document put
  /// in; nullopt when no program is associated (xdg-mime missing included). lookupFailed:
  /// the lookup could not be run.
  static std::optional<std::vector<std::string>> commandFor(std::string_view mimeType,
                                                            std::string_view document,
                                                            bool& lookupFailed);
  /// The data folders of the desktop ($XDG_DATA_HOME, then $XDG_DATA_DIRS).
  static std::vector<std::string> dataFolders();
};

}  // namespace brisquell
