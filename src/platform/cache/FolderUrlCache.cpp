// Folder cache: strict index parsing, snapshot enumeration, file-then-index deletion.
#include "platform/cache/FolderUrlCache.h"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace brisquell {

namespace {

std::string joinPath(std::string_view folder, std::string_view rel) {
  std::string p(folder);
  if (!p.empty() && p.back() != '\\') p += '\\';
  return p + std::string(rel);
}

bool hasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

// A path inside the cache folder, normalised to "\"; empty with `why` set when it is none.
std::string checkLocalFile(std::string_view file, std::string& why) {
  if (file.empty()) {
    why = "the local file is missing";
    return {};
  }
  std::string out, normalized;
  std::size_t i = 0;
  while (i <= file.size()) {
    std::size_t j = file.find_first_of("\\/", i);
    if (j == std::string_view::npos) j = file.size();
    std::string_view c = file.substr(i, j - i);
    // Windows drops a name's trailing dots and blanks: " ." and "..." name the folder itself.
    std::string_view bare = c;
    while (!bare.empty() && (bare.back() == '.' || bare.back() == ' ')) bare.remove_suffix(1);
    if (c.empty() || bare.empty()) {
      why = fmt::format("the local file \"{}\" is not a path inside the cache folder", file);
      return {};
    }
    if (hasControl(c) || c.find_first_of(":*?\"<>|") != std::string_view::npos) {
      why = fmt::format("the local file \"{}\" holds a character a file name cannot have", file);
      return {};
    }
    if (!out.empty()) {
      out += '\\';
      normalized += '\\';
    }
    out += c;
    normalized += bare;
    i = j + 1;
  }
  if (iequals(normalized, FolderUrlCache::kIndexName)) {
    why = "the local file is the index itself";
    return {};
  }
  return out;
}

// The first folder of `rel` (inside `folder`) that is a link: a file reached through it may be
// anyone's, so it is never deleted as cache. Empty when there is none. `plain`, when given,
// holds folders found to be no link before, and gains those found now.
std::string folderLinkOn(FileSystem& files, std::string_view folder, std::string_view rel,
                         std::unordered_set<std::string>* plain = nullptr) {
  for (std::size_t slash = rel.find('\\'); slash != std::string_view::npos;
       slash = rel.find('\\', slash + 1)) {
    std::string sub = joinPath(folder, rel.substr(0, slash));
    if (plain && plain->count(sub)) continue;
    std::uint32_t attrs = 0;
    Status st = files.attributes(sub, attrs);
    if (st == Status::Success && !(attrs & fileattr::ReparsePoint)) {
      if (plain) plain->insert(std::move(sub));
      continue;
    }
    if (st == Status::FileNotFound || st == Status::PathNotFound) return {};
    return sub;
  }
  return {};
}

}  // namespace

FolderUrlCache::FolderUrlCache(FileSystem& files, std::string folder)
    : files_(files), folder_(std::move(folder)) {}

std::string FolderUrlCache::folderFor(const MachineInfo& m) {
  std::string windows = m.windowsDirectory;
  while (windows.size() > 3 && windows.back() == '\\') windows.pop_back();
  if (m.platformId == 1) return joinPath(windows, "Temporary Internet Files");
  std::string drive = windows.size() >= 2 && windows[1] == ':' ? windows.substr(0, 2) : "C:";
  return drive + "\\Documents and Settings\\" + m.userName +
         "\\Local Settings\\Temporary Internet Files";
}

std::string FolderUrlCache::indexPath() const { return joinPath(folder_, kIndexName); }

std::string FolderUrlCache::indexName() const {
  auto host = files_.hostPath(indexPath());
  return host ? *host : indexPath();
}

bool FolderUrlCache::load(Index& index) {
  index = Index{};
  error_.clear();
  Bytes data;
  Status st = files_.readFile(indexPath(), data);
  if (st == Status::FileNotFound || st == Status::PathNotFound)
    return true;  // no index: empty cache
  if (st != Status::Success) {
    error_ = fmt::format("{}: cannot be read (error {})", indexName(), st);
    return false;
  }
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  index.crlf = text.find("\r\n") != std::string_view::npos;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t nl = text.find('\n', at);
    std::string_view line =
        text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    index.lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    at = nl + 1;
  }
  bool headerSeen = false;
  std::unordered_map<std::string, std::size_t> seen;
  for (std::size_t n = 0; n < index.lines.size(); ++n) {
    const std::string& line = index.lines[n];
    auto bad = [&](const std::string& what) {
      error_ = fmt::format("{}:{}: {}", indexName(), n + 1, what);
      index.entries.clear();
      return false;
    };
    if (trimBlanks(line).empty() || line[0] == ';') continue;
    if (!headerSeen) {
      if (line != kHeader)
        return bad(fmt::format("not a URL cache index (its first line must be \"{}\")", kHeader));
      headerSeen = index.hasHeader = true;
      continue;
    }
    std::size_t tab = line.find('\t');
    if (tab == std::string::npos) return bad("expected the URL, a tab and the local file");
    // A local file named in bytes that are no UTF-8 names no file of the drive: it would be
    // reported deleted and stay.
    if (!isValidUtf8(line)) return bad("not UTF-8 text");
    if (line.find('\t', tab + 1) != std::string::npos) return bad("more than one tab");
    std::string url = line.substr(0, tab);
    if (url.empty()) return bad("the URL is empty");
    if (hasControl(url)) return bad("the URL holds a control character");
    std::string why;
    std::string file = checkLocalFile(std::string_view(line).substr(tab + 1), why);
    if (file.empty()) return bad(why);
    auto [it, added] = seen.emplace(url, n + 1);
    if (!added) return bad(fmt::format("the URL is listed twice (first on line {})", it->second));
    index.entries.push_back(Entry{std::move(url), std::move(file), n});
  }
  return true;
}

bool FolderUrlCache::store(const Index& index, const std::vector<bool>* gone) {
  const std::string_view eol = index.crlf ? "\r\n" : "\n";
  std::string text;
  for (std::size_t n = 0; n < index.lines.size(); ++n)
    if (!gone || !(*gone)[n]) text.append(index.lines[n]).append(eol);
  Status st = files_.writeFile(indexPath(), Bytes(text.begin(), text.end()));
  if (st != Status::Success) {
    error_ =
        fmt::format("{}: could not be written (error {}); the index is unchanged", indexName(), st);
    return false;
  }
  return true;
}

Status FolderUrlCache::fill(const Entry& e, Bytes* buffer, std::uint32_t& size) {
  Bytes record = makeUrlCacheRecord(e.url, joinPath(folder_, e.file));
  const auto need = static_cast<std::uint32_t>(record.size());
  if (!buffer || size < need || buffer->size() < need) {
    size = need;
    return Status::InsufficientBuffer;
  }
  std::copy(record.begin(), record.end(), buffer->begin());
  size = need;
  return Status::Success;
}

Status FolderUrlCache::findFirstEntry(Bytes* buffer, std::uint32_t& size, Handle& handle) {
  handle = 0;
  Index index;
  if (!load(index)) return Status::FileCorrupt;
  if (index.entries.empty()) return Status::NoMoreItems;
  if (Status st = fill(index.entries.front(), buffer, size); st != Status::Success) return st;
  handle = nextHandle_++;
  open_[handle] = {std::move(index.entries), 1};
  return Status::Success;
}

Status FolderUrlCache::findNextEntry(Handle handle, Bytes* buffer, std::uint32_t& size) {
  auto it = open_.find(handle);
  if (it == open_.end()) return Status::InvalidHandle;
  auto& [entries, next] = it->second;
  if (next >= entries.size()) return Status::NoMoreItems;
  if (Status st = fill(entries[next], buffer, size); st != Status::Success) return st;
  ++next;
  return Status::Success;
}

Status FolderUrlCache::findClose(Handle handle) {
  return open_.erase(handle) ? Status::Success : Status::InvalidHandle;
}

bool FolderUrlCache::loadBatch() {
  if (batch_->loaded) return true;
  Index& index = batch_->index;
  if (!load(index)) return false;
  batch_->loaded = true;
  batch_->gone.assign(index.lines.size(), false);
  for (std::size_t i = 0; i < index.entries.size(); ++i)
    batch_->byUrl.emplace(index.entries[i].url, i);
  return true;
}

std::string FolderUrlCache::refusal(const Entry& e) {
  std::string link =
      folderLinkOn(files_, folder_, e.file, batch_ ? &batch_->plainFolders : nullptr);
  if (link.empty()) return {};
  return fmt::format("{}: not deleted: {} is a folder link, not part of the cache; the entry stays",
                     joinPath(folder_, e.file), link);
}

std::string FolderUrlCache::notDeleted(const Entry& e, Status st) const {
  return fmt::format("{}: could not be deleted (error {}); the entry stays",
                     joinPath(folder_, e.file), st);
}

bool FolderUrlCache::markGone(const Entry& e) {
  batch_->gone[e.line] = true;
  batch_->byUrl.erase(e.url);
  ++batch_->pending;
  return batch_->pending >= std::max<std::size_t>(1000, batch_->index.entries.size() / 20);
}

Status FolderUrlCache::deleteEntry(std::string_view url) {
  Index single;
  const Entry* e = nullptr;
  if (batch_) {
    if (!loadBatch()) return Status::FileCorrupt;
    auto it = batch_->byUrl.find(std::string(url));
    if (it != batch_->byUrl.end()) e = &batch_->index.entries[it->second];
  } else {
    if (!load(single)) return Status::FileCorrupt;
    auto it = std::find_if(single.entries.begin(), single.entries.end(),
                           [&](const Entry& x) { return x.url == url; });
    if (it != single.entries.end()) e = &*it;
  }
  if (!e) {
    error_ = fmt::format("no entry for \"{}\" in {}", url, indexName());
    return Status::FileNotFound;
  }
  // The file goes first: an entry whose file is gone is harmless, a file nobody lists is litter.
  if (std::string why = refusal(*e); !why.empty()) {
    error_ = std::move(why);
    return Status::AccessDenied;
  }
  Status st = files_.deleteFile(joinPath(folder_, e->file));
  if (st != Status::Success && st != Status::FileNotFound && st != Status::PathNotFound) {
    error_ = notDeleted(*e, st);
    return Status::AccessDenied;
  }
  if (batch_) return markGone(*e) && !flushBatch() ? Status::WriteFault : Status::Success;
  single.lines.erase(single.lines.begin() + static_cast<std::ptrdiff_t>(e->line));
  return store(single) ? Status::Success : Status::WriteFault;
}

std::vector<UrlCache::Deletion> FolderUrlCache::deleteEntries(
    const std::vector<std::string>& urls) {
  if (!batch_) return UrlCache::deleteEntries(urls);
  std::vector<Deletion> out(urls.size());
  if (!loadBatch()) {
    for (Deletion& d : out) d = Deletion{Status::FileCorrupt, error_};
    return out;
  }
  // Each folder's files go in one call, which may take them in the order the disk likes best;
  // an entry still leaves the index only once its file is gone.
  std::map<std::string, std::vector<std::size_t>> byFolder;  // folder in the cache: URL positions
  std::vector<const Entry*> entries(urls.size(), nullptr);
  std::unordered_set<std::string_view> asked;
  for (std::size_t i = 0; i < urls.size(); ++i) {
    auto it = batch_->byUrl.find(urls[i]);
    if (it == batch_->byUrl.end() || !asked.insert(urls[i]).second) {
      out[i] = Deletion{Status::FileNotFound,
                        fmt::format("no entry for \"{}\" in {}", urls[i], indexName())};
      continue;
    }
    const Entry& e = batch_->index.entries[it->second];
    if (std::string why = refusal(e); !why.empty()) {
      out[i] = Deletion{Status::AccessDenied, std::move(why)};
      continue;
    }
    entries[i] = &e;
    const std::size_t slash = e.file.rfind('\\');
    byFolder[slash == std::string::npos ? std::string() : e.file.substr(0, slash)].push_back(i);
  }
  for (const auto& [sub, which] : byFolder) {
    std::vector<std::string> names;
    names.reserve(which.size());
    for (std::size_t i : which)
      names.push_back(entries[i]->file.substr(sub.empty() ? 0 : sub.size() + 1));
    const std::vector<Status> st =
        files_.deleteFilesIn(sub.empty() ? folder_ : joinPath(folder_, sub), names);
    bool due = false;
    std::size_t last = which.size();
    for (std::size_t k = 0; k < which.size(); ++k) {
      const std::size_t i = which[k];
      if (st[k] != Status::Success && st[k] != Status::FileNotFound &&
          st[k] != Status::PathNotFound) {
        out[i] = Deletion{Status::AccessDenied, notDeleted(*entries[i], st[k])};
        continue;
      }
      due = markGone(*entries[i]) || due;
      last = k;
    }
    if (due && !flushBatch()) out[which[last]] = Deletion{Status::WriteFault, error_};
  }
  return out;
}

void FolderUrlCache::beginChanges() { batch_ = std::make_unique<Batch>(); }

bool FolderUrlCache::flushBatch() {
  if (!batch_->pending) return true;
  if (!store(batch_->index, &batch_->gone)) return false;
  batch_->pending = 0;
  return true;
}

Status FolderUrlCache::endChanges() {
  if (!batch_) return Status::Success;
  bool ok = flushBatch();
  batch_.reset();
  return ok ? Status::Success : Status::WriteFault;
}

bool FolderUrlCache::addEntry(std::string_view url, std::string_view file, const Bytes& contents) {
  Index index;
  if (!load(index)) return false;
  std::string why;
  std::string rel = checkLocalFile(file, why);
  if (url.empty() || hasControl(url) || url.find('\t') != std::string_view::npos || rel.empty()) {
    error_ = rel.empty() ? why : "the URL cannot be listed in the index";
    return false;
  }
  for (const Entry& e : index.entries)
    if (e.url == url) {
      error_ = fmt::format("\"{}\" is already in the cache", url);
      return false;
    }
  std::string path = joinPath(folder_, rel);
  Status st = files_.createDirectory(path.substr(0, path.rfind('\\')));
  if (st == Status::Success) st = files_.writeFile(path, contents);
  if (st != Status::Success) {
    error_ = fmt::format("{}: could not be written (error {})", path, st);
    return false;
  }
  if (!index.hasHeader) index.lines.emplace_back(kHeader);
  index.lines.push_back(std::string(url) + "\t" + rel);
  return store(index);
}

}  // namespace brisquell
