// brisquell cache clear: deletes the URL cache's entries that the keep-list does not spare.
#include <fmt/format.h>

#include <iostream>

#include "cli/Commands.h"
#include "optimize/CacheClearing.h"

namespace brisquell::cli {

namespace {

int cacheCommand(CommandTarget& on) {
  CacheClearing clearing(on.ctx());
  CacheClearResult r = clearing.ClearCache();
  for (const auto& item : r.unusableItems)
    std::cerr << fmt::format(
        "brisquell: DoNotDeleteCookie: \"{}\" names no cookie file; it spares nothing\n", item);
  for (const auto& f : r.failures) std::cerr << "brisquell: not deleted: " << f << "\n";
  using Outcome = CacheClearResult::Outcome;
  if (r.outcome == Outcome::Skipped) {
    std::cerr << "brisquell: the cache is cleared on Windows machines only (platform 1 or 2)\n";
    return kFailed;
  }
  if (r.outcome != Outcome::SwitchedOff)
    std::cout << fmt::format("{} entr{} deleted, {} spared.\n", r.deleted,
                             r.deleted == 1 ? "y" : "ies", r.spared);
  if (r.tone() == CacheClearResult::Tone::Inform) {
    std::cout << r.message() << "\n";
    return kOk;
  }
  std::cerr << "brisquell: " << r.message() << "\n";
  return kFailed;
}

}  // namespace

void addCacheCommand(CLI::App& app, Global& g, int& result) {
  auto* cmd = app.add_subcommand("cache", "the browser's URL cache");
  auto* clear = cmd->add_subcommand(
      "clear", "delete the cache's entries, sparing the cookies of DoNotDeleteCookie");
  cmd->require_subcommand(1);
  clear->callback([&g, &result] { result = runOnTarget(g, Access::Write, cacheCommand); });
}

}  // namespace brisquell::cli
