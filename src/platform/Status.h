// Status codes and results: the one error policy across the library boundary.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include <fmt/format.h>

namespace brisquell {

/// What a platform call gave: the Win32 numbers, so logs and messages read as Windows' own.
/// Spelled so that it can sit beside <windows.h>, whose names are macros.
enum class Status : std::int32_t {
  Success = 0,
  FileNotFound = 2,
  PathNotFound = 3,
  AccessDenied = 5,
  NotSupported = 50,
  InvalidHandle = 6,
  InvalidDrive = 15,
  NotReady = 21,
  WriteFault = 29,
  ReadFault = 30,
  SharingViolation = 32,
  FileExists = 80,
  InvalidParameter = 87,
  DiskFull = 112,
  InsufficientBuffer = 122,
  InvalidName = 123,
  DirNotEmpty = 145,
  MoreData = 234,
  NoMoreItems = 259,
  KeyDeleted = 1018,
  FileCorrupt = 1392,
};

inline constexpr std::int32_t code(Status s) { return static_cast<std::int32_t>(s); }
inline std::ostream& operator<<(std::ostream& os, Status s) { return os << code(s); }

/// True for codes that mean "the path cannot be tested" rather than "nothing is there".
inline constexpr bool isPathError(Status s) {
  return s == Status::InvalidDrive || s == Status::NotReady || s == Status::InvalidName;
}

/// A failure: its status and a message for people ("FILE:LINE: what is wrong" for parsers).
struct Error {
  Status status = Status::InvalidParameter;
  std::string message;
};

/// A value or the error that prevented it. Never throws; asking a failed result for its value
/// is a programming error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : error_(std::move(error)) {}  // NOLINT
  static Result fail(std::string message, Status status = Status::InvalidParameter) {
    return Result(Error{status, std::move(message)});
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const Error& error() const { return error_; }
  const std::string& message() const { return error_.message; }
  Status status() const { return ok() ? Status::Success : error_.status; }

 private:
  std::optional<T> value_;
  Error error_;
};

/// A result without a value: success, or the error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : failed_(true), error_(std::move(error)) {}  // NOLINT
  static Result fail(std::string message, Status status = Status::InvalidParameter) {
    return Result(Error{status, std::move(message)});
  }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }
  const std::string& message() const { return error_.message; }
  Status status() const { return ok() ? Status::Success : error_.status; }

 private:
  bool failed_ = false;
  Error error_;
};

using Outcome = Result<void>;

}  // namespace brisquell

/// Statuses print as their Windows numbers.
template <>
struct fmt::formatter<brisquell::Status> : fmt::formatter<int> {
  template <class Ctx>
  auto format(brisquell::Status s, Ctx& ctx) const {
    return fmt::formatter<int>::format(static_cast<int>(s), ctx);
  }
};
