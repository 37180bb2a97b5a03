// What a scan works on: the target, its registry access and error log, the cancel flag, and the
// front end's event pump and observer. Lives as long as the front end has the target open.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Target.h"
#include "scan/ErrorLog.h"
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

/// Not copyable: the log and the registry access point into the session itself.
class ScanSession {
 public:
  explicit ScanSession(Target& target);
  /// A session on the target that reads its registry through `store` instead (a concurrent
  /// reader of the target's own, for a second walker).
  ScanSession(Target& target, RegistryStore& store);
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  Target& target() { return target_; }
  FileSystem& files() { return target_.files(); }
  RegistryAccess& registry() { return registry_; }
  ErrorLog& log() { return log_; }

  bool bCancelScan = false;
  /// Set while a walk runs over a 32-bit program's view (a Wow6432Node key): its paths are then
  /// also tried as a 32-bit program on 64-bit Windows would see them.
  bool wow64View = false;
  /// The sections chosen for this session's scans instead of the stored switches: "default",
  /// "all" and section names (see chooseSections). Unset: the switches decide.
  std::optional<std::vector<std::string>> sectionChoice;
  /// Threads a scan may walk its sections on. A second one is used only where the target's
  /// registry and file system can be read from two threads; the results are the same.
  unsigned walkers = 1;

  void setPump(EventPump* p) { pump_ = p; }
  void setObserver(ScanObserver* o) { observer_ = o ? o : &silent_; }
  /// Processes pending events (DoEvents).
  void doEvents() {
    if (pump_) pump_->pump();
  }
  ScanObserver& observer() { return *observer_; }

  // Directory lookups and the existence test, bound to the target.
  std::string GetWindowsDirectory();
  std::string GetSystemDirectory();
  std::string GetProgramFilesPath();
  std::string GetCommonProgramFilesPath();
  /// True when the file system holds an entry for the path, whatever its attributes.
  /// Throws TrappedError when the path cannot be tested (bad name, drive not ready).
  bool FileOrFolderExists(std::string_view path);
  /// The text with its %VARIABLES% replaced as Windows would (the machine's folders, then the
  /// machine's and the user's environment); nothing when one of them is not known.
  std::optional<std::string> expandEnvironment(std::string_view text);
  /// The paths FileOrFolderExists found missing since the last forgetTested(): what a check
  /// tested before it recorded a problem.
  const std::vector<std::string>& tested() const { return tested_; }
  void forgetTested() { tested_.clear(); }
  /// Adds a path a check found missing by its own search (a command line's program): evidence
  /// as FileOrFolderExists gives it.
  void noteMissing(std::string path) { tested_.push_back(std::move(path)); }

 private:
  Target& target_;
  ErrorLog log_;
  RegistryAccess registry_;
  EventPump* pump_ = nullptr;
  ScanObserver silent_;
  ScanObserver* observer_ = &silent_;
  std::vector<std::string> tested_;
};

}  // namespace brisquell
