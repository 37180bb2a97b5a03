// brisquell: the command-line front end over the core library.
#include <exception>
#include <iostream>

#include "cli/Commands.h"
#include "platform/Console.h"
#include "shell/LastResort.h"

int main(int argc, char** argv) {
  using namespace brisquell::cli;
  // Whatever escapes a command ends here, said plainly, never as an abort.
  try {
    // Output is the bytes the program means (no CR added on Windows), arguments are UTF-8.
    brisquell::console::useBinaryOutput();
    std::vector<std::string> args = brisquell::console::arguments(argc, argv);
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
      std::vector<std::string> reversed(args.rbegin(), args.rend() - (args.empty() ? 0 : 1));
      app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
      return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
      return app.exit(e);
    } catch (const CLI::ParseError& e) {
      app.exit(e);
      return kUsage;
    }
    return result;
  } catch (...) {
    std::cerr << "brisquell: " << brisquell::lastResortMessage(std::current_exception()) << "\n";
    return kFailed;
  }
}
