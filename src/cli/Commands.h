// The subcommands of the command-line front end; each returns its exit code.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "platform/Target.h"

namespace brisquell::cli {

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kCancelled = 130 };

/// Options shared by every subcommand.
struct Global {
  std::string target;
};

/// Opens the target named by --target or $BRISQUELL_TARGET; prints why not and sets the code.
std::unique_ptr<Target> openNamedTarget(const Global& g, int& exitCode);
/// Saves the target's registry if a command changed it; prints the failure.
bool saveTarget(Target& target);

/// Each registers its subcommand; the callback stores the exit code in `result`.
void addRegCommand(CLI::App& app, Global& g, int& result);
void addScanCommand(CLI::App& app, Global& g, int& result);

}  // namespace brisquell::cli
