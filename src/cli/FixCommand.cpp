// brisquell fix: scans, shows the problems, asks, then repairs every problem found (with a
// backup set unless the stored option or --no-backup says otherwise).
#include <fstream>
#include <iostream>
#include <sstream>

#include <fmt/format.h>

#include "cli/CliInterface.h"
#include "cli/Commands.h"
#include "cli/InterruptPump.h"
#include "repair/Plan.h"
#include "repair/Repair.h"
#include "repair/ResultsTree.h"
#include "scan/ScanDriver.h"
#include "shell/IgnoreList.h"

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
  std::string planFile;
  std::vector<TargetPlan> plan;  // read before any target is opened
};

// The records of the plan still as it saw them become the problem list; the rest are named.
int loadPlanRecords(CommandTarget& on, const FixOptions& o, std::size_t& skipped) {
  ScanContext& ctx = on.ctx();
  Result<const TargetPlan*> part = planFor(o.plan, on.target(), o.planFile);
  if (!part) {
    std::cerr << "brisquell: " << part.message() << "\n";
    return kFailed;
  }
  Result<PlanCheck> check = checkPlan(ctx, **part, o.planFile);
  if (!check) {
    std::cerr << "brisquell: " << check.message() << "\n";
    return kFailed;
  }
  for (const std::string& line : check->changed) std::cout << line << "\n";
  skipped = check->changed.size();
  ctx.problems().clear();
  ctx.sections().clear();
  for (ProblemRecord& r : check->current) ctx.problems().add(std::move(r));
  std::cout << fmt::format("{} of the plan's {} record{} still as the plan saw {}.\n",
                           ctx.problems().size(), (*part)->records.size(),
                           (*part)->records.size() == 1 ? " is" : "s are",
                           (*part)->records.size() == 1 ? "it" : "them")
            << std::flush;
  return kOk;
}

int fixCommand(CommandTarget& on, const FixOptions& o) {
  ScanContext& ctx = on.ctx();
  const ScanMode mode = o.deep ? ScanMode::Deep : ScanMode::Quick;
  ctx.sectionChoice = o.sections.chosen;
  std::size_t skipped = 0;
  if (!o.planFile.empty()) {
    if (int rc = loadPlanRecords(on, o, skipped); rc != kOk) return rc;
    if (ctx.problems().empty()) return skipped ? kFailed : kOk;
  } else {
    IgnoreList::applyTo(ctx);
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
    case RepairResult::Outcome::NothingToRepair: return skipped ? kFailed : kOk;
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
  if (skipped)
    std::cout << fmt::format("{} record{} of the plan skipped.\n", skipped,
                             skipped == 1 ? "" : "s");
  return r.failures.empty() && !skipped ? kOk : kFailed;
}

// Reads and checks the whole plan before any target is opened: a damaged plan changes nothing.
bool readPlan(FixOptions& o) {
  std::ifstream in(o.planFile, std::ios::binary);
  if (!in) {
    std::cerr << "brisquell: " << o.planFile << ": the plan cannot be read\n";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!in && !in.eof()) {
    std::cerr << "brisquell: " << o.planFile << ": the plan cannot be read\n";
    return false;
  }
  Result<std::vector<TargetPlan>> plan = parsePlan(text.str(), o.planFile);
  if (!plan) {
    std::cerr << "brisquell: " << plan.message() << "; nothing was changed\n";
    return false;
  }
  o.plan = std::move(plan).value();
  return true;
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
  auto* plan = fix->add_option("--plan", o->planFile,
                               "repair the records of a plan (scan --format json) still as it "
                               "saw them, instead of scanning");
  plan->excludes(quick);
  fix->get_option("--deep")->excludes(plan);
  fix->callback([&g, &result, o] {
    if (!o->planFile.empty() && !readPlan(*o)) {
      result = kUsage;
      return;
    }
    if (severalTargets(g)) {
      if (o->planFile.empty()) {
        std::cerr << "brisquell: fix works on several targets only with --plan\n";
        result = kUsage;
        return;
      }
      result = runOnTargets(
          g, Access::Write,
          [&](CommandTarget& on, const std::string& folder) {
            std::cout << "== " << folder << " ==\n" << std::flush;
            return fixCommand(on, *o);
          },
          [](const std::string&, const std::string&) {});
      return;
    }
    result = runOnTarget(g, Access::Write, [&](CommandTarget& on) { return fixCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
