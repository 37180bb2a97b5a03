// brisquell fix: scans, shows the problems, asks, then repairs every problem found (with a
// backup set unless the stored option or --no-backup says otherwise).
#include <iostream>

#include <fmt/format.h>

#include "cli/CliInterface.h"
#include "cli/Commands.h"
#include "cli/InterruptPump.h"
#include "repair/Repair.h"
#include "repair/ResultsTree.h"
#include "scan/ScanDriver.h"

namespace brisquell::cli {

std::string resultsTreeText(const ResultsTree& tree) {
  std::string out;
  for (const auto& s : tree.nodes()) {
    out += fmt::format("{}  [{}]\n", s->text, s->threatLevel);
    for (const auto& c : s->children) out += fmt::format("  {}\n", c->text);
  }
  return out;
}

namespace {

struct FixOptions {
  bool quick = false, deep = false, yes = false, noBackup = false;
  SectionsOption sections;
};

int fixCommand(CommandTarget& on, const FixOptions& o) {
  ScanContext& ctx = on.ctx();
  const ScanMode mode = o.deep ? ScanMode::Deep : ScanMode::Quick;
  ctx.sectionChoice = o.sections.chosen;
  {
    InterruptPump pump(ctx);
    if (runScan(ctx, mode) == ScanOutcome::Cancelled) {
      std::cerr << "brisquell: the scan was cancelled; nothing was changed\n";
      return kCancelled;
    }
  }
  if (!ctx.problems().empty()) {
    ResultsTree tree;
    tree.LoadResultsTree(
        ctx, ResultsTree::kResults,
        mode == ScanMode::Quick ? "cmdQucikScan of frmMain" : "cmdDeepScan of frmMain");
    std::cout << resultsTreeText(tree) << "\n" << std::flush;
  }
  CliInterface ui(o.yes);
  Repair repair(ctx, ui);
  if (o.noBackup) repair.setTakeBackup(false);
  RepairResult r = repair.cmdRepairCorruptFiles_Click();
  switch (r.outcome) {
    case RepairResult::Outcome::NothingToRepair: return kOk;
    case RepairResult::Outcome::Declined:
      if (ui.refused()) {
        std::cerr << "brisquell: fix asks before it changes anything, and standard input is no "
                     "terminal: pass --yes to answer yes\n";
        return kFailed;
      }
      std::cout << "Nothing was changed.\n";
      return kOk;
    case RepairResult::Outcome::Refused:
    case RepairResult::Outcome::BackupFailed: return kFailed;
    case RepairResult::Outcome::SaveFailed: return kFailed;
    case RepairResult::Outcome::Done: break;
  }
  if (!r.backupFile.empty()) {
    std::string name = r.backupFile.substr(r.backupFile.rfind('\\') + 1);
    std::cout << fmt::format("Backup set: {} ({})\n", name, r.backupFile);
  }
  return r.failures.empty() ? kOk : kFailed;
}

}  // namespace

void addFixCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<FixOptions>();
  auto* fix = app.add_subcommand("fix", "scan, then repair every problem found");
  auto* quick = fix->add_flag("--quick", o->quick, "the registry sections only (default)");
  fix->add_flag("--deep", o->deep, "also the shortcut files on the fixed drives")->excludes(quick);
  fix->add_flag("--yes,-y", o->yes, "answer yes to the question");
  fix->add_flag("--no-backup", o->noBackup, "do not write a backup set for this run");
  addSectionsOption(*fix, o->sections);
  fix->callback([&g, &result, o] {
    result = runOnTarget(g, Access::Write, [&](CommandTarget& on) { return fixCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
