// Restore of a backup set: exact originals where the record keeps them, the record's text as a
// string value where it does not (older backups), archive entries only onto the target's drives.
#include "repair/Restore.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

#include <fmt/format.h>

#include "platform/TargetChanges.h"
#include "repair/BackupArchive.h"
#include "repair/cInifile.h"
#include "scan/ScanDriver.h"

namespace brisquell {

namespace {

constexpr std::string_view kTitle = "Brisquell";

}  // namespace

Restore::Restore(ScanContext& ctx, UserInterface& ui) : ctx_(ctx), ui_(ui) {}

std::string Restore::backupFolder() const {
  return BackupSet::folderOf(ctx_.target().machine().installFolder);
}

std::vector<BackupListing> Restore::Form_Load() {
  selected_.clear();
  return BackupSet::list(ctx_.files(), backupFolder());
}

bool Restore::cmdDeleteBackup_Click(const BackupListing& set) {
  if (set.path.empty()) {
    ui_.inform(kTitle, kNotFound);
    return false;
  }
  // Held until the set is gone; taken, used and given back through the step runner, since the
  // lock file and the deletions may wait on the disk.
  std::optional<TargetChanges> changes(std::in_place, ctx_.target());
  Outcome allowed;
  runStep(runner_, [&] { allowed = changes->begin(); });
  if (!allowed) {
    ui_.warn(kTitle, allowed.message());
    return false;
  }
  if (!ui_.askYesNo(kTitle, kDeleteQuestion)) {
    runStep(runner_, [&] { changes.reset(); });
    return false;
  }
  bool deleted = false;
  runStep(runner_, [&] {
    FileSystem& files = ctx_.files();
    deleted = files.deleteFile(set.path) == Status::Success;
    std::string archive = BackupSet::archivePathOf(set.path);
    std::uint32_t attrs;
    if (archive != set.path && files.attributes(archive, attrs) == Status::Success)
      deleted = files.deleteFile(archive) == Status::Success || deleted;
    changes.reset();
  });
  return deleted;
}

bool Restore::cmdRestore_Click(std::string_view backupPath, ResultsTree* tree) {
  if (backupPath.empty()) return false;
  selected_ = backupPath;
  loadedFrom_ = selected_;
  const auto read = [&] {
    cInifile ini(ctx_.files());
    ini.setPath(backupPath);
    BackupSet::readRecords(ini, ctx_.problems(), originals_);
  };
  runStep(runner_, read);
  loaded_ = !ctx_.problems().empty();
  if (!loaded_) {
    if (tree) tree->clear();
    ui_.inform(kTitle, "No record has been found in the restore file " + selected_ + ".");
    return false;
  }
  if (tree) {
    tree->LoadResultsTree(ctx_, ResultsTree::kRestore, "cmdRestore of frmMain");
  } else {
    for (ProblemRecord& r : ctx_.problems().rows()) r.checked = true;
  }
  return true;
}

bool Restore::writeOriginal(const ProblemRecord& r, KeyHandle root, const BackupSet::Original& o,
                            std::unordered_map<std::string, Placed>& placed, std::string& why) {
  RegistryStore& store = ctx_.registry().store();
  KeyHandle h = 0;
  if (!o.existed) {  // the run created this value: take it away again
    if (store.openKey(root, o.keyPath, keyaccess::AllAccess, h) != Status::Success) return true;
    ScopedKey key(store, h);
    store.deleteValue(h, o.name);
    std::uint32_t type;
    Bytes data;
    if (store.queryValueRaw(h, o.name, type, data) == Status::Success) {
      why = "the registry refused to remove the value";
      return false;
    }
    return true;
  }
  if (store.createKey(root, o.keyPath, h) != Status::Success) {
    why = "the key could not be created";
    return false;
  }
  ScopedKey key(store, h);
  if (store.setValueRaw(h, o.name, o.type, o.data) != Status::Success) {
    why = "the registry refused the value";
    return false;
  }
  if (o.index >= 0) {
    std::string id = BackupSet::keyIdentity(store, root, o.keyPath);
    auto [it, added] = placed.try_emplace(id, Placed{root, o.keyPath, {}});
    it->second.values.emplace_back(o.name, o.index);
  }
  (void)r;
  return true;
}

bool Restore::writeAsText(const ProblemRecord& r, KeyHandle root, std::string& why) {
  RegistryAccess& reg = ctx_.registry();
  RegistryStore& store = reg.store();
  const bool unnamed = r.unnamed;
  const std::string name = r.valueName();
  if (unnamed && r.KeyValue == "(value not set)") {
    reg.DeleteValue(root, r.FullKeyPath, "");
    return true;
  }
  reg.SetKeyValue(root, r.FullKeyPath, name, r.KeyValue, regtype::Sz);
  KeyHandle h = 0;
  std::uint32_t type;
  Bytes data;
  bool ok = store.openKey(root, r.FullKeyPath, keyaccess::AllAccess, h) == Status::Success &&
            store.queryValue(h, name, type, data) == Status::Success;
  if (h) store.closeKey(h);
  if (!ok) why = "the registry refused the value";
  return ok;
}

// Puts restored values back at their old positions: values after the first one out of place
// are taken out and added again in the old order.
void Restore::putInPlace(const Placed& p) {
  RegistryStore& store = ctx_.registry().store();
  KeyHandle h = 0;
  if (store.openKey(p.root, p.path, keyaccess::AllAccess, h) != Status::Success) return;
  ScopedKey key(store, h);
  struct Val {
    std::string name;
    std::uint32_t type;
    Bytes data;
  };
  std::vector<Val> current;
  {
    Val v;
    for (std::uint32_t i = 0; store.enumValueRaw(h, i, v.name, v.type, v.data) == Status::Success;
         ++i)
      current.push_back(v);
  }
  std::unordered_map<std::string, std::int64_t> wanted;
  for (const auto& [name, index] : p.values) wanted.try_emplace(foldCase(name), index);
  std::vector<std::pair<std::int64_t, std::size_t>> restored;  // position, index in current
  std::vector<std::size_t> others;
  for (std::size_t i = 0; i < current.size(); ++i) {
    auto it = wanted.find(foldCase(current[i].name));
    if (it != wanted.end())
      restored.emplace_back(it->second, i);
    else
      others.push_back(i);
  }
  std::stable_sort(restored.begin(), restored.end());
  std::vector<std::size_t> order;
  order.reserve(current.size());
  std::size_t ri = 0, oi = 0;
  while (ri < restored.size() || oi < others.size()) {
    if (ri < restored.size() &&
        (oi == others.size() || restored[ri].first <= static_cast<std::int64_t>(order.size())))
      order.push_back(restored[ri++].second);
    else
      order.push_back(others[oi++]);
  }
  std::size_t first = 0;
  while (first < order.size() && order[first] == first) ++first;
  if (first == order.size()) return;
  // The tail goes in one call: deleting value by value searches and shifts the list each time.
  store.deleteValuesFrom(h, static_cast<std::uint32_t>(first));
  for (std::size_t i = first; i < order.size(); ++i) {
    const Val& v = current[order[i]];
    store.setValueRaw(h, v.name, v.type, v.data);
  }
}

RestoreResult Restore::cmdRestoreNow_Click() {
  RestoreResult result;
  // The set that was loaded, even when the list was shown again since.
  const std::string archivePath = BackupSet::archivePathOf(loadedFrom_);
  ProblemList& problems = ctx_.problems();
  if (!loaded_ || problems.empty()) {
    ui_.inform(kTitle, kNothingToRestore);
    result.outcome = RestoreResult::Outcome::NothingLoaded;
    return result;
  }
  TargetChanges changes(ctx_.target());
  Outcome allowed;
  const auto allow = [&] { allowed = changes.begin(); };  // may wait for another program's lock
  runStep(runner_, allow);
  if (!allowed) {
    result.outcome = RestoreResult::Outcome::Refused;
    result.error = allowed.message();
    ui_.warn(kTitle, "Nothing can be restored now: " + result.error);
    return result;
  }
  loaded_ = false;  // one load is written back at most once
  originals_.resize(problems.size());
  const auto writeBack = [&] {
    std::unordered_map<std::string, Placed> placed;
    for (std::size_t n = 0; n < problems.size(); ++n) {
      const ProblemRecord& r = problems[n];
      if (r.isFileProblem()) {
        if (status_) status_("Restoring: " + r.FullKeyPath);
        continue;
      }
      if (status_)
        status_(fmt::format("Restoring: {}-{} - {} - {}", r.MainKeyName, r.FullKeyPath, r.KeyName,
                            r.KeyValue));
      std::string why;
      auto root = BackupSet::rootOf(r.MainKey);
      bool ok = false;
      if (!root)
        why = fmt::format("its root key \"{}\" is not a number", r.MainKey);
      else if (originals_[n].known)
        ok = writeOriginal(r, *root, originals_[n], placed, why);
      else
        ok = writeAsText(r, *root, why);
      if (ok)
        ++result.written;
      else
        result.failures.push_back(
            fmt::format("{}\\{} - {}: {}", r.MainKeyName, r.FullKeyPath, r.KeyName, why));
      ctx_.doEvents();
    }
    for (const auto& [id, p] : placed) putInPlace(p);

    std::uint32_t attrs = 0;
    if (ctx_.files().attributes(archivePath, attrs) == Status::Success &&
        !(attrs & fileattr::Hidden)) {
      BackupArchive archive(ctx_.files());
      BackupArchive::Extracted ex;
      std::string error;
      if (!archive.extract(archivePath, ex, error)) result.failures.push_back(error);
      result.restoredFiles = std::move(ex.restored);
      for (std::string& f : ex.refused) result.failures.push_back(std::move(f));
    }
  };
  runStep(runner_, writeBack);

  if (Outcome saved = changes.save(); !saved) {
    result.outcome = RestoreResult::Outcome::SaveFailed;
    result.error = saved.message();
    ui_.warn(kTitle,
             "The registry could not be saved; no registry value was restored.\r\n" + result.error);
    return result;
  }
  if (!result.failures.empty()) {
    std::string text = "These entries could not be restored:";
    for (const std::string& f : result.failures) text += "\r\n" + f;
    ui_.warn(kTitle, text);
    return result;
  }
  ui_.inform(kTitle, kCompleted);
  return result;
}

}  // namespace brisquell
