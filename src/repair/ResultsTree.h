// The results tree vbatvwResults as a data model: one node per section that has problems, one
// per problem under it. The check marks that count are those of the problem list's rows; a
// check set on a node is copied to them at once. The desktop window shows this model.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scan/ScanContext.h"

namespace brisquell {

struct ResultsNode {
  std::string key;          // "P" + section, or "C" + 1-based row position
  std::string text;         // "Section (N Registry Problems)", or the row's KeyValue
  std::string threatLevel;  // the "Threat Level" cell, section nodes only
  int icon = 103;           // 100 High, 101 Medium, 102 Low, 103 problem
  bool checked = false;
  bool expanded = false;  // shown opened: the restore view opens every node
  std::size_t count = 0;  // problems under a section node
  ResultsNode* parent = nullptr;
  std::vector<std::unique_ptr<ResultsNode>> children;
};

/// What tells one problem row from another, one line each: the full key path (or the
/// shortcut file), the value name, the value, the path tested, and why when no path was.
std::vector<std::string> rowDetails(const ProblemRecord& r);

class ResultsTree {
 public:
  static constexpr std::string_view kResults = "Results";
  static constexpr std::string_view kRestore = "Restore";

  /// Builds the tree from the problem list; mode "Results" checks every node, any other mode
  /// leaves them unchecked. Every row is checked either way. An error (a section without a row
  /// in the section list) ends the building and is logged under `caller`; what was added stays.
  /// False when it ended so.
  bool LoadResultsTree(ScanContext& ctx, std::string_view mode, std::string_view caller);
  void clear();

  const std::vector<std::unique_ptr<ResultsNode>>& nodes() const { return top_; }
  ResultsNode* find(std::string_view key);

  /// The user changed a node's check box: sets it and raises vbatvwResults_nodeCheck.
  void setChecked(ProblemList& problems, ResultsNode& node, bool checked);
  /// Copies a node's check mark to its rows (and, for a section node, to its children).
  void vbatvwResults_nodeCheck(ProblemList& problems, ResultsNode& node);

 private:
  std::vector<std::unique_ptr<ResultsNode>> top_;
  std::unordered_map<std::string, ResultsNode*> byKey_;
};

}  // namespace brisquell
