// What one scan builds: the problem list, the section list and the progress rows. Repair and
// restore work on the same lists afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "scan/ProblemList.h"

namespace brisquell {

/// Not copyable: the front ends keep indexes and references into the lists.
class ScanState {
 public:
  ScanState() = default;
  ScanState(const ScanState&) = delete;
  ScanState& operator=(const ScanState&) = delete;

  ProblemList& problems() { return problems_; }               // lvwErrors
  std::vector<SectionRow>& sections() { return sections_; }   // lvwRegistryvaluesScan
  std::vector<ProgressRow>& progress() { return progress_; }  // lvwResultProgress

  bool scanning = false;  // a scan is running: no second one may start inside it

  void AddProblem(std::int32_t rootKey, std::string_view valueName, std::string_view valueText,
                  std::string_view section, std::string_view keyPath, std::string_view rootName);
  /// Appends a record unless leaveOut says the user asked never to see it (then counted).
  void addProblem(ProblemRecord r);

  /// Records the user asked never to be shown (the ignore list); none when empty.
  std::function<bool(const ProblemRecord&)> leaveOut;
  /// Records the last scan left out through leaveOut.
  std::size_t leftOut = 0;

 private:
  ProblemList problems_;
  std::vector<SectionRow> sections_;
  std::vector<ProgressRow> progress_;
};

}  // namespace brisquell
