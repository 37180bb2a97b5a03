// Restore: lists and deletes backup sets, loads one into the problem list and writes it back
// (values with their exact type, data and position; shortcut files from the archive), then
// saves the target once.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/UserInterface.h"
#include "repair/BackupSet.h"
#include "repair/ResultsTree.h"
#include "repair/StepRunner.h"
#include "scan/ScanContext.h"

namespace brisquell {

struct RestoreResult {
  /// Refused: the target must not be written now (nothing was changed; the load stays).
  enum class Outcome { NothingLoaded, Refused, Done, SaveFailed };
  Outcome outcome = Outcome::Done;
  std::size_t written = 0;  // records written back (or removed, when new)
  std::vector<std::string> restoredFiles;
  std::vector<std::string> failures;  // records and archive entries that were not restored
  std::string error;
};

class Restore {
 public:
  Restore(ScanContext& ctx, UserInterface& ui);

  /// The Backup folder of the install folder ("...\Backup\").
  std::string backupFolder() const;
  /// frmRestore's list: the backup sets, newest first.
  std::vector<BackupListing> Form_Load();
  /// Asks, then deletes the set's backup file and archive. False when nothing was deleted
  /// (also, having said why, while the target must not be written).
  bool cmdDeleteBackup_Click(const BackupListing& set);
  /// Loads the backup file's records into the problem list (and, when given, the tree in
  /// "Restore" mode). False when it holds no record; the user is told which file was empty.
  bool cmdRestore_Click(std::string_view backupPath, ResultsTree* tree = nullptr);
  /// Writes every loaded record back, extracts the archive, saves the target.
  RestoreResult cmdRestoreNow_Click();

  /// lblStatusOfActionTaken: "Restoring: ..." for each record (from the thread the step runner
  /// runs the writing on).
  void setStatus(std::function<void(std::string_view)> status) { status_ = std::move(status); }
  /// Runs the long steps (reading a backup file, taking the target's lock, writing the records
  /// and the archive's files back, deleting a set and giving its lock back) and returns once each
  /// has returned; a window runs them off its own thread. A step asks and shows nothing.
  void setStepRunner(StepRunner runner) { runner_ = std::move(runner); }
  const std::string& selectedBackup() const { return selected_; }

  static constexpr std::string_view kNotFound = "Backup not found on your PC.";
  static constexpr std::string_view kDeleteQuestion =
      "This action will delete the selected backup file from your PC permanently. Are you sure?";
  static constexpr std::string_view kCompleted = "Restore completed successfully.";
  static constexpr std::string_view kNothingToRestore = "No item found to restore.";

 private:
  struct Placed {
    KeyHandle root;
    std::string path;
    std::vector<std::pair<std::string, std::int64_t>> values;  // name, original position
  };
  bool writeOriginal(const ProblemRecord& r, KeyHandle root, const BackupSet::Original& o,
                     std::unordered_map<std::string, Placed>& placed, std::string& why);
  bool writeAsText(const ProblemRecord& r, KeyHandle root, std::string& why);
  void putInPlace(const Placed& key);

  ScanContext& ctx_;
  UserInterface& ui_;
  std::string selected_;
  std::string loadedFrom_;  // the backup file of the records in the problem list
  bool loaded_ = false;
  std::vector<BackupSet::Original> originals_;
  std::function<void(std::string_view)> status_;
  StepRunner runner_;
};

}  // namespace brisquell
