// brisquell ignore add|list|remove: the registry keys and values a scan never reports.
#include <iostream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "shell/IgnoreList.h"

namespace brisquell::cli {

namespace {

struct IgnoreOptions {
  std::string key;
  std::optional<std::string> value;
  std::string format = "text";
};

int listCommand(CommandTarget& on, const IgnoreOptions& o) {
  auto list = IgnoreList::load(on.ctx().registry());
  if (o.format == "json") {
    nlohmann::json j = nlohmann::json::array();
    for (const auto& e : list) {
      nlohmann::json one = {{"key", e.key}};
      one["value"] = e.value ? nlohmann::json(*e.value) : nlohmann::json(nullptr);
      j.push_back(std::move(one));
    }
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return kOk;
  }
  if (list.empty()) std::cout << "The ignore list is empty.\n";
  for (const auto& e : list) std::cout << e.text() << "\n";
  return kOk;
}

int changeCommand(CommandTarget& on, const IgnoreOptions& o, bool adding) {
  Result<IgnoreEntry> e = IgnoreList::entry(o.key, o.value);
  if (!e) {
    std::cerr << "brisquell: " << e.message() << "\n";
    return kUsage;
  }
  bool changed = false;
  Outcome r = adding ? IgnoreList::add(on.ctx().registry(), *e, changed)
                     : IgnoreList::remove(on.ctx().registry(), *e, changed);
  if (!r) {
    std::cerr << "brisquell: " << r.message() << "; nothing was saved\n";
    return kFailed;
  }
  if (!changed) {
    std::cout << (adding ? "Already ignored: " : "Not in the ignore list: ") << e->text() << "\n";
    return adding ? kOk : kFailed;
  }
  if (!on.save()) return kFailed;
  std::cout << (adding ? "Ignored: " : "No longer ignored: ") << e->text() << "\n";
  return kOk;
}

}  // namespace

void addIgnoreCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<IgnoreOptions>();
  auto* cmd = app.add_subcommand("ignore", "the keys and values a scan never reports");
  cmd->require_subcommand(1);
  for (bool adding : {true, false}) {
    auto* sub = cmd->add_subcommand(
        adding ? "add" : "remove",
        adding ? "never report KEY (and below), or its VALUE" : "report KEY, or its VALUE, again");
    sub->add_option("KEY", o->key, "HKEY_...\\path (HKLM, HKCU, HKCR for short)")->required();
    sub->add_option("VALUE", o->value, "one value's name; (Default) for the unnamed value");
    sub->callback([&g, &result, o, adding] {
      result = runOnTarget(g, Access::Write,
                           [&](CommandTarget& on) { return changeCommand(on, *o, adding); });
    });
  }
  auto* list = cmd->add_subcommand("list", "the ignored keys and values");
  list->add_option("--format", o->format, "text or json")->check(CLI::IsMember({"text", "json"}));
  list->callback([&g, &result, o] {
    result = runOnTarget(g, Access::Read, [&](CommandTarget& on) { return listCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
