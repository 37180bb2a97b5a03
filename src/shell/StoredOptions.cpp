// Loading and applying the options.
#include "shell/StoredOptions.h"

#include "scan/ScanContext.h"

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

Outcome StoredOptions::apply(Settings& settings, RegistryAccess& registry,
                             std::string_view programPath) const {
  std::string refused;
  auto note = [&refused](bool ok, std::string_view what) {
    if (!ok) refused.append(refused.empty() ? "" : ", ").append(what);
  };
  note(settings.setOption("chkTakeBackup", chkTakeBackup), "chkTakeBackup");
  note(settings.setOption("chkRunAtStartup", chkRunAtStartup), "chkRunAtStartup");
  note(setRunAtStartup(registry, chkRunAtStartup, programPath), "the run-at-start-up entry");
  note(settings.setOption("chkMinimizeToSysTray", chkMinimizeToSysTray), "chkMinimizeToSysTray");
  if (refused.empty()) return {};
  return Error{Status::AccessDenied, "the registry refused " + refused};
}

std::string runAtStartupCommand(std::string_view programPath) {
  std::string command;
  command.reserve(programPath.size() + 9);
  command += '"';
  command += programPath;
  command += "\" -Quick";
  return command;
}

std::string runAtStartupProgram(const Target& target, std::string_view runningProgram) {
  if (target.isRunningSystem()) return std::string(runningProgram);
  return GetPathWithSlash(target.machine().installFolder) + std::string(Settings::kRunValue) +
         ".exe";
}

bool setRunAtStartup(RegistryAccess& registry, bool on, std::string_view programPath) {
  if (on)
    return registry.SetKeyValue(hkey::LocalMachine, Settings::kRunKey, Settings::kRunValue,
                                runAtStartupCommand(programPath), regtype::Sz) == Status::Success;
  Status st = registry.DeleteValue(hkey::LocalMachine, Settings::kRunKey, Settings::kRunValue);
  return st == Status::Success || st == Status::FileNotFound;
}

}  // namespace brisquell
