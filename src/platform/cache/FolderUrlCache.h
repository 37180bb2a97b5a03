// A URL cache kept as a folder on the target's drives: the cached files and a text index.
//
// The index is the file "cache-index.txt" in the cache folder, UTF-8 text:
//
//   BRISQUELL URL CACHE 1
//   ; comment lines start with ";"; blank lines are ignored
//   http://www.example.com/<TAB>Content.IE5\K3J9ZQ2L\index[1].htm
//   Cookie:user@example.com/<TAB>Cookies\user@example[1].txt
//
// Each entry line is the entry's URL, one tab, and its local file as a path inside the cache
// folder ("\" or "/" between components; no drive, no leading "\", no "." or ".."). A URL is
// listed once. A missing index is an empty cache. A damaged index is reported as
// "FILE:LINE: what is wrong" and nothing is changed. Deleting an entry deletes its file (a file
// that is already gone is no error), then rewrites the index without the entry's line in one
// atomic step; comments and the other lines stay as they were. Between beginChanges() and
// endChanges() the index is rewritten in batches (every twentieth of its entries, at least 1,000)
// and at the end: a kill in between leaves entries whose files are gone, never a file unlisted.
#pragma once

#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Target.h"
#include "platform/UrlCache.h"

namespace brisquell {

class FolderUrlCache final : public UrlCache {
 public:
  static constexpr std::string_view kIndexName = "cache-index.txt";
  static constexpr std::string_view kHeader = "BRISQUELL URL CACHE 1";

  /// folder: the cache folder's Windows path.
  FolderUrlCache(FileSystem& files, std::string folder);

  /// The cache folder of the machine's user: "Local Settings\Temporary Internet Files" in the
  /// profile (on the Windows directory's drive, "Documents and Settings\<user>"), or
  /// "Temporary Internet Files" in the Windows directory on platform 1, which has no profiles.
  static std::string folderFor(const MachineInfo& machine);

  Status findFirstEntry(Bytes* buffer, std::uint32_t& size, Handle& handle) override;
  Status findNextEntry(Handle handle, Bytes* buffer, std::uint32_t& size) override;
  Status deleteEntry(std::string_view url) override;
  std::vector<Deletion> deleteEntries(const std::vector<std::string>& urls) override;
  Status findClose(Handle handle) override;
  void beginChanges() override;
  Status endChanges() override;
  std::string errorText() const override { return error_; }
  std::string location() const override { return folder_; }

  struct Entry {
    std::string url;
    std::string file;      // relative to the cache folder, components joined with "\"
    std::size_t line = 0;  // 0-based index into the index file's lines
  };
  /// Appends an entry to the index (creating it when missing) and writes the file's contents.
  bool addEntry(std::string_view url, std::string_view file, const Bytes& contents);

 private:
  struct Index {
    std::vector<std::string> lines;
    std::vector<Entry> entries;
    bool crlf = false;
    bool hasHeader = false;
  };
  // Deletions between beginChanges() and endChanges(): the index as loaded, its lines already
  // dropped, and how many were dropped since the index was last written.
  struct Batch {
    bool loaded = false;
    Index index;
    std::vector<bool> gone;
    std::unordered_map<std::string, std::size_t> byUrl;  // entry position
    std::size_t pending = 0;
    // Folders of the cache already found to be no link during this run: each is asked once.
    std::unordered_set<std::string> plainFolders;
  };
  bool load(Index& index);
  bool store(const Index& index, const std::vector<bool>* gone = nullptr);
  bool flushBatch();
  bool loadBatch();
  /// Drops the entry from the batch's index; true when a rewrite is due.
  bool markGone(const Entry& e);
  /// Why the entry's file may not be deleted (a folder link on its way); empty when it may.
  std::string refusal(const Entry& e);
  std::string notDeleted(const Entry& e, Status st) const;
  Status fill(const Entry& e, Bytes* buffer, std::uint32_t& size);
  std::string indexPath() const;
  std::string indexName() const;  // the host path when there is one, for messages

  FileSystem& files_;
  std::string folder_;
  std::string error_;
  std::map<Handle, std::pair<std::vector<Entry>, std::size_t>> open_;  // snapshot and next position
  Handle nextHandle_ = 1;
  std::unique_ptr<Batch> batch_;
};

}  // namespace brisquell
