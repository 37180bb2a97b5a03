// liblnk back end of the shortcut reader.
#include "platform/lnk/LnkShortcutReader.h"

#include <cstdint>
#include <fstream>

#include <fmt/format.h>

#include <liblnk.h>
#include "platform/HostIo.h"

#include "platform/HostIo.h"
#include "platform/Text.h"

namespace brisquell {

namespace {

struct LnkFile {
  liblnk_file_t* file = nullptr;
  bool opened = false;
  ~LnkFile() {
    if (opened) liblnk_file_close(file, nullptr);
    if (file) liblnk_file_free(&file, nullptr);
  }
};

// Frees what liblnk reports; a failure here only means "no such string".
struct LnkError {
  liblnk_error_t* error = nullptr;
  ~LnkError() { clear(); }
  void clear() {
    if (error) liblnk_error_free(&error);
  }
  liblnk_error_t** operator&() {
    clear();
    return &error;
  }
};

using SizeGetter = int (*)(liblnk_file_t*, size_t*, liblnk_error_t**);
using StringGetter = int (*)(liblnk_file_t*, uint8_t*, size_t, liblnk_error_t**);

std::string getString(liblnk_file_t* f, SizeGetter size, StringGetter get) {
  LnkError err;
  size_t n = 0;
  if (size(f, &n, &err) != 1 || n == 0) return {};
  std::string s(n, '\0');
  if (get(f, reinterpret_cast<uint8_t*>(s.data()), n, &err) != 1) return {};
  s.resize(s.find('\0') == std::string::npos ? s.size() : s.find('\0'));
  return s;
}

std::u32string codePoints(std::string_view s) {
  std::u32string out;
  char32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    if (!decodeUtf8(s, i, cp)) return {};
    out += cp;
  }
  return out;
}

// The five bytes Windows-1252 leaves unused, as Windows-1251 decodes them.
int cp1251UnusedIn1252(char32_t cp) {
  switch (cp) {
    case 0x0403: return 0x81;
    case 0x040C: return 0x8D;
    case 0x040F: return 0x8F;
    case 0x0452: return 0x90;
    case 0x045C: return 0x9D;
    default: return -1;
  }
}

// One string of the shortcut. liblnk decodes ANSI strings with a Windows code page; reading
// them under two code pages gives back their bytes (Unicode strings read the same under
// both). This product's ANSI code page is UTF-8, so bytes that form UTF-8 are read as such;
// any others were written by Windows itself and are Windows-1252.
std::string readString(liblnk_file_t* f, SizeGetter size, StringGetter get) {
  LnkError err;
  if (liblnk_file_set_ascii_codepage(f, LIBLNK_CODEPAGE_WINDOWS_1252, &err) != 1) return {};
  const std::string a = getString(f, size, get);
  if (a.empty() || liblnk_file_set_ascii_codepage(f, LIBLNK_CODEPAGE_WINDOWS_1251, &err) != 1)
    return a;
  const std::string b = getString(f, size, get);
  if (a == b) return a;
  const std::u32string ca = codePoints(a), cb = codePoints(b);
  if (ca.size() != cb.size()) return a;
  std::string bytes;
  for (std::size_t i = 0; i < ca.size(); ++i) {
    // liblnk gives U+FFFD for the five unassigned bytes, never their C1 code points.
    int byte = ca[i] == 0xFFFD                 ? cp1251UnusedIn1252(cb[i])
               : ca[i] >= 0x80 && ca[i] < 0xA0 ? -1
                                               : windows1252Byte(ca[i]);
    if (byte < 0) return a;
    bytes += static_cast<char>(byte);
  }
  return isValidUtf8(bytes) ? bytes : windows1252ToUtf8(bytes);
}

std::uint32_t le(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return v;
}

}  // namespace

std::string LnkShortcutReader::structureProblem(const std::uint8_t* data, std::size_t size) {
  // The shell-link layout: header, optional item id list and link info, the counted strings,
  // then extra data blocks up to a terminal block (or the end of the file).
  constexpr std::size_t kHeader = 0x4C;
  if (size < kHeader || le(data, 4) != kHeader) return "no shell-link header";
  const std::uint32_t flags = le(data + 20, 4);
  std::size_t at = kHeader;
  auto field = [&](int bytes, std::uint32_t& v) {
    if (size - at < static_cast<std::size_t>(bytes)) return false;
    v = le(data + at, bytes);
    return true;
  };
  std::uint32_t n = 0;
  if (flags & 0x1) {  // HasLinkTargetIDList
    if (!field(2, n) || n > size - at - 2)
      return fmt::format("item id list of {} bytes at offset {} runs past the end", n, at);
    at += 2 + n;
  }
  if (flags & 0x2) {  // HasLinkInfo: the size counts its own four bytes
    if (!field(4, n) || n < 4 || n > size - at)
      return fmt::format("link info of {} bytes at offset {} runs past the end", n, at);
    at += n;
  }
  const std::size_t unit = (flags & 0x80) ? 2 : 1;  // IsUnicode
  for (std::uint32_t bit = 0x4; bit <= 0x40; bit <<= 1) {
    if (!(flags & bit)) continue;
    if (!field(2, n) || std::size_t{n} * unit > size - at - 2)
      return fmt::format("string of {} characters at offset {} runs past the end", n, at);
    at += 2 + std::size_t{n} * unit;
  }
  while (at < size) {
    if (!field(4, n)) return fmt::format("extra data cut short at offset {}", at);
    if (n < 4) break;  // the terminal block
    if (n > size - at)
      return fmt::format("extra data block of {} bytes at offset {} runs past the end", n, at);
    at += n;
  }
  return {};
}

LnkShortcutReader::LnkShortcutReader(FileSystem& files, Environment env)
    : files_(files), env_(std::move(env)) {}

std::string LnkShortcutReader::targetPath(std::string_view shortcutPath) {
  auto host = files_.hostPath(shortcutPath);
  if (!host) return {};
  std::size_t slash = shortcutPath.find_last_of('\\');
  std::string_view folder =
      slash == std::string_view::npos ? std::string_view() : shortcutPath.substr(0, slash);
  return targetPathOfHostFile(*host, folder);
}

std::string LnkShortcutReader::targetPathOfHostFile(const std::string& hostFile,
                                                    std::string_view folder) {
  // liblnk sizes its buffers from the file's own fields: a damaged field could make it ask for
  // gigabytes. Only files small enough and whose fields fit their length reach it.
  problem_.clear();
  hostio::Info st = hostio::stat(hostFile);
  if (!st.exists || !st.regular) return {};
  if (static_cast<std::uintmax_t>(st.size) > kMaxShortcutBytes) {
    problem_ = fmt::format("{}: {} bytes, too large for a shortcut; skipped", hostFile,
                           static_cast<std::uintmax_t>(st.size));
    return {};
  }
  {
    std::ifstream in(hostio::fsPath(hostFile), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return {};
    std::string why =
        structureProblem(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (!why.empty()) {
      problem_ = fmt::format("{}: damaged shortcut ({}); skipped", hostFile, why);
      return {};
    }
  }
  LnkFile f;
  LnkError err;
  if (liblnk_file_initialize(&f.file, &err) != 1) return {};
#ifdef _WIN32
  // The narrow open goes through the ANSI code page; the wide one takes any name.
  const std::wstring wide = hostio::widePath(hostFile);
  if (liblnk_file_open_wide(f.file, wide.c_str(), LIBLNK_OPEN_READ, &err) != 1) return {};
#else
  if (liblnk_file_open(f.file, hostFile.c_str(), LIBLNK_OPEN_READ, &err) != 1) return {};
#endif
  f.opened = true;

  std::string s =
      readString(f.file, liblnk_file_get_utf8_local_path_size, liblnk_file_get_utf8_local_path);
  if (s.empty())
    s = readString(f.file, liblnk_file_get_utf8_network_path_size,
                   liblnk_file_get_utf8_network_path);
  if (!s.empty()) return s;
  s = readString(f.file, liblnk_file_get_utf8_environment_variables_location_size,
                 liblnk_file_get_utf8_environment_variables_location);
  if (!s.empty()) return expandEnvironmentStrings(s, env_);
  s = readString(f.file, liblnk_file_get_utf8_relative_path_size,
                 liblnk_file_get_utf8_relative_path);
  if (!s.empty()) return resolveRelativePath(folder, s);
  return {};
}

}  // namespace brisquell
