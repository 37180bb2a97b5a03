// brisquell startup [list | disable NAME | enable NAME]: the log-on programs manager.
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <iostream>

#include "cli/Commands.h"
#include "optimize/StartupPrograms.h"

namespace brisquell::cli {

namespace {

struct StartupOptions {
  std::string action = "list";
  std::string name;
  std::string format = "text";
};

std::string listing(const std::vector<StartupRow>& rows) {
  std::size_t width = 4;
  for (const auto& r : rows) width = std::max(width, r.tag.size());
  std::string out = fmt::format("{:<4}  {:<{}}  {}\n", "Runs", "Name", width, "Command");
  for (const auto& r : rows)
    out += fmt::format("{:<4}  {:<{}}  {}\n", r.runs ? "yes" : "no", r.tag, width, r.command);
  return out;
}

int startupCommand(CommandTarget& on, const StartupOptions& o) {
  StartupPrograms startup(on.ctx());
  startup.Form_Load();
  if (o.action == "list" && o.format == "json") {
    nlohmann::json j = nlohmann::json::array();
    for (const auto& r : startup.rows())
      j.push_back({{"name", r.tag},
                   {"command", r.command},
                   {"runs", r.runs},
                   {"root", rootName(r.root)},
                   {"key", r.keyPath}});
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return kOk;
  }
  if (o.action == "list") {
    if (startup.rows().empty())
      std::cout << "No startup programs with a drive path are listed.\n";
    else
      std::cout << listing(startup.rows());
    return kOk;
  }
  if (o.name.empty()) {
    std::cerr << fmt::format(
        "brisquell: startup {} needs the entry's NAME (see brisquell startup list)\n", o.action);
    return kUsage;
  }
  const bool enable = o.action == "enable";
  std::size_t matches = 0, toChange = 0;
  std::string shown = o.name;  // the entry's own spelling once found
  for (std::size_t i = 0; i < startup.rows().size(); ++i) {
    const StartupRow& r = startup.rows()[i];
    if (!iequals(r.tag, o.name)) continue;
    if (matches++ == 0) shown = r.tag;
    if (r.runs != enable) {
      startup.setChecked(i, enable);
      ++toChange;
    }
  }
  if (matches == 0) {
    std::cerr << fmt::format(
        "brisquell: no startup program is named \"{}\" (see brisquell startup list)\n", o.name);
    return kFailed;
  }
  if (toChange == 0) {
    std::cout << fmt::format("{} is already switched {}; nothing was changed.\n", shown,
                             enable ? "on" : "off");
    return kOk;
  }
  StartupDoneResult r = startup.cmdDone_Click();
  for (const auto& f : r.failures) std::cerr << "brisquell: " << f << "\n";
  if (!on.save()) return kFailed;
  std::size_t moved = enable ? r.switchedOn : r.switchedOff;
  if (moved) std::cout << fmt::format("{} is switched {}.\n", shown, enable ? "on" : "off");
  return r.failures.empty() ? kOk : kFailed;
}

}  // namespace

void addStartupCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<StartupOptions>();
  auto* cmd = app.add_subcommand(
      "startup", "list the programs Windows starts at log-on, switch one off or on");
  cmd->add_option("ACTION", o->action, "list (default), disable or enable")
      ->check(CLI::IsMember({"list", "disable", "enable"}));
  cmd->add_option("NAME", o->name, "the entry's name, as startup list shows it");
  cmd->add_option("--format", o->format, "text or json (list only)")
      ->check(CLI::IsMember({"text", "json"}));
  cmd->callback([&g, &result, o] {
    result = runOnTarget(g, o->action == "list" ? Access::Read : Access::Write,
                         [&](CommandTarget& on) { return startupCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
