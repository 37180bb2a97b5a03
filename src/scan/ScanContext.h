// What a scan works with: the target, the error log, the lists it fills, the cancel flag, and
// the front end's event pump and observer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Target.h"
#include "scan/ErrorLog.h"
#include "scan/ProblemList.h"
#include "scan/RegistryAccess.h"

namespace brisquell {

/// Lets the front end run its pending events at the scan's yield points (the window's
/// message loop, or the command line's Ctrl-C check).
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void pump() = 0;
};

/// What a front end sees of a running scan. Every call has a default that does nothing.
class ScanObserver {
 public:
  virtual ~ScanObserver() = default;
  /// lblRegistryScan: the subkey being walked, or "Scanning..." on the drives.
  virtual void keyLabel(std::string_view) {}
  /// lblRegistryFilesScan: the value text or file being examined.
  virtual void valueLabel(std::string_view) {}
  /// lblTotalErrors: problems so far.
  virtual void totalProblems(std::size_t) {}
  /// A progress row was appended (index into progress()) or changed.
  virtual void progressRowAdded(std::size_t) {}
  virtual void progressRowChanged(std::size_t) {}
};

/// Check arguments shared by every section check, in their order.
struct CheckArgs {
  std::int32_t rootKey = 0;
  std::string rootName;
  std::string valueName;
  std::string valueText;
  std::string section;
  std::string keyPath;
};

class ScanContext {
 public:
  explicit ScanContext(Target& target);

  Target& target() { return target_; }
  FileSystem& files() { return target_.files(); }
  RegistryAccess& registry() { return registry_; }
  ErrorLog& log() { return log_; }

  ProblemList& problems() { return problems_; }               // lvwErrors
  std::vector<SectionRow>& sections() { return sections_; }    // lvwRegistryvaluesScan
  std::vector<ProgressRow>& progress() { return progress_; }   // lvwResultProgress

  bool bCancelScan = false;
  bool scanning = false;  // a scan is running: no second one may start inside it

  void setPump(EventPump* p) { pump_ = p; }
  void setObserver(ScanObserver* o) { observer_ = o ? o : &silent_; }
  /// Processes pending events (DoEvents).
  void doEvents() {
    if (pump_) pump_->pump();
  }
  ScanObserver& observer() { return *observer_; }

  // Directory lookups and path routines bound to the target.
  std::string GetWindowsDirectory();
  std::string GetSystemDirectory();
  std::string GetProgramFilesPath();
  std::string GetCommonProgramFilesPath();
  /// True when the file system holds an entry for the path, whatever its attributes.
  /// Throws TrappedError when the path cannot be tested (bad name, drive not ready).
  bool FileOrFolderExists(std::string_view path);
  void AddProblem(std::int32_t rootKey, std::string_view valueName, std::string_view valueText,
                  std::string_view section, std::string_view keyPath, std::string_view rootName);
  void CheckAllSystemdirectory(const CheckArgs& a);

 private:
  Target& target_;
  ErrorLog log_;
  RegistryAccess registry_;
  ProblemList problems_;
  std::vector<SectionRow> sections_;
  std::vector<ProgressRow> progress_;
  EventPump* pump_ = nullptr;
  ScanObserver silent_;
  ScanObserver* observer_ = &silent_;
};

// Text routines of the checks (no target needed).
std::string GetPathWithSlash(std::string_view s);
std::string GetFileExtension(std::string_view s);
std::string RemoveEnter(std::string_view s);
std::string RemoveBackSlashandComma(std::string_view s);
std::string CheckSystemRootDirectory(std::string_view s);
std::string CheckCommonProgramFilesPath(std::string_view s);

}  // namespace brisquell
