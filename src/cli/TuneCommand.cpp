// brisquell tune dialup|cable|dsl|default: the TCP/IP values for the connection kind.
#include <fmt/format.h>

#include <iostream>

#include "cli/Commands.h"
#include "optimize/ConnectionTuning.h"

namespace brisquell::cli {

namespace {

int tuneCommand(CommandTarget& on, const std::string& kind) {
  ConnectionTuning tuning(on.ctx());
  TuningResult r;
  if (kind == "default") {
    r = tuning.cmdSetToDefault_Click();
  } else {
    ConnectionKind k = kind == "dialup"  ? ConnectionKind::DialUp
                       : kind == "cable" ? ConnectionKind::Cable
                                         : ConnectionKind::Dsl;
    if (k == ConnectionKind::DialUp) tuning.optDialUpInternetAccess_Click();
    if (k == ConnectionKind::Cable) tuning.optCableInternetAccess_Click();
    if (k == ConnectionKind::Dsl) tuning.optDSL_Click();
    r = tuning.cmdOptimize_Click(k);
  }
  for (const auto& f : r.failed) std::cerr << "brisquell: not done: " << f << "\n";
  if (!on.save()) return kFailed;
  for (const auto& d : r.done) std::cout << d << "\n";
  if (kind == "default" && r.done.empty() && r.failed.empty())
    std::cout << "No tuning values were set; the network stack uses its own defaults.\n";
  if (!r.failed.empty()) return kFailed;
  std::cout << (kind == "default" ? ConnectionTuning::kDefaultsMessage
                                  : ConnectionTuning::kRestartMessage)
            << "\n";
  return kOk;
}

}  // namespace

void addTuneCommand(CLI::App& app, Global& g, int& result) {
  auto kind = std::make_shared<std::string>();
  auto* cmd = app.add_subcommand("tune", "write the TCP/IP values for the internet connection");
  cmd->add_option("KIND", *kind, "dialup, cable, dsl, or default (remove the tuning values)")
      ->required()
      ->check(CLI::IsMember({"dialup", "cable", "dsl", "default"}));
  cmd->callback([&g, &result, kind] {
    result =
        runOnTarget(g, Access::Write, [&](CommandTarget& on) { return tuneCommand(on, *kind); });
  });
}

}  // namespace brisquell::cli
