// Short names: Wine's hash, the names NTFS keeps, and the classic basis-name scheme.
#include "platform/host/ShortNames.h"

#ifndef _WIN32
#include <sys/xattr.h>
#endif
#include <cerrno>
#include <set>

#include "platform/Text.h"

namespace brisquell {

namespace {

constexpr std::string_view kInvalidDosChars = "*?<>|\"+=,;[] ";

bool invalidInDosName(char32_t c) {
  return c > 0x7F || c == '~' || c == '.' ||
         kInvalidDosChars.find(static_cast<char>(c)) != std::string_view::npos;
}

std::u16string utf16(std::string_view utf8) {
  const Bytes b = toUtf16le(utf8);
  std::u16string out;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2)
    out.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
  return out;
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The classic basis of a long name: upper case, no blanks, no dots but the one before the
// extension, DOS-invalid characters as "_". A character that may have become anything in the
// volume's OEM code page is kept as '\0', which matches any character of a wanted name.
void classicBasis(std::string_view longName, std::string& base, std::string& ext) {
  std::string_view n = longName;
  while (!n.empty() && n.front() == '.') n.remove_prefix(1);
  std::size_t dot = n.rfind('.');
  std::string_view b = dot == std::string_view::npos ? n : n.substr(0, dot);
  std::string_view e = dot == std::string_view::npos ? std::string_view() : n.substr(dot + 1);
  auto convert = [](std::string_view s, std::string& out) {
    out.clear();
    for (unsigned char c : s) {
      if (c == ' ' || c == '.') continue;
      if (c >= 0x80) {
        if ((c & 0xC0) != 0x80) out.push_back('\0');  // one per encoded character
        continue;
      }
      out.push_back(kInvalidDosChars.find(static_cast<char>(c)) != std::string_view::npos
                        ? '_'
                        : upperAscii(static_cast<char>(c)));
    }
  };
  convert(b, base);
  convert(e, ext);
  if (ext.size() > 3) ext.resize(3);
}

bool basisMatches(std::string_view have, std::string_view want) {
  if (have.size() != want.size()) return false;
  for (std::size_t i = 0; i < have.size(); ++i)
    if (have[i] != '\0' && have[i] != upperAscii(want[i])) return false;
  return true;
}

bool isHex(char c) {
  c = upperAscii(c);
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

ShortNameOwner classicOwner(std::string_view shortName, const std::vector<std::string>& names) {
  std::size_t dot = shortName.find('.');
  std::string_view stemN = shortName.substr(0, dot);
  std::string_view ext =
      dot == std::string_view::npos ? std::string_view() : shortName.substr(dot + 1);
  std::size_t tilde = stemN.rfind('~');
  std::string_view stem = stemN.substr(0, tilde);
  std::string_view number = stemN.substr(tilde + 1);
  if (stem.empty() || number.empty() || number.front() == '0' ||
      number.find_first_not_of("0123456789") != std::string_view::npos)
    return {Status::FileNotFound, 0};
  // Past a few collisions Windows names files by two basis characters and four hex digits.
  const bool hashedForm =
      stem.size() == 6 && isHex(stem[2]) && isHex(stem[3]) && isHex(stem[4]) && isHex(stem[5]);
  std::set<std::size_t> owners;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (isLegal8dot3(names[i])) continue;  // such a name is its own short name
    std::string base, have;
    classicBasis(names[i], base, have);
    if (!basisMatches(have, ext)) continue;
    const std::size_t keep = 8 - 1 - number.size();
    std::string_view cut = std::string_view(base).substr(0, keep);
    if (basisMatches(cut, stem)) owners.insert(i);
    if (hashedForm && base.size() >= 2 && basisMatches(base.substr(0, 2), stem.substr(0, 2)))
      owners.insert(i);
  }
  if (owners.empty()) return {Status::FileNotFound, 0};
  if (owners.size() > 1) return {Status::NotSupported, 0};
  return {Status::Success, *owners.begin()};
}

ShortNameOwner ntfsOwner(std::string_view shortName, const std::vector<std::string>& names,
                         const std::string& hostDir, const DosNameReader& dosNames) {
  bool stored = false, unsure = false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (isLegal8dot3(names[i])) continue;
    std::string dos;
    Status st = dosNames(hostDir + "/" + names[i], dos);
    if (st == Status::Success) {
      stored = true;
      if (iequals(dos, shortName)) return {Status::Success, i};
    } else if (st != Status::FileNotFound) {
      unsure = true;
    }
  }
  if (stored && !unsure) return {Status::FileNotFound, 0};
  // A copy of the volume (or a mount that does not show them) has lost the stored names: NTFS
  // made them by the classic scheme, which decides where one entry alone can own the name.
  return classicOwner(shortName, names);
}

ShortNameOwner wineOwner(std::string_view shortName, const std::vector<std::string>& names) {
  bool certain = true;
  for (std::size_t i = 0; i < names.size(); ++i) {
    bool sure = true;
    for (WineShortForm form : {WineShortForm::DotsReplaced, WineShortForm::DotsSkipped})
      if (iequals(wineShortName(names[i], form, &sure), shortName)) return {Status::Success, i};
    certain = certain && sure;
  }
  return {certain ? Status::FileNotFound : Status::NotSupported, 0};
}

}  // namespace

bool isLegal8dot3(std::string_view name) {
  if (name.empty() || name.size() > 12) return false;
  if (name.front() == '.') return name == "." || name == "..";
  std::size_t dot = std::string_view::npos;
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (c > 0x7F || c < 0x20 || c == ':' || c == '/' || c == '\\' ||
        kInvalidDosChars.find(static_cast<char>(c)) != std::string_view::npos)
      return false;
    if (c == '.') {
      if (dot != std::string_view::npos) return false;
      dot = i;
    }
  }
  if (dot == std::string_view::npos) return name.size() <= 8;
  if (dot > 8) return false;
  return name.size() - dot > 1 && name.size() - dot < 5;
}

bool isShortNameForm(std::string_view name) {
  return isLegal8dot3(name) && name.find('~') != std::string_view::npos;
}

std::string wineShortName(std::string_view longName, WineShortForm form, bool* certain) {
  static constexpr char kHashChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  const std::u16string n = utf16(longName);
  if (certain) *certain = true;
  if (n.empty()) return {};
  auto lower = [&](char16_t c) -> std::uint16_t {
    if (c > 0xFF && certain) *certain = false;  // beyond Latin-1 Wine's tables may differ
    return static_cast<std::uint16_t>(foldCodePoint(c) <= 0xFFFF ? foldCodePoint(c) : c);
  };
  std::uint16_t hash = 0xbeef;
  const std::size_t end = n.size();
  for (std::size_t p = 0; p + 1 < end; ++p)
    hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ lower(n[p]) ^
                                      (lower(n[p + 1]) << 8));
  hash = static_cast<std::uint16_t>((hash << 3) ^ (hash >> 5) ^ lower(n[end - 1]));

  // The extension starts at the last dot that is not the first character and not the last;
  // later Wine versions also pass over leading dots, and leave dots out of the first part.
  std::size_t start = 0;
  if (form == WineShortForm::DotsSkipped)
    while (start < end && n[start] == '.') ++start;
  std::size_t ext = std::u16string::npos;
  for (std::size_t p = start + 1; p + 1 < end; ++p)
    if (n[p] == '.') ext = p;

  std::string out;
  int i = 4;
  for (std::size_t p = 0; i > 0; ++p) {
    if (p == end || p == ext) break;
    if (n[p] == '.' && form == WineShortForm::DotsSkipped) continue;
    out.push_back(invalidInDosName(n[p]) ? '_' : upperAscii(static_cast<char>(n[p])));
    --i;
  }
  while (i-- >= 0) out.push_back('~');
  out.push_back(kHashChars[(hash >> 10) & 0x1f]);
  out.push_back(kHashChars[(hash >> 5) & 0x1f]);
  out.push_back(kHashChars[hash & 0x1f]);
  if (ext != std::u16string::npos) {
    out.push_back('.');
    for (std::size_t p = ext + 1, k = 0; k < 3 && p < end; ++p, ++k)
      out.push_back(invalidInDosName(n[p]) ? '_' : upperAscii(static_cast<char>(n[p])));
  }
  return out;
}

Status readNtfsDosName(const std::string& hostPath, std::string& dosName) {
  dosName.clear();
#ifdef _WIN32
  // A Windows host asks the volume itself (GetShortPathNameW) where it needs short names.
  (void)hostPath;
  return Status::NotSupported;
#else
  char buf[64];
  ssize_t n = ::getxattr(hostPath.c_str(), "system.ntfs_dos_name", buf, sizeof buf);
  if (n < 0) {
    if (errno == ENODATA) return Status::FileNotFound;
    if (errno == ENOTSUP || errno == EOPNOTSUPP) return Status::NotSupported;
    return errno == EACCES || errno == EPERM ? Status::AccessDenied : Status::ReadFault;
  }
  dosName.assign(buf, static_cast<std::size_t>(n));
  while (!dosName.empty() && dosName.back() == '\0') dosName.pop_back();
  return Status::Success;
#endif
}

ShortNameOwner findShortNameOwner(ShortNameScheme scheme, std::string_view shortName,
                                  const std::vector<std::string>& names, const std::string& hostDir,
                                  const DosNameReader& dosNames) {
  if (!isShortNameForm(shortName)) return {Status::FileNotFound, 0};
  switch (scheme) {
    case ShortNameScheme::Wine: return wineOwner(shortName, names);
    case ShortNameScheme::Ntfs:
      return ntfsOwner(shortName, names, hostDir, dosNames ? dosNames : readNtfsDosName);
    case ShortNameScheme::Classic: return classicOwner(shortName, names);
    case ShortNameScheme::None: break;
  }
  return {Status::FileNotFound, 0};
}

}  // namespace brisquell
