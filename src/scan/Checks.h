// The section checks: each decides whether the file a value names is missing and records it.
#pragma once

#include "scan/ScanContext.h"

namespace brisquell {

/// Hands one value (or one empty key) to the check of its section.
void CheckPathExistinDirectory(ScanContext& ctx, std::string_view valueText,
                               std::string_view section, std::string_view valueName,
                               std::int32_t rootKey, std::string_view rootName,
                               std::string_view keyPath);

void CheckRegistryActiveXComponent(ScanContext& ctx, CheckArgs a);
void CheckRegistryIntegrity(ScanContext& ctx, CheckArgs a);
void CheckFileExtensionList(ScanContext& ctx, CheckArgs a);

void CheckApplicationPath(ScanContext& ctx, CheckArgs a);
void CheckWindowsFontpath(ScanContext& ctx, CheckArgs a);
void CheckHelpFilesPath(ScanContext& ctx, CheckArgs a);
void CheckMicrosoftSharedPath(ScanContext& ctx, CheckArgs a);
void CheckVirtualDeviceSection(ScanContext& ctx, CheckArgs a);

void CheckUninstallFilePath(ScanContext& ctx, CheckArgs a);
void CheckInstallSource(ScanContext& ctx, CheckArgs a);
void CheckUninstallString(ScanContext& ctx, CheckArgs a);
void CheckUninstallStringValue(ScanContext& ctx, CheckArgs a);
void CheckQuietUninstallString(ScanContext& ctx, CheckArgs a);
void RegistryValueCheck(ScanContext& ctx, CheckArgs a);

}  // namespace brisquell
