// Repair with a lossless backup: everything the run will delete is on disk in the backup set
// before the first deletion, and each deletion is checked afterwards.
#include "repair/Repair.h"

#include <fmt/format.h>

#include "platform/TargetChanges.h"
#include "repair/BackupArchive.h"
#include "repair/cInifile.h"
#include "scan/ScanDriver.h"
#include "shell/Settings.h"

namespace brisquell {

namespace {

constexpr std::string_view kTitle = "Brisquell";

std::string describe(const ProblemRecord& r) {
  if (r.isFileProblem()) return r.FullKeyPath;
  return fmt::format("{}\\{} - {}", r.MainKeyName, r.FullKeyPath, r.KeyName);
}

}  // namespace

Repair::Repair(ScanContext& ctx, UserInterface& ui)
    : ctx_(ctx), ui_(ui), clock_([] { return BackupSet::Clock::now(); }) {}

std::string Repair::question() {
  return std::string(kProductName) +
         " will now fix your Windows Registry problems. Do you want to proceed? ";
}

std::string Repair::endMessage(std::size_t found, std::size_t fixed, std::size_t kept) {
  std::string text = fmt::format(
      "Windows Registry has been cleaned.\r\n\r\nProblems found: {}\r\nProblems fixed: {}", found,
      fixed);
  if (kept)
    text += fmt::format("\r\nProblems kept: {} (listed again in a row that is not ticked)", kept);
  return text;
}

// One value can be listed by several rows (a COM server under two sections; HKCR and
// HKLM\SOFTWARE\Classes are the same keys). The user keeps it by leaving any of them unticked.
void Repair::markKept(std::vector<RowState>& rows) {
  ProblemList& problems = ctx_.problems();
  RegistryStore& store = ctx_.registry().store();
  std::vector<std::string> ids(problems.size());
  std::unordered_map<std::string, bool> unticked;  // identity -> some row of it is unticked
  for (std::size_t n = 0; n < problems.size(); ++n) {
    const ProblemRecord& r = problems[n];
    if (r.isFileProblem()) {
      ids[n] = "file\n" + foldCase(r.FullKeyPath);
    } else if (auto root = BackupSet::rootOf(r.MainKey)) {
      const std::string name = r.KeyName == "(Default)" ? std::string() : r.KeyName;
      ids[n] = BackupSet::keyIdentity(store, *root, r.FullKeyPath) + "\n" + foldCase(name);
    } else {
      continue;
    }
    unticked[ids[n]] |= !r.checked;
  }
  for (std::size_t n = 0; n < problems.size(); ++n)
    rows[n].kept = problems[n].checked && !ids[n].empty() && unticked[ids[n]];
}

void Repair::captureOriginal(RowState& row, const ProblemRecord& r) {
  BackupSet::Original& o = row.original;
  o.known = true;
  o.name = row.name;
  o.keyPath = r.FullKeyPath;
  RegistryStore& store = ctx_.registry().store();
  KeyHandle h = 0;
  if (store.openKey(*row.root, r.FullKeyPath, keyaccess::AllAccess, h) != Status::Success) return;
  ScopedKey key(store, h);
  o.existed = store.queryValueRaw(h, row.name, o.type, o.data) == Status::Success;
  if (!o.existed) return;
  auto [it, added] =
      positions_.try_emplace(BackupSet::keyIdentity(store, *row.root, r.FullKeyPath));
  if (added) {
    std::string name;
    std::uint32_t type;
    Bytes data;
    for (std::uint32_t i = 0; store.enumValueRaw(h, i, name, type, data) == Status::Success; ++i)
      it->second.try_emplace(foldCase(name), i);
  }
  auto pos = it->second.find(foldCase(row.name));
  o.index = pos == it->second.end() ? -1 : pos->second;
}

bool Repair::backUp(std::vector<RowState>& rows, RepairResult& result, bool takeBackup) {
  ProblemList& problems = ctx_.problems();
  BackupArchive archive(ctx_.files());
  for (std::size_t n = 0; n < problems.size(); ++n) {
    const ProblemRecord& r = problems[n];
    RowState& row = rows[n];
    if (!r.checked || row.kept) continue;
    if (!r.isFileProblem()) {
      row.root = BackupSet::rootOf(r.MainKey);
      row.name = r.valueName();
      if (takeBackup && row.root) captureOriginal(row, r);
      continue;
    }
    if (!takeBackup) continue;
    std::uint32_t attrs = 0;
    Status st = ctx_.files().attributes(r.FullKeyPath, attrs);
    if (st == Status::FileNotFound || st == Status::PathNotFound) {
      row.missing = true;
    } else if (st != Status::Success || (attrs & fileattr::Directory)) {
      row.backupError = st != Status::Success
                            ? fmt::format("the file cannot be reached (error {})", st)
                            : std::string("a folder, not a file");
    } else if (std::string why; archive.add(r.FullKeyPath, why)) {
      row.archived = true;
    } else {
      row.backupError = why;
    }
  }
  if (!takeBackup) return true;

  const std::string folder = BackupSet::folderOf(ctx_.target().machine().installFolder);
  std::string dir = folder.substr(0, folder.size() - 1);
  if (Status st = ctx_.files().createDirectory(dir); st != Status::Success) {
    result.error = fmt::format("the backup folder {} could not be created (error {})", dir, st);
    return false;
  }
  std::string base = BackupSet::baseName(folder, clock_());
  std::uint32_t attrs;
  for (int k = 2; ctx_.files().attributes(base + ".bkp", attrs) == Status::Success ||
                  ctx_.files().attributes(base + ".zip", attrs) == Status::Success;
       ++k)
    base = BackupSet::baseName(folder, clock_()) + "-" + std::to_string(k);

  if (archive.size() > 0) {
    result.archiveFile = base + ".zip";
    if (!archive.write(result.archiveFile, result.error)) {
      ctx_.files().deleteFile(result.archiveFile);
      result.archiveFile.clear();
      return false;
    }
  }
  cInifile ini(ctx_.files());
  ini.setPath(base + ".bkp");
  ini.setSection(BackupSet::kInfoSection);
  ini.setKey(BackupSet::kTimeKey);
  ini.setValue(BackupSet::generalDate(clock_()));
  for (std::size_t n = 0; n < problems.size(); ++n)
    if (problems[n].checked && !rows[n].kept)
      BackupSet::writeRecord(ini, n + 1, problems[n],
                             rows[n].original.known ? &rows[n].original : nullptr);
  if (!ini.Flush()) {
    result.error = fmt::format("the backup file {} could not be written", base + ".bkp");
    if (!result.archiveFile.empty()) ctx_.files().deleteFile(result.archiveFile);
    result.archiveFile.clear();
    return false;
  }
  result.backupFile = base + ".bkp";
  return true;
}

bool Repair::fixValue(const ProblemRecord& r, RowState& row, std::string& why) {
  if (!row.root) {
    why = fmt::format("its root key \"{}\" is not a number", r.MainKey);
    return false;
  }
  RegistryAccess& reg = ctx_.registry();
  // Gone is fixed, also when an earlier row (or the user) already removed it.
  if (r.unnamed) {
    KeyHandle h = 0;
    if (reg.store().openKey(*row.root, r.FullKeyPath, keyaccess::AllAccess, h) != Status::Success)
      return true;
    reg.store().closeKey(h);
    if (reg.WriteRegistryValue(*row.root, r.FullKeyPath, "", "")) return true;
  } else {
    const Status st = reg.DeleteValue(*row.root, r.FullKeyPath, row.name);
    if (st == Status::Success || st == Status::FileNotFound) return true;
  }
  why = "the registry refused the change";
  return false;
}

bool Repair::fixFile(const ProblemRecord& r, RowState& row, bool takeBackup, std::string& why) {
  FileSystem& files = ctx_.files();
  if (takeBackup && !row.backupError.empty()) {
    why = "not deleted: the backup could not take it: " + row.backupError;
    return false;
  }
  if (!takeBackup || row.archived) files.deleteFile(r.FullKeyPath);
  std::uint32_t attrs = 0;
  Status st = files.attributes(r.FullKeyPath, attrs);
  if (st == Status::FileNotFound || st == Status::PathNotFound) return true;
  why = st == Status::Success ? std::string("the file could not be deleted")
                              : fmt::format("the file cannot be reached (error {})", st);
  return false;
}

RepairResult Repair::cmdRepairCorruptFiles_Click() {
  RepairResult result;
  ProblemList& problems = ctx_.problems();
  result.found = problems.size();
  if (problems.empty()) {
    ui_.inform(kTitle, kNothingMessage);
    result.outcome = RepairResult::Outcome::NothingToRepair;
    return result;
  }
  // Nothing is asked, backed up or deleted while the target must not be written.
  TargetChanges changes(ctx_.target());
  Outcome allowed;
  runStep(runner_, [&] { allowed = changes.begin(); });  // may wait for another program's lock
  if (!allowed) {
    result.outcome = RepairResult::Outcome::Refused;
    result.error = allowed.message();
    ui_.warn(kTitle, "Nothing can be repaired now: " + result.error);
    return result;
  }
  if (!ui_.askYesNo(kTitle, question())) {
    result.outcome = RepairResult::Outcome::Declined;
    return result;
  }
  Settings settings(ctx_.registry());
  const bool takeBackup = takeBackup_.value_or(settings.chkTakeBackup());
  positions_.clear();

  std::vector<RowState> rows(problems.size());
  bool backedUp = false;
  runStep(runner_, [&] {
    markKept(rows);
    backedUp = backUp(rows, result, takeBackup);
  });
  if (!backedUp) {
    result.outcome = RepairResult::Outcome::BackupFailed;
    ui_.warn(kTitle,
             "The backup could not be written: " + result.error + ".\r\nNothing has been deleted.");
    return result;
  }

  std::vector<std::size_t> fixedValueRows;
  std::size_t processed = 0;
  // On a live registry a change cannot be taken back by not saving: after a failed one the
  // run stops, naming what was done (the backup set holds it) and what was not.
  const bool live = ctx_.target().changesAtOnce();
  runStep(runner_, [&] {
    for (std::size_t n = 0; n < problems.size(); ++n) {
      const ProblemRecord& r = problems[n];
      if (!r.checked) continue;
      if (progress_) progress_(++processed);
      if (rows[n].kept) {
        ++result.kept;
        continue;
      }
      std::string why;
      bool ok =
          r.isFileProblem() ? fixFile(r, rows[n], takeBackup, why) : fixValue(r, rows[n], why);
      if (ok) {
        ++result.fixed;
        if (!r.isFileProblem()) fixedValueRows.push_back(n);
      } else {
        result.failures.push_back(fmt::format("{}: {}", describe(r), why));
        if (live && !r.isFileProblem()) {
          for (std::size_t m = n + 1; m < problems.size(); ++m)
            if (problems[m].checked)
              result.failures.push_back(
                  fmt::format("{}: not done: the repair stopped at the change that failed",
                              describe(problems[m])));
          break;
        }
      }
      ctx_.doEvents();
    }
  });
  for (SectionRow& s : ctx_.sections()) {
    s.status.clear();
    ctx_.doEvents();
  }

  if (Outcome saved = changes.save(); !saved && live) {
    // The changes were made; only making them durable failed.
    result.outcome = RepairResult::Outcome::SaveFailed;
    result.error = saved.message();
    std::string text =
        fmt::format("{} change{} made, but the Windows Registry could not be written to disk: {}",
                    result.fixed, result.fixed == 1 ? " was" : "s were", result.error);
    for (const std::string& f : result.failures) text += "\r\n" + f;
    ui_.warn(kTitle, text);
    return result;
  } else if (!saved) {
    // The registry on disk is as it was, and the store is back to it: its rows were not fixed.
    result.outcome = RepairResult::Outcome::SaveFailed;
    result.error = saved.message();
    result.fixed -= fixedValueRows.size();
    std::string text =
        "The Windows Registry could not be saved, so none of its entries was removed: " +
        result.error;
    for (const std::string& f : result.failures) text += "\r\n" + f;
    if (result.fixed)
      text += fmt::format("\r\n{} file{} deleted{}.", result.fixed,
                          result.fixed == 1 ? " was" : "s were",
                          takeBackup ? " (the backup set holds them)" : "");
    for (std::size_t n : fixedValueRows)
      result.failures.push_back(
          fmt::format("{}: the registry could not be saved", describe(problems[n])));
    ui_.warn(kTitle, text);
    return result;
  }
  if (!result.failures.empty()) {
    std::string text = "These problems could not be fixed:";
    for (const std::string& f : result.failures) text += "\r\n" + f;
    ui_.warn(kTitle, text);
  }
  ui_.inform(kTitle, endMessage(result.found, result.fixed, result.kept));
  return result;
}

}  // namespace brisquell
