// Keep-list reading, item reduction and cookie-name matching.
#include "optimize/CookieKeepList.h"

#include <fmt/format.h>

namespace brisquell {

namespace {

// Byte length of the last n characters of a UTF-8 text, or npos when it has fewer.
std::size_t lastCharsLength(std::string_view s, std::size_t n) {
  std::size_t i = s.size();
  while (n > 0) {
    if (i == 0) return std::string_view::npos;
    --i;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
    --n;
  }
  return s.size() - i;
}

}  // namespace

std::vector<std::string> CookieKeepList::items(std::string_view text) {
  std::vector<std::string> out;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string item;
    if (i < text.size() && text[i] == '"') {
      std::size_t close = text.find('"', i + 1);
      std::size_t end = close == std::string_view::npos ? text.find_first_of("\r\n", i + 1) : close;
      if (end == std::string_view::npos) end = text.size();
      item = text.substr(i + 1, end - i - 1);
      i = close == std::string_view::npos ? end : close + 1;
      std::size_t sep = text.find_first_of(",\r\n", i);  // whatever follows the quote is dropped
      i = sep == std::string_view::npos ? text.size() : sep;
    } else {
      std::size_t sep = text.find_first_of(",\r\n", i);
      if (sep == std::string_view::npos) sep = text.size();
      item = trimmedView(text.substr(i, sep - i), " \t");
      i = sep;
    }
    out.push_back(std::move(item));
    if (i < text.size()) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
    }
  }
  return out;
}

std::optional<std::string> CookieKeepList::reduce(std::string_view item) {
  std::size_t slash = item.rfind('\\');
  if (slash == std::string_view::npos) return std::string(item);
  std::string_view tail = item.substr(slash + 1);
  std::size_t cut = lastCharsLength(tail, 7);
  if (cut == std::string_view::npos) return std::nullopt;
  return std::string(tail.substr(0, tail.size() - cut));
}

std::string CookieKeepList::cookieName(std::string_view url) {
  if (url.find("Cookie:") == std::string_view::npos || url.size() < 8) return {};
  std::string_view name = url.substr(7, url.size() - 8);
  return std::string(name.substr(0, name.find('.')));
}

bool CookieKeepList::load(FileSystem& files, std::string_view installFolder, std::string& error) {
  exists_ = false;
  names_.clear();
  unusable_.clear();
  std::string path(installFolder);
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += kFileName;
  Bytes data;
  Status st = files.readFile(path, data);
  if (st == Status::FileNotFound || st == Status::PathNotFound) return true;
  if (st != Status::Success) {
    auto host = files.hostPath(path);
    error = fmt::format("{}: cannot be read (error {})", host ? *host : path, st);
    return false;
  }
  exists_ = true;
  for (std::string& item :
       items(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()))) {
    auto name = reduce(item);
    if (!name) {
      unusable_.push_back(std::move(item));
      continue;
    }
    if (!name->empty()) names_.push_back(std::move(*name));
  }
  return true;
}

bool CookieKeepList::spares(std::string_view cookieName) const {
  if (cookieName.empty()) return false;
  for (const std::string& n : names_)
    if (iequals(n, cookieName)) return true;
  return false;
}

}  // namespace brisquell
