// brisquell: the command-line front end over the core library.
#include <exception>
#include <iostream>
#include <string>

#include "cli/Commands.h"
#include "platform/Console.h"
#include "shell/LastResort.h"

namespace {

// The first word of the command line that is neither an option nor an option's value: what
// was meant as the command. Empty when there is none.
std::string firstWord(CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") return i + 1 < argc ? argv[i + 1] : std::string();
    if (a.empty() || a[0] != '-') return a;
    if (a.find('=') != std::string::npos) continue;
    const CLI::Option* opt = app.get_option_no_throw(a);
    if (opt && opt->get_items_expected_min() > 0) ++i;  // its value
  }
  return {};
}

std::string commandList(const CLI::App& app) {
  std::string list;
  for (const CLI::App* sub : app.get_subcommands({}))
    list += (list.empty() ? "" : ", ") + sub->get_name();
  return list;
}

}  // namespace

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
    keepTargetsUntilExit();
    app.add_option("--target", g.targets,
                   "the machine to work on (default: $BRISQUELL_TARGET); scan, report and "
                   "fix --plan take several")
        ->each([&g](const std::string& v) {
          if (g.target.empty()) g.target = v;
        });
    app.add_option("--targets-under", g.targetsUnder,
                   "scan, report, fix --plan: every target below DIR (such as a Steam "
                   "library's compatdata, whose */pfx are Wine prefixes)");
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
    addIgnoreCommand(app, g, result);
    addTargetOptions(app, g);
    try {
      std::vector<std::string> reversed(args.rbegin(), args.rend() - (args.empty() ? 0 : 1));
      app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
      return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
      return app.exit(e);
    } catch (const CLI::ParseError& e) {
      // A word that names no command is said as such, with the commands there are.
      if (app.get_subcommands().empty()) {
        std::string word = firstWord(app, argc, argv);
        std::cerr << "brisquell: "
                  << (word.empty() ? std::string("a command is required")
                                   : "unknown command \"" + word + "\"")
                  << "; the commands are: " << commandList(app) << "\n"
                  << "Run with --help for more information.\n";
        return kUsage;
      }
      app.exit(e);
      return kUsage;
    }
    return result;
  } catch (...) {
    std::cerr << "brisquell: " << brisquell::lastResortMessage(std::current_exception()) << "\n";
    return kFailed;
  }
}
