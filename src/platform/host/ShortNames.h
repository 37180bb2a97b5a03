// Short (8.3) names as the target's own file system resolves them: installers write paths such
// as C:\PROGRA~1\App\app.exe, and such a path names an existing file.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace brisquell {

enum class ShortNameScheme {
  None,     // a "~" name is only ever a long name
  Wine,     // Wine's hashed names, computed from every entry's long name
  Ntfs,     // the names NTFS stored (ntfs-3g: extended attribute system.ntfs_dos_name); where
            // none can be read, the classic scheme NTFS made them by
  Classic,  // basis name + "~N", trusted only where one entry alone can own the name
};

/// A legal 8.3 name: at most 8 characters, a dot and 3 more, ASCII, none of the characters
/// DOS names exclude (Wine's rules, blanks excluded).
bool isLegal8dot3(std::string_view name);
/// A name that may be a generated short name: legal 8.3 and holding a "~".
bool isShortNameForm(std::string_view name);

/// How a Wine version forms the first part of a hashed name: Wine 8 and before turn dots into
/// "_" (".hidden.txt" -> "_HID~3H5.TXT"); later versions leave dots out ("HIDD~3H5.TXT").
/// A prefix may come from either, so both are accepted.
enum class WineShortForm { DotsReplaced, DotsSkipped };

/// The short name Wine gives an entry (upper case). certain is cleared when the name holds
/// characters whose lower-case form here may differ from Wine's, so the hash may too.
std::string wineShortName(std::string_view longName,
                          WineShortForm form = WineShortForm::DotsReplaced,
                          bool* certain = nullptr);

/// Reads the short name NTFS stored for a host file: Success, FileNotFound when it has none,
/// NotSupported when the file system keeps none at all, another status when it cannot be read.
using DosNameReader = std::function<Status(const std::string& hostPath, std::string& dosName)>;
Status readNtfsDosName(const std::string& hostPath, std::string& dosName);

struct ShortNameOwner {
  /// Success (index names the owner), FileNotFound (no entry can own the name) or
  /// NotSupported (it cannot be decided).
  Status status = Status::FileNotFound;
  std::size_t index = 0;
};

/// Which of a folder's entries (long names, host folder hostDir) owns a short name.
ShortNameOwner findShortNameOwner(ShortNameScheme scheme, std::string_view shortName,
                                  const std::vector<std::string>& names, const std::string& hostDir,
                                  const DosNameReader& dosNames);

}  // namespace brisquell
