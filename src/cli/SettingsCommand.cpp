// brisquell settings [get NAME | set NAME VALUE]: the stored options and section switches,
// through the same settings module as the desktop program's options window and menus.
#include <iostream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "shell/ShellStart.h"
#include "shell/StoredOptions.h"

namespace brisquell::cli {

namespace {

struct SettingsOptions {
  std::string action = "list";
  std::string name, value;
  std::string format = "text";
};

// What the command line may show and change: the three options and the section switches.
bool editable(std::string_view name) {
  if (iequals(name, "chkTakeBackup") || iequals(name, "chkRunAtStartup") ||
      iequals(name, "chkMinimizeToSysTray"))
    return true;
  for (int k = 0; k <= 19; ++k)
    if (iequals(name, "Menu" + std::to_string(k))) return true;
  return false;
}

int settingsCommand(CommandTarget& on, const SettingsOptions& o) {
  ScanContext& ctx = on.ctx();
  Settings settings(ctx.registry());
  if (o.action == "list" && o.format == "json") {
    nlohmann::ordered_json j = nlohmann::ordered_json::object();  // in table order
    for (const auto& e : Settings::entries())
      if (editable(e.name)) j[std::string(e.name)] = settings.get(e);
    std::cout << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    return kOk;
  }
  if (o.action == "list") {
    for (const auto& e : Settings::entries())
      if (editable(e.name)) std::cout << fmt::format("{}={}\n", e.name, settings.get(e));
    return kOk;
  }
  const Settings::Entry* entry = Settings::find(o.name);
  if (o.name.empty() || !entry || !editable(o.name)) {
    std::cerr << fmt::format(
        "brisquell: settings {} needs one of chkTakeBackup, chkRunAtStartup, "
        "chkMinimizeToSysTray, Menu0 ... Menu19\n",
        o.action);
    return kUsage;
  }
  if (o.action == "get") {
    std::cout << settings.get(*entry) << "\n";
    return kOk;
  }
  auto truth = Settings::truthValue(o.value);
  if (!truth) {
    std::cerr << fmt::format("brisquell: {} takes True or False, not \"{}\"\n", entry->name,
                             o.value);
    return kUsage;
  }
  bool stored = settings.setOption(entry->name, *truth);
  if (stored && entry->name == std::string_view("chkRunAtStartup"))
    stored = setRunAtStartup(ctx.registry(), *truth,
                             runAtStartupProgram(ctx.target(), desktopProgramPath()));
  if (!stored) {
    std::cerr << fmt::format("brisquell: the registry refused {}; nothing was saved\n",
                             entry->name);
    return kFailed;
  }
  if (!on.save()) return kFailed;
  std::cout << fmt::format("{}={}\n", entry->name, *truth ? "True" : "False");
  return kOk;
}

}  // namespace

void addSettingsCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<SettingsOptions>();
  auto* cmd = app.add_subcommand("settings", "show or change the stored options and scan sections");
  cmd->add_option("ACTION", o->action, "list (default), get or set")
      ->check(CLI::IsMember({"list", "get", "set"}));
  cmd->add_option(
      "NAME", o->name,
      "chkTakeBackup, chkRunAtStartup, chkMinimizeToSysTray, Menu0 ... Menu19 (Menu13 and "
      "on: the extra sections)");
  cmd->add_option("VALUE", o->value, "True or False (set only)");
  cmd->add_option("--format", o->format, "text or json (list only)")
      ->check(CLI::IsMember({"text", "json"}));
  cmd->callback([&g, &result, o] {
    if (o->action == "set" && o->value.empty()) {
      std::cerr << "brisquell: settings set needs NAME and VALUE\n";
      result = kUsage;
      return;
    }
    result = runOnTarget(g, o->action == "set" ? Access::Write : Access::Read,
                         [&](CommandTarget& on) { return settingsCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
