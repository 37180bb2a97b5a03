// brisquell backups [list | delete NAME]: the backup sets in the install folder's Backup folder.
#include <iostream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/CliInterface.h"
#include "cli/Commands.h"
#include "repair/Restore.h"

namespace brisquell::cli {

const BackupListing* findBackupSet(const std::vector<BackupListing>& sets,
                                   const std::string& name) {
  if (sets.empty()) {
    std::cerr << "brisquell: " << Restore::kNotFound << "\n";
    return nullptr;
  }
  for (const BackupListing& s : sets)
    if (iequals(s.name, name) || iequals(s.name, name + ".bkp")) return &s;
  std::cerr << fmt::format(
      "brisquell: there is no backup set named \"{}\" (see brisquell backups list)\n", name);
  return nullptr;
}

namespace {

struct BackupsOptions {
  std::string name;
  bool yes = false;
  std::string format = "text";
};

int listCommand(CommandTarget& on, const BackupsOptions& o) {
  CliInterface ui(false);
  Restore restore(on.ctx(), ui);
  auto sets = restore.Form_Load();
  if (o.format == "json") {
    nlohmann::json j = nlohmann::json::array();
    for (const auto& s : sets) {
      nlohmann::json one = {{"name", s.name}, {"path", s.path}};
      one["dateTime"] = s.dateText.empty() ? nlohmann::json(nullptr) : nlohmann::json(s.dateText);
      j.push_back(std::move(one));
    }
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return kOk;
  }
  if (sets.empty()) {
    std::cout << Restore::kNotFound << "\n";
    return kOk;
  }
  std::size_t w = 11;
  for (const auto& s : sets) w = std::max(w, s.name.size());
  std::cout << fmt::format("{:<{}}  {:<30}  {}\n", "Backup Name", w, "Date & Time", "Backup Path");
  for (const auto& s : sets)
    std::cout << fmt::format("{:<{}}  {:<30}  {}\n", s.name, w,
                             s.dateText.empty() ? "-" : s.dateText, s.path);
  return kOk;
}

int deleteCommand(CommandTarget& on, const BackupsOptions& o) {
  CliInterface ui(o.yes);
  Restore restore(on.ctx(), ui);
  auto sets = restore.Form_Load();
  const BackupListing* set = findBackupSet(sets, o.name);
  if (!set) return kFailed;
  if (!restore.cmdDeleteBackup_Click(*set)) {
    if (ui.refused()) {
      std::cerr
          << "brisquell: deleting a backup set asks first, and standard input is no terminal: "
             "pass --yes to answer yes\n";
      return kFailed;
    }
    std::cout << "Nothing was deleted.\n";
    return kOk;
  }
  std::cout << fmt::format("Deleted the backup set {}.\n", set->name);
  return kOk;
}

}  // namespace

void addBackupsCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<BackupsOptions>();
  auto* backups = app.add_subcommand("backups", "list the backup sets, or delete one");
  auto* list = backups->add_subcommand("list", "the backup sets, newest first (the default)");
  auto listSets = [&g, &result, o] {
    result = runOnTarget(g, Access::Read, [&](CommandTarget& on) { return listCommand(on, *o); });
  };
  list->add_option("--format", o->format, "text or json")->check(CLI::IsMember({"text", "json"}));
  list->callback(listSets);
  auto* del = backups->add_subcommand("delete", "delete a backup set: its backup file and archive");
  del->add_option("NAME", o->name, "the backup file's name, as the list shows it")->required();
  del->add_flag("--yes,-y", o->yes, "answer yes to the question");
  del->callback([&g, &result, o] {
    result =
        runOnTarget(g, Access::Write, [&](CommandTarget& on) { return deleteCommand(on, *o); });
  });
  backups->callback([backups, listSets] {
    if (backups->get_subcommands().empty()) listSets();
  });
}

}  // namespace brisquell::cli
