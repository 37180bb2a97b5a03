// Scan driver: runs the ticked sections in order with the cancel tests between walks.
#include "scan/ScanDriver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

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

namespace {

enum class SectionEnd { Finished, Unfinished, Cancelled };

// The walks of the section at 1-based list position i; the caller finishes its row.
SectionEnd scanSection(ScanContext& ctx, std::size_t i, const std::string& name) {
  if (findExtraSection(name)) {
    runExtraSection(ctx, name);
    return ctx.bCancelScan ? SectionEnd::Cancelled : SectionEnd::Finished;
  }
  if (i <= 13) {
    SectionWalks s = walksOf(ctx, static_cast<int>(i));
    for (const Walk& w : s.walks) {
      if (w.testBefore && ctx.bCancelScan) return SectionEnd::Cancelled;
      const std::string path(w.path);
      const std::string_view rootName = brisquell::rootName(w.root);
      ctx.wow64View = w.wow64;
      switch (w.kind) {
        case WalkKind::Keys: EnumerateRegKeys(ctx, w.root, path, name, rootName); break;
        case WalkKind::Values: EnumerateRegKeyValues(ctx, w.root, path, name, rootName); break;
        case WalkKind::Names: EnumerateRegKeyNames(ctx, w.root, path); break;
      }
      ctx.wow64View = false;
    }
    if ((s.walks.empty() || s.testedAfter) && ctx.bCancelScan) return SectionEnd::Cancelled;
    return SectionEnd::Finished;
  }
  if (i <= 18) {
    ctx.observer().keyLabel("Scanning...");
    for (char letter = 'C'; letter <= 'G'; ++letter) {
      if (ctx.bCancelScan) return SectionEnd::Cancelled;
      if (name == std::string("Windows Shortcuts(Drive ") + letter + ":)") {
        GetAllHardDrives(ctx, name);
        return SectionEnd::Finished;
      }
    }
    return ctx.bCancelScan ? SectionEnd::Cancelled : SectionEnd::Unfinished;
  }
  return SectionEnd::Unfinished;
}

void startRow(ScanContext& ctx, SectionRow& row) {
  row.status = "Scanning";
  ctx.progress().push_back(ProgressRow{row.name, row.status, {}, false});
  ctx.observer().progressRowAdded(ctx.progress().size() - 1);
}

// One ticked section of a scan on two threads: it runs in a context of its own, and the main
// thread moves what it found into the scan's lists in the sections' order.
struct SectionTask {
  std::size_t position;  // 1-based, in the section list
  std::string name;
  bool mainOnly;  // reads shortcut files, which only the main thread may
  std::unique_ptr<ScanContext> sub;
  SectionEnd end = SectionEnd::Unfinished;
  bool started = false;
};

// A walker's yield point: on the main thread it runs the front end's events and turns a cancel
// there into a stop for both walkers; on the other it only heeds the stop.
class WalkerPump final : public EventPump {
 public:
  WalkerPump(ScanContext& scan, std::atomic<bool>& stop, bool mainThread)
      : scan_(scan), stop_(stop), main_(mainThread) {}
  void bind(ScanContext* sub) { sub_ = sub; }
  void pump() override {
    if (main_) {
      scan_.doEvents();
      if (scan_.bCancelScan) stop_ = true;
    }
    if (sub_ && stop_) sub_->bCancelScan = true;
  }

 private:
  ScanContext& scan_;
  std::atomic<bool>& stop_;
  bool main_;
  ScanContext* sub_ = nullptr;
};

// The labels of the main thread's walks still reach the front end; rows and counts come with
// the merge.
class LabelRelay final : public ScanObserver {
 public:
  explicit LabelRelay(ScanObserver& to) : to_(to) {}
  void keyLabel(std::string_view k) override { to_.keyLabel(k); }
  void valueLabel(std::string_view v) override { to_.valueLabel(v); }

 private:
  ScanObserver& to_;
};

class ParallelScan {
 public:
  ParallelScan(ScanContext& ctx, std::unique_ptr<RegistryStore> reader)
      : ctx_(ctx), reader_(std::move(reader)) {
    auto& rows = ctx.sections();
    for (std::size_t i = 1; i <= rows.size(); ++i)
      if (rows[i - 1].ticked)
        tasks_.push_back(SectionTask{i, rows[i - 1].name, i > 13 && i <= 18, nullptr});
    groupOwner_.assign(rows.size() + 1, 0);
  }

  void run() {
    if (ctx_.bCancelScan) return;
    std::exception_ptr failed;
    std::thread other([&] {
      try {
        walk(false);
      } catch (...) {
        failed = std::current_exception();
        stop_ = true;
      }
      std::lock_guard<std::mutex> hold(lock_);
      otherDone_ = true;
      wake_.notify_all();
    });
    try {
      walk(true);
    } catch (...) {
      stop_ = true;
      other.join();
      throw;
    }
    // Keeps the front end answering (and Ctrl-C heard) while the other walker finishes.
    std::unique_lock<std::mutex> hold(lock_);
    while (!otherDone_) {
      wake_.wait_for(hold, std::chrono::milliseconds(20));
      hold.unlock();
      ctx_.doEvents();
      if (ctx_.bCancelScan) stop_ = true;
      hold.lock();
    }
    hold.unlock();
    other.join();
    if (failed) std::rethrow_exception(failed);
    merge();
  }

 private:
  // The sections that walk the class registrations test the same files: on one thread, the
  // later ones find the earlier ones' answers in the file system's cache.
  static std::size_t groupOf(const SectionTask& t) { return t.position <= 3 ? 0 : t.position; }

  SectionTask* next(bool mainThread) {
    std::lock_guard<std::mutex> hold(lock_);
    if (stop_) return nullptr;
    const int self = mainThread ? 1 : 2;
    for (SectionTask& t : tasks_) {
      if (t.started || (t.mainOnly && !mainThread)) continue;
      int& owner = groupOwner_[groupOf(t)];
      if (owner && owner != self) continue;
      owner = self;
      t.started = true;
      return &t;
    }
    return nullptr;
  }

  void walk(bool mainThread) {
    WalkerPump pump(ctx_, stop_, mainThread);
    LabelRelay labels(ctx_.observer());
    RegistryStore& store = mainThread ? ctx_.registry().store() : *reader_;
    while (SectionTask* t = next(mainThread)) {
      t->sub = std::make_unique<ScanContext>(ctx_.target(), store);
      ScanContext& sub = *t->sub;
      sub.sections() = ctx_.sections();  // the drive walks look up their rows
      sub.log().hold();
      sub.setPump(&pump);
      if (mainThread) sub.setObserver(&labels);
      pump.bind(&sub);
      sub.bCancelScan = stop_;
      t->end = scanSection(sub, t->position, t->name);
      pump.bind(nullptr);
    }
  }

  // As the sections would have ended one after the other: a section stopped part way keeps
  // what it found and ends the scan; what later sections found is dropped.
  void merge() {
    auto& rows = ctx_.sections();
    std::size_t k = 0;
    for (std::size_t i = 1; i <= rows.size(); ++i) {
      if (rows[i - 1].ticked) {
        SectionTask& t = tasks_[k++];
        if (!t.started) {
          ctx_.bCancelScan = true;
          return;
        }
        startRow(ctx_, rows[i - 1]);
        const std::size_t p = ctx_.progress().size() - 1;
        for (ProblemRecord& r : t.sub->problems().rows()) ctx_.addProblem(std::move(r));
        t.sub->log().moveHeldInto(ctx_.log());
        t.sub.reset();
        if (t.end == SectionEnd::Cancelled) {
          ctx_.bCancelScan = true;
          return;
        }
        if (t.end == SectionEnd::Finished) finishSection(ctx_, rows[i - 1], p);
      }
      if (ctx_.bCancelScan) return;
      ctx_.observer().totalProblems(ctx_.problems().size());
      ctx_.doEvents();
    }
  }

  ScanContext& ctx_;
  std::unique_ptr<RegistryStore> reader_;
  std::vector<SectionTask> tasks_;
  std::vector<int> groupOwner_;  // per group: 0 none yet, 1 the main thread, 2 the other
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::condition_variable wake_;
  bool otherDone_ = false;
};

// A second walker pays only where there are two cores, two sections and a target that can
// be read from two threads.
std::unique_ptr<RegistryStore> secondWalkerStore(ScanContext& ctx) {
  if (ctx.walkers < 2 || std::thread::hardware_concurrency() < 2) return nullptr;
  if (!ctx.files().concurrentReads()) return nullptr;
  std::size_t ticked = 0;
  for (const SectionRow& r : ctx.sections()) ticked += r.ticked;
  if (ticked < 2) return nullptr;
  return ctx.registry().store().concurrentReader();
}

}  // namespace

void ScanRegistryAndHardDisk(ScanContext& ctx) {
  auto& rows = ctx.sections();
  for (auto& r : rows) {
    r.status.clear();
    r.problems.clear();
    ctx.doEvents();
  }
  if (auto reader = secondWalkerStore(ctx)) {
    ParallelScan(ctx, std::move(reader)).run();
    return;
  }
  const std::size_t count = rows.size();
  for (std::size_t i = 1; i <= count; ++i) {
    if (rows[i - 1].ticked) {
      if (ctx.bCancelScan) return;
      startRow(ctx, rows[i - 1]);
      const std::size_t p = ctx.progress().size() - 1;
      const SectionEnd end = scanSection(ctx, i, rows[i - 1].name);
      if (end == SectionEnd::Cancelled) return;
      if (end == SectionEnd::Finished) finishSection(ctx, rows[i - 1], p);
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
