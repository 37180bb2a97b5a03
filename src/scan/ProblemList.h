// The problem list (lvwErrors), the section list (lvwRegistryvaluesScan) and the progress list
// (lvwResultProgress): the data models the scan fills and the front ends show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brisquell {

/// One invalid reference. An empty KeyName marks a file problem (a broken shortcut).
struct ProblemRecord {
  std::string MainKey, KeyName, KeyValue, Section, FullKeyPath, MainKeyName;
  bool checked = true;  // "to be repaired"
  /// The key's unnamed value, which KeyName shows as "(Default)"; a value whose name really
  /// is "(Default)" has this false.
  bool unnamed = false;
  /// The Windows paths the check found missing before it recorded the problem (evidence for a
  /// review plan); empty when the record names no file that was tested.
  std::vector<std::string> testedPaths = {};
  // What tells rows apart for the user (tooltips, the details line); never in a backup file.
  std::string ValueText{};   // the value's data as the scan read it
  std::string TestedPath{};  // the path whose existence was tested; empty when none was
  std::string Reason{};      // why the row is reported, when no path tells it
  bool isFileProblem() const { return KeyName.empty(); }
  /// The value's name in the registry ("" for the unnamed value).
  std::string valueName() const { return unnamed ? std::string() : KeyName; }
};

class ProblemList {
 public:
  void clear() { rows_.clear(); }
  void add(ProblemRecord r) { rows_.push_back(std::move(r)); }
  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  ProblemRecord& operator[](std::size_t i) { return rows_[i]; }
  const ProblemRecord& operator[](std::size_t i) const { return rows_[i]; }
  const std::vector<ProblemRecord>& rows() const { return rows_; }
  std::vector<ProblemRecord>& rows() { return rows_; }

 private:
  std::vector<ProblemRecord> rows_;
};

/// One scan category.
struct SectionRow {
  std::string name;
  bool ticked = true;
  std::string status;    // "", "Scanning", "Finished"
  std::string problems;  // "", "N Registry Problems"
  std::string threatLevel;
};

/// One row of the list the user watches during a scan.
struct ProgressRow {
  std::string name, status, problems;
  bool darkRed = false;
};

enum class ScanMode { Quick, Deep };

}  // namespace brisquell
