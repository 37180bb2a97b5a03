// INI text held in memory: parsed once, edited in place, serialised in one write.
#include "repair/cInifile.h"

#include "platform/Text.h"

namespace brisquell {

namespace {

// What names and values are trimmed of, as the profile-string calls trim them.
constexpr std::string_view kBlanks = " \t";

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool quotedForm(std::string_view v) { return v.size() >= 2 && v.front() == '"' && v.back() == '"'; }

// A value the trimming would change, or one that looks quoted itself, is kept in quotes (as
// the profile-string calls read them). Only such values are unquoted again, so a value an
// older writer stored with quotes of its own keeps them.
bool needsQuotes(std::string_view v) {
  return (!v.empty() && (isBlank(v.front()) || isBlank(v.back()))) || quotedForm(v);
}
std::string unquoted(std::string v) {
  if (quotedForm(v) && needsQuotes(std::string_view(v).substr(1, v.size() - 2)))
    return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

void cInifile::setPath(std::string_view path) {
  if (dirty_) Flush();
  path_ = path;
  load();
}

void cInifile::setSection(std::string_view section) {
  section_.assign(section.begin(), section.end());
}
void cInifile::setKey(std::string_view key) { key_.assign(key.begin(), key.end()); }
void cInifile::setDefault(std::string_view d) { default_.assign(d.begin(), d.end()); }

void cInifile::load() {
  preamble_.clear();
  sections_.clear();
  sectionIndex_.clear();
  dirty_ = false;
  Bytes data;
  if (path_.empty() || files_.readFile(path_, data) != Status::Success) return;
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  // Every leading byte-order mark goes: one left behind would make the first line a preamble
  // line now and a section once a flush wrote it back without the mark before it.
  while (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string t = trimmed(line, kBlanks);
    if (!t.empty() && t[0] == '[') {
      std::size_t close = t.rfind(']');
      std::string name =
          trimmed(std::string_view(t).substr(
                      1, close == std::string::npos || close == 0 ? std::string::npos : close - 1),
                  kBlanks);
      sectionIndex_.try_emplace(foldCase(name), sections_.size());
      sections_.push_back(SectionData{std::move(name), {}, {}});
      continue;
    }
    if (sections_.empty()) {
      preamble_.emplace_back(line);
      continue;
    }
    SectionData& s = sections_.back();
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || (!t.empty() && t[0] == ';')) {
      s.lines.push_back(Line{false, {}, {}, std::string(line)});
      continue;
    }
    Line l{true, trimmed(line.substr(0, eq), kBlanks), trimmed(line.substr(eq + 1), kBlanks), {}};
    s.keyIndex.try_emplace(foldCase(l.key), s.lines.size());
    s.lines.push_back(std::move(l));
  }
}

const cInifile::SectionData* cInifile::findSection(std::string_view name) const {
  auto it = sectionIndex_.find(foldCase(trimmed(name, kBlanks)));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::string cInifile::Value() const {
  const SectionData* s = findSection(section_);
  if (!s) return default_;
  auto it = s->keyIndex.find(foldCase(trimmed(key_, kBlanks)));
  return it == s->keyIndex.end() ? default_ : unquoted(s->lines[it->second].value);
}

void cInifile::setValue(std::string_view value) {
  std::string v;
  v.reserve(value.size());
  for (char c : value) {
    if (c == '\0') continue;
    v += (c == '\r' || c == '\n') ? ' ' : c;
  }
  if (needsQuotes(v)) v = '"' + v + '"';
  std::string section = trimmed(section_, kBlanks), key = trimmed(key_, kBlanks);
  std::string folded = foldCase(section);
  auto sit = sectionIndex_.find(folded);
  if (sit == sectionIndex_.end()) {
    sit = sectionIndex_.emplace(folded, sections_.size()).first;
    sections_.push_back(SectionData{section, {}, {}});
  }
  SectionData& s = sections_[sit->second];
  std::string fkey = foldCase(key);
  auto kit = s.keyIndex.find(fkey);
  if (kit != s.keyIndex.end()) {
    s.lines[kit->second].value = std::move(v);
  } else {
    s.keyIndex.emplace(std::move(fkey), s.lines.size());
    s.lines.push_back(Line{true, key, std::move(v), {}});
  }
  dirty_ = true;
  lastReturnCode_ = 1;
}

void cInifile::EnumerateAllSections(std::vector<std::string>& names, long& count) const {
  names.clear();
  for (const SectionData& s : sections_)
    if (!s.name.empty()) names.push_back(s.name);
  count = static_cast<long>(names.size());
}

void cInifile::EnumerateCurrentSection(std::vector<std::string>& keys, long& count) const {
  keys.clear();
  if (const SectionData* s = findSection(section_))
    for (const Line& l : s->lines)
      if (l.isKey) keys.push_back(l.key);
  count = static_cast<long>(keys.size());
}

bool cInifile::Flush() {
  if (!dirty_) return true;
  std::string out;
  std::size_t size = 0;
  for (const SectionData& s : sections_) {
    size += s.name.size() + 4;
    for (const Line& l : s.lines) size += l.key.size() + l.value.size() + l.raw.size() + 3;
  }
  out.reserve(size);
  for (const std::string& l : preamble_) out += l + "\r\n";
  for (const SectionData& s : sections_) {
    out += '[';
    out += s.name;
    out += "]\r\n";
    for (const Line& l : s.lines) {
      if (l.isKey) {
        out += l.key;
        out += '=';
        out += l.value;
      } else {
        out += l.raw;
      }
      out += "\r\n";
    }
  }
  bool ok = files_.writeFile(path_, Bytes(out.begin(), out.end())) == Status::Success;
  lastReturnCode_ = ok ? 1 : 0;
  if (ok) dirty_ = false;
  return ok;
}

}  // namespace brisquell
