// Checks of application paths, fonts, help files, shared files and virtual device drivers.
#include "scan/Checks.h"

#include <optional>

namespace brisquell {

namespace {

// The text from the drive letter in front of the first ":\" on; empty when there is none.
// A ":\" at the very start leaves no drive letter to cut at: that is an error.
std::optional<std::string> fromDriveLetter(const std::string& v) {
  std::size_t p = v.find(":\\");
  if (p == std::string::npos) return std::nullopt;
  if (p == 0) throw invalidProcedureCall();
  return v.substr(p - 1);
}

}  // namespace

void CheckApplicationPath(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty()) return;
    a.valueText = RemoveEnter(a.valueText);
    std::string ext = GetFileExtension(a.valueText);
    if (ext != "tmp" && ext != "dll" && ext != "exe") return;
    const std::string& v = a.valueText;
    if (icontains(v, "%ProgramFiles%") || icontains(v, "%Systemroot%") ||
        icontains(v, "%commonprogramfiles%")) {
      ctx.CheckAllSystemdirectory(a);
      return;
    }
    ctx.RecordIfMissing(
        a, v.find('\\') != std::string::npos ? v : GetPathWithSlash(ctx.GetSystemDirectory()) + v);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckApplicationPath", e);
  }
}

void CheckWindowsFontpath(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty() || icontains(a.valueText, ".FON")) return;
    const std::string& v = a.valueText;
    ctx.RecordIfMissing(a, v.find('\\') != std::string::npos
                               ? v
                               : GetPathWithSlash(ctx.GetWindowsDirectory()) + "Fonts\\" + v);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckWindowsFontpath", e);
  }
}

void CheckHelpFilesPath(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty()) return;
    std::string full = GetPathWithSlash(a.valueText) + a.valueName;
    ctx.RecordIfMissing(a, full.find('\\') != std::string::npos
                               ? full
                               : GetPathWithSlash(ctx.GetSystemDirectory()) + a.valueText);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckHelpFilesPath", e);
  }
}

void CheckMicrosoftSharedPath(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty() || a.valueText.find('.') == std::string::npos) return;
    if (a.valueText.find('\\') != std::string::npos) {
      auto cut = fromDriveLetter(a.valueText);
      if (!cut) return;
      if (GetFileExtension(*cut).size() != 3) return;
      ctx.RecordIfMissing(a, *cut);
      return;
    }
    if (a.valueText.find('*') != std::string::npos) return;
    std::string path = GetPathWithSlash(ctx.GetSystemDirectory()) + a.valueText;
    if (GetFileExtension(a.valueText).size() != 3) return;
    ctx.RecordIfMissing(a, path);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckMicrosoftSharedPath", e);
  }
}

void CheckVirtualDeviceSection(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty() || a.valueText.find('.') == std::string::npos) return;
    if (a.valueText.find('\\') != std::string::npos) {
      auto cut = fromDriveLetter(a.valueText);
      if (!cut) return;
      ctx.RecordIfMissing(a, *cut);
      return;
    }
    ctx.RecordIfMissing(a, GetPathWithSlash(ctx.GetSystemDirectory()) + a.valueText);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckVirtualDeviceSection", e);
  }
}

}  // namespace brisquell
