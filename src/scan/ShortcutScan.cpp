// Shortcut scan over the target's drives: walks each fixed drive and records every shortcut
// whose target is gone.
#include "scan/ShortcutScan.h"

namespace brisquell {

namespace {

constexpr std::uint32_t kFileAttributes =
    0x1A7;  // read-only, hidden, system, archive, normal, temporary

std::string driveText(char letter) { return std::string("Drive ") + letter + ": "; }

// The text between the first "(" and the first ")"; false when the name lacks either.
bool textInParentheses(std::string_view s, std::string& out) {
  std::size_t a = s.find('(');
  std::size_t b = s.find(')');
  if (a == std::string_view::npos || b == std::string_view::npos) return false;
  out = b > a ? std::string(s.substr(a + 1, b - a - 1)) : std::string();
  return true;
}

TrappedError listingError(Status status) {
  if (status == Status::PathNotFound) return pathNotFound();
  return untestablePath(status);
}

bool isLinkedShellFolder(ScanContext& ctx, const std::string& path) {
  for (const std::string& f : ctx.target().linkedShellFolders())
    if (iequals(f, path)) return true;
  return false;
}

}  // namespace

std::string GetAllHardDrives(ScanContext& ctx, std::string_view sectionName) {
  try {
    for (const DriveInfo& d : ctx.files().drives()) {
      const std::string text = driveText(d.letter);
      if (d.type == DriveFixed) {
        for (const SectionRow& row : ctx.sections()) {
          if (ctx.bCancelScan) return {};
          std::string inner;
          if (!row.ticked || !textInParentheses(row.name, inner)) continue;
          if (trimBlanks(inner) != trimBlanks(text)) continue;
          if (d.ready && sectionName == std::string("Windows Shortcuts(Drive ") + d.letter + ":)") {
            ScanDrive(ctx, std::string(1, d.letter) + ":\\", sectionName);
            return {};
          }
        }
      }
      ctx.doEvents();
    }
  } catch (const TrappedError& e) {
    ctx.log().write("GetAllHardDrives", e);
  }
  return {};
}

void ScanDrive(ScanContext& ctx, std::string_view root, std::string_view sectionName) {
  if (ctx.bCancelScan) return;
  try {
    if (ctx.files().volumeInformation(root)) FindFilesAPI(ctx, root, sectionName);
  } catch (const TrappedError& e) {
    ctx.log().write("ScanDrive", e);
  }
}

void FindFilesAPI(ScanContext& ctx, std::string_view folderIn, std::string_view sectionName) {
  std::string folder(folderIn);
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  std::vector<std::string> subFolders;
  try {
    std::vector<DirEntry> entries;
    const Status st = ctx.files().find(folder + "*", entries);
    if (st == Status::FileNotFound) return;  // an empty folder
    if (st != Status::Success) throw listingError(st);
    for (const DirEntry& e : entries) {
      ctx.doEvents();
      if (ctx.bCancelScan) return;
      const std::string name = StripNulls(e.name);
      if (name == "." || name == "..") continue;
      // The listing carries each entry's attributes: no second query per entry.
      if (e.attributes & fileattr::Directory) {
        // A link to a folder may lead back up the tree; the walk stays on real folders, and
        // on the profile folders the target links to the user's own (Wine's Desktop).
        if (!(e.attributes & fileattr::ReparsePoint) || isLinkedShellFolder(ctx, folder + name))
          subFolders.push_back(name);
        continue;
      }
      if (!(e.attributes & kFileAttributes)) continue;
      const std::string full = folder + name;
      ctx.observer().valueLabel(full);
      std::size_t dot = name.rfind('.');
      if (GetFileExtension(name) != "lnk" || name.size() - dot - 1 != 3) continue;
      if (icontains(full, "Temporary Internet Files") || icontains(full, "Recycled")) continue;
      const std::string target = GetTarget(ctx, full);
      const std::string cdRom = GetCdRom(ctx);
      if (!cdRom.empty() && icontains(target, cdRom + "\\")) continue;
      if (icontains(target, "NODE") || target.find('.') == std::string::npos) continue;
      ctx.forgetTested();  // evidence of this shortcut only, not of the whole walk
      if (!ctx.FileOrFolderExists(target)) FileTargetPath(ctx, full, target, sectionName);
    }
  } catch (const TrappedError& e) {
    ctx.log().write("FindFilesAPI", e);
    return;
  }
  for (const std::string& sub : subFolders) {
    if (ctx.bCancelScan) return;
    FindFilesAPI(ctx, folder + sub + "\\", sectionName);
    ctx.doEvents();
  }
}

std::string GetCdRom(ScanContext& ctx) {
  std::string result;
  try {
    for (const DriveInfo& d : ctx.files().drives()) {
      if (d.type == DriveCdRom) {
        const std::string text = driveText(d.letter);
        result = trimBlanks(text.substr(text.find(' ')));
      }
      ctx.doEvents();
    }
  } catch (const TrappedError& e) {
    ctx.log().write("GetCdRom", e);
  }
  return result;
}

std::string GetTarget(ScanContext& ctx, std::string_view shortcutPath) {
  // A damaged or unreadable file gives the empty text, which the walk skips; one the reader
  // refused as damaged or oversized is logged.
  ShortcutReader& reader = ctx.target().shortcuts();
  std::string target = reader.targetPath(shortcutPath);
  if (target.empty())
    if (std::string why = reader.lastProblem(); !why.empty()) ctx.log().write("GetTarget", 5, why);
  return target;
}

void FileTargetPath(ScanContext& ctx, std::string_view shortcutPath, std::string_view target,
                    std::string_view sectionName) {
  ProblemRecord r;
  r.MainKey = sectionName;
  r.KeyValue = std::string(target) + " -> " + std::string(shortcutPath);
  r.Section = sectionName;
  r.FullKeyPath = shortcutPath;
  r.testedPaths = {std::string(target)};
  r.ValueText = target;
  r.TestedPath = target;
  ctx.addProblem(std::move(r));
}

std::string StripNulls(std::string_view s) {
  std::size_t n = s.find('\0');
  return std::string(n == std::string_view::npos ? s : s.substr(0, n));
}

}  // namespace brisquell
