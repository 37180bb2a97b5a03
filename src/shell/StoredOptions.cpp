// Loading and applying the options.
#include "shell/StoredOptions.h"

namespace brisquell {

namespace {

bool truthOr(Settings& settings, std::string_view name, bool fallback) {
  return Settings::truthValue(settings.get(name).value_or("")).value_or(fallback);
}

}  // namespace

StoredOptions StoredOptions::load(Settings& settings) {
  StoredOptions o;
  o.chkTakeBackup = truthOr(settings, "chkTakeBackup", true);
  o.chkMinimizeToSysTray = truthOr(settings, "chkMinimizeToSysTray", false);
  o.chkRunAtStartup = truthOr(settings, "chkRunAtStartup", true);
  return o;
}

void StoredOptions::apply(Settings& settings, RegistryAccess& registry,
                          std::string_view programPath) const {
  settings.setOption("chkTakeBackup", chkTakeBackup);
  settings.setOption("chkRunAtStartup", chkRunAtStartup);
  setRunAtStartup(registry, chkRunAtStartup, programPath);
  settings.setOption("chkMinimizeToSysTray", chkMinimizeToSysTray);
}

std::string runAtStartupCommand(std::string_view programPath) {
  std::string command;
  command.reserve(programPath.size() + 9);
  command += '"';
  command += programPath;
  command += "\" -Quick";
  return command;
}

bool setRunAtStartup(RegistryAccess& registry, bool on, std::string_view programPath) {
  if (on)
    return registry.SetKeyValue(hkey::LocalMachine, Settings::kRunKey, Settings::kRunValue,
                                runAtStartupCommand(programPath), regtype::Sz) == Status::Success;
  Status st = registry.DeleteValue(hkey::LocalMachine, Settings::kRunKey, Settings::kRunValue);
  return st == Status::Success || st == Status::FileNotFound;
}

}  // namespace brisquell
