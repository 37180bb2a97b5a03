// Backup archive through libzip: written in one go, read entry by entry with path checks.
#include "repair/BackupArchive.h"

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
    std::string parent = path.substr(0, path.rfind('\\'));
    if (parent.size() > 2 && files_.createDirectory(parent) != Status::Success) {
      refuse("its folder could not be created");
      continue;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    zip_file_t* f = zip_fopen_index(z.get(), static_cast<zip_uint64_t>(i), 0);
    if (!f || zip_stat_index(z.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0) {
      if (f) zip_fclose(f);
      refuse("it could not be read");
      continue;
    }
    Bytes data;
    std::uint8_t buf[65536];
    zip_int64_t got;
    bool readOk = true;
    while ((got = zip_fread(f, buf, sizeof buf)) > 0) data.insert(data.end(), buf, buf + got);
    if (got < 0) readOk = false;
    zip_fclose(f);
    if (!readOk) {
      refuse("it could not be read");
      continue;
    }
    if (Status ws = files_.writeFile(path, data); ws != Status::Success) {
      refuse(fmt::format("{} could not be written (error {})", path, ws));
      continue;
    }
    result.restored.push_back(path);
  }
  return true;
}

}  // namespace brisquell
