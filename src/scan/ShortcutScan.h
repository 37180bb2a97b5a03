// The shortcut scan of the deep scan: broken .lnk files on the fixed drives.
#pragma once

#include <string>
#include <string_view>

#include "scan/ScanContext.h"

namespace brisquell {

/// Finds the fixed drive that a drive section names and scans it when its section is ticked.
/// Always returns the empty text.
std::string GetAllHardDrives(ScanContext& ctx, std::string_view sectionName);
/// Scans one drive ("C:\") when it is ready and its volume can be read.
void ScanDrive(ScanContext& ctx, std::string_view root, std::string_view sectionName);
/// Walks one folder's files, then each of its sub folders (symbolic links are not followed,
/// except into the folders the target lists in linkedShellFolders()).
void FindFilesAPI(ScanContext& ctx, std::string_view folder, std::string_view sectionName);
/// Letter and colon of the machine's last CD-ROM drive, or the empty text.
std::string GetCdRom(ScanContext& ctx);
/// The shortcut's target path; empty when it cannot be read.
std::string GetTarget(ScanContext& ctx, std::string_view shortcutPath);
/// Records one broken shortcut as a file problem.
void FileTargetPath(ScanContext& ctx, std::string_view shortcutPath, std::string_view target,
                    std::string_view sectionName);
/// The text before the first NUL character.
std::string StripNulls(std::string_view s);

}  // namespace brisquell
