// Error log entries: number (with a sign position and a trailing blank), text, time, date, name.
#include "scan/ErrorLog.h"

#include <fmt/format.h>

#include "platform/FileSystem.h"
#include "platform/HostIo.h"

namespace brisquell {

TrappedError invalidProcedureCall() { return {5, "Invalid procedure call or argument"}; }
TrappedError badFileName() { return {52, "Bad file name or number"}; }
TrappedError deviceUnavailable() { return {68, "Device unavailable"}; }
TrappedError pathNotFound() { return {76, "Path not found"}; }
TrappedError pathAccessError() { return {75, "Path/File access error"}; }

TrappedError untestablePath(Status status) {
  if (status == Status::NotReady) return deviceUnavailable();
  if (isPathError(status)) return badFileName();
  return pathAccessError();
}

ErrorLog::ErrorLog(FileSystem& files, std::function<std::string()> windowsDirectory,
                   std::function<std::time_t()> clock)
    : files_(files), windowsDirectory_(std::move(windowsDirectory)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::time(nullptr); };
}

void ErrorLog::write(std::string_view procedure, const TrappedError& error) {
  ++entries_;
  std::time_t now = clock_();
  std::tm tm = hostio::localTime(now);
  std::string entry =
      fmt::format("{}{} \r\n{}\r\n{:02}:{:02}:{:02}\r\n{:04}-{:02}-{:02}\r\n{}\r\n",
                  error.number < 0 ? "" : " ", error.number, error.description, tm.tm_hour,
                  tm.tm_min, tm.tm_sec, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, procedure);
  std::string path = windowsDirectory_() + "\\ErrBrisq.txt";
  if (holding_) {
    held_.emplace_back(std::move(path), std::move(entry));
    return;
  }
  files_.appendFile(path, Bytes(entry.begin(), entry.end()));  // failure ignored on purpose
}

void ErrorLog::moveHeldInto(ErrorLog& log) {
  for (auto& [path, entry] : held_) {
    ++log.entries_;
    log.files_.appendFile(path, Bytes(entry.begin(), entry.end()));
  }
  held_.clear();
}

}  // namespace brisquell
