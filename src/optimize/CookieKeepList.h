// The keep-list "DoNotDeleteCookie" in the install folder: the cookies the cache clearing spares,
// each named by the full path of its cookie file or by its bare name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace brisquell {

class CookieKeepList {
 public:
  static constexpr std::string_view kFileName = "DoNotDeleteCookie";

  /// The items of the file's text: separated by commas or line ends; a double-quoted item
  /// keeps its commas; blanks around an item are dropped.
  static std::vector<std::string> items(std::string_view text);
  /// The cookie name an item spares: an item holding "\" is cut to the part after its last
  /// "\", less its last 7 characters ("[1].txt"); any other item as it is. Nothing when the part
  /// after the last "\" is shorter than 7 characters.
  static std::optional<std::string> reduce(std::string_view item);
  /// The cookie name of a cache entry's URL ("Cookie:user@example.com/" gives "user@example"),
  /// or the empty text when the URL names no cookie.
  static std::string cookieName(std::string_view url);

  /// Reads the file from the install folder. False when it exists but cannot be read; a
  /// missing file is an empty list.
  bool load(FileSystem& files, std::string_view installFolder, std::string& error);
  bool exists() const { return exists_; }
  /// True when an item, reduced and not empty, equals the name without regard to case.
  bool spares(std::string_view cookieName) const;
  /// Items that hold a "\" but cannot be reduced; they spare nothing.
  const std::vector<std::string>& unusable() const { return unusable_; }

 private:
  bool exists_ = false;
  std::vector<std::string> names_;
  std::vector<std::string> unusable_;
};

}  // namespace brisquell
