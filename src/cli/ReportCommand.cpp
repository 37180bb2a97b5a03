// brisquell report FILE: scans, then appends the problem report to FILE.
#include <iostream>

#include "cli/CliInterface.h"
#include "cli/Commands.h"
#include "cli/InterruptPump.h"
#include "repair/Report.h"
#include "scan/ScanDriver.h"
#include "shell/IgnoreList.h"

namespace brisquell::cli {

namespace {

struct ReportOptions {
  std::string file;
  bool quick = false, deep = false;
  SectionsOption sections;
};

int reportCommand(CommandTarget& on, const ReportOptions& o) {
  ScanContext& ctx = on.ctx();
  CliInterface ui(false);
  ctx.sectionChoice = o.sections.chosen;
  IgnoreList::applyTo(ctx);
  {
    InterruptPump pump(ctx);
    if (runScan(ctx, o.deep ? ScanMode::Deep : ScanMode::Quick, &ui) == ScanOutcome::Cancelled) {
      std::cerr << "brisquell: the scan was cancelled; no report was written\n";
      return kCancelled;
    }
  }
  Report report(ctx, ui);
  return report.mnuFilePrintListofErrors_Click(o.file) ? kOk : kFailed;
}

}  // namespace

void addReportCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<ReportOptions>();
  auto* report = app.add_subcommand("report", "scan, then append the problem report to FILE");
  report->add_option("FILE", o->file, "the text file to append to (created when missing)")
      ->required();
  auto* quick = report->add_flag("--quick", o->quick, "the registry sections only (default)");
  report->add_flag("--deep", o->deep, "also the shortcut files on the fixed drives")
      ->excludes(quick);
  addSectionsOption(*report, o->sections);
  report->callback([&g, &result, o] {
    if (severalTargets(g)) {
      result = runOnTargets(
          g, Access::Read,
          [&](CommandTarget& on, const std::string& folder) {
            std::cout << "== " << folder << " ==\n" << std::flush;
            return reportCommand(on, *o);
          },
          [](const std::string&, const std::string&) {});
      return;
    }
    result = runOnTarget(g, Access::Read, [&](CommandTarget& on) { return reportCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
