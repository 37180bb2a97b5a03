// brisquell restore NAME: loads a backup set, shows what it holds, asks, writes it back.
#include <iostream>

#include <fmt/format.h>

#include "cli/CliInterface.h"
#include "cli/Commands.h"
#include "repair/Restore.h"

namespace brisquell::cli {

namespace {

struct RestoreOptions {
  std::string name;
  bool yes = false;
};

int restoreCommand(CommandTarget& on, const RestoreOptions& o) {
  ScanContext& ctx = on.ctx();
  CliInterface ui(o.yes);
  Restore restore(ctx, ui);
  auto sets = restore.Form_Load();
  const BackupListing* set = findBackupSet(sets, o.name);
  if (!set) return kFailed;
  ResultsTree tree;
  if (!restore.cmdRestore_Click(set->path, &tree)) return kOk;
  std::cout << resultsTreeText(tree) << "\n" << std::flush;
  std::string question =
      fmt::format("Brisquell will now write back the {} entries of {}. Do you want to proceed?",
                  ctx.problems().size(), set->name);
  if (!ui.askYesNo("Brisquell", question)) {
    if (ui.refused()) {
      std::cerr << "brisquell: restore asks before it changes anything, and standard input is no "
                   "terminal: pass --yes to answer yes\n";
      return kFailed;
    }
    std::cout << "Nothing was changed.\n";
    return kOk;
  }
  restore.setStatus([](std::string_view s) { std::cout << s << "\n"; });
  RestoreResult r = restore.cmdRestoreNow_Click();
  if (r.outcome != RestoreResult::Outcome::Done || !r.failures.empty()) return kFailed;
  return kOk;
}

}  // namespace

void addRestoreCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<RestoreOptions>();
  auto* restore = app.add_subcommand("restore", "load a backup set and write it back");
  restore->add_option("NAME", o->name, "the backup file's name, as brisquell backups lists it")
      ->required();
  restore->add_flag("--yes,-y", o->yes, "answer yes to the question");
  restore->callback([&g, &result, o] {
    result =
        runOnTarget(g, Access::Write, [&](CommandTarget& on) { return restoreCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
