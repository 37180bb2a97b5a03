// Backup file names, dates, listing and the record sections.
#include "repair/BackupSet.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fmt/format.h>

#include "platform/HostIo.h"
#include "platform/Text.h"
#include "repair/cInifile.h"
#include "scan/RegistryAccess.h"

namespace brisquell {

namespace {

constexpr std::string_view kOriginalType = "OriginalType";
constexpr std::string_view kOriginalData = "OriginalData";
constexpr std::string_view kOriginalIndex = "OriginalIndex";
constexpr std::string_view kOriginalName = "OriginalName";
constexpr std::string_view kOriginalKeyPath = "OriginalKeyPath";

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm localOf(BackupSet::Clock::time_point t) {
  std::time_t s = BackupSet::Clock::to_time_t(t);
  return hostio::localTime(s);
}

bool readNumber(std::string_view s, std::size_t& i, int& out, int maxDigits) {
  std::size_t start = i;
  out = 0;
  while (i < s.size() && i - start < static_cast<std::size_t>(maxDigits) && s[i] >= '0' &&
         s[i] <= '9')
    out = out * 10 + (s[i++] - '0');
  return i > start;
}

bool expect(std::string_view s, std::size_t& i, char c) {
  if (i < s.size() && s[i] == c) {
    ++i;
    return true;
  }
  return false;
}

bool validDate(const std::tm& t) {
  static const int days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return t.tm_mon >= 0 && t.tm_mon < 12 && t.tm_mday >= 1 && t.tm_mday <= days[t.tm_mon] &&
         t.tm_hour >= 0 && t.tm_hour < 24 && t.tm_min >= 0 && t.tm_min < 60 && t.tm_sec >= 0 &&
         t.tm_sec < 60 && t.tm_year >= -1800 && t.tm_year <= 8099;
}

}  // namespace

std::string BackupSet::folderOf(std::string_view installFolder) {
  std::string f(installFolder);
  if (f.empty() || f.back() != '\\') f += '\\';
  return f + "Backup\\";
}

std::string BackupSet::secondsText(Clock::time_point now) {
  std::tm tm = localOf(now);
  auto sinceEpoch = std::chrono::duration<double>(now.time_since_epoch()).count();
  double fraction = sinceEpoch - std::floor(sinceEpoch);
  auto seconds = static_cast<float>(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec + fraction);
  return fmt::format("{:.7g}", seconds);
}

std::string BackupSet::baseName(std::string_view folder, Clock::time_point now) {
  std::string f(folder);
  if (f.empty() || f.back() != '\\') f += '\\';
  return f + "BrisquellBK" + secondsText(now);
}

bool BackupSet::isBackupFileName(std::string_view name) {
  return icontains(name, "BrisquellBK") && icontains(name, ".bkp");
}

std::string BackupSet::archivePathOf(std::string_view backupPath) {
  std::string s(backupPath);
  for (std::size_t p = s.find(".bkp"); p != std::string::npos; p = s.find(".bkp", p + 4))
    s.replace(p, 4, ".zip");
  return s;
}

std::string BackupSet::generalDate(Clock::time_point t) {
  return generalDateText(Clock::to_time_t(t));
}

std::optional<std::tm> BackupSet::parseDate(std::string_view text) {
  std::string s = trimBlanks(text);
  std::string_view v(s);
  std::tm t{};
  std::size_t i = 0;
  int a = 0, b = 0, c = 0;
  if (!readNumber(v, i, a, 4)) return std::nullopt;
  if (i == 4 && expect(v, i, '-')) {  // yyyy-mm-dd
    if (!readNumber(v, i, b, 2) || !expect(v, i, '-') || !readNumber(v, i, c, 2))
      return std::nullopt;
    t.tm_year = a - 1900, t.tm_mon = b - 1, t.tm_mday = c;
    if (i < v.size() && (v[i] == 'T' || v[i] == ' ')) ++i;
  } else {  // m/d/yyyy
    if (!expect(v, i, '/') || !readNumber(v, i, b, 2) || !expect(v, i, '/') ||
        !readNumber(v, i, c, 4))
      return std::nullopt;
    t.tm_mon = a - 1, t.tm_mday = b,
    t.tm_year = (c < 100 ? (c < 30 ? 2000 + c : 1900 + c) : c) - 1900;
    while (i < v.size() && v[i] == ' ') ++i;
  }
  if (i < v.size()) {
    int h = 0, m = 0, sec = 0;
    if (!readNumber(v, i, h, 2) || !expect(v, i, ':') || !readNumber(v, i, m, 2))
      return std::nullopt;
    if (expect(v, i, ':') && !readNumber(v, i, sec, 2)) return std::nullopt;
    while (i < v.size() && v[i] == ' ') ++i;
    std::string_view rest = v.substr(i);
    if (!rest.empty()) {
      bool pm = iequals(rest, "PM"), am = iequals(rest, "AM");
      if ((!pm && !am) || h < 1 || h > 12) return std::nullopt;
      h = h % 12 + (pm ? 12 : 0);
    }
    t.tm_hour = h, t.tm_min = m, t.tm_sec = sec;
  }
  if (!validDate(t)) return std::nullopt;
  return t;
}

std::string BackupSet::listDate(const std::tm& t) {
  int h12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
  return fmt::format("{} {:02}, {:04} at {:02}:{:02}:{:02} {}", kMonths[t.tm_mon], t.tm_mday,
                     t.tm_year + 1900, h12, t.tm_min, t.tm_sec, t.tm_hour < 12 ? "AM" : "PM");
}

std::string BackupSet::sortKey(const std::tm& t) {
  return fmt::format("{:04}{:02}{:02}{:02}{:02}{:02}", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                     t.tm_hour, t.tm_min, t.tm_sec);
}

std::vector<BackupListing> BackupSet::list(FileSystem& files, std::string_view folder) {
  std::vector<BackupListing> out;
  std::string dir(folder);
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  std::vector<DirEntry> entries;
  if (files.find(dir + "*", entries) != Status::Success) return out;
  for (const DirEntry& e : entries) {
    if (e.attributes & fileattr::Directory) continue;
    if (!isBackupFileName(e.name)) continue;
    BackupListing row;
    row.name = e.name;
    row.path = dir + e.name;
    cInifile ini(files);
    ini.setPath(row.path);
    ini.setSection(kInfoSection);
    ini.setKey(kTimeKey);
    if (auto t = parseDate(ini.Value())) {  // an unreadable time lists the set without a date
      row.dateText = listDate(*t);
      row.sortKey = sortKey(*t);
    }
    out.push_back(std::move(row));
  }
  std::stable_sort(out.begin(), out.end(), [](const BackupListing& a, const BackupListing& b) {
    return a.sortKey > b.sortKey;
  });
  return out;
}

void BackupSet::writeRecord(cInifile& ini, std::size_t n, const ProblemRecord& r,
                            const Original* o) {
  ini.setSection(std::string(kRecordPrefix) + std::to_string(n));
  const std::string* cells[6] = {&r.MainKey, &r.KeyName,     &r.KeyValue,
                                 &r.Section, &r.FullKeyPath, &r.MainKeyName};
  for (int i = 0; i < 6; ++i) {
    ini.setKey(kFields[i]);
    ini.setValue(*cells[i]);
  }
  if (!o || !o->known) return;
  ini.setKey(kOriginalType);
  ini.setValue(o->existed ? std::to_string(o->type) : std::string("none"));
  ini.setKey(kOriginalData);
  ini.setValue(o->existed ? toHex(o->data.data(), o->data.size()) : std::string());
  ini.setKey(kOriginalIndex);
  ini.setValue(std::to_string(o->index));
  ini.setKey(kOriginalName);
  ini.setValue(toHex(o->name));
  ini.setKey(kOriginalKeyPath);
  ini.setValue(toHex(o->keyPath));
}

void BackupSet::readRecords(cInifile& ini, ProblemList& problems,
                            std::vector<Original>& originals) {
  problems.clear();
  originals.clear();
  // Raw extra keys of the current problem, decoded once its section ends.
  struct Pending {
    std::optional<std::string> type, data, index, name, keyPath;
  };
  std::vector<Pending> pending;
  std::vector<std::string> sections, keys;
  long count = 0;
  ini.EnumerateAllSections(sections, count);
  for (const std::string& section : sections) {
    if (!icontains(section, "Restore:")) continue;
    ini.setSection(section);
    ini.EnumerateCurrentSection(keys, count);
    for (const std::string& key : keys) {
      ini.setKey(key);
      if (iequals(key, "MainKey")) {
        ProblemRecord r;
        r.MainKey = ini.Value();
        problems.add(std::move(r));
        pending.emplace_back();
        continue;
      }
      if (problems.empty()) continue;
      ProblemRecord& r = problems[problems.size() - 1];
      Pending& p = pending.back();
      if (iequals(key, "KeyName"))
        r.KeyName = ini.Value();
      else if (iequals(key, "KeyValue"))
        r.KeyValue = ini.Value();
      else if (iequals(key, "Section"))
        r.Section = ini.Value();
      else if (iequals(key, "FullKeyPath"))
        r.FullKeyPath = ini.Value();
      else if (iequals(key, "MainKeyName"))
        r.MainKeyName = ini.Value();
      else if (iequals(key, kOriginalType))
        p.type = ini.Value();
      else if (iequals(key, kOriginalData))
        p.data = ini.Value();
      else if (iequals(key, kOriginalIndex))
        p.index = ini.Value();
      else if (iequals(key, kOriginalName))
        p.name = ini.Value();
      else if (iequals(key, kOriginalKeyPath))
        p.keyPath = ini.Value();
    }
  }
  originals.resize(problems.size());
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const Pending& p = pending[i];
    Original& o = originals[i];
    ProblemRecord& r = problems[i];
    // Without the exact name (older sets) "(Default)" can only mean the unnamed value.
    r.unnamed = r.KeyName == "(Default)";
    if (!p.type || !p.name || !p.keyPath) continue;
    auto name = fromHex(*p.name), path = fromHex(*p.keyPath);
    if (!name || !path) continue;
    o.name.assign(name->begin(), name->end());
    // A record of a value always carries its name: a blank one lost to trimming (sets written
    // before names were quoted) comes back from the exact copy.
    if (r.KeyName.empty() && !o.name.empty() && trimBlanks(o.name).empty()) r.KeyName = o.name;
    if (!r.isFileProblem()) r.unnamed = o.name.empty();
    o.keyPath.assign(path->begin(), path->end());
    if (p.index) {
      char* end = nullptr;
      long long v = std::strtoll(p.index->c_str(), &end, 10);
      if (end && *end == '\0' && !p.index->empty()) o.index = v;
    }
    if (*p.type == "none") {
      o.known = true;
      o.existed = false;
      continue;
    }
    char* end = nullptr;
    unsigned long type = std::strtoul(p.type->c_str(), &end, 10);
    auto data = fromHex(p.data.value_or(""));
    if (p.type->empty() || !end || *end != '\0' || !data) continue;
    o.known = true;
    o.existed = true;
    o.type = static_cast<std::uint32_t>(type);
    o.data = std::move(*data);
  }
}

std::string BackupSet::keyIdentity(RegistryStore& store, KeyHandle root, std::string_view path) {
  KeyLocation at = store.canonicalKey(root, path);
  std::string p = foldCase(at.path);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return foldCase(rootName(at.root)) + (p.empty() ? "" : "\\" + p);
}

std::optional<KeyHandle> BackupSet::rootOf(std::string_view mainKey) {
  std::string t = trimBlanks(mainKey);
  if (t.empty()) return std::nullopt;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (!end || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return handleFromSigned(static_cast<std::int32_t>(v));
}

std::string BackupSet::toHex(const std::uint8_t* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    out[2 * i] = digits[data[i] >> 4];
    out[2 * i + 1] = digits[data[i] & 15];
  }
  return out;
}

std::optional<Bytes> BackupSet::fromHex(std::string_view hex) {
  if (hex.size() % 2) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    int hi = nibble(hex[2 * i]), lo = nibble(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return out;
}

}  // namespace brisquell
