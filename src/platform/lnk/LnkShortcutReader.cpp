// liblnk back end of the shortcut reader.
#include "platform/lnk/LnkShortcutReader.h"

#include <cstdint>

#include <liblnk.h>

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

// Decodes one UTF-8 sequence; false when it is malformed.
bool nextCodePoint(std::string_view s, std::size_t& i, char32_t& cp) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size()) return false;
  cp = extra == 0 ? c : c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (t & 0x3F);
  }
  static const char32_t minimum[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool isUtf8(std::string_view s) {
  char32_t cp;
  for (std::size_t i = 0; i < s.size();)
    if (!nextCodePoint(s, i, cp)) return false;
  return true;
}

// Windows-1252 at 0x80..0x9F (its five unused bytes as Windows maps them); the rest of the
// code page equals Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

std::u32string codePoints(std::string_view s) {
  std::u32string out;
  char32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    if (!nextCodePoint(s, i, cp)) return {};
    out += cp;
  }
  return out;
}

// The byte that Windows-1252 decodes to cp; -1 when none does.
int cp1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == cp && cp > 0x9F) return 0x80 + i;
  return -1;
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
  if (a.empty() || liblnk_file_set_ascii_codepage(f, LIBLNK_CODEPAGE_WINDOWS_1251, &err) != 1) return a;
  const std::string b = getString(f, size, get);
  if (a == b) return a;
  const std::u32string ca = codePoints(a), cb = codePoints(b);
  if (ca.size() != cb.size()) return a;
  std::string bytes;
  for (std::size_t i = 0; i < ca.size(); ++i) {
    int byte = ca[i] == 0xFFFD ? cp1251UnusedIn1252(cb[i]) : cp1252Byte(ca[i]);
    if (byte < 0) return a;
    bytes += static_cast<char>(byte);
  }
  if (isUtf8(bytes)) return bytes;
  std::string out;
  for (unsigned char c : bytes) appendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
  return out;
}

}  // namespace

LnkShortcutReader::LnkShortcutReader(FileSystem& files, Environment env)
    : files_(files), env_(std::move(env)) {}

std::string LnkShortcutReader::targetPath(std::string_view shortcutPath) {
  auto host = files_.hostPath(shortcutPath);
  if (!host) return {};
  std::size_t slash = shortcutPath.find_last_of('\\');
  std::string_view folder = slash == std::string_view::npos ? std::string_view() : shortcutPath.substr(0, slash);
  return targetPathOfHostFile(*host, folder);
}

std::string LnkShortcutReader::targetPathOfHostFile(const std::string& hostFile, std::string_view folder) {
  LnkFile f;
  LnkError err;
  if (liblnk_file_initialize(&f.file, &err) != 1) return {};
  if (liblnk_file_open(f.file, hostFile.c_str(), LIBLNK_OPEN_READ, &err) != 1) return {};
  f.opened = true;

  std::string s = readString(f.file, liblnk_file_get_utf8_local_path_size, liblnk_file_get_utf8_local_path);
  if (s.empty())
    s = readString(f.file, liblnk_file_get_utf8_network_path_size, liblnk_file_get_utf8_network_path);
  if (!s.empty()) return s;
  s = readString(f.file, liblnk_file_get_utf8_environment_variables_location_size,
                 liblnk_file_get_utf8_environment_variables_location);
  if (!s.empty()) return expandEnvironmentStrings(s, env_);
  s = readString(f.file, liblnk_file_get_utf8_relative_path_size, liblnk_file_get_utf8_relative_path);
  if (!s.empty()) return resolveRelativePath(folder, s);
  return {};
}

}  // namespace brisquell
