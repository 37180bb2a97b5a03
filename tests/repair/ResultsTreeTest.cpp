// The results tree model: grouping, texts, threat levels and check propagation to the rows.
#include "repair/ResultsTree.h"

#include <gtest/gtest.h>

#include "platform/Target.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

ProblemRecord row(std::string section, std::string value) {
  return ProblemRecord{"-2147483646",      "v",           std::move(value),
                       std::move(section), "SOFTWARE\\X", "HKEY_LOCAL_MACHINE"};
}

struct ResultsTreeTest : ::testing::Test {
  void SetUp() override {
    test::makeMachine(dir.path(), "");
    test::writeText(dir / "drive_c/WINDOWS/keep", "");  // so the error log can be written
    auto opened = openTarget(dir.path());
    ASSERT_TRUE(opened) << opened.message();
    target = std::move(opened).value();
    ctx = std::make_unique<ScanContext>(*target);
    for (auto [s, v] : {std::pair{"Help Files", "C:\\A.HLP"},
                        {"Application Paths", "C:\\B.EXE"},
                        {"Help Files", "C:\\C.HLP"},
                        {"Help Files", "C:\\D.HLP"}})
      ctx->problems().add(row(s, v));
  }
  test::TempDir dir;
  std::unique_ptr<Target> target;
  std::unique_ptr<ScanContext> ctx;
  ResultsTree tree;
};

TEST_F(ResultsTreeTest, GroupsBySectionInFirstOccurrenceOrderWithCountsAndLevels) {
  ASSERT_TRUE(tree.LoadResultsTree(*ctx, "Results", "cmdDeepScan of frmMain"));
  ASSERT_EQ(tree.nodes().size(), 2u);
  const ResultsNode& help = *tree.nodes()[0];
  EXPECT_EQ(help.key, "PHelp Files");
  EXPECT_EQ(help.text, "Help Files (3 Registry Problems)");
  EXPECT_EQ(help.threatLevel, "Low");
  EXPECT_EQ(help.icon, 102);
  ASSERT_EQ(help.children.size(), 3u);
  EXPECT_EQ(help.children[0]->key, "C1");
  EXPECT_EQ(help.children[1]->key, "C3");
  EXPECT_EQ(help.children[2]->key, "C4");
  EXPECT_EQ(help.children[2]->text, "C:\\D.HLP");
  const ResultsNode& app = *tree.nodes()[1];
  EXPECT_EQ(app.text, "Application Paths (1 Registry Problems)");
  EXPECT_EQ(app.threatLevel, "Medium");
  EXPECT_EQ(app.children[0]->key, "C2");
  EXPECT_TRUE(help.checked && help.children[0]->checked);
  for (const auto& r : ctx->problems().rows()) EXPECT_TRUE(r.checked);
}

TEST_F(ResultsTreeTest, ChecksReachTheRowsSectionNodeToAllItsProblemsProblemNodeToOne) {
  ASSERT_TRUE(tree.LoadResultsTree(*ctx, "Results", "x"));
  ProblemList& rows = ctx->problems();
  tree.setChecked(rows, *tree.find("PHelp Files"), false);
  EXPECT_FALSE(rows[0].checked);
  EXPECT_TRUE(rows[1].checked);
  EXPECT_FALSE(rows[2].checked);
  EXPECT_FALSE(rows[3].checked);
  EXPECT_FALSE(tree.find("C3")->checked);
  tree.setChecked(rows, *tree.find("C3"), true);
  EXPECT_TRUE(rows[2].checked);
  EXPECT_FALSE(rows[0].checked);
  EXPECT_FALSE(rows[3].checked);
  EXPECT_FALSE(tree.find("PHelp Files")->checked);  // a problem node leaves its section alone
  tree.setChecked(rows, *tree.find("C2"), false);
  EXPECT_FALSE(rows[1].checked);
  EXPECT_TRUE(tree.find("PApplication Paths")->checked);
}

TEST_F(ResultsTreeTest, RestoreModeChecksRowsButNoNodeAndAnEmptyListGivesNoNodes) {
  for (auto& r : ctx->problems().rows()) r.checked = false;
  ASSERT_TRUE(tree.LoadResultsTree(*ctx, "Restore", "cmdRestore of frmMain"));
  for (const auto& r : ctx->problems().rows()) EXPECT_TRUE(r.checked);
  for (const auto& s : tree.nodes()) {
    EXPECT_FALSE(s->checked);
    EXPECT_TRUE(s->expanded);
    for (const auto& c : s->children) EXPECT_FALSE(c->checked);
  }
  ctx->problems().clear();
  ASSERT_TRUE(tree.LoadResultsTree(*ctx, "Results", "x"));
  EXPECT_TRUE(tree.nodes().empty());
}

TEST_F(ResultsTreeTest, ASectionWithoutARowEndsTheBuildingAndIsLoggedUnderTheCaller) {
  ctx->problems().add(row("No Such Section", "C:\\E"));
  ctx->problems().add(row("Help Files", "C:\\F"));
  EXPECT_FALSE(tree.LoadResultsTree(*ctx, "Results", "cmdRestore of frmMain"));
  EXPECT_EQ(tree.find("PHelp Files")->text, "Help Files (3 Registry Problems)");
  EXPECT_EQ(tree.find("C6"), nullptr);
  EXPECT_EQ(ctx->log().entries(), 1u);
  std::string log = test::readText(dir / "drive_c/WINDOWS/ErrBrisq.txt");
  EXPECT_NE(log.find("cmdRestore of frmMain"), std::string::npos) << log;
}

}  // namespace
}  // namespace brisquell
