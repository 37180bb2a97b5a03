// Writing and reading review plans. Reading goes through a SAX pass that notes the line of
// every value, so that a damaged plan is refused as FILE:LINE.
#include "repair/Plan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <unordered_map>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/Digest.h"
#include "repair/BackupSet.h"

namespace brisquell {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxDepth = 32;

struct TypeName {
  std::uint32_t code;
  std::string_view name;
};
constexpr TypeName kTypeNames[] = {
    {0, "REG_NONE"},
    {1, "REG_SZ"},
    {2, "REG_EXPAND_SZ"},
    {3, "REG_BINARY"},
    {4, "REG_DWORD"},
    {5, "REG_DWORD_BIG_ENDIAN"},
    {6, "REG_LINK"},
    {7, "REG_MULTI_SZ"},
    {8, "REG_RESOURCE_LIST"},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
    {11, "REG_QWORD"},
};

std::string absoluteFolder(const std::string& folder) {
  std::error_code ec;
  auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, ec), ec);
  if (ec) return folder;
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// What the plan says about a value now: its type name and digest.
struct Seen {
  std::string type, digest;
};

Seen seenValue(ScanContext& ctx, const ProblemRecord& r) {
  if (r.isFileProblem()) {
    Bytes data;
    if (ctx.files().readFile(r.FullKeyPath, data) != Status::Success) return {"absent", ""};
    return {"file", sha256Hex(data)};
  }
  auto root = BackupSet::rootOf(r.MainKey);
  if (!root) return {"absent", ""};
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(*root, r.FullKeyPath, keyaccess::AllAccess, h) != Status::Success)
    return {"absent", ""};
  ScopedKey key(store, h);
  std::uint32_t type = 0;
  Bytes data;
  const std::string name = r.valueName();
  if (store.queryValueRaw(h, name, type, data) != Status::Success) return {"absent", ""};
  return {valueTypeName(type), sha256Hex(data)};
}

PlanPath describePath(ScanContext& ctx, const std::string& path) {
  PlanPath p{path, std::nullopt, {}};
  FileSystem& fs = ctx.files();
  if (auto h = fs.hostPathForNew(path)) {
    p.host = *h;
    return p;
  }
  if (path.size() < 3 || path[1] != ':' || path[2] != '\\') {
    p.why = "not a full Windows path, so it names no place on the target";
    return p;
  }
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  bool known = false;
  for (const DriveInfo& d : fs.drives())
    if (std::toupper(static_cast<unsigned char>(d.letter)) == letter) known = true;
  p.why = known ? "its folder does not exist on the target"
                : fmt::format("the target has no drive {}:", letter);
  return p;
}

// One name for the value a record names, however its key is reached.
std::string valueIdentity(ScanContext& ctx, const ProblemRecord& r) {
  if (r.isFileProblem()) return "file:" + foldCase(r.FullKeyPath);
  auto root = BackupSet::rootOf(r.MainKey);
  if (!root) return "bad:" + r.MainKey;
  const std::string name = r.valueName();
  return BackupSet::keyIdentity(ctx.registry().store(), *root, r.FullKeyPath) + "\\" +
         foldCase(name);
}

std::string recordName(const ProblemRecord& r) {
  if (r.isFileProblem()) return r.FullKeyPath;
  return fmt::format("{}\\{} - {}", r.MainKeyName, r.FullKeyPath, r.KeyName);
}

json targetJson(const PlanTarget& t) {
  return {{"kind", t.kind}, {"location", t.location}, {"user", t.user}};
}

json partJson(const TargetPlan& p) {
  json j;
  j["format"] = kPlanFormat;
  j["version"] = kPlanVersion;
  j["target"] = targetJson(p.target);
  j["mode"] = p.mode;
  j["cancelled"] = p.cancelled;
  j["leftOut"] = p.leftOut;
  auto& sections = j["sections"] = json::array();
  for (const auto& s : p.sections)
    sections.push_back({{"name", s.name},
                        {"ticked", s.ticked},
                        {"status", s.status},
                        {"problems", s.problems},
                        {"threatLevel", s.threatLevel},
                        {"count", s.count}});
  auto& records = j["problems"] = json::array();
  for (const auto& pr : p.records) {
    const ProblemRecord& r = pr.record;
    json rec = {
        {"MainKey", r.MainKey},      {"KeyName", r.KeyName},         {"KeyValue", r.KeyValue},
        {"Section", r.Section},      {"FullKeyPath", r.FullKeyPath}, {"MainKeyName", r.MainKeyName},
        {"valueType", pr.valueType}, {"digest", pr.digest},          {"listings", pr.listings}};
    if (!r.isFileProblem()) rec["unnamed"] = r.unnamed;
    auto& tested = rec["tested"] = json::array();
    for (const auto& t : pr.tested) {
      json one = {{"windows", t.windows}};
      if (t.host)
        one["host"] = *t.host;
      else {
        one["host"] = nullptr;
        one["why"] = t.why;
      }
      tested.push_back(std::move(one));
    }
    if (pr.tested.empty()) rec["untested"] = pr.untested;
    records.push_back(std::move(rec));
  }
  j["total"] = p.records.size();
  return j;
}

// ---- reading ----

struct Cursor {
  std::size_t line = 1;
  char last = 0;
};

// Counts lines as the parser reads: the parser's own positions are bytes, and only for errors.
class CountingIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;
  CountingIterator() = default;
  CountingIterator(const char* p, Cursor* c) : p_(p), c_(c) {}
  reference operator*() const { return *p_; }
  CountingIterator& operator++() {
    c_->last = *p_;
    if (*p_ == '\n') ++c_->line;
    ++p_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator t = *this;
    ++*this;
    return t;
  }
  bool operator==(const CountingIterator& o) const { return p_ == o.p_; }

 private:
  const char* p_ = nullptr;
  Cursor* c_ = nullptr;
};

// Builds the document without recursion and notes the line of each value by its path.
class LineNotingBuilder {
 public:
  explicit LineNotingBuilder(const Cursor& c) : cursor_(c) {}

  json root;
  std::unordered_map<std::string, std::size_t> lines;
  std::size_t errorByte = 0;
  std::string errorText;
  bool tooDeep = false;

  bool null() { return put(nullptr, cursor_.line); }
  bool boolean(bool v) { return put(v, cursor_.line); }
  // A number is seen one character late: the one after it may have been a line break.
  bool number_integer(json::number_integer_t v) { return put(v, numberLine()); }
  bool number_unsigned(json::number_unsigned_t v) { return put(v, numberLine()); }
  bool number_float(json::number_float_t v, const std::string&) { return put(v, numberLine()); }
  bool string(std::string& v) { return put(std::move(v), cursor_.line); }
  bool binary(json::binary_t&) { return false; }
  bool start_object(std::size_t) { return open(json::object()); }
  bool start_array(std::size_t) { return open(json::array()); }
  bool key(std::string& k) {
    frames_.back().key = k;
    lines[childPath()] = cursor_.line;
    return true;
  }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) {
    errorByte = position;
    errorText = e.what();
    return false;
  }

 private:
  struct Frame {
    json* node;
    std::string path, key;
    std::size_t index = 0;
  };

  std::size_t numberLine() const {
    return cursor_.last == '\n' && cursor_.line > 1 ? cursor_.line - 1 : cursor_.line;
  }
  std::string childPath() const {
    const Frame& f = frames_.back();
    return f.path + "/" + (f.node->is_array() ? std::to_string(f.index) : f.key);
  }
  json* place(json v, std::size_t line) {
    if (frames_.empty()) {
      root = std::move(v);
      lines[""] = line;
      return &root;
    }
    Frame& f = frames_.back();
    const std::string path = childPath();
    lines.try_emplace(path, line);
    if (f.node->is_array()) {
      f.node->push_back(std::move(v));
      ++f.index;
      return &f.node->back();
    }
    json& slot = (*f.node)[f.key];
    slot = std::move(v);
    return &slot;
  }
  bool put(json v, std::size_t line) {
    place(std::move(v), line);
    return true;
  }
  bool open(json v) {
    if (frames_.size() >= kMaxDepth) {
      tooDeep = true;
      return false;
    }
    std::string path = frames_.empty() ? std::string() : childPath();
    json* node = place(std::move(v), cursor_.line);
    frames_.push_back({node, std::move(path), {}, 0});
    return true;
  }
  bool close() {
    frames_.pop_back();
    return true;
  }

  const Cursor& cursor_;
  std::vector<Frame> frames_;
};

class PlanReader {
 public:
  PlanReader(const LineNotingBuilder& b, std::string_view file) : b_(b), file_(file) {}

  std::size_t lineOf(std::string path) const {
    for (;;) {
      auto it = b_.lines.find(path);
      if (it != b_.lines.end()) return it->second;
      std::size_t slash = path.rfind('/');
      if (slash == std::string::npos) return 1;
      path.resize(slash);
    }
  }
  Error error(const std::string& path, std::string_view what) const {
    return Error{Status::FileCorrupt, fmt::format("{}:{}: {}", file_, lineOf(path), what)};
  }

  // A member of an object: present and of the wanted kind, else an error.
  const json* member(const json& obj, const std::string& path, const char* name, json::value_t kind,
                     const char* kindName, std::optional<Error>& err) const {
    auto it = obj.find(name);
    if (it == obj.end()) {
      if (!err) err = error(path, fmt::format("\"{}\" is missing", name));
      return nullptr;
    }
    bool fits =
        it->type() == kind || (kind == json::value_t::number_unsigned && it->is_number_integer() &&
                               it->get<json::number_integer_t>() >= 0);
    if (!fits) {
      if (!err) err = error(path + "/" + name, fmt::format("\"{}\" must be {}", name, kindName));
      return nullptr;
    }
    return &*it;
  }
  std::string text(const json& obj, const std::string& path, const char* name,
                   std::optional<Error>& err) const {
    const json* v = member(obj, path, name, json::value_t::string, "a string", err);
    return v ? v->get<std::string>() : std::string();
  }

  std::optional<TargetPlan> part(const json& j, const std::string& path,
                                 std::optional<Error>& err) const {
    if (!j.is_object()) {
      err = error(path, "a plan is a JSON object");
      return std::nullopt;
    }
    TargetPlan p;
    p.line = lineOf(path);
    if (text(j, path, "format", err) != kPlanFormat && !err)
      err = error(path + "/format",
                  fmt::format("not a review plan (\"format\" is not \"{}\")", kPlanFormat));
    if (const json* v =
            member(j, path, "version", json::value_t::number_unsigned, "a number", err)) {
      if (v->get<long long>() != kPlanVersion && !err)
        err = error(path + "/version",
                    fmt::format("plan version {} is not known (this program reads version {})",
                                v->dump(), kPlanVersion));
    }
    if (const json* t = member(j, path, "target", json::value_t::object, "an object", err)) {
      const std::string tp = path + "/target";
      p.target.kind = text(*t, tp, "kind", err);
      p.target.location = text(*t, tp, "location", err);
      p.target.user = text(*t, tp, "user", err);
    }
    p.mode = text(j, path, "mode", err);
    if (!err && p.mode != "quick" && p.mode != "deep")
      err = error(path + "/mode", "\"mode\" must be \"quick\" or \"deep\"");
    if (const json* c = member(j, path, "cancelled", json::value_t::boolean, "true or false", err))
      p.cancelled = c->get<bool>();
    const json* records = member(j, path, "problems", json::value_t::array, "an array", err);
    if (err || !records) return std::nullopt;
    if (auto it = j.find("leftOut"); it != j.end() && it->is_number_unsigned())
      p.leftOut = it->get<std::size_t>();
    for (std::size_t i = 0; i < records->size() && !err; ++i) {
      const std::string rp = path + "/problems/" + std::to_string(i);
      const json& r = (*records)[i];
      if (!r.is_object()) {
        err = error(rp, "each problem is a JSON object");
        break;
      }
      PlanRecord pr;
      pr.line = lineOf(rp);
      ProblemRecord& pb = pr.record;
      pb.MainKey = text(r, rp, "MainKey", err);
      pb.KeyName = text(r, rp, "KeyName", err);
      pb.KeyValue = text(r, rp, "KeyValue", err);
      pb.Section = text(r, rp, "Section", err);
      pb.FullKeyPath = text(r, rp, "FullKeyPath", err);
      pb.MainKeyName = text(r, rp, "MainKeyName", err);
      // "(Default)" is the unnamed value unless the plan says it is a value of that name.
      pb.unnamed = pb.KeyName == "(Default)";
      if (auto u = r.find("unnamed"); u != r.end()) {
        if (!u->is_boolean()) {
          err = error(rp + "/unnamed", "\"unnamed\" is true or false");
          break;
        }
        pb.unnamed = u->get<bool>();
      }
      pr.valueType = text(r, rp, "valueType", err);
      pr.digest = text(r, rp, "digest", err);
      if (err) break;
      record(pr, r, rp, err);
      if (!err) p.records.push_back(std::move(pr));
    }
    if (err) return std::nullopt;
    return p;
  }

 private:
  void record(PlanRecord& pr, const json& r, const std::string& rp,
              std::optional<Error>& err) const {
    const ProblemRecord& pb = pr.record;
    if (pb.FullKeyPath.empty()) {
      err = error(rp + "/FullKeyPath", "\"FullKeyPath\" is empty");
      return;
    }
    if (!pb.isFileProblem()) {
      auto root = BackupSet::rootOf(pb.MainKey);
      if (!root) {
        err =
            error(rp + "/MainKey", fmt::format("\"MainKey\" \"{}\" names no root key", pb.MainKey));
        return;
      }
      if (rootName(*root) != pb.MainKeyName) {
        err = error(rp + "/MainKeyName",
                    fmt::format("\"MainKeyName\" \"{}\" is not the root key {} names",
                                pb.MainKeyName, pb.MainKey));
        return;
      }
    }
    bool known = pr.valueType == "absent" || pr.valueType == "file";
    for (const auto& t : kTypeNames) known = known || pr.valueType == t.name;
    if (!known && pr.valueType.size() > 2 && pr.valueType.starts_with("0x"))
      known = pr.valueType.find_first_not_of("0123456789ABCDEF", 2) == std::string::npos;
    if (!known) {
      err =
          error(rp + "/valueType", fmt::format("\"valueType\" \"{}\" is not known", pr.valueType));
      return;
    }
    const bool hexDigest = pr.digest.size() == 64 &&
                           pr.digest.find_first_not_of("0123456789abcdef") == std::string::npos;
    if (pr.valueType == "absent" ? !pr.digest.empty() : !hexDigest) {
      err = error(rp + "/digest", pr.valueType == "absent"
                                      ? "\"digest\" must be empty for an absent value"
                                      : "\"digest\" must be 64 lower-case hex digits (SHA-256)");
      return;
    }
    if (pb.isFileProblem() ? pr.valueType != "file" && pr.valueType != "absent"
                           : pr.valueType == "file") {
      err = error(rp + "/valueType", pb.isFileProblem()
                                         ? "a shortcut record's \"valueType\" must be \"file\""
                                         : "only a shortcut record has \"valueType\" \"file\"");
      return;
    }
    const json* tested = member(r, rp, "tested", json::value_t::array, "an array", err);
    if (!tested) return;
    for (std::size_t k = 0; k < tested->size(); ++k) {
      const std::string tp = rp + "/tested/" + std::to_string(k);
      const json& t = (*tested)[k];
      if (!t.is_object()) {
        err = error(tp, "each tested path is a JSON object");
        return;
      }
      PlanPath path;
      path.windows = text(t, tp, "windows", err);
      if (err) return;
      if (path.windows.empty()) {
        err = error(tp + "/windows", "\"windows\" is empty");
        return;
      }
      if (auto h = t.find("host"); h != t.end() && h->is_string())
        path.host = h->get<std::string>();
      if (auto w = t.find("why"); w != t.end() && w->is_string()) path.why = w->get<std::string>();
      pr.tested.push_back(std::move(path));
    }
    if (auto u = r.find("untested"); u != r.end() && u->is_string())
      pr.untested = u->get<std::string>();
    if (const json* n =
            member(r, rp, "listings", json::value_t::number_unsigned, "a whole number", err)) {
      pr.listings = n->get<std::size_t>();
      if (pr.listings == 0) err = error(rp + "/listings", "\"listings\" must be at least 1");
    }
  }

  const LineNotingBuilder& b_;
  std::string_view file_;
};

std::string shortParseError(const std::string& what) {
  std::size_t at = what.find("syntax error while ");
  if (at != std::string::npos) return what.substr(at + 19);
  at = what.find("]: ");
  return at == std::string::npos ? what : what.substr(at + 3);
}

}  // namespace

std::string PlanTarget::describe() const {
  std::string s = fmt::format("the {} {}", kind, location);
  if (!user.empty()) s += fmt::format(" (user {})", user);
  return s;
}

PlanTarget identify(Target& target) {
  return PlanTarget{target.kind(), absoluteFolder(target.location()), target.machine().userName};
}

std::string sha256Hex(const Bytes& data) { return digest::sha256Hex(data.data(), data.size()); }

std::string valueTypeName(std::uint32_t type) {
  for (const auto& t : kTypeNames)
    if (t.code == type) return std::string(t.name);
  return fmt::format("0x{:X}", type);
}

TargetPlan makePlan(ScanContext& ctx, ScanMode mode, bool cancelled) {
  TargetPlan p;
  p.target = identify(ctx.target());
  p.mode = mode == ScanMode::Quick ? "quick" : "deep";
  p.cancelled = cancelled;
  p.leftOut = ctx.leftOut;
  for (const auto& s : ctx.sections()) {
    SectionSummary sum{s.name, s.status, s.problems, s.threatLevel, s.ticked, 0};
    for (const auto& r : ctx.problems().rows())
      if (r.Section == s.name && !r.MainKey.empty()) ++sum.count;
    p.sections.push_back(std::move(sum));
  }
  std::unordered_map<std::string, std::size_t> listings;
  for (const ProblemRecord& r : ctx.problems().rows()) ++listings[valueIdentity(ctx, r)];
  for (const ProblemRecord& r : ctx.problems().rows()) {
    PlanRecord pr;
    pr.listings = listings[valueIdentity(ctx, r)];
    pr.record = r;
    pr.record.testedPaths.clear();
    Seen seen = seenValue(ctx, r);
    pr.valueType = seen.type;
    pr.digest = seen.digest;
    for (const std::string& t : r.testedPaths) pr.tested.push_back(describePath(ctx, t));
    if (pr.tested.empty())
      pr.untested = fmt::format(
          "no file was tested: the {} check reports the key itself, not a missing file", r.Section);
    p.records.push_back(std::move(pr));
  }
  return p;
}

std::string writePlan(const std::vector<TargetPlan>& parts, const std::vector<PlanFailure>& failed,
                      bool many) {
  json j;
  if (parts.size() == 1 && !many) {
    j = partJson(parts.front());
  } else {
    j["format"] = kPlanFormat;
    j["version"] = kPlanVersion;
    auto& all = j["targets"] = json::array();
    for (const auto& p : parts) all.push_back(partJson(p));
    if (!failed.empty()) {
      auto& bad = j["failed"] = json::array();
      for (const auto& f : failed) bad.push_back({{"folder", f.folder}, {"error", f.error}});
    }
  }
  return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

Result<std::vector<TargetPlan>> parsePlan(std::string_view text, std::string_view fileName) {
  Cursor cursor;
  LineNotingBuilder b(cursor);
  bool parsed = false;
  try {
    parsed = json::sax_parse(CountingIterator(text.data(), &cursor),
                             CountingIterator(text.data() + text.size(), &cursor), &b);
  } catch (const std::exception& e) {
    return Result<std::vector<TargetPlan>>::fail(
        fmt::format("{}:{}: the plan cannot be read ({})", fileName, cursor.line, e.what()),
        Status::FileCorrupt);
  }
  if (!parsed) {
    std::size_t line = cursor.line;
    std::string why = "nested too deeply";
    if (!b.tooDeep) {
      std::size_t end = std::min(b.errorByte ? b.errorByte - 1 : 0, text.size());
      line = 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + end, '\n'));
      why = text.empty() ? std::string("the file is empty") : shortParseError(b.errorText);
    }
    return Result<std::vector<TargetPlan>>::fail(
        fmt::format("{}:{}: not a valid plan: {}", fileName, line, why), Status::FileCorrupt);
  }
  PlanReader reader(b, fileName);
  std::optional<Error> err;
  std::vector<TargetPlan> parts;
  const json& root = b.root;
  if (root.is_object() && root.contains("targets")) {
    const std::string format = reader.text(root, "", "format", err);
    const json* all = reader.member(root, "", "targets", json::value_t::array, "an array", err);
    if (!err && format != kPlanFormat)
      err = reader.error("/format",
                         fmt::format("not a review plan (\"format\" is not \"{}\")", kPlanFormat));
    if (const json* v =
            reader.member(root, "", "version", json::value_t::number_unsigned, "a number", err);
        v && !err && v->get<long long>() != kPlanVersion)
      err = reader.error("/version",
                         fmt::format("plan version {} is not known (this program reads version {})",
                                     v->dump(), kPlanVersion));
    for (std::size_t i = 0; !err && all && i < all->size(); ++i)
      if (auto p = reader.part((*all)[i], "/targets/" + std::to_string(i), err))
        parts.push_back(std::move(*p));
  } else if (auto p = reader.part(root, "", err)) {
    parts.push_back(std::move(*p));
  }
  if (err) return *err;
  for (std::size_t i = 0; i < parts.size(); ++i)
    for (std::size_t k = 0; k < i; ++k)
      if (parts[k].target == parts[i].target)
        return Error{Status::FileCorrupt,
                     fmt::format("{}:{}: {} has a second part in this plan", fileName,
                                 parts[i].line, parts[i].target.describe())};
  return parts;
}

Result<const TargetPlan*> planFor(const std::vector<TargetPlan>& parts, Target& target,
                                  std::string_view fileName) {
  const PlanTarget here = identify(target);
  for (const TargetPlan& p : parts)
    if (p.target == here) return &p;
  std::string made;
  for (const TargetPlan& p : parts) made += (made.empty() ? "" : ", ") + p.target.describe();
  return Result<const TargetPlan*>::fail(
      fmt::format("{}:{}: the plan was made on {}, not on {}; nothing was changed", fileName,
                  parts.empty() ? 1 : parts.front().line, made, here.describe()),
      Status::FileCorrupt);
}

Result<PlanCheck> checkPlan(ScanContext& ctx, const TargetPlan& plan, std::string_view fileName) {
  const PlanTarget here = identify(ctx.target());
  if (plan.target != here)
    return Result<PlanCheck>::fail(
        fmt::format("{}:{}: the plan was made on {}, not on {}; nothing was changed", fileName,
                    plan.line, plan.target.describe(), here.describe()),
        Status::FileCorrupt);
  PlanCheck check;
  std::unordered_map<std::string, std::size_t> inPlan;
  for (const PlanRecord& pr : plan.records) ++inPlan[valueIdentity(ctx, pr.record)];
  for (const PlanRecord& pr : plan.records) {
    const ProblemRecord& r = pr.record;
    Seen now = seenValue(ctx, r);
    std::string why;
    if (const std::size_t n = inPlan[valueIdentity(ctx, r)]; n < pr.listings) {
      why =
          fmt::format("the scan listed this value {} times and the plan keeps {} of them: it stays",
                      pr.listings, n);
    } else if (now.type != pr.valueType) {
      why = "changed since the plan: " +
            (now.type == "absent" ? std::string("it is gone")
             : pr.valueType == "absent"
                 ? std::string("it exists now")
                 : fmt::format("its type is {} now, not {}", now.type, pr.valueType));
    } else if (now.digest != pr.digest) {
      why = r.isFileProblem() ? "changed since the plan: the shortcut file is not the same"
                              : "changed since the plan: its data is not the same";
    } else {
      for (const PlanPath& t : pr.tested) {
        try {
          if (ctx.FileOrFolderExists(t.windows))
            why = "changed since the plan: " + t.windows + " exists now";
        } catch (const TrappedError&) {
          why = t.windows + " cannot be tested now";
        }
        if (!why.empty()) break;
      }
    }
    if (!why.empty()) {
      check.changed.push_back(
          fmt::format("{}:{}: {}: skipped: {}", fileName, pr.line, recordName(r), why));
      continue;
    }
    ProblemRecord keep = r;
    keep.checked = true;
    for (const PlanPath& t : pr.tested) keep.testedPaths.push_back(t.windows);
    check.current.push_back(std::move(keep));
  }
  return check;
}

}  // namespace brisquell
