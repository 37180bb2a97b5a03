// brisquell users: the user profiles of an offline Windows installation; and the options that
// pick one profile (--user) and add drives (--drive).
#include <cstdlib>
#include <ctime>
#include <iostream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "platform/HostIo.h"
#if BRISQUELL_OFFLINE_WINDOWS
#include "platform/hive/OfflineWindows.h"
#endif

namespace brisquell::cli {

namespace {

int usersCommand(const Global& g, const std::string& format) {
  Result<std::string> named = targetFolder(g.target, "brisquell");
  if (!named) {
    std::cerr << "brisquell: " << named.message() << "\n";
    return kUsage;
  }
  const std::string& folder = *named;
#if !BRISQUELL_OFFLINE_WINDOWS
  (void)format;
  std::cerr << "brisquell: " << folder
            << ": this build reads no offline Windows installation (it was built without hivex)\n";
  return kUsage;
#else
  if (!OfflineWindows::looksLikeOne(folder)) {
    std::cerr << "brisquell: " << folder
              << ": not an offline Windows installation (no Windows/System32/config/SOFTWARE); "
                 "only such a target has user profiles\n";
    return kUsage;
  }
  auto all = OfflineWindows::profiles(folder);
  // The one the other commands take without --user: opening tells, without reading a hive.
  std::string chosen;
  {
    std::time_t latest = 0;
    for (const auto& p : all)
      if (!p.ntuser.empty() && !p.shared && (chosen.empty() || p.lastWritten > latest)) {
        chosen = p.name;
        latest = p.lastWritten;
      }
  }
  if (format == "json") {
    nlohmann::json j = nlohmann::json::array();
    for (const auto& p : all) {
      nlohmann::json one = {{"name", p.name},
                            {"folder", p.folder},
                            {"windowsPath", p.windowsPath},
                            {"default", p.name == chosen},
                            {"shared", p.shared}};
      one["hive"] = p.ntuser.empty() ? nlohmann::json(nullptr) : nlohmann::json(p.ntuser);
      one["lastWritten"] = p.ntuser.empty() ? nlohmann::json(nullptr)
                                            : nlohmann::json(static_cast<long long>(p.lastWritten));
      j.push_back(std::move(one));
    }
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return kOk;
  }
  std::size_t width = 4;
  for (const auto& p : all) width = std::max(width, p.name.size());
  std::cout << fmt::format("{:<{}}  {:<19}  {}\n", "NAME", width, "LAST WRITTEN", "HIVE");
  for (const auto& p : all) {
    std::string when = "-";
    if (!p.ntuser.empty()) {
      char buf[32];
      std::tm tm = hostio::localTime(p.lastWritten);
      std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
      when = buf;
    }
    std::string hive = p.ntuser.empty() ? "(no NTUSER.DAT)" : p.ntuser;
    if (p.name == chosen)
      hive += "  (the default user)";
    else if (p.shared && !p.ntuser.empty())
      hive += "  (shared or template; only with --user)";
    std::cout << fmt::format("{:<{}}  {:<19}  {}\n", p.name, width, when, hive);
  }
  return kOk;
#endif
}

}  // namespace

void addUsersCommand(CLI::App& app, Global& g, int& result) {
  auto* cmd = app.add_subcommand(
      "users", "list the user profiles of an offline Windows installation (for --user)");
  auto format = std::make_shared<std::string>("text");
  cmd->add_option("--format", *format, "text or json")->check(CLI::IsMember({"text", "json"}));
  cmd->callback([&g, &result, format] { result = usersCommand(g, *format); });
}

void addTargetOptions(CLI::App& app, Global& g) {
  app.add_option("--user", g.options.user,
                 "offline Windows: the profile whose NTUSER.DAT is HKEY_CURRENT_USER");
  app.add_option("--drive", g.options.drives,
                 "offline Windows: another drive, "
                 "D=PATH[,removable|fixed|network|cdrom|ramdisk][,notready]")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

}  // namespace brisquell::cli
