// The repair: after the user confirms, backs up every checked problem (records with the exact
// original values, and the shortcut files in the archive), then deletes them and saves the
// target once. A problem counts as fixed only when it is gone afterwards.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/UserInterface.h"
#include "repair/BackupSet.h"
#include "repair/StepRunner.h"
#include "scan/ScanContext.h"

namespace brisquell {

struct RepairResult {
  /// Refused: the target must not be written now (nothing was asked or changed).
  enum class Outcome { NothingToRepair, Declined, Refused, BackupFailed, SaveFailed, Done };
  Outcome outcome = Outcome::Done;
  std::size_t found = 0;  // rows in the problem list
  std::size_t fixed = 0;  // checked rows whose value or file is gone afterwards
  std::size_t kept = 0;   // checked rows left alone: another row of the same value is unticked
  std::vector<std::string> failures;    // one line per checked row that was not fixed
  std::string backupFile, archiveFile;  // Windows paths of what was written, else empty
  std::string error;                    // why the repair was refused, or the backup or save failed
};

class Repair {
 public:
  Repair(ScanContext& ctx, UserInterface& ui);

  void setClock(std::function<BackupSet::Clock::time_point()> clock) { clock_ = std::move(clock); }
  /// Overrides the stored backup option for this run (the command line's --no-backup).
  void setTakeBackup(std::optional<bool> on) { takeBackup_ = on; }

  /// Called after each checked row is processed, with the number processed so far (from the
  /// thread the step runner runs the changes on).
  void setProgress(std::function<void(std::size_t)> progress) { progress_ = std::move(progress); }

  /// Runs a long step (taking the target's lock, writing the backup set, making the changes)
  /// and returns once it has returned; a window runs it off its own thread. A step asks and shows
  /// nothing. Without a runner the steps run where the command does.
  void setStepRunner(StepRunner runner) { runner_ = std::move(runner); }

  /// The command: asks, backs up, deletes, saves, reports. Fixes exactly the checked rows.
  RepairResult cmdRepairCorruptFiles_Click();

  static constexpr std::string_view kNothingMessage =
      "There are no corrupted Windows Registry entries to be repaired on your PC.";
  static std::string question();
  /// The closing message; a line for the kept rows is added when there are any.
  static std::string endMessage(std::size_t found, std::size_t fixed, std::size_t kept = 0);

 private:
  struct RowState {
    std::optional<KeyHandle> root;
    std::string name;  // the value's registry name ("" for "(Default)")
    BackupSet::Original original;
    bool archived = false;    // the shortcut file is in the archive
    bool missing = false;     // the shortcut file was already gone
    std::string backupError;  // the backup could not take the file
    bool kept = false;        // ticked, but the same value or file is also listed unticked
  };

  void markKept(std::vector<RowState>& rows);

  bool backUp(std::vector<RowState>& rows, RepairResult& result, bool takeBackup);
  void captureOriginal(RowState& row, const ProblemRecord& r);
  bool fixValue(const ProblemRecord& r, RowState& row, std::string& why);
  bool fixFile(const ProblemRecord& r, RowState& row, bool takeBackup, std::string& why);

  ScanContext& ctx_;
  UserInterface& ui_;
  std::function<BackupSet::Clock::time_point()> clock_;
  std::optional<bool> takeBackup_;
  std::function<void(std::size_t)> progress_;
  StepRunner runner_;
  // Position of every value of the keys seen so far: folded value name -> index.
  std::unordered_map<std::string, std::unordered_map<std::string, std::int64_t>> positions_;
};

}  // namespace brisquell
