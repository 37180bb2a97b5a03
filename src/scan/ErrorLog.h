// The error log: five lines per trapped error, appended to ErrBrisq.txt in the Windows folder.
#pragma once

#include <ctime>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Status.h"

namespace brisquell {

class FileSystem;

/// An error trapped by a procedure: the number and description its log entry carries.
struct TrappedError {
  int number;
  std::string description;
};

/// Error numbers with their fixed descriptions.
TrappedError invalidProcedureCall();  // 5
TrappedError badFileName();           // 52
TrappedError deviceUnavailable();     // 68
TrappedError pathNotFound();          // 76
TrappedError pathAccessError();       // 75
/// The error for a path whose existence cannot be decided: a drive that is not ready, a bad
/// name, a folder that cannot be read, a short name that cannot be resolved for certain.
TrappedError untestablePath(Status status);

class ErrorLog {
 public:
  /// windowsDirectory is asked anew for every entry, as the folder may change with settings.
  ErrorLog(FileSystem& files, std::function<std::string()> windowsDirectory,
           std::function<std::time_t()> clock = nullptr);
  /// Appends one entry; a log that cannot be written is silently left alone.
  void write(std::string_view procedure, const TrappedError& error);
  void write(std::string_view procedure, int number, std::string_view description) {
    write(procedure, TrappedError{number, std::string(description)});
  }
  /// Runs body; an error it raises is logged under the procedure's name and goes no further.
  /// True when body raised one.
  template <typename F>
  bool trap(std::string_view procedure, F&& body) {
    try {
      body();
      return false;
    } catch (const TrappedError& e) {
      write(procedure, e);
    } catch (const std::exception& e) {
      write(procedure, 5, e.what());
    }
    return true;
  }
  /// Number of entries written (or attempted) by this object.
  std::size_t entries() const { return entries_; }
  /// From now on entries are kept, in order, instead of appended: a scan's second walker
  /// writes nothing itself, and its entries join the scan's log in the sections' order.
  void hold() { holding_ = true; }
  /// Appends the kept entries through `log`, as written, and forgets them.
  void moveHeldInto(ErrorLog& log);

 private:
  FileSystem& files_;
  std::function<std::string()> windowsDirectory_;
  std::function<std::time_t()> clock_;
  std::size_t entries_ = 0;
  bool holding_ = false;
  std::vector<std::pair<std::string, std::string>> held_;  // file, entry
};

}  // namespace brisquell
