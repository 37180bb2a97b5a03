// Scan driver: runs the ticked sections in order with the cancel tests between walks.
#include "scan/ScanDriver.h"

#include <algorithm>
#include <optional>

#include "scan/ExtraSections.h"
#include "scan/ShortcutScan.h"
#include "scan/Walkers.h"

namespace brisquell {

const FixedSection kFixedSections[13] = {
    {"Registry Integrity", "Medium"},
    {"ActiveX \\ COM", "High"},
    {"ActiveX \\ COM Subsections", "High"},
    {"File Extensions", "Medium"},
    {"Application Paths", "Medium"},
    {"Device Drivers", "Medium"},
    {"Windows Fonts", "Medium"},
    {"Help Files", "Low"},
    {"Microsoft Shared", "Medium"},
    {"Windows Startup", "Medium"},
    {"Uninstall Section", "Medium"},
    {"VxD Section", "Medium"},
    {"MS-Dos Shortcuts", "Medium"},
};

namespace {

enum class WalkKind { Keys, Values, Names };
struct Walk {
  WalkKind kind;
  KeyHandle root;
  std::string_view path;
  bool testBefore = true;
  bool wow64 = false;  // the 32-bit programs' view of a key that 64-bit Windows redirects
};

// 32-bit programs on 64-bit Windows register below these instead; on a registry without them
// the walks find nothing and the section's records are those of the native keys alone.
constexpr std::string_view kWowMachine = "SOFTWARE\\Wow6432Node\\Microsoft\\";
constexpr std::string_view kModernMuiCache =
    "Software\\Classes\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
struct SectionWalks {
  std::vector<Walk> walks;
  bool testedAfter;
};

SectionWalks walksOf(ScanContext& ctx, int position) {
  using enum WalkKind;
  static const std::string wowRun = std::string(kWowMachine) + "Windows\\CurrentVersion\\Run";
  static const std::string wowAppPaths =
      std::string(kWowMachine) + "Windows\\CurrentVersion\\App Paths";
  static const std::string wowHelp = std::string(kWowMachine) + "Windows\\Help";
  static const std::string wowHtmlHelp = std::string(kWowMachine) + "Windows\\HTML Help";
  static const std::string wowSharedTools = std::string(kWowMachine) + "Shared Tools";
  static const std::string wowSharedDlls =
      std::string(kWowMachine) + "Windows\\CurrentVersion\\SharedDLLs";
  static const std::string wowUninstall =
      std::string(kWowMachine) + "Windows\\CurrentVersion\\Uninstall";
  switch (position) {
    case 1:
      return {{{Names, hkey::ClassesRoot, "CLSID"},
               {Keys, hkey::ClassesRoot, "TypeLib"},
               {Keys, hkey::ClassesRoot, "Wow6432Node\\TypeLib", true, true}},
              false};
    case 2:
      return {{{Keys, hkey::ClassesRoot, "CLSID"},
               {Keys, hkey::ClassesRoot, "Wow6432Node\\CLSID", true, true}},
              true};
    case 3:
      return {{{Keys, hkey::LocalMachine, "SOFTWARE\\Classes\\CLSID"},
               {Keys, hkey::ClassesRoot, "Applications"},
               {Keys, hkey::LocalMachine, "SOFTWARE\\Classes\\Wow6432Node\\CLSID", true, true}},
              false};
    case 4:
      return {{{Keys, hkey::CurrentUser,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts"}},
              false};
    case 5:
      return {
          {{Keys, hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"},
           {Values, hkey::CurrentUser, "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache",
            false},
           {Keys, hkey::LocalMachine, wowAppPaths, true, true},
           {Values, hkey::CurrentUser, kModernMuiCache}},
          false};
    case 7:
      return {{{Values, hkey::LocalMachine,
                ctx.registry().GetVersion() == 2
                    ? "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
                    : "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts"}},
              true};
    case 8:
      return {{{Values, hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\Help"},
               {Values, hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\HTML Help"},
               {Values, hkey::LocalMachine, wowHelp, true, true},
               {Values, hkey::LocalMachine, wowHtmlHelp, true, true}},
              false};
    case 9:
      return {
          {{Keys, hkey::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools"},
           {Values, hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"},
           {Keys, hkey::LocalMachine, wowSharedTools, true, true},
           {Values, hkey::LocalMachine, wowSharedDlls, true, true}},
          false};
    case 10:
      return {{{Keys, hkey::LocalMachine, kRunKey},
               {Values, hkey::LocalMachine, kRunKey},
               {Keys, hkey::CurrentUser, kRunKey},
               {Values, hkey::CurrentUser, kRunKey},
               {Keys, hkey::CurrentUser,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start "
                "Menu\\Programs"},
               {Keys, hkey::LocalMachine, wowRun, true, true},
               {Values, hkey::LocalMachine, wowRun, true, true}},
              false};
    case 11:
      return {
          {{Keys, hkey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
           {Keys, hkey::LocalMachine, wowUninstall, true, true}},
          true};
    case 12:
      return {{{Values, hkey::LocalMachine,
                "SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers"}},
              true};
    default: return {{}, false};  // "Device Drivers" and "MS-Dos Shortcuts" walk nothing
  }
}

// A section's row and its progress row end alike, so the window and the command line show the
// same count; the progress row turns dark red only when the section found something.
void finishSection(ScanContext& ctx, SectionRow& row, std::size_t progressIndex) {
  std::size_t n = GetProblemsinActiveEx(ctx, row.name);
  row.problems = std::to_string(n) + " Registry Problems";
  row.status = "Finished";
  ProgressRow& p = ctx.progress()[progressIndex];
  p.status = row.status;
  p.problems = row.problems;
  p.darkRed = p.problems != "0 Registry Problems";
  ctx.observer().progressRowChanged(progressIndex);
}

}  // namespace

void LoadRegistryValues(ScanContext& ctx, ScanMode mode) {
  auto& rows = ctx.sections();
  rows.clear();
  std::size_t count = mode == ScanMode::Quick ? 12 : 13;
  for (std::size_t i = 0; i < count; ++i)
    rows.push_back(SectionRow{std::string(kFixedSections[i].name),
                              true,
                              {},
                              {},
                              std::string(kFixedSections[i].threatLevel)});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::string v = ctx.registry().QueryValueOrDefault(hkey::LocalMachine, kSettingsKey,
                                                       "Menu" + std::to_string(i), "True");
    std::optional<bool> ticked = truthValue(v);
    if (!ticked) {
      ctx.log().write("LoadRegistryValues", 13, "Type mismatch");
      return;
    }
    rows[i].ticked = *ticked;
  }
  const auto& choice = ctx.sectionChoice;
  auto listed = [&](std::string_view name) {
    if (!choice) return false;
    for (const std::string& c : *choice)
      if (c == name || c == "all") return true;
    return false;
  };
  const bool keepSwitches =
      !choice || std::find(choice->begin(), choice->end(), "default") != choice->end();
  for (SectionRow& r : rows) r.ticked = (keepSwitches && r.ticked) || listed(r.name);
  if (mode == ScanMode::Deep) GetFixedDrives(ctx);
  // The extra sections join the list only when chosen, so a scan without them lists, counts
  // and finds exactly what it always did.
  for (const ExtraSection& x : kExtraSections) {
    std::string v =
        ctx.registry().QueryValueOrDefault(hkey::LocalMachine, kSettingsKey, x.switchName, "False");
    const bool on = (keepSwitches && truthValue(v).value_or(false)) || listed(x.name);
    if (on)
      rows.push_back(SectionRow{std::string(x.name), true, {}, {}, std::string(x.threatLevel)});
  }
}

Result<std::vector<std::string>> chooseSections(std::string_view list) {
  std::vector<std::string> out;
  std::string names;
  for (const FixedSection& f : kFixedSections) names += "\n  " + std::string(f.name);
  for (const ExtraSection& x : kExtraSections) names += "\n  " + std::string(x.name);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    std::string item = trimBlanks(list.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    std::string found;
    if (iequals(item, "default")) found = "default";
    if (iequals(item, "all")) found = "all";
    for (const FixedSection& f : kFixedSections)
      if (iequals(item, f.name)) found = f.name;
    for (const ExtraSection& x : kExtraSections)
      if (iequals(item, x.name)) found = x.name;
    if (found.empty())
      return Result<std::vector<std::string>>::fail("there is no section \"" + item +
                                                    "\"; name default, all or these:" + names);
    out.push_back(found);
  }
  if (out.empty())
    return Result<std::vector<std::string>>::fail("no section named; name default, all or these:" +
                                                  names);
  return out;
}

std::string_view threatLevelOf(ScanContext& ctx, std::string_view section) {
  for (const SectionRow& s : ctx.sections())
    if (s.name == section) return s.threatLevel;
  if (const ExtraSection* x = findExtraSection(section)) return x->threatLevel;
  return {};
}

void GetFixedDrives(ScanContext& ctx) {
  for (const DriveInfo& d : ctx.files().drives()) {
    if (d.type == DriveFixed)
      ctx.sections().push_back(SectionRow{
          std::string("Windows Shortcuts(Drive ") + d.letter + ":)", true, {}, {}, "High"});
    ctx.doEvents();
  }
}

std::size_t GetProblemsinActiveEx(ScanContext& ctx, std::string_view section) {
  std::size_t n = 0;
  const std::size_t count = ctx.problems().size();
  for (std::size_t i = 0; i < count && i < ctx.problems().size(); ++i) {
    const ProblemRecord& r = ctx.problems()[i];
    if (r.Section == section && !r.MainKey.empty()) ++n;
    ctx.doEvents();
  }
  return n;
}

void ScanRegistryAndHardDisk(ScanContext& ctx) {
  auto& rows = ctx.sections();
  for (auto& r : rows) {
    r.status.clear();
    r.problems.clear();
    ctx.doEvents();
  }
  const std::size_t count = rows.size();
  for (std::size_t i = 1; i <= count; ++i) {
    if (rows[i - 1].ticked) {
      if (ctx.bCancelScan) return;
      SectionRow& row = rows[i - 1];
      row.status = "Scanning";
      ctx.progress().push_back(ProgressRow{row.name, row.status, {}, false});
      const std::size_t p = ctx.progress().size() - 1;
      ctx.observer().progressRowAdded(p);
      if (findExtraSection(row.name)) {
        runExtraSection(ctx, row.name);
        if (ctx.bCancelScan) return;
        finishSection(ctx, rows[i - 1], p);
      } else if (i <= 13) {
        SectionWalks s = walksOf(ctx, static_cast<int>(i));
        const std::string section = row.name;
        for (const Walk& w : s.walks) {
          if (w.testBefore && ctx.bCancelScan) return;
          const std::string path(w.path);
          const std::string_view rootName = brisquell::rootName(w.root);
          ctx.wow64View = w.wow64;
          switch (w.kind) {
            case WalkKind::Keys: EnumerateRegKeys(ctx, w.root, path, section, rootName); break;
            case WalkKind::Values:
              EnumerateRegKeyValues(ctx, w.root, path, section, rootName);
              break;
            case WalkKind::Names: EnumerateRegKeyNames(ctx, w.root, path); break;
          }
          ctx.wow64View = false;
        }
        if ((s.walks.empty() || s.testedAfter) && ctx.bCancelScan) return;
        finishSection(ctx, rows[i - 1], p);
      } else if (i <= 18) {
        ctx.observer().keyLabel("Scanning...");
        for (char letter = 'C'; letter <= 'G'; ++letter) {
          if (ctx.bCancelScan) return;
          std::string name = std::string("Windows Shortcuts(Drive ") + letter + ":)";
          if (rows[i - 1].name == name) {
            GetAllHardDrives(ctx, name);
            finishSection(ctx, rows[i - 1], p);
          }
        }
        if (ctx.bCancelScan) return;
      }
    }
    if (ctx.bCancelScan) return;
    ctx.observer().totalProblems(ctx.problems().size());
    ctx.doEvents();
  }
}

ScanOutcome runScan(ScanContext& ctx, ScanMode mode, UserInterface* ui) {
  if (ctx.scanning) return ScanOutcome::Refused;
  ctx.scanning = true;
  ListingCacheScope cache(ctx.files());
  LoadRegistryValues(ctx, mode);
  ctx.bCancelScan = false;
  ctx.problems().clear();
  ctx.leftOut = 0;
  ctx.progress().clear();
  ScanRegistryAndHardDisk(ctx);
  ctx.scanning = false;
  if (ctx.problems().empty() && !ctx.bCancelScan && ui)
    ui->inform(kProductName, kNoProblemsMessage);
  return ctx.bCancelScan ? ScanOutcome::Cancelled : ScanOutcome::Finished;
}

}  // namespace brisquell
