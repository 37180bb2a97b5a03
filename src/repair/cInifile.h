// INI text files (backup files): sections and keys kept in file order, names matched without
// regard to case. The file is read once when Path is set and written in one go by Flush, so
// writing many records costs time in proportion to their number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/FileSystem.h"

namespace brisquell {

class cInifile {
 public:
  /// Files are reached by Windows path through the target's file system.
  explicit cInifile(FileSystem& files) : files_(files) {}

  /// Points the object at a file and reads it (a missing file reads as empty). Changes not yet
  /// flushed to the previous file are written first.
  void setPath(std::string_view path);
  void setSection(std::string_view section);
  void setKey(std::string_view key);
  void setDefault(std::string_view d);
  const std::string& Path() const { return path_; }
  const std::string& Section() const { return section_; }
  const std::string& Key() const { return key_; }

  /// The whole value of Key in Section, or Default when the section or key is absent.
  std::string Value() const;
  /// Replaces the value in place or appends the key (and the section); a value with blanks at
  /// either end, or in quotes itself, is stored in quotes and Value() gives it back exactly.
  /// NULs are removed and a line break, which the format cannot hold, becomes a blank.
  void setValue(std::string_view value);

  /// Every section name in file order (a name is never cut, however many there are).
  void EnumerateAllSections(std::vector<std::string>& names, long& count) const;
  /// The key names of Section in file order, an empty name included.
  void EnumerateCurrentSection(std::vector<std::string>& keys, long& count) const;

  /// Writes the changes to Path as one replacement of the file; false (LastReturnCode 0)
  /// when the file cannot be written, for example because its folder is missing.
  bool Flush();

  long LastReturnCode() const { return lastReturnCode_; }
  bool Success() const { return lastReturnCode_ != 0; }

 private:
  struct Line {
    bool isKey = false;
    std::string key, value;  // isKey
    std::string raw;         // other lines, kept as they were
  };
  struct SectionData {
    std::string name;
    std::vector<Line> lines;
    std::unordered_map<std::string, std::size_t> keyIndex;  // folded key -> line
  };

  void load();
  const SectionData* findSection(std::string_view name) const;

  FileSystem& files_;
  std::string path_, section_, key_, default_;
  std::vector<std::string> preamble_;  // lines before the first section
  std::vector<SectionData> sections_;
  std::unordered_map<std::string, std::size_t> sectionIndex_;  // folded name -> first section
  bool dirty_ = false;
  long lastReturnCode_ = 0;
};

}  // namespace brisquell
