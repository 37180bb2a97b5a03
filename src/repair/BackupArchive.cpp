// Backup archive through libzip: written in one go, read entry by entry with path checks.
#include "repair/BackupArchive.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <fmt/format.h>
#include <zip.h>

#include "platform/Text.h"

namespace brisquell {

namespace {

std::string zipErrorText(int code) {
  zip_error_t e;
  zip_error_init_with_code(&e, code);
  std::string s = zip_error_strerror(&e);
  zip_error_fini(&e);
  return s;
}

struct ZipCloser {
  void operator()(zip_t* z) const {
    if (z) zip_discard(z);
  }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

// What a real shortcut archive never holds: an entry that grew more than this many times in
// compression, once it is larger than kRatioFloor.
constexpr std::uint64_t kAbsurdRatio = 100;
constexpr std::uint64_t kRatioFloor = 1 << 20;
// The Unix file type in an entry's external attributes (the same on every system that writes it).
constexpr zip_uint32_t kUnixTypeMask = 0170000;
constexpr zip_uint32_t kUnixLink = 0120000;

struct ZipFileCloser {
  void operator()(zip_file_t* f) const {
    if (f) zip_fclose(f);
  }
};

}  // namespace

std::string BackupArchive::entryName(std::string_view windowsPath) {
  if (windowsPath.size() < 3 || windowsPath[1] != ':' ||
      (windowsPath[2] != '\\' && windowsPath[2] != '/') ||
      !std::isalpha(static_cast<unsigned char>(windowsPath[0])))
    return {};
  std::string name(1, static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0]))));
  name += '/';
  for (char c : windowsPath.substr(3)) name += c == '\\' ? '/' : c;
  return name;
}

bool BackupArchive::add(std::string_view windowsPath, std::string& error) {
  std::string entry = entryName(windowsPath);
  if (entry.empty()) {
    error = fmt::format("{}: not a path on a drive", windowsPath);
    return false;
  }
  // The entry carries the names as the drive spells them, so the file comes back under them.
  auto host = files_.hostPath(windowsPath);
  auto root = files_.hostPath(entry.substr(0, 1) + ":\\");
  if (host && root && host->size() > root->size() && host->compare(0, root->size(), *root) == 0 &&
      (*host)[root->size()] == '/')
    entry = entry.substr(0, 1) + host->substr(root->size());
  Bytes data;
  if (Status st = files_.readFile(windowsPath, data); st != Status::Success) {
    error = fmt::format("{}: could not be read for the backup (error {})", windowsPath, st);
    return false;
  }
  pending_.push_back(Pending{std::move(entry), std::move(data)});
  return true;
}

bool BackupArchive::write(std::string_view zipPath, std::string& error) {
  auto host = files_.hostPathForNew(zipPath);
  if (!host) {
    error = fmt::format("{}: the archive's folder does not exist", zipPath);
    return false;
  }
  int code = 0;
  ZipHandle z(zip_open(host->c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
  if (!z) {
    error = fmt::format("{}: the archive could not be created: {}", zipPath, zipErrorText(code));
    return false;
  }
  for (const Pending& p : pending_) {
    zip_source_t* src = zip_source_buffer(z.get(), p.data.data(), p.data.size(), 0);
    if (!src ||
        zip_file_add(z.get(), p.entry.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
      if (src) zip_source_free(src);
      error = fmt::format("{}: {} could not be added: {}", zipPath, p.entry,
                          zip_error_strerror(zip_get_error(z.get())));
      return false;
    }
  }
  if (zip_close(z.get()) != 0) {
    error = fmt::format("{}: the archive could not be written: {}", zipPath,
                        zip_error_strerror(zip_get_error(z.get())));
    return false;
  }
  z.release();  // zip_close freed it
  return true;
}

bool BackupArchive::extract(std::string_view zipPath, Extracted& result, std::string& error) {
  auto host = files_.hostPath(zipPath);
  if (!host) {
    error = fmt::format("{}: the archive does not exist", zipPath);
    return false;
  }
  int code = 0;
  ZipHandle z(zip_open(host->c_str(), ZIP_RDONLY, &code));
  if (!z) {
    error = fmt::format("{}: the archive could not be read: {}", zipPath, zipErrorText(code));
    return false;
  }
  std::vector<DriveInfo> drives = files_.drives();
  auto knownDrive = [&](char letter) {
    for (const DriveInfo& d : drives)
      if (d.letter == letter) return true;
    return false;
  };
  zip_int64_t count = zip_get_num_entries(z.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* rawName = zip_get_name(z.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    std::string name = rawName ? rawName : "";
    auto refuse = [&](std::string_view why) {
      result.refused.push_back(fmt::format("archive entry \"{}\" refused: {}", name, why));
    };
    std::string n = name;
    for (char& c : n)
      if (c == '\\') c = '/';
    if (n.empty() || n[0] == '/') {
      refuse("an absolute host path");
      continue;
    }
    std::vector<std::string> parts;
    for (std::size_t s = 0;;) {
      std::size_t e = n.find('/', s);
      parts.push_back(n.substr(s, e == std::string::npos ? std::string::npos : e - s));
      if (e == std::string::npos) break;
      s = e + 1;
    }
    bool isDir = parts.back().empty();
    std::string drive = parts.front();
    if (!drive.empty() && drive.back() == ':') drive.pop_back();
    char letter = drive.size() == 1
                      ? static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])))
                      : 0;
    if (letter < 'A' || letter > 'Z' || !knownDrive(letter)) {
      refuse("not on a drive of the target");
      continue;
    }
    std::string path = std::string(1, letter) + ":";
    bool bad = false;
    std::size_t components = 0;
    for (std::size_t k = 1; k < parts.size(); ++k) {
      if (parts[k] == "..") bad = true;
      if (parts[k].empty() || parts[k] == ".") continue;
      if (parts[k].find(':') != std::string::npos) bad = true;
      path += "\\" + parts[k];
      ++components;
    }
    if (bad) {
      refuse("it leads out of its folder");
      continue;
    }
    if (components == 0) continue;  // the drive itself
    if (isDir) {
      if (files_.createDirectory(path) != Status::Success)
        refuse("its folder could not be created");
      continue;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_SIZE)) {
      refuse("it could not be read");
      continue;
    }
    // A link in an archive of files could make a later entry land anywhere: never made.
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(z.get(), static_cast<zip_uint64_t>(i), 0, &opsys,
                                         &attributes) == 0 &&
        opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & kUnixTypeMask) == kUnixLink) {
      refuse("it is a symbolic link");
      continue;
    }
    const std::uint64_t size = st.size;
    if (size > kRatioFloor && (st.valid & ZIP_STAT_COMP_SIZE) &&
        size / std::max<std::uint64_t>(st.comp_size, 1) > kAbsurdRatio) {
      refuse(fmt::format("it would grow from {} to {} bytes, which no file of a backup does",
                         st.comp_size, size));
      continue;
    }
    std::string parent = path.substr(0, path.rfind('\\'));
    auto room = files_.freeSpace(path.substr(0, 3));
    if (room && size > *room) {
      refuse(fmt::format("it needs {} bytes and the drive has {} free", size, *room));
      continue;
    }
    if (parent.size() > 2 && files_.createDirectory(parent) != Status::Success) {
      refuse("its folder could not be created");
      continue;
    }
    std::unique_ptr<zip_file_t, ZipFileCloser> f(
        zip_fopen_index(z.get(), static_cast<zip_uint64_t>(i), 0));
    if (!f) {
      refuse("it could not be read");
      continue;
    }
    // Streamed to disk: never more than a chunk in memory, never more than it said it holds.
    std::uint64_t written = 0;
    bool tooLong = false;
    Status ws = files_.writeFileFrom(path, [&](char* buf, std::size_t n) -> long long {
      zip_int64_t got = zip_fread(f.get(), buf, n);
      if (got < 0) return -1;
      written += static_cast<std::uint64_t>(got);
      if (written > size) {
        tooLong = true;
        return -1;
      }
      return got;
    });
    if (tooLong) {
      refuse("it holds more than its header says");
      continue;
    }
    if (ws == Status::ReadFault) {
      refuse("it could not be read");
      continue;
    }
    if (ws != Status::Success) {
      refuse(fmt::format("{} could not be written (error {})", path, ws));
      continue;
    }
    result.restored.push_back(path);
  }
  return true;
}

}  // namespace brisquell
