// The subcommands of the command-line front end; each returns its exit code.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/CommandTarget.h"

namespace brisquell {
class ResultsTree;
struct BackupListing;
}  // namespace brisquell

namespace brisquell::cli {

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kCancelled = 130 };

/// Options shared by every subcommand.
struct Global {
  std::string target;                // the first --target
  std::vector<std::string> targets;  // every --target, in order
  std::string targetsUnder;          // --targets-under DIR
  TargetOptions options;             // --user, --drive
};

/// Each registers its subcommand; the callback stores the exit code in `result`.
void addRegCommand(CLI::App& app, Global& g, int& result);
void addScanCommand(CLI::App& app, Global& g, int& result);
void addFixCommand(CLI::App& app, Global& g, int& result);
void addBackupsCommand(CLI::App& app, Global& g, int& result);
void addRestoreCommand(CLI::App& app, Global& g, int& result);
void addReportCommand(CLI::App& app, Global& g, int& result);
void addStartupCommand(CLI::App& app, Global& g, int& result);
void addTuneCommand(CLI::App& app, Global& g, int& result);
void addCacheCommand(CLI::App& app, Global& g, int& result);
void addSettingsCommand(CLI::App& app, Global& g, int& result);
void addUsersCommand(CLI::App& app, Global& g, int& result);
/// --sections LIST on a scanning subcommand: checked when the command line is read (a bad list
/// is a usage error naming the item), handed to the scan as its section choice.
struct SectionsOption {
  std::string text;
  std::optional<std::vector<std::string>> chosen;
};
void addSectionsOption(CLI::App& cmd, SectionsOption& o);

void addIgnoreCommand(CLI::App& app, Global& g, int& result);
/// --user and --drive, for an offline Windows installation.
void addTargetOptions(CLI::App& app, Global& g);

/// The set named NAME (its file name, with or without ".bkp"); null, having said why, when
/// there is none.
const BackupListing* findBackupSet(const std::vector<BackupListing>& sets, const std::string& name);

/// The results tree as text: each section with its count and threat level, its problems below.
std::string resultsTreeText(const ResultsTree& tree);

}  // namespace brisquell::cli
