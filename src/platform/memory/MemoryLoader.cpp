// Fast .reg loading: exports list a key right after its parent, so most lookups start from
// the previous key's chain instead of the root.
#include "platform/memory/MemoryLoader.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <exception>
#include <thread>

#include <fmt/format.h>

namespace brisquell {

void MemoryLoader::key(KeyHandle root, std::string_view path) {
  KeyLocation view;
  if (root == hkey::ClassesRoot) {  // only views are mapped: the common case costs no copy
    view = store_.canonicalKey(root, path);
    path = view.path;
    root = view.root;
  }
  if (current_ && current_->values.capacity() > current_->values.size())
    current_->values.shrink_to_fit();  // growth slack would stay for good
  if (root != lastRoot_) {
    chain_.clear();
    lastPath_.clear();
    lastRoot_ = root;
  }
  // Deepest level of the previous chain whose path is a prefix of this one at a "\" boundary.
  while (!chain_.empty()) {
    std::size_t len = chain_.back().first;
    if (len <= path.size() && (len == path.size() || path[len] == '\\') &&
        std::string_view(lastPath_).substr(0, len) == path.substr(0, len))
      break;
    chain_.pop_back();
  }
  MemoryRegistry::Key* base = chain_.empty() ? store_.root(root) : chain_.back().second;
  std::size_t pos = chain_.empty() ? 0 : chain_.back().first;
  if (chain_.empty()) chain_.emplace_back(0, base);
  while (pos < path.size()) {
    if (path[pos] == '\\') ++pos;
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) base = store_.ensureChild(base, path.substr(pos, end - pos));
    chain_.emplace_back(end, base);
    pos = end;
  }
  lastPath_.assign(path);
  current_ = base;
}

void MemoryLoader::deleteKey(KeyHandle root, std::string_view path) {
  chain_.clear();
  lastPath_.clear();
  current_ = nullptr;
  KeyHandle h = 0;
  if (store_.openKey(root, "", keyaccess::AllAccess, h) == Status::Success) {
    store_.deleteTree(h, path);
    store_.closeKey(h);
  }
}

void MemoryLoader::value(std::string_view name, std::uint32_t type, Bytes data) {
  if (current_) store_.setRaw(current_, name, type, std::move(data));
}

void MemoryLoader::deleteValue(std::string_view name) {
  if (!current_) return;
  auto& vals = current_->values;
  for (auto it = vals.begin(); it != vals.end(); ++it)
    if (iequals(it->name, name)) {
      vals.erase(it);
      current_->valueIndex.invalidate();
      return;
    }
}

#ifndef _WIN32
namespace {

// From this size a version 5 file is read without stdio, with buffers sized to the file; from
// the second, in two pieces at once (below it a second thread waits for a core longer than it
// saves on a busy machine).
constexpr std::uint64_t kDirectFrom = 1u << 20;
constexpr std::uint64_t kTwoPiecesFrom = 8u << 20;

class FileCloser {
 public:
  explicit FileCloser(int fd) : fd_(fd) {}
  ~FileCloser() { ::close(fd_); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  int fd_;
};

// True when the file starts as a version 5 export: byte order mark, then the header line.
bool isVersion5Utf16(int fd) {
  static constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
  char head[2 + 2 * kHeader.size()];
  if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
  if (static_cast<unsigned char>(head[0]) != 0xFF || static_cast<unsigned char>(head[1]) != 0xFE)
    return false;
  for (std::size_t i = 0; i < kHeader.size(); ++i)
    if (head[2 + 2 * i] != kHeader[i] || head[3 + 2 * i] != 0) return false;
  return true;
}

// Offset of the first key line ("[" right after a line feed) at or after `from`, or 0. Only a key
// line starts with "[" (continuations start with hex digits), so pieces split there parse alone.
std::uint64_t keyLineFrom(int fd, std::uint64_t from, std::uint64_t size) {
  std::vector<char> buf(1 << 16);
  for (std::uint64_t at = from & ~std::uint64_t{1}; at + 4 <= size;) {
    ssize_t got = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(at));
    if (got < 4) return 0;
    auto n = static_cast<std::size_t>(got);
    for (std::size_t i = 0; i + 4 <= n; i += 2)
      if (buf[i] == '\n' && buf[i + 1] == 0 && buf[i + 2] == '[' && buf[i + 3] == 0)
        return at + i + 2;
    at += n - 2;  // the last unit may start a match with the next read
  }
  return 0;
}

// Notes whether the later piece deletes anything: a deletion acts on what the earlier piece
// built, so that piece is parsed again, in order, into the store itself.
class LaterPiece final : public RegSink {
 public:
  explicit LaterPiece(MemoryRegistry& store) : loader_(store) {}
  void key(KeyHandle root, std::string_view path) override {
    if (!deletes) loader_.key(root, path);
  }
  void deleteKey(KeyHandle, std::string_view) override { deletes = true; }
  void value(std::string_view name, std::uint32_t type, Bytes data) override {
    if (!deletes) loader_.value(name, type, std::move(data));
  }
  void deleteValue(std::string_view) override { deletes = true; }
  bool deletes = false;

 private:
  MemoryLoader loader_;
};

Outcome pieceFailure(const std::string& path, std::size_t linesBefore, const RegPieceResult& r) {
  return Outcome::fail(fmt::format("{}:{}: {}", path, linesBefore + r.errorLine, r.errorWhat),
                       r.status);
}

}  // namespace
#endif

#ifdef _WIN32
Outcome loadRegFile(const std::string& path, MemoryRegistry& store) {
  // One pass: the two-piece load reads through POSIX descriptors.
  MemoryLoader loader(store);
  if (auto parsed = parseRegFile(path, loader); !parsed) return parsed.error();
  store.markSaved();
  return {};
}
#else
Outcome loadRegFile(const std::string& path, MemoryRegistry& store) {
  MemoryLoader loader(store);
  // A large version 5 file is parsed in two pieces at once, split at a key line; the later piece
  // goes into a store of its own, merged after the earlier one: the same tree as in one pass.
  // `split` is the size itself for a file read as one piece.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  std::uint64_t split = 0;
  if (fd >= 0) {
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) >= kDirectFrom && isVersion5Utf16(fd)) {
      auto size = static_cast<std::uint64_t>(st.st_size);
      split = size >= kTwoPiecesFrom && std::thread::hardware_concurrency() >= 2
                  ? keyLineFrom(fd, size / 2, size)
                  : size;
      if (!split) split = size;  // no key line after the middle
    }
    if (!split) ::close(fd);
  }
  if (!split) {
    if (auto parsed = parseRegFile(path, loader); !parsed) return parsed.error();
    store.markSaved();
    return {};
  }
  FileCloser closer(fd);
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (split == size) {
    RegPieceResult whole = parseRegPiece(fd, 0, size, false, loader);
    if (!whole.ok) return pieceFailure(path, 0, whole);
    store.markSaved();
    return {};
  }
  MemoryRegistry laterStore;
  LaterPiece later(laterStore);
  RegPieceResult second;
  std::exception_ptr secondFailed;
  std::thread worker([&] {
    try {
      second = parseRegPiece(fd, split, size, false, later);
    } catch (...) {
      secondFailed = std::current_exception();
    }
  });
  RegPieceResult first;
  try {
    first = parseRegPiece(fd, 0, split, true, loader);
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (secondFailed) std::rethrow_exception(secondFailed);
  if (!first.ok) return pieceFailure(path, 0, first);
  if (later.deletes) {
    for (KeyHandle r : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig})
      laterStore.removeTree(laterStore.root(r));
    second = parseRegPiece(fd, split, size, false, loader);
  } else {
    store.mergeLoaded(laterStore);
  }
  if (!second.ok) return pieceFailure(path, first.lines, second);
  store.markSaved();
  return {};
}
#endif

}  // namespace brisquell
