// Building the results tree and copying its check marks to the problem list.
#include "repair/ResultsTree.h"

#include <cstdlib>

#include "scan/ScanDriver.h"

namespace brisquell {

namespace {

// The row position a problem node's key names ("C12" -> 12), 0 when it names none.
std::size_t rowOf(std::string_view key) {
  if (key.size() < 2) return 0;
  return static_cast<std::size_t>(std::strtoull(std::string(key.substr(1)).c_str(), nullptr, 10));
}

void checkRow(ProblemList& problems, std::size_t position, bool checked) {
  if (position >= 1 && position <= problems.size()) problems[position - 1].checked = checked;
}

// Data as one line: NULs between strings and line breaks shown, not acted on.
std::string oneLine(std::string_view s) {
  while (!s.empty() && s.back() == '\0') s.remove_suffix(1);
  std::string out;
  for (char c : s) {
    if (c == '\0')
      out += " \\0 ";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::vector<std::string> rowDetails(const ProblemRecord& r) {
  std::vector<std::string> lines;
  const std::string value = oneLine(r.ValueText.empty() ? r.KeyValue : r.ValueText);
  if (r.isFileProblem()) {
    lines.push_back("Shortcut: " + r.FullKeyPath);
    lines.push_back("Target: " + value);
  } else {
    lines.push_back("Key: " +
                    (r.MainKeyName.empty() ? r.FullKeyPath : r.MainKeyName + "\\" + r.FullKeyPath));
    lines.push_back("Value name: " + r.KeyName);
    lines.push_back("Value: " + (value.empty() ? std::string("(empty)") : value));
  }
  if (!r.TestedPath.empty()) lines.push_back("Tested: " + oneLine(r.TestedPath) + " (not found)");
  if (!r.Reason.empty()) lines.push_back("Why: " + r.Reason);
  return lines;
}

void ResultsTree::clear() {
  top_.clear();
  byKey_.clear();
}

ResultsNode* ResultsTree::find(std::string_view key) {
  auto it = byKey_.find(std::string(key));
  return it == byKey_.end() ? nullptr : it->second;
}

bool ResultsTree::LoadResultsTree(ScanContext& ctx, std::string_view mode,
                                  std::string_view caller) {
  LoadRegistryValues(ctx, ScanMode::Deep);
  clear();
  const bool results = mode == kResults;
  ProblemList& problems = ctx.problems();
  for (std::size_t i = 1; i <= problems.size(); ++i) {
    ProblemRecord& row = problems[i - 1];
    ResultsNode* section = find("P" + row.Section);
    if (!section) {
      const std::string threat(threatLevelOf(ctx, row.Section));
      int icon = threat == "High" ? 100 : threat == "Medium" ? 101 : threat == "Low" ? 102 : 0;
      if (icon == 0) {
        ctx.log().write(caller, 5, "Invalid procedure call or argument");
        return false;
      }
      auto node = std::make_unique<ResultsNode>();
      node->key = "P" + row.Section;
      node->icon = icon;
      node->threatLevel = threat;
      node->checked = results;
      node->expanded = !results;
      section = node.get();
      byKey_[node->key] = section;
      top_.push_back(std::move(node));
    }
    ++section->count;
    section->text = row.Section + " (" + std::to_string(section->count) + " Registry Problems)";
    auto child = std::make_unique<ResultsNode>();
    child->key = std::to_string(i).insert(0, 1, 'C');
    child->text = row.KeyValue;
    child->icon = 103;
    child->checked = results;
    child->expanded = !results;
    child->parent = section;
    byKey_[child->key] = child.get();
    section->children.push_back(std::move(child));
    row.checked = true;
  }
  return true;
}

void ResultsTree::setChecked(ProblemList& problems, ResultsNode& node, bool checked) {
  node.checked = checked;
  vbatvwResults_nodeCheck(problems, node);
}

void ResultsTree::vbatvwResults_nodeCheck(ProblemList& problems, ResultsNode& node) {
  if (!node.key.empty() && node.key[0] == 'P') {
    for (auto& child : node.children) {
      child->checked = node.checked;
      checkRow(problems, rowOf(child->key), node.checked);
    }
    return;
  }
  checkRow(problems, rowOf(node.key), node.checked);
}

}  // namespace brisquell
