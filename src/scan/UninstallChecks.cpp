// Checks of uninstall entries and startup commands: command lines whose one or two file paths
// are picked out by position. Positions here count from 1 and 0 means "not found", which keeps
// the cutting rules readable next to the texts they describe.
#include "scan/Checks.h"

#include "scan/CommandLines.h"

namespace brisquell {

namespace {

std::size_t InStr(std::size_t start, std::string_view s, std::string_view t) {
  if (start == 0) throw invalidProcedureCall();
  if (start > s.size()) return 0;
  std::size_t p = s.find(t, start - 1);
  return p == std::string_view::npos ? 0 : p + 1;
}
std::size_t InStr(std::string_view s, std::string_view t) { return InStr(1, s, t); }

std::string Mid(std::string_view s, std::size_t start, std::size_t length = std::string::npos) {
  if (start == 0) throw invalidProcedureCall();
  if (start > s.size()) return {};
  return std::string(s.substr(start - 1, length));
}

std::string Left(std::string_view s, std::size_t n) { return std::string(s.substr(0, n)); }

// A path cut from a command line, trimmed after its extension when arguments still follow.
std::string trimAfterExtension(std::string path) {
  path = RemoveBackSlashandComma(path);
  if (std::size_t d = InStr(path, ".")) {
    std::string ext = RemoveEnter(Mid(path, d + 1));
    if (ext.size() != 3) path = Left(path, d + 3);
  }
  return path;
}

// The paths cut from a command line are tested as Windows starts it; other values as files.
void record(ScanContext& ctx, const CheckArgs& a, const std::string& path) {
  if (a.commandLine.empty())
    ctx.RecordIfMissing(a, path);
  else
    RecordCommandLineReference(ctx, a, path);
}

std::string toUpper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return u;
}

}  // namespace

void CheckUninstallFilePath(ScanContext& ctx, CheckArgs a) {
  try {
    const std::string name = toUpper(a.valueName);
    if (name == "UNINSTALLSTRING" || name == "UNINSTALLPATH")
      return CheckUninstallString(ctx, std::move(a));
    if (name == "QUIETUNINSTALLSTRING") return CheckQuietUninstallString(ctx, std::move(a));
    if (name == "MODIFYPATH") {
      a.commandLine = a.valueText;
      return CheckInstallSource(ctx, std::move(a));
    }
    if (name == "INSTALLSOURCE" || name == "DISPLAYICON")
      return CheckInstallSource(ctx, std::move(a));
  } catch (const TrappedError& e) {
    ctx.log().write("CheckUninstallFilePath", e);
  }
}

void CheckInstallSource(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty()) return;
    std::string v = RemoveEnter(a.valueText);
    if (!InStr(v, ".")) return;
    if (InStr(v, "\\")) {
      std::size_t p = InStr(v, ":\\");
      if (!p) return;
      v = RemoveBackSlashandComma(Mid(v, p - 1));
      record(ctx, a, v);
      return;
    }
    if (InStr(v, ":/")) return;
    v = RemoveBackSlashandComma(v);
    record(ctx, a, GetPathWithSlash(ctx.GetSystemDirectory()) + v);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckInstallSource", e);
  }
}

void CheckUninstallString(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.valueText.empty()) return;
    if (a.commandLine.empty()) a.commandLine = a.valueText;
    a.valueText = RemoveEnter(a.valueText);
    const std::string& v = a.valueText;
    std::size_t d1 = InStr(v, ".");
    if (!d1) return;
    if (std::size_t h = InStr(d1 + 1, v, "\\")) {
      if (!InStr(h + 1, v, ".")) return;
      CheckUninstallStringValue(ctx, a);
      return;
    }
    std::string s = RemoveBackSlashandComma(v);
    if (std::size_t m = InStr(s, "-"); m && !InStr(m, s, "\\")) s = Left(s, m - 1);
    s = RemoveEnter(s);
    if (std::size_t bl = InStr(s, " "); bl && !InStr(bl, s, "\\")) s = Mid(s, bl + 1);
    std::size_t dot = InStr(s, ".");
    std::string ext = dot ? trimBlanks(Mid(s, dot + 1)) : std::string();
    if (ext.size() != 3) return;
    if (!InStr(s, ":\\")) s = GetPathWithSlash(ctx.GetSystemDirectory()) + s;
    record(ctx, a, s);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckUninstallString", e);
  }
}

void CheckUninstallStringValue(ScanContext& ctx, CheckArgs a) {
  try {
    const std::string& v = a.valueText;
    std::size_t b = InStr(v, ":\\");
    if (!b) return;
    std::size_t c = InStr(b + 1, v, ":\\");
    if (!c) {
      record(ctx, a, RemoveBackSlashandComma(Mid(v, b - 1)));
      return;
    }
    record(ctx, a, trimAfterExtension(Mid(v, b - 1, c - 2)));
    record(ctx, a, trimAfterExtension(Mid(v, c - 1)));
  } catch (const TrappedError& e) {
    ctx.log().write("CheckUninstallStringValue", e);
  }
}

void CheckQuietUninstallString(ScanContext& ctx, CheckArgs a) {
  try {
    if (a.commandLine.empty()) a.commandLine = a.valueText;
    const std::string& v = a.valueText;
    std::size_t b = InStr(v, ".");
    if (!b) return;
    std::string s = Left(v, b + 3);
    if (!InStr(s, ":\\")) {
      CheckArgs sub = a;
      sub.valueText = s;
      RegistryValueCheck(ctx, std::move(sub));
    }
    std::size_t e = 0;
    std::size_t d = InStr(b + 1, v, ".");
    if (d) {
      s = Left(v, d + 3);
      e = InStr(s, " ");
      std::string t;
      if (e) t = InStr(e + 1, s, "\\") ? RemoveEnter(s) : RemoveEnter(Mid(s, e + 1));
      if (!InStr(t, "\\")) {
        CheckArgs sub = a;
        sub.valueText = t;
        RegistryValueCheck(ctx, std::move(sub));
      }
    }
    std::size_t p = d ? e : b;
    if (!p) return;
    std::size_t h = InStr(p + 1, v, "\\");
    if (h && InStr(h + 1, v, ".")) CheckUninstallStringValue(ctx, a);
  } catch (const TrappedError& e) {
    ctx.log().write("CheckQuietUninstallString", e);
  }
}

void RegistryValueCheck(ScanContext& ctx, CheckArgs a) {
  try {
    std::string v = a.valueText;
    std::size_t b = InStr(v, ".");
    std::string ext = b ? Mid(v, b + 1, b + 4) : std::string();
    if (ext.size() != 3) return;
    if (!InStr(v, ":\\")) {
      std::size_t bl = InStr(v, " ");
      v = ctx.GetSystemDirectory() + "\\" + (bl ? Mid(v, bl + 1) : v);
    }
    record(ctx, a, v);
  } catch (const TrappedError& e) {
    ctx.log().write("RegistryValueCheck", e);
  }
}

}  // namespace brisquell
