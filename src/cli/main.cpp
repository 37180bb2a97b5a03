// brisquell: the command-line front end over the core library.
#include <cstdlib>
#include <iostream>

#include <fmt/format.h>

#include "cli/Commands.h"

namespace brisquell::cli {

std::unique_ptr<Target> openNamedTarget(const Global& g, int& exitCode, Access access) {
  std::string folder = g.target;
  if (folder.empty()) {
    if (const char* env = std::getenv("BRISQUELL_TARGET")) folder = env;
  }
  if (folder.empty()) {
    std::cerr << "brisquell: no target: name the machine to work on with --target DIR or "
                 "the environment variable BRISQUELL_TARGET\n";
    exitCode = kUsage;
    return nullptr;
  }
  TargetError err;
  auto t = openTarget(folder, g.options, err);
  if (!t) {
    std::cerr << "brisquell: " << err.message << "\n";
    exitCode = kUsage;
    return t;
  }
  for (const auto& note : t->notes()) std::cerr << "brisquell: note: " << note << "\n";
  if (auto blocker = t->writeBlocker()) {
    if (access == Access::Write) {
      std::cerr << "brisquell: the registry cannot be changed now: " << *blocker
                << ". Nothing was changed.\n";
      exitCode = kFailed;
      return nullptr;
    }
    std::cerr << "brisquell: note: what is read may be stale: " << *blocker << ".\n";
  }
  return t;
}

bool saveTarget(Target& target) {
  std::string err;
  if (target.save(err)) return true;
  std::cerr << "brisquell: " << err << "\n";
  return false;
}

}  // namespace brisquell::cli

int main(int argc, char** argv) {
  using namespace brisquell::cli;
  CLI::App app{"Brisquell: finds and removes registry entries that point at missing files"};
  app.name("brisquell");
  app.require_subcommand(1);
  Global g;
  app.add_option("--target", g.target, "the machine to work on (default: $BRISQUELL_TARGET)");
  int result = kOk;
  addScanCommand(app, g, result);
  addRegCommand(app, g, result);
  addFixCommand(app, g, result);
  addBackupsCommand(app, g, result);
  addRestoreCommand(app, g, result);
  addReportCommand(app, g, result);
  addStartupCommand(app, g, result);
  addTuneCommand(app, g, result);
  addCacheCommand(app, g, result);
  addSettingsCommand(app, g, result);
  addUsersCommand(app, g, result);
  addTargetOptions(app, g);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kUsage;
  }
  return result;
}
