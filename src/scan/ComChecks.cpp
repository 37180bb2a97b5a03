// The dispatcher and the checks of COM registrations, registry integrity and file extensions.
#include "scan/Checks.h"

namespace brisquell {

namespace {
bool equalsUpper(std::string_view a, std::string_view upper) {
  if (a.size() != upper.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != upper[i]) return false;
  }
  return true;
}

std::string_view lastComponent(std::string_view path) {
  std::size_t b = path.rfind('\\');
  return b == std::string_view::npos ? path : path.substr(b + 1);
}

// iequals() against a name of ASCII letters: only a text of its own length can match, since
// folding never turns other characters (or a bad byte) into ASCII. Run for every COM value.
bool isName(std::string_view k, std::string_view asciiName) {
  return k.size() == asciiName.size() && iequals(k, asciiName);
}

// A ProgID key names a class ("WMPlayer.OCX"), not a file: removing it would break a working
// registration.
bool namesAClass(std::string_view keyPath) {
  std::string_view k = lastComponent(keyPath);
  return isName(k, "ProgID") || isName(k, "VersionIndependentProgID");
}

// "C:\\App\\app.exe.FriendlyAppName" -> "C:\\App\\app.exe"; a name without such a suffix is the
// program itself.
std::string modernMuiProgram(std::string_view name) {
  for (std::string_view suffix :
       {std::string_view(".FriendlyAppName"), std::string_view(".ApplicationCompany")})
    if (name.size() > suffix.size() && iequals(name.substr(name.size() - suffix.size()), suffix))
      return std::string(name.substr(0, name.size() - suffix.size()));
  return std::string(name);
}

// 16-bit servers cannot run on 64-bit Windows, which keeps their registrations without files.
bool sixteenBitServer(std::string_view keyPath) {
  std::string_view k = lastComponent(keyPath);
  return isName(k, "InprocServer") || isName(k, "LocalServer") || isName(k, "InprocHandler");
}
// The COM check's first steps on the walk's own text, before anything is copied: true when
// the check would return at once without testing a file. Most values of a class key (names,
// threading models, ProgIDs) end here.
bool comCheckSkips(std::string_view valueText, std::string_view keyPath) {
  if (valueText.empty() || namesAClass(keyPath)) return true;
  if (sixteenBitServer(keyPath)) return false;  // the check tests for SysWOW64 first
  std::string_view v = valueText;               // as RemoveEnter trims it
  while (!v.empty() && (v.front() == '"' || v.front() == '\r' || v.front() == ' '))
    v.remove_prefix(1);
  while (!v.empty() && (v.back() == '"' || v.back() == '\n' || v.back() == ' ')) v.remove_suffix(1);
  if (v.find('.') == std::string_view::npos) return true;
  std::string ext = GetFileExtension(v);
  return ext != "dll" && ext != "ax" && ext != "ocx";
}
}  // namespace

void CheckPathExistinDirectory(ScanContext& ctx, std::string_view valueText,
                               std::string_view section, std::string_view valueName,
                               std::int32_t rootKey, std::string_view rootName,
                               std::string_view keyPath) {
  if (ctx.bCancelScan) return;
  ctx.forgetTested();
  const bool com = section == "ActiveX \\ COM" || section == "ActiveX \\ COM Subsections" ||
                   section == "User Classes";
  if (com && comCheckSkips(valueText, keyPath)) return;
  CheckArgs a{rootKey,
              std::string(rootName),
              std::string(valueName),
              std::string(valueText),
              std::string(section),
              std::string(keyPath),
              {}};
  if (section == "Registry Integrity") return CheckRegistryIntegrity(ctx, std::move(a));
  if (section == "ActiveX \\ COM" || section == "ActiveX \\ COM Subsections")
    return CheckRegistryActiveXComponent(ctx, std::move(a));
  if (section == "File Extensions") return CheckFileExtensionList(ctx, std::move(a));
  if (section == "User Classes") return CheckRegistryActiveXComponent(ctx, std::move(a));
  if (section == "Application Paths") {
    if (equalsUpper(keyPath, "SOFTWARE\\MICROSOFT\\WINDOWS\\SHELLNOROAM\\MUICACHE")) {
      if (!valueName.empty() && valueName.front() == '@') return;
      a.valueText = std::string(valueName);
      // The name serves as both name and text, so the check's cleaning shows in the record.
      a.valueName = RemoveEnter(valueName);
    } else if (equalsUpper(keyPath,
                           "SOFTWARE\\CLASSES\\LOCAL SETTINGS\\SOFTWARE\\MICROSOFT\\"
                           "WINDOWS\\SHELL\\MUICACHE")) {
      // Windows 7 and later name the program, then what the value holds of it.
      if (valueName.empty() || valueName.front() == '@') return;
      a.valueText = modernMuiProgram(valueName);
    }
    return CheckApplicationPath(ctx, std::move(a));
  }
  if (section == "Windows Fonts") return CheckWindowsFontpath(ctx, std::move(a));
  if (section == "Help Files") return CheckHelpFilesPath(ctx, std::move(a));
  if (section == "Microsoft Shared") {
    if (equalsUpper(keyPath, "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHAREDDLLS") ||
        equalsUpper(keyPath,
                    "SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHAREDDLLS"))
      a.valueText = std::string(valueName);
    return CheckMicrosoftSharedPath(ctx, std::move(a));
  }
  if (section == "Windows Startup") return CheckUninstallString(ctx, std::move(a));
  if (section == "Uninstall Section") return CheckUninstallFilePath(ctx, std::move(a));
  if (section == "VxD Section") return CheckVirtualDeviceSection(ctx, std::move(a));
}

void CheckRegistryActiveXComponent(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty() || namesAClass(a.keyPath)) return;
    if (sixteenBitServer(a.keyPath) &&
        ctx.FileOrFolderExists(GetPathWithSlash(ctx.GetWindowsDirectory()) + "SysWOW64"))
      return;
    a.valueText = RemoveEnter(a.valueText);
    if (a.valueText.find('.') == std::string::npos) return;
    std::string ext = GetFileExtension(a.valueText);
    if (ext != "dll" && ext != "ax" && ext != "ocx") return;
    const std::string& v = a.valueText;
    if (icontains(v, "%Sysroot%") || icontains(v, "%Systemroot%") ||
        icontains(v, "%ProgramFiles%") || icontains(v, "%commonprogramfiles%")) {
      ctx.CheckAllSystemdirectory(a);
      return;
    }
    std::string path =
        v.find('\\') != std::string::npos ? v : GetPathWithSlash(ctx.GetSystemDirectory()) + v;
    ctx.RecordIfMissing(a, path);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckRegistryActiveXComponent", e);
  }
}

void CheckRegistryIntegrity(ScanContext& ctx, CheckArgs a) {
  const std::size_t before = ctx.problems().size();
  ctx.AddProblem(a.rootKey, "", "(value not set)", a.section, a.keyPath, a.rootName);
  if (ctx.problems().size() > before)
    ctx.problems().rows().back().Reason = "the key holds no value";
}

void CheckFileExtensionList(ScanContext& ctx, CheckArgs a) {
  const std::size_t before = ctx.problems().size();
  ctx.AddProblem(a.rootKey, "", a.keyPath, a.section, a.keyPath, a.rootName);
  if (ctx.problems().size() > before)
    ctx.problems().rows().back().Reason = "the key holds no value";
}

}  // namespace brisquell
